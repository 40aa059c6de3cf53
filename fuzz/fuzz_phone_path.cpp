// The plugin's path rules on arbitrary text: a path that is accepted comes
// out canonical (absolute, single "/", plain names only, nothing that climbs),
// normalising it again changes nothing, and its parts put back together give
// it again. The first line is the root prefix, the rest the caller's path.
#include "plugin/PhonePath.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void CheckCanonical(const std::string& path) {
    Check(!path.empty() && path.front() == '/');
    Check(Tpot::NormalisePhonePath(path) == path);
    if (path == "/") {
        Check(Tpot::LastSegment(path).empty());
        return;
    }
    Check(path.back() != '/' && path.find("//") == std::string::npos);
    const std::string last = Tpot::LastSegment(path);
    Check(Tpot::IsPlainFileName(last));
    const std::string parent = Tpot::ParentPath(path);
    Check(Tpot::NormalisePhonePath(parent) == parent);
    Check(Tpot::JoinPhonePath(parent, "/" + last) == path);
    for (std::size_t pos = 1; pos < path.size();) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        Check(Tpot::IsPlainFileName(std::string_view(path).substr(pos, end - pos)));
        pos = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = text.find('\n');
    const std::string_view prefixText =
        newline == std::string_view::npos ? "" : text.substr(0, newline);
    const std::string_view pathText =
        newline == std::string_view::npos ? text : text.substr(newline + 1);

    const auto path = Tpot::NormalisePhonePath(pathText);
    if (path)
        CheckCanonical(*path);
    const auto prefix = Tpot::NormalisePhonePath(prefixText);
    if (path && prefix) {
        const std::string joined = Tpot::JoinPhonePath(*prefix == "/" ? "" : *prefix, *path);
        CheckCanonical(joined);
        Check(joined.substr(0, prefix->size()) == *prefix || *prefix == "/");
    }
    return 0;
}
