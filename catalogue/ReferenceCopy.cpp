#include "catalogue/ReferenceCopy.h"

#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "catalogue/AsciiText.h"
#include "catalogue/HugePages.h"

#include <algorithm>
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

std::uint64_t TReferenceCopy::HashOf(std::string_view key) {
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

std::uint64_t TReferenceCopy::BuildHash(std::uint64_t keyHash, std::string_view version,
                                        std::string_view architecture) {
    return Mix(Mix(keyHash, HashOf(version)), HashOf(architecture) + 1);
}

std::size_t TReferenceCopy::Find(const TSlot& wanted) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = wanted.Hash & mask;; i = (i + 1) & mask) {
        const TStored& s = slots_[i];
        if (s.KeyLength == 0)
            return i;
        const bool identifierOnly = (s.VersionLength & IdentifierOnlyBit) != 0;
        if (s.Hash == wanted.Hash && identifierOnly == wanted.IdentifierOnly &&
            EqualNoCase(View(s.Key, s.KeyLength), wanted.Key) &&
            (wanted.IdentifierOnly ||
             (View(s.Version, s.VersionLength) == wanted.Version &&
              View(s.Architecture, s.ArchitectureLength) == wanted.Architecture)))
            return i;
    }
}

void TReferenceCopy::Grow() {
    std::vector<TStored> old(slots_.size() * 2);
    old.swap(slots_);
    // Every kept slot is distinct: each only needs a free place.
    const std::size_t mask = slots_.size() - 1;
    for (const TStored& s : old) {
        if (s.KeyLength == 0)
            continue;
        std::size_t i = s.Hash & mask;
        while (slots_[i].KeyLength != 0)
            i = (i + 1) & mask;
        slots_[i] = s;
    }
}

std::uint32_t TReferenceCopy::Keep(std::string_view line) {
    const auto at = static_cast<std::uint32_t>(lines_.size());
    lines_.append(line);
    return at;
}

TReferenceCopy::TStored& TReferenceCopy::Insert(const TSlot& wanted) {
    if ((used_ + 1) * 2 > slots_.size())
        Grow();
    TStored& s = slots_[Find(wanted)];
    if (s.KeyLength == 0) {
        s.Hash = wanted.Hash;
        s.Key = Keep(wanted.Key);
        s.KeyLength = static_cast<std::uint32_t>(wanted.Key.size());
        s.Version = wanted.Version.empty() ? 0 : Keep(wanted.Version);
        s.VersionLength = static_cast<std::uint32_t>(wanted.Version.size()) |
                          (wanted.IdentifierOnly ? IdentifierOnlyBit : 0);
        s.Architecture = wanted.Architecture.empty() ? 0 : Keep(wanted.Architecture);
        s.ArchitectureLength = static_cast<std::uint32_t>(wanted.Architecture.size());
        ++used_;
    }
    return s;
}

TReferenceCopy::TReferenceCopy(std::uint64_t bytes) {
    Reset(bytes);
}

void TReferenceCopy::Reset(std::uint64_t bytes) {
    // Sized from the text, the table seldom has to grow: a reference stanza
    // rarely has under 512 bytes, each has two slots, and the table is kept
    // at most half full. The cap keeps a huge text without keys from taking
    // much memory.
    std::size_t want = 1024;
    while (want < bytes / 128 && want < (std::size_t(1) << 19))
        want *= 2;
    HugePages::Reserve(slots_, want);
    slots_.assign(want, TStored{});
    // The three lines kept of a stanza take some 80 bytes.
    lines_.clear();
    HugePages::Reserve(lines_, std::min<std::uint64_t>(bytes, SafeFiles::MaxIndexSize) / 8);
    pending_.clear();
    version_ = architecture_ = {};
    hasVersion_ = hasArchitecture_ = false;
    keys_ = 0;
    used_ = 0;
    complete_ = true;
}

TReferenceCopy::TReferenceCopy(std::string_view text) : TReferenceCopy(text.size()) {
    Add(text);
}

// A stanza is a run of non-empty lines; its identifiers are remembered when
// the run ends, once its Version and Architecture lines are known.
void TReferenceCopy::CloseStanza() {
    for (const std::string_view key : pending_) {
        const std::uint64_t keyHash = HashOf(key);
        TSlot identifier;
        identifier.Key = key;
        identifier.Hash = keyHash;
        identifier.IdentifierOnly = true;
        TStored& known = Insert(identifier);
        if (!hasVersion_) {
            known.ArchitectureLength |= WithoutVersionBit;
            continue;
        }
        TSlot build;
        build.Key = key;
        build.Version = version_;
        build.Architecture = architecture_;
        build.Hash = BuildHash(keyHash, version_, architecture_);
        Insert(build);
    }
    pending_.clear();
    hasVersion_ = hasArchitecture_ = false;
    version_ = architecture_ = {};
}

void TReferenceCopy::Add(std::string_view text) {
    if (!complete_)
        return;
    // However the text is made, the table and the pending keys stay bounded.
    TextFile::TAnyLines lines(text);
    std::string_view line;
    while (lines.Next(line)) {
        if (line.empty()) {
            CloseStanza();
            continue;
        }
        // Only Package, Version and Architecture lines count, and most lines
        // are none of them: their first byte turns them away before any
        // comparison.
        const char first = line[0];
        if (first == 'V') {
            if (!hasVersion_ && line.starts_with("Version:")) {
                version_ = line;
                hasVersion_ = true;
            }
        } else if (first == 'A') {
            if (!hasArchitecture_ && line.starts_with("Architecture:")) {
                architecture_ = line;
                hasArchitecture_ = true;
            }
        } else if ((first == 'p' || first == 'P') && StartsWithNoCase(line, "package:")) {
            if (++keys_ > SafeFiles::MaxIndexStanzas) {
                complete_ = false;
                std::vector<TStored>().swap(slots_);
                std::string().swap(lines_);
                pending_.clear();
                used_ = 0;
                return;
            }
            pending_.push_back(line);
        }
    }
    CloseStanza();
}

TReferenceCopy::TVerdict TReferenceCopy::Check(std::string_view packageLine,
                                               std::string_view versionLine,
                                               std::string_view architectureLine) const {
    if (slots_.empty() || packageLine.empty())
        return TVerdict::Missing;
    const std::uint64_t keyHash = HashOf(packageLine);
    TSlot build;
    build.Key = packageLine;
    build.Version = versionLine;
    build.Architecture = architectureLine;
    build.Hash = BuildHash(keyHash, versionLine, architectureLine);
    if (slots_[Find(build)].KeyLength != 0)
        return TVerdict::Same;
    TSlot identifier;
    identifier.Key = packageLine;
    identifier.Hash = keyHash;
    identifier.IdentifierOnly = true;
    const TStored& s = slots_[Find(identifier)];
    if (s.KeyLength == 0)
        return TVerdict::Missing;
    return (s.ArchitectureLength & WithoutVersionBit) != 0 ? TVerdict::Same : TVerdict::Changed;
}
