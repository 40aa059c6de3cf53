#pragma once

#include "base/Outcome.h"
#include "base/SafeFiles.h"
#include "net/HTTPGetRules.h"

#include <QString>

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// What one transfer asks for.
struct THTTPRequest {
    QString URL;      // "http://host[:port]/path" (or https; none: http)
    QString FileName; // target file of the body
    std::string AcceptTypes = "*/*";
    std::string Agent; // User-Agent; none when empty
    std::string UserName, Password;
    std::string PostQuery; // not empty: a form POST with this body
    std::string Referer;
    bool BinaryData = false; // an answer without Content-Length fails before anything is written
    bool UseCache = false;   // false: "Pragma: no-cache" and "Cache-Control: no-cache"
    int Timeout = 60;        // seconds over which MinSpeed must be averaged
    int MinSpeed = HTTPGetRules::DefaultMinSpeed;
    std::int64_t MaxSize = HTTPGetRules::DefaultMaxSize;
    // Validators of a copy the caller holds: a conditional request, which a
    // 304 answer ends without touching the target.
    std::string IfNoneMatch;
    std::string IfModifiedSince;
    // HTTP/1.1 with the connection left open for the next request to the same
    // server (the transfers of one THTTPPool); false: HTTP/1.0, one request
    // per connection.
    bool KeepAlive = false;
};

// How one transfer ended.
struct THTTPResult {
    TOutcome Outcome;      // the reason on failure (never "HTTP 404": see THTTPGet)
    long Status = 0;       // the final answer's status; 0 when none arrived
    QString FinalUrl;      // the address asked last, after the redirects followed
    std::int64_t Size = 0; // the body's announced length (0 when none)
    std::string ETag;      // the final answer's validators
    std::string LastModified;
};

// One transfer run to its end on the calling thread (curl underneath).
//
// The target file holds the whole body or nothing: the body is written under
// a temporary name beside it and renamed over FileName when the body arrived
// complete. A transfer that fails, is stopped or is cut short after the
// answer began leaves no file at FileName; one that fails before (no
// connection, no length with BinaryData, a 304) leaves FileName untouched.
// The outcome is success exactly when the body arrived whole and its length
// equals the Content-Length (0 when the answer has none), or the answer was a
// 304 to a conditional request.
class THTTPTransfer {
public:
    explicit THTTPTransfer(THTTPRequest request);
    ~THTTPTransfer();
    THTTPTransfer(const THTTPTransfer&) = delete;
    THTTPTransfer& operator=(const THTTPTransfer&) = delete;

    // Called on the transferring thread after each piece of the body.
    std::function<void()> OnProgress;

    // Runs the transfer; returns when it has ended.
    THTTPResult Run();
    // Ends the transfer at once, also a wait for the network; from any thread,
    // also before Run. Its outcome is failure ("остановлено").
    void Stop();
    bool Stopped() const { return stop_.load(); }
    const QString& FileName() const { return request_.FileName; }

    // The announced length (0 when none) and the bytes received so far; from
    // any thread.
    std::int64_t TotalSize() const { return totalSize_.load(); }
    std::int64_t Readed() const { return readed_.load(); }

private:
    friend class THTTPPool;
    // The steps of Run, which a pool drives on its own multi handle too: Begin
    // gives the handle of the first request, to be added to Multi (nullptr:
    // the transfer has ended already); when Multi reports that request done,
    // HopDone gives the handle of the next one (a redirect followed) or
    // nullptr once the transfer has ended; Result then tells how.
    CURL* Begin(CURLM* multi);
    CURL* HopDone(CURLcode code);
    THTTPResult Result();

    struct TCurl;
    void SetUpHop();
    bool HopEnded(CURLcode code);
    void End();
    bool EndOfBody();
    bool NextHop();
    bool Header(std::string_view line);
    bool Body(const char* data, std::size_t size);
    bool Fail(QString reason);
    // The answer is a 304 to a conditional request (to any other request it
    // is an answer like every other, judged by the caller).
    bool NotModified() const {
        return hop_.Status == HTTPGetRules::NotModified &&
               !(request_.IfNoneMatch.empty() && request_.IfModifiedSince.empty());
    }
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);

    struct THop : HTTPGetRules::TAnswerHead {
        bool HeadersDone = false;
        bool Redirect = false; // its body is not ours
    };

    THTTPRequest request_;
    std::atomic<bool> stop_{false};
    std::atomic<std::int64_t> totalSize_{0};
    std::atomic<std::int64_t> readed_{0};
    std::mutex activeMutex_; // guards activeMulti_ against Stop
    CURLM* activeMulti_ = nullptr;
    std::unique_ptr<TCurl> curl_;
    QString url_;         // the address of the request under way
    QString firstOrigin_; // where credentials may go
    bool post_ = false;
    int redirects_ = 0;
    bool ok_ = false;
    THop hop_;
    bool answered_ = false;  // the final answer's head arrived: the target is being replaced
    bool committed_ = false; // the body was put in place
    std::optional<SafeFiles::TAtomicFile> file_;
    QString failure_;
};
