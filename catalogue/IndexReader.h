#pragma once

#include "base/SafeFiles.h"
#include "catalogue/PackageRow.h"
#include "catalogue/ReferenceCopy.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

// The reading of one index into rows, a stanza at a time: the catalogue's
// load runs it on each index, several side by side.
namespace IndexReader {

// One index's share of the list, built apart from the others so that indexes
// can be read side by side. The category sticks across indexes, so the rows
// before the index's first "Section:" line take theirs from the indexes before
// it once all are read.
//
// An index and its reference copy are read by two tasks, which may run side by
// side: the rows are made first and remember their Package and Version lines,
// and whichever task ends second checks them against the reference copy.
struct TIndexPart {
    TPackageRows Rows;
    std::size_t Unsectioned = 0; // rows before the first Section line
    bool HasSection = false;
    std::string_view LastSection; // in the load's store

    std::optional<TReferenceCopy> Table; // of the reference copy, until the rows are checked
    // The index, or a reference copy that is there, was unreadable: one flag
    // per task, as the two may end at once.
    bool RowsFailed = false;
    bool ReferenceFailed = false;
    // Why the index gives no rows: one text per task, as for the flags.
    QString Skipped;
    QString ReferenceSkipped;
    // The Package, Version and Architecture lines of each row, copied out of
    // the index so that its read buffer can serve the next piece before the
    // check.
    std::string LineText;
    std::vector<std::uint32_t> LineEnds; // three per row: Package, Version, Architecture
    std::atomic<int> TasksDone{0};
};

// Rows of the whole catalogue, shared by the tasks that read the indexes:
// each takes its rows in steps, so the rows made while the indexes are read
// never pass the catalogue's room by more than a step per task.
class TRowBudget {
public:
    static constexpr std::uint64_t Step = 4096;
    // A step of room; false when the catalogue is full (the step still
    // counts as taken until it is given back).
    bool Take() {
        return taken_.fetch_add(Step, std::memory_order_relaxed) < SafeFiles::MaxCatalogueRows;
    }
    void GiveBack(std::uint64_t n) { taken_.fetch_sub(n, std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> taken_{0};
};

// The names of the regular files in the local package cache, asked about
// once per stanza. Most names asked for are not there: a filter of a few bits
// per name, which stays in the cache, turns nearly all of those away before
// the set is searched.
class TArchiveNames {
public:
    TArchiveNames() = default;
    explicit TArchiveNames(std::unordered_set<std::string> names);
    bool Empty() const { return names_.empty(); }
    bool Contains(const std::string& name) const;

private:
    // Where the two bits of a name lie in the filter.
    std::pair<std::size_t, std::size_t> BitsOf(std::string_view name) const;

    std::unordered_set<std::string> names_;
    std::vector<std::uint64_t> filter_;
};

// A place of the table that tells an index's repeated stanzas apart: eight
// bytes, so that the table of a large index stays in the cache.
struct TRowSlot {
    std::uint32_t Tag = 0;           // the top half of the row's hash
    std::uint32_t Row = 0xFFFFFFFFu; // none
};

// What a worker keeps from index to index: the read buffer, the local file
// name of the stanza being read, the lane of the load's store its rows'
// texts go to, and the memory of the tables it last used, to be used again.
struct TScratch {
    std::string Buffer;
    std::string LocalName;
    TRowTexts* Texts = nullptr;
    std::size_t Lane = 0;
    std::vector<TRowSlot> RowSlots;
    std::optional<TReferenceCopy> SpareTable;
};

// Reads File in pieces that each end where a stanza ends (after an empty
// line, or at the end of the file), so that no stanza spans two pieces and no
// buffer the size of the file is made; Buffer is kept between files. Piece
// gets each piece; false from it ends the reading early. False, with the
// reason, when the file could not be read.
bool ReadPieces(SafeFiles::TReadFile& file, std::string& buffer,
                const std::function<bool(std::string_view)>& piece, QString* reason);

// Reads the rows of the index at Path (named IndexFile in the store) into
// Part, their texts into the scratch's lane (the rows view them and get no
// store of their own), marking those whose package file is among Archives. False (with the
// reason in the part) when the index cannot be read, has more stanzas than
// an index may have, or the catalogue is full.
bool ReadRows(const QString& path, const std::string& indexFile, const TArchiveNames& archives,
              TScratch& scratch, TIndexPart& part, TRowBudget& budget);

} // namespace IndexReader
