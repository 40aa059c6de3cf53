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
    return AsciiText::Hash(key, true);
}

std::uint64_t TReferenceCopy::BuildHash(std::uint64_t keyHash, std::string_view version,
                                        std::string_view architecture) {
    return Mix(Mix(keyHash, HashOf(version)), HashOf(architecture) + 1);
}

// The top half of a hash picks the place and is kept in it: the table stays
// far below 2^32 places, and the place's bits beyond its index still tell
// most other entries apart without reading them.
std::size_t TReferenceCopy::Find(const TSlot& wanted) const {
    const std::uint64_t tag = wanted.Hash >> 32;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = tag & mask;; i = (i + 1) & mask) {
        const std::uint64_t slot = slots_[i];
        if (slot == 0)
            return i;
        if (slot >> 32 != tag)
            continue;
        const TStored& s = entries_[EntryOf(slot)];
        const bool identifierOnly = (s.VersionLength & IdentifierOnlyBit) != 0;
        if (identifierOnly == wanted.IdentifierOnly &&
            EqualNoCase(View(s.Key, s.KeyLength), wanted.Key) &&
            (wanted.IdentifierOnly ||
             (View(s.Version, s.VersionLength) == wanted.Version &&
              View(s.Architecture, s.ArchitectureLength) == wanted.Architecture)))
            return i;
    }
}

void TReferenceCopy::FreshSlots(std::size_t count) {
    const std::size_t bytes = count * sizeof(std::uint64_t);
    if (!slotMemory_ || !slotMemory_->Data() || slotMemory_->Size() < bytes)
        slotMemory_.emplace(bytes);
    slots_ = {reinterpret_cast<std::uint64_t*>(slotMemory_->Data()), count};
    std::fill(slots_.begin(), slots_.end(), 0);
}

void TReferenceCopy::Grow() {
    // The old places stay until every one has moved.
    std::optional<HugePages::TBlock> oldMemory = std::move(slotMemory_);
    slotMemory_.reset();
    const std::span<const std::uint64_t> old = slots_;
    FreshSlots(old.size() * 2);
    // Every kept place is distinct: each only needs a free place.
    const std::size_t mask = slots_.size() - 1;
    for (const std::uint64_t slot : old) {
        if (slot == 0)
            continue;
        std::size_t i = (slot >> 32) & mask;
        while (slots_[i] != 0)
            i = (i + 1) & mask;
        slots_[i] = slot;
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
    std::uint64_t& slot = slots_[Find(wanted)];
    if (slot != 0)
        return entries_[EntryOf(slot)];
    TStored& s = entries_.emplace_back();
    s.Key = Keep(wanted.Key);
    s.KeyLength = static_cast<std::uint32_t>(wanted.Key.size());
    s.Version = wanted.Version.empty() ? 0 : Keep(wanted.Version);
    s.VersionLength = static_cast<std::uint32_t>(wanted.Version.size()) |
                      (wanted.IdentifierOnly ? IdentifierOnlyBit : 0);
    s.Architecture = wanted.Architecture.empty() ? 0 : Keep(wanted.Architecture);
    s.ArchitectureLength = static_cast<std::uint32_t>(wanted.Architecture.size());
    slot = (wanted.Hash >> 32) << 32 | entries_.size();
    ++used_;
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
    FreshSlots(want);
    // The entries fill in order: room reserved but never reached costs
    // nothing.
    entries_.clear();
    HugePages::Reserve(entries_, want / 2);
    // The three lines kept of a stanza take some 80 bytes.
    lines_.clear();
    HugePages::Reserve(lines_, std::min<std::uint64_t>(bytes, SafeFiles::MaxIndexSize) / 8);
    pending_.clear();
    deferred_.clear();
    version_ = architecture_ = {};
    hasVersion_ = hasArchitecture_ = false;
    keys_ = 0;
    used_ = 0;
    complete_ = true;
}

TReferenceCopy::TReferenceCopy(std::string_view text) : TReferenceCopy(text.size()) {
    Add(text);
}

void TReferenceCopy::Defer(const TSlot& slot, bool withoutVersion) {
    __builtin_prefetch(&slots_[(slot.Hash >> 32) & (slots_.size() - 1)]);
    deferred_.push_back({slot, withoutVersion});
}

void TReferenceCopy::InsertDeferred() {
    for (const TDeferred& d : deferred_) {
        TStored& known = Insert(d.Slot);
        if (d.WithoutVersion)
            known.ArchitectureLength |= WithoutVersionBit;
    }
    deferred_.clear();
}

// A stanza is a run of non-empty lines; its identifiers are remembered when
// the run ends, once its Version and Architecture lines are known.
void TReferenceCopy::CloseStanza() {
    InsertDeferred();
    for (const std::string_view key : pending_) {
        const std::uint64_t keyHash = HashOf(key);
        TSlot identifier;
        identifier.Key = key;
        identifier.Hash = keyHash;
        identifier.IdentifierOnly = true;
        Defer(identifier, !hasVersion_);
        if (!hasVersion_)
            continue;
        TSlot build;
        build.Key = key;
        build.Version = version_;
        build.Architecture = architecture_;
        build.Hash = BuildHash(keyHash, version_, architecture_);
        Defer(build, false);
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
                slotMemory_.reset();
                slots_ = {};
                std::vector<TStored>().swap(entries_);
                std::string().swap(lines_);
                pending_.clear();
                deferred_.clear();
                used_ = 0;
                return;
            }
            pending_.push_back(line);
        }
    }
    CloseStanza();
    InsertDeferred();
}

void TReferenceCopy::Prefetch(std::string_view packageLine, std::string_view versionLine,
                              std::string_view architectureLine) const {
    if (slots_.empty() || packageLine.empty())
        return;
    const std::uint64_t hash = BuildHash(HashOf(packageLine), versionLine, architectureLine);
    __builtin_prefetch(&slots_[(hash >> 32) & (slots_.size() - 1)]);
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
    if (slots_[Find(build)] != 0)
        return TVerdict::Same;
    TSlot identifier;
    identifier.Key = packageLine;
    identifier.Hash = keyHash;
    identifier.IdentifierOnly = true;
    const std::uint64_t slot = slots_[Find(identifier)];
    if (slot == 0)
        return TVerdict::Missing;
    const TStored& s = entries_[EntryOf(slot)];
    return (s.ArchitectureLength & WithoutVersionBit) != 0 ? TVerdict::Same : TVerdict::Changed;
}
