#pragma once

#include "catalogue/PackageRow.h"

#include <QString>

#include <string>
#include <vector>

// The saved package list "cache.txt": seven CRLF-ended lines per row (section,
// caption, "$" and state, version, identifier, description, index file).
namespace PackageList {

inline constexpr const char* FileName = "cache.txt";

// Writes every row. The old file is deleted first; the new one is written under
// a temporary name and renamed into place only when complete, so a failed
// write leaves no file rather than a partial one. An empty list leaves no file.
// True when the file now holds the rows (or, for an empty list, is absent).
bool SavePackageList(const QString& cacheFile, const PackageRows& rows);

enum class LoadResult {
    Missing,  // no file: rows and categories untouched
    Complete, // read to its end
    Damaged,  // stopped at damage: what came before it was kept
};

// Replaces Rows by the saved rows of Category (all rows when Category is empty).
// With an empty Category, Categories is replaced by the distinct sections
// (letter case ignored, spelled as first met, empty sections left out), sorted
// in the locale collation without regard to letter case; otherwise it is left
// alone. Rows keep the file's order.
LoadResult LoadPackageList(const QString& cacheFile, const std::string& category, PackageRows& rows,
                           std::vector<std::string>& categories);

// The category entries of Rows, the way loading all categories makes them.
std::vector<std::string> Categories(const PackageRows& rows);

// Writes State into every saved row whose identifier is Package. Nothing
// happens when the file is missing; a failed write leaves the file as it was.
void UpdatePackageIcon(const QString& cacheFile, const std::string& package, int state);

// Copies every index of ProcDir over its namesake in ListsDir (accepting the
// current indexes as the new reference copies). Failed copies are skipped.
void AcceptIndexes(const QString& procDir, const QString& listsDir);

// Clears the new-or-updated bit of every row and sorts the rows by caption.
void ClearUpdateFlags(PackageRows& rows);

} // namespace PackageList
