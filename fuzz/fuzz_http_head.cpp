// Feeds arbitrary bytes to the rules that judge a server's answer: the lines
// of answer heads, and the addresses of a request and of its redirect. The
// head must come out the same whether the lines arrive alone or after other
// answers' heads, and no address outside http and https may ever be
// requested or followed, nor https left for http.
#include "net/HTTPGetRules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

bool IsWeb(const QString& url, bool httpsOnly = false) {
    return url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) ||
           (!httpsOnly && url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace HTTPGetRules;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // Lines as curl hands them over: each with its line end.
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = bytes.find('\n', at);
        const std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
        lines.push_back(bytes.substr(at, next - at));
        at = next;
    }

    TAnswerHead head;
    std::size_t lastStart = 0; // where the last head began
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].substr(0, 5) == "HTTP/")
            lastStart = i;
        const THeadLine read = ReadHeadLine(head, lines[i]);
        Check(head.Status >= 0 && head.Status <= 999);
        Check(head.Length >= -1);
        // A validator is sent back in a header: nothing in it may end one.
        for (const std::string* v : {&head.ETag, &head.LastModified})
            Check(v->size() <= MaxValidatorSize &&
                  v->find_first_of("\r\n", 0) == std::string::npos);
        if (read != THeadLine::Field)
            Check(lines[i] == "\r\n" || lines[i] == "\n");
        if (read == THeadLine::Interim)
            Check(head.Status / 100 == 1);
    }
    // The last head read alone: nothing of the heads before it carries over.
    if (lastStart > 0) {
        TAnswerHead alone;
        for (std::size_t i = lastStart; i < lines.size(); ++i)
            ReadHeadLine(alone, lines[i]);
        Check(alone.Status == head.Status && alone.Length == head.Length &&
              alone.Location == head.Location && alone.ETag == head.ETag &&
              alone.LastModified == head.LastModified);
    }

    // The first two lines as the address asked for and a redirect's target.
    const QString from = QString::fromUtf8(lines.empty() ? std::string_view() : lines[0]).trimmed();
    const QString to =
        QString::fromUtf8(lines.size() < 2 ? std::string_view() : lines[1]).trimmed();
    const QString request = RequestUrl(from);
    Check(request.isEmpty() || IsWeb(request));
    Check(RequestUrl(request) == request);
    if (RedirectAllowed(from, to)) {
        Check(IsWeb(to));
        Check(!IsWeb(from, true) || IsWeb(to, true));
    }
    return 0;
}
