#pragma once

#include "catalogue/PackageRow.h"

#include <string>
#include <string_view>

// Searching the rows currently shown, in their order. The selection is a row
// index or -1 for none.
namespace Browse {

// Trimmed of blanks and control characters at both ends, ASCII letters lowered
// (nothing else: Cyrillic matches only in the same letter case).
std::string PrepareNeedle(std::string_view searchText);

// True when the needle occurs in the row's caption, description or identifier
// (each prepared the same way).
bool RowMatches(const PackageRow& row, std::string_view needle);

// One step of "find next" from the row after Selected. Returns the row to
// select, or -1 to clear the selection. Wraps as the search button does: no
// match below gives row 0 when row 0 matches, -1 otherwise. Nothing to search
// (empty list, blank text) returns Selected unchanged with Searched false.
struct SearchStep {
    bool Searched = false;
    int Row = -1;
};
SearchStep FindNext(const PackageRows& rows, int selected, std::string_view searchText);

// The first row whose identifier equals Text exactly (untrimmed, letter case
// significant), or -1.
int FindIdentifier(const PackageRows& rows, std::string_view text);

} // namespace Browse
