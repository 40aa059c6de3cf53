#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// The reference copy of one index, looked up per stanza. Every stanza is
// remembered under each of its lines that begin with "package:" in any letter
// case (compared without regard to letter case), together with its first
// "Version:" line and its first "Architecture:" line. Building the table once
// keeps the update check linear in the size of the two files.
class ReferenceCopy {
public:
    enum class Verdict {
        Missing, // no stanza of that identifier: the package is new
        Same,    // a stanza with the same identifier, Version line and
                 // Architecture line, or one of that identifier without a
                 // Version line
        Changed, // stanzas of that identifier, none of that build
    };

    // Indexes the text of a reference copy. The table points into Text, which
    // must outlive it.
    explicit ReferenceCopy(std::string_view text);

    // Compares a stanza's whole "Package:", "Version:" and "Architecture:"
    // lines (each empty when the stanza has none) with the reference copy.
    Verdict Check(std::string_view packageLine, std::string_view versionLine,
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
    // Version line.
    struct Slot {
        std::string_view Key; // empty: a free slot (a key is never empty)
        std::string_view Version;
        std::string_view Architecture;
        std::uint64_t Hash = 0;
        bool IdentifierOnly = false;
        bool WithoutVersion = false; // identifier slots: a stanza had no Version line
    };

    static std::uint64_t HashOf(std::string_view key);
    static std::uint64_t BuildHash(std::uint64_t keyHash, std::string_view version,
                                   std::string_view architecture);
    std::size_t Find(const Slot& wanted) const;
    Slot& Insert(const Slot& wanted, bool& added);
    void Grow();

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
    bool complete_ = true;
};
