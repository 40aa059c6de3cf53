#pragma once

#include "catalogue/HugePages.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The reference copy of one index, looked up per stanza. Every stanza is
// remembered under each of its lines that begin with "package:" in any letter
// case (compared without regard to letter case), together with its first
// "Version:" line and its first "Architecture:" line. Building the table once
// keeps the update check linear in the size of the two files; the table holds
// only those lines, so the copy itself can be read a piece at a time.
class TReferenceCopy {
public:
    enum class TVerdict {
        Missing, // no stanza of that identifier: the package is new
        Same,    // a stanza with the same identifier, Version line and
                 // Architecture line, or one of that identifier without a
                 // Version line
        Changed, // stanzas of that identifier, none of that build
    };

    // An empty table, to be given the copy's text in pieces (Add). Bytes, the
    // size of the whole text, sizes the table.
    explicit TReferenceCopy(std::uint64_t bytes = 0);
    // The table of a whole text.
    explicit TReferenceCopy(std::string_view text);
    TReferenceCopy(const char* text) = delete;

    // Empties the table for another copy of Bytes, keeping its memory: a
    // load reads many copies one after another, and memory already touched
    // costs no page faults.
    void Reset(std::uint64_t bytes);

    // Adds the stanzas of Text, a piece of the copy that ends where a stanza
    // ends (or at the end of the copy). The table keeps its own copy of the
    // lines it needs: the piece may go once this returns.
    void Add(std::string_view text);

    // Compares a stanza's whole "Package:", "Version:" and "Architecture:"
    // lines (each empty when the stanza has none) with the reference copy.
    TVerdict Check(std::string_view packageLine, std::string_view versionLine,
                   std::string_view architectureLine = {}) const;

    // Asks for the place Check will look at first for these lines, so that
    // checking many builds one after another need not wait on memory each
    // time: called a few builds ahead.
    void Prefetch(std::string_view packageLine, std::string_view versionLine,
                  std::string_view architectureLine = {}) const;

    // The number of distinct stanzas remembered.
    std::size_t size() const { return used_; }
    // False when the text has more "Package:" lines than an index may have
    // stanzas: the table then stopped there, and the copy is not to be used.
    bool Complete() const { return complete_; }

private:
    // An open-addressing table of 8-byte places, each the top half of a
    // hash and the number of an entry (0 for a free place), over the entries
    // in the order they were added. An entry is one build (identifier,
    // version, architecture); an identifier alone has an entry of its own too,
    // which says whether some stanza of it lacks a Version line. The places
    // are probed all over, so they are kept small enough to stay in the
    // cache; an entry is read only when its half hash agrees, and entries
    // fill their memory in order. TSlot is the form a lookup asks with; an
    // entry keeps it as offsets into the table's own copy of the lines.
    struct TSlot {
        std::string_view Key; // never empty
        std::string_view Version;
        std::string_view Architecture;
        std::uint64_t Hash = 0;
        bool IdentifierOnly = false;
    };
    struct TStored {
        std::uint32_t Key = 0, KeyLength = 0;
        std::uint32_t Version = 0, VersionLength = 0;
        std::uint32_t Architecture = 0, ArchitectureLength = 0;
    };
    // Flags ride in the top bits of the lengths: a line of the text is far
    // shorter than 2 GiB, as an index may hold at most a fraction of that.
    static constexpr std::uint32_t IdentifierOnlyBit = 0x80000000u; // in VersionLength
    static constexpr std::uint32_t WithoutVersionBit = 0x80000000u; // in ArchitectureLength
    static constexpr std::uint32_t LengthMask = 0x7FFFFFFFu;

    static std::uint64_t HashOf(std::string_view key);
    static std::uint64_t BuildHash(std::uint64_t keyHash, std::string_view version,
                                   std::string_view architecture);
    std::string_view View(std::uint32_t offset, std::uint32_t length) const {
        return std::string_view(lines_).substr(offset, length & LengthMask);
    }
    // The place of Wanted, or of the free place where it would go.
    std::size_t Find(const TSlot& wanted) const;
    static std::size_t EntryOf(std::uint64_t slot) { return (slot & 0xFFFFFFFFu) - 1; }
    // The entry of Wanted, added (its texts copied) when new.
    TStored& Insert(const TSlot& wanted);
    std::uint32_t Keep(std::string_view line);
    void Grow();
    // Slots_ made Count places long, all free, in memory kept if it is enough.
    void FreshSlots(std::size_t count);
    void CloseStanza();
    // A stanza's entries are added when the next stanza ends: their places,
    // asked for meanwhile, are then in the cache. Views into the piece being
    // added, so all are added before Add returns.
    struct TDeferred {
        TSlot Slot;
        bool WithoutVersion = false;
    };
    void Defer(const TSlot& slot, bool withoutVersion);
    void InsertDeferred();

    std::string lines_; // the Package, Version and Architecture lines kept
    // The stanza being read: its Package lines and first Version and
    // Architecture lines, pointing into the piece being added.
    std::vector<std::string_view> pending_;
    std::vector<TDeferred> deferred_;
    std::string_view version_, architecture_;
    bool hasVersion_ = false, hasArchitecture_ = false;
    std::uint64_t keys_ = 0;
    // Half hash << 32 | entry number + 1. A block of its own, so that a table
    // of 2 MB or more is a few huge pages, faulted in at once.
    std::optional<HugePages::TBlock> slotMemory_;
    std::span<std::uint64_t> slots_;
    std::vector<TStored> entries_;
    std::size_t used_ = 0;
    bool complete_ = true;
};
