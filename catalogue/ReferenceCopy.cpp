#include "catalogue/ReferenceCopy.h"

#include "catalogue/TextFile.h"

#include <vector>

namespace {

inline unsigned char LowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

bool StartsWithCaseFree(std::string_view line, std::string_view lowerPrefix) {
    if (line.size() < lowerPrefix.size())
        return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i)
        if (LowerAscii(static_cast<unsigned char>(line[i])) !=
            static_cast<unsigned char>(lowerPrefix[i]))
            return false;
    return true;
}

} // namespace

std::size_t ReferenceCopy::CaseFreeHash::operator()(std::string_view s) const noexcept {
    // FNV-1a over the lower-cased bytes.
    std::size_t h = 14695981039346656037ull;
    for (const char c : s) {
        h ^= LowerAscii(static_cast<unsigned char>(c));
        h *= 1099511628211ull;
    }
    return h;
}

bool ReferenceCopy::CaseFreeEqual::operator()(std::string_view a,
                                              std::string_view b) const noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(static_cast<unsigned char>(a[i])) !=
            LowerAscii(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

ReferenceCopy::ReferenceCopy(std::string text) : text_(std::move(text)) {
    entries_.reserve(text_.size() / 600 + 16);
    // A stanza is a run of non-empty lines. Keys first met in the current run
    // wait for the run's end to learn its first Version line.
    std::vector<Entry*> pending;
    std::string_view version;
    bool hasVersion = false;
    auto closeStanza = [&] {
        for (Entry* e : pending) {
            e->Version = version;
            e->HasVersion = hasVersion;
        }
        pending.clear();
        hasVersion = false;
        version = {};
    };
    TextFile::AnyLines lines(text_);
    std::string_view line;
    while (lines.Next(line)) {
        if (line.empty()) {
            closeStanza();
            continue;
        }
        if (!hasVersion && line.starts_with("Version:")) {
            version = line;
            hasVersion = true;
        } else if (StartsWithCaseFree(line, "package:")) {
            auto [it, inserted] = entries_.try_emplace(line);
            if (inserted)
                pending.push_back(&it->second);
        }
    }
    closeStanza();
}

ReferenceCopy::Verdict ReferenceCopy::Check(std::string_view packageLine,
                                            std::string_view versionLine) const {
    const auto it = entries_.find(packageLine);
    if (it == entries_.end())
        return Verdict::Missing;
    if (!it->second.HasVersion || it->second.Version == versionLine)
        return Verdict::Same;
    return Verdict::Changed;
}
