#include "catalogue/ReferenceCopy.h"

#include "catalogue/AsciiText.h"
#include "catalogue/TextFile.h"

#include <cstring>

namespace {

using AsciiText::EqualNoCase;
using AsciiText::StartsWithNoCase;

inline std::uint64_t Mix(std::uint64_t h, std::uint64_t word) {
    h ^= word;
    h *= 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

} // namespace

std::uint64_t ReferenceCopy::HashOf(std::string_view key) {
    // Setting bit 0x20 of every byte folds the letter case of ASCII letters (and
    // merges some other bytes, which only costs a rare extra comparison).
    constexpr std::uint64_t Fold = 0x2020202020202020ull;
    std::uint64_t h = key.size();
    std::size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, key.data() + i, 8);
        h = Mix(h, word | Fold);
    }
    std::uint64_t tail = 0;
    for (std::size_t k = 0; i + k < key.size(); ++k)
        tail |= std::uint64_t(static_cast<unsigned char>(key[i + k]) | 0x20) << (8 * k);
    return Mix(h, tail);
}

std::size_t ReferenceCopy::Find(std::string_view key, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.Key.empty() || (s.Hash == hash && EqualNoCase(s.Key, key)))
            return i;
    }
}

void ReferenceCopy::Grow() {
    std::vector<Slot> old(slots_.empty() ? 1024 : slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& s : old)
        if (!s.Key.empty())
            slots_[Find(s.Key, s.Hash)] = s;
}

ReferenceCopy::Slot* ReferenceCopy::Insert(std::string_view key) {
    if ((used_ + 1) * 2 > slots_.size())
        Grow();
    const std::uint64_t hash = HashOf(key);
    Slot& s = slots_[Find(key, hash)];
    if (!s.Key.empty())
        return nullptr; // the first occurrence wins
    s.Key = key;
    s.Hash = hash;
    ++used_;
    return &s;
}

ReferenceCopy::ReferenceCopy(std::string_view text) {
    // A stanza is a run of non-empty lines. Keys first met in the current run
    // wait for the run's end to learn its first Version line; they are looked
    // up again then, as the table may have grown meanwhile.
    // Sized from the text, the table seldom has to grow: a reference stanza
    // rarely has under 512 bytes, and the table is kept at most half full.
    // The cap keeps a huge text without keys from taking much memory.
    std::size_t want = 1024;
    while (want < text.size() / 256 && want < (std::size_t(1) << 18))
        want *= 2;
    slots_.resize(want);
    std::vector<std::string_view> pending;
    std::string_view version;
    bool hasVersion = false;
    auto closeStanza = [&] {
        for (const std::string_view key : pending) {
            Slot& s = slots_[Find(key, HashOf(key))];
            s.Version = version;
            s.HasVersion = hasVersion;
        }
        pending.clear();
        hasVersion = false;
        version = {};
    };
    TextFile::AnyLines lines(text);
    std::string_view line;
    while (lines.Next(line)) {
        if (line.empty()) {
            closeStanza();
            continue;
        }
        // Only Package and Version lines count, and most lines are neither:
        // their first byte turns them away before any comparison.
        const char first = line[0];
        if (first == 'V') {
            if (!hasVersion && line.starts_with("Version:")) {
                version = line;
                hasVersion = true;
            }
        } else if ((first == 'p' || first == 'P') && StartsWithNoCase(line, "package:") &&
                   Insert(line)) {
            pending.push_back(line);
        }
    }
    closeStanza();
}

ReferenceCopy::Verdict ReferenceCopy::Check(std::string_view packageLine,
                                            std::string_view versionLine) const {
    if (slots_.empty() || packageLine.empty())
        return Verdict::Missing;
    const Slot& s = slots_[Find(packageLine, HashOf(packageLine))];
    if (s.Key.empty())
        return Verdict::Missing;
    if (!s.HasVersion || s.Version == versionLine)
        return Verdict::Same;
    return Verdict::Changed;
}
