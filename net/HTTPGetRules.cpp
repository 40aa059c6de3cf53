#include "net/HTTPGetRules.h"

#include <algorithm>
#include <cctype>

namespace HTTPGetRules {

namespace {

bool StartsWithNoCase(const QString& text, const char* prefix) {
    return text.startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
}

std::string_view Trimmed(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
        value.remove_suffix(1);
    return value;
}

// Content-Length value: decimal digits only, without overflow; -1 otherwise.
std::int64_t ParseLength(std::string_view value) {
    value = Trimmed(value);
    if (value.empty() || value.size() > 18)
        return -1;
    std::int64_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// A validator goes back to the server in a request header: one that could
// break the header apart, or is absurdly long, is not kept.
std::string Validator(std::string_view value) {
    value = Trimmed(value);
    const bool fit =
        value.size() <= MaxValidatorSize && std::none_of(value.begin(), value.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u < 0x20 || u == 0x7f;
        });
    return fit ? std::string(value) : std::string();
}

// True when the header line is the field Name (given in lower case).
bool HeaderIs(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':')
        return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != name[i])
            return false;
    return true;
}

} // namespace

QString RequestUrl(const QString& url) {
    if (StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://"))
        return url;
    if (url.contains(QLatin1String("://")) || url.isEmpty())
        return QString();
    return QStringLiteral("http://") + url;
}

bool IsRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QString StatusText(long status) {
    return QStringLiteral("HTTP %1").arg(status);
}

bool RedirectAllowed(const QString& fromUrl, const QString& toUrl) {
    const bool toHttps = StartsWithNoCase(toUrl, "https://");
    if (!toHttps && !StartsWithNoCase(toUrl, "http://"))
        return false;
    return toHttps || !StartsWithNoCase(fromUrl, "https://");
}

THeadLine ReadHeadLine(TAnswerHead& head, std::string_view line) {
    if (line.substr(0, 5) == "HTTP/") {
        head = TAnswerHead();
        const size_t space = line.find(' ');
        const std::string_view code =
            space == std::string_view::npos ? std::string_view() : line.substr(space + 1, 3);
        if (code.size() == 3 &&
            std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }))
            head.Status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
        return THeadLine::Field;
    }
    if (HeaderIs(line, "content-length"))
        head.Length = ParseLength(line.substr(15));
    else if (HeaderIs(line, "location"))
        head.Location = true;
    else if (HeaderIs(line, "etag"))
        head.ETag = Validator(line.substr(5));
    else if (HeaderIs(line, "last-modified"))
        head.LastModified = Validator(line.substr(14));
    if (line != "\r\n" && line != "\n")
        return THeadLine::Field;
    return head.Status / 100 == 1 ? THeadLine::Interim : THeadLine::End;
}

} // namespace HTTPGetRules
