#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// The reference copy of one index, looked up by "Package:" line. Every line that
// begins with "package:" in any letter case is a key (letter case ignored, the
// first occurrence wins); its value is the first "Version:" line of the stanza
// around it. Building the table once keeps the update check linear in the size
// of the two files.
class ReferenceCopy {
public:
    enum class Verdict {
        Missing, // no line equals the Package line: the package is new
        Same,    // found, and the reference stanza's Version line is the same (or absent)
        Changed, // found with another Version line
    };

    // Indexes the text of a reference copy. The table points into Text, which
    // must outlive it.
    explicit ReferenceCopy(std::string_view text);

    // Compares a stanza's whole "Package:" line and whole "Version:" line (empty
    // when the stanza has none) with the reference copy.
    Verdict Check(std::string_view packageLine, std::string_view versionLine) const;

    std::size_t size() const { return used_; }

private:
    // An open-addressing table: one flat array, no allocation per key.
    struct Slot {
        std::string_view Key; // empty: a free slot (a key is never empty)
        std::string_view Version;
        std::uint64_t Hash = 0;
        bool HasVersion = false;
    };

    static std::uint64_t HashOf(std::string_view key);
    std::size_t Find(std::string_view key, std::uint64_t hash) const;
    Slot* Insert(std::string_view key);
    void Grow();

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};
