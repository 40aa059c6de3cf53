#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

// Pure rules of the HTTP component, kept apart so that they can be checked
// without a network.
namespace HTTPGetRules {

// The address actually requested: "http://" and "https://" (any letter case)
// are kept, an address without a scheme is taken as "http://"; any other
// scheme gives an empty result (the transfer fails).
QString RequestUrl(const QString& url);

// Statuses whose Location is followed.
bool IsRedirectStatus(long status);

// A redirect may go from http to http or https, and from https only to https.
bool RedirectAllowed(const QString& fromUrl, const QString& toUrl);

// The answer to a conditional request whose validators still hold.
inline constexpr long NotModified = 304;

// What one answer's head says, read line by line as it arrives.
struct TAnswerHead {
    long Status = 0;          // the three-digit status code; 0 when the status line has none
    std::int64_t Length = -1; // Content-Length; -1 when absent or not a plain decimal number
    bool Location = false;    // a Location header came
    // The validators of the body (empty when absent or not fit to be sent
    // back: too long, or holding a control character or tab).
    std::string ETag;
    std::string LastModified;
};

enum class THeadLine {
    Field,   // a status or header line: the head goes on
    Interim, // the blank line ending a 1xx head: the real answer follows
    End,     // the blank line ending the answer's head
};

// Takes one line of the head, with its line end. A status line ("HTTP/...")
// starts a new head.
THeadLine ReadHeadLine(TAnswerHead& head, std::string_view line);

// Redirects followed for one transfer; one more fails it.
inline constexpr int MaxRedirects = 10;
// Seconds a connection attempt may take.
inline constexpr int ConnectTimeoutSeconds = 30;
// The body a transfer accepts unless its caller sets another cap.
inline constexpr std::int64_t DefaultMaxSize = std::int64_t(1) << 30;
// The slowest transfer kept going: fewer bytes a second than this, averaged
// over the component's Timeout, fail it (a silent server as well as one that
// trickles a byte now and then to keep the connection alive).
inline constexpr int DefaultMinSpeed = 1024;
// The longest validator kept; real ones are a few dozen characters.
inline constexpr std::size_t MaxValidatorSize = 256;

// The reason for an answer's HTTP status: "HTTP 404".
QString StatusText(long status);

} // namespace HTTPGetRules
