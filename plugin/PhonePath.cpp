#include "plugin/PhonePath.h"

namespace Tpot {

std::optional<std::string> NormalisePhonePath(std::string_view path) {
    if (path.empty() || path.front() != '/')
        return std::nullopt;
    std::string out;
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view segment = path.substr(pos, end - pos);
        pos = end + 1;
        if (segment.empty() || segment == ".")
            continue;
        if (!IsPlainFileName(segment))
            return std::nullopt;
        out += '/';
        out += segment;
    }
    return out.empty() ? std::string("/") : out;
}

std::string JoinPhonePath(const std::string& prefix, const std::string& path) {
    if (prefix.empty() || prefix == "/")
        return path;
    if (path == "/")
        return prefix;
    return prefix + path;
}

std::string LastSegment(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace Tpot
