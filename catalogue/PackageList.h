#pragma once

#include "catalogue/PackageRow.h"

#include <QString>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The saved package list "cache.txt": seven CRLF-ended lines per row (section,
// caption, "$" and state, version, identifier, description, index file).
//
// The rows' architectures follow the records, after a byte 0x1A: a reader of
// the seven-line records stops there (0x1A ends a text file), so it reads the
// records as they always were. The block is the line "Architecture" and then
// one line per run of consecutive records with the same architecture: the
// number of records, a blank and the architecture ("120 iphoneos-arm"; just
// "3" for records whose stanza named none). The counts add up to the number
// of records; a file without the block, or whose counts do not add up, does
// not know its rows' architectures.
namespace PackageList {

inline constexpr const char* FileName = "cache.txt";

// The architectures of a saved list's records, from its text.
class TArchitectureRuns {
public:
    // Reads the block after the records; Known() is false when there is none
    // or it is damaged.
    explicit TArchitectureRuns(std::string_view fileText);
    bool Known() const { return known_; }
    // The number of records the block accounts for.
    std::size_t Records() const { return total_; }
    // Where the records end (the 0x1A byte, or the end of the text).
    std::size_t RecordsEnd() const { return recordsEnd_; }
    // The architecture of record Record (0 for the first); empty when unknown.
    TArchitecture At(std::size_t record) const;
    // As At, for records asked for in rising order: Run is the caller's place
    // among the runs, 0 before the first call.
    TArchitecture InOrder(std::size_t record, std::size_t& run) const {
        while (run < runs_.size() && record >= runs_[run].first)
            ++run;
        return run < runs_.size() ? runs_[run].second : TArchitecture();
    }

private:
    std::vector<std::pair<std::size_t, TArchitecture>> runs_; // end record, architecture
    std::size_t total_ = 0;
    std::size_t recordsEnd_ = 0;
    bool known_ = false;
};

// Writes every row. The old file is deleted first; the new one is written under
// a temporary name and renamed into place only when complete, so a failed
// write leaves no file rather than a partial one. An empty list leaves no file.
// True when the file now holds the rows (or, for an empty list, is absent);
// otherwise Reason, when given, gets why not.
bool SavePackageList(const QString& cacheFile, const TPackageRows& rows, QString* reason = nullptr);

enum class TLoadResult {
    Missing,  // no file: rows and categories untouched
    Complete, // read to its end
    Damaged,  // stopped at damage: what came before it was kept
};

// Replaces Rows by the saved rows of Category (all rows when Category is empty)
// that are listed for a phone of Architecture (every row when it is empty;
// see ListedFor). With an empty Category, Categories is replaced by the
// distinct sections of those rows (letter case ignored, spelled as first met,
// empty sections left out), sorted in the locale collation without regard to
// letter case; otherwise it is left alone. Rows keep the file's order. When
// given, KnowsArchitectures tells whether the file carried the rows'
// architectures (a list saved before they were kept does not; its rows have
// none).
TLoadResult LoadPackageList(const QString& cacheFile, const std::string& category,
                            TPackageRows& rows, std::vector<std::string>& categories,
                            std::string_view architecture = {}, bool* knowsArchitectures = nullptr);

// The category entries of Rows, the way loading all categories makes them.
std::vector<std::string> Categories(const TPackageRows& rows);

// Writes State into every saved row of that build: its identifier and version,
// and its architecture when the file knows the rows' architectures (from any
// index: the same build of one package is the same file). Nothing happens when
// the file is missing; a failed write leaves the file as it was.
void UpdatePackageIcon(const QString& cacheFile, const TPackageKey& key, int state);

// Copies every index of ProcDir over its namesake in ListsDir (accepting the
// current indexes as the new reference copies). Failed copies are skipped.
void AcceptIndexes(const QString& procDir, const QString& listsDir);

// Clears the new-or-updated bit of every row and sorts the rows by caption.
void ClearUpdateFlags(TPackageRows& rows);

} // namespace PackageList
