#pragma once

#include <QString>

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

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

    // Takes the text of the reference copy (kept inside; keys point into it).
    explicit ReferenceCopy(std::string text);

    // Compares a stanza's whole "Package:" line and whole "Version:" line (empty
    // when the stanza has none) with the reference copy.
    Verdict Check(std::string_view packageLine, std::string_view versionLine) const;

    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        std::string_view Version;
        bool HasVersion = false;
    };
    struct CaseFreeHash {
        std::size_t operator()(std::string_view s) const noexcept;
    };
    struct CaseFreeEqual {
        bool operator()(std::string_view a, std::string_view b) const noexcept;
    };

    std::string text_;
    std::unordered_map<std::string_view, Entry, CaseFreeHash, CaseFreeEqual> entries_;
};
