#pragma once

#include "catalogue/PackageRow.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Searching the rows currently shown, in their order. The selection is a row
// index or -1 for none.
namespace Browse {

// Trimmed of blanks and control characters at both ends, letter case folded
// the Unicode way (simple case folding: "ТВИКЕР" finds "Твикер"). Bytes that
// are not UTF-8 are kept as they are.
std::string PrepareNeedle(std::string_view searchText);

// True when the needle occurs in the row's caption, description or identifier
// (each trimmed and folded the same way).
bool RowMatches(const TPackageRow& row, std::string_view needle);

// One step of "find next" from the row after Selected. Returns the row to
// select, or -1 to clear the selection. Wraps as the search button does: no
// match below gives row 0 when row 0 matches, -1 otherwise. Nothing to search
// (empty list, blank text) returns Selected unchanged with Searched false.
struct TSearchStep {
    bool Searched = false;
    int Row = -1;
};
TSearchStep FindNext(const TPackageRows& rows, int selected, std::string_view searchText);

// The first row whose identifier equals Text exactly (untrimmed, letter case
// significant), or -1.
int FindIdentifier(const TPackageRows& rows, std::string_view text);

// The row the back button returns to: the back position when it is still a
// row of the list, -1 (select nothing) when it is none or the list has become
// shorter than it since.
int BackTarget(int backPosition, std::size_t rowCount);

// The first category entry equal to Text without regard to letter case (as the
// category label of the details panel is matched), or -1; an empty text
// matches nothing.
int FindCategory(const std::vector<std::string>& entries, std::string_view text);

} // namespace Browse
