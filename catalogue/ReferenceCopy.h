#pragma once

#include <cstddef>
#include <cstdint>
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

    // The number of distinct stanzas remembered.
    std::size_t size() const { return used_; }
    // False when the text has more "Package:" lines than an index may have
    // stanzas: the table then stopped there, and the copy is not to be used.
    bool Complete() const { return complete_; }

private:
    // An open-addressing table: one flat array, no allocation per key. A slot
    // is one build (identifier, version, architecture); an identifier alone
    // has a slot of its own too, which says whether some stanza of it lacks a
    // Version line. TSlot is the form a lookup asks with; the table keeps each
    // as offsets into its own copy of the lines, half the size, since every
    // load builds these tables afresh and fresh memory is what a load pays for
    // most.
    struct TSlot {
        std::string_view Key; // never empty
        std::string_view Version;
        std::string_view Architecture;
        std::uint64_t Hash = 0;
        bool IdentifierOnly = false;
    };
    struct TStored {
        std::uint64_t Hash = 0;
        std::uint32_t Key = 0, KeyLength = 0; // KeyLength 0: a free slot
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
    std::size_t Find(const TSlot& wanted) const;
    // The slot of Wanted, added (its texts copied) when new.
    TStored& Insert(const TSlot& wanted);
    std::uint32_t Keep(std::string_view line);
    void Grow();
    void CloseStanza();

    std::string lines_; // the Package, Version and Architecture lines kept
    // The stanza being read: its Package lines and first Version and
    // Architecture lines, pointing into the piece being added.
    std::vector<std::string_view> pending_;
    std::string_view version_, architecture_;
    bool hasVersion_ = false, hasArchitecture_ = false;
    std::uint64_t keys_ = 0;
    std::vector<TStored> slots_;
    std::size_t used_ = 0;
    bool complete_ = true;
};
