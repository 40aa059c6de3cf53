#include "catalogue/PackageIndex.h"

#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "base/Workers.h"
#include "catalogue/ArchiveCache.h"
#include "catalogue/AsciiText.h"
#include "catalogue/CaptionOrder.h"
#include "catalogue/HugePages.h"
#include "catalogue/ReferenceCopy.h"
#include "sources/IndexStore.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr std::size_t MaxValueBytes = 256;

// A remembered field line. Most lines point into the file's text; a line that
// had lone CRs removed lives in the reader's scratch buffer and is copied.
class TFieldLine {
public:
    void Clear() { set_ = false; }
    void Set(std::string_view line, std::string_view text) {
        set_ = true;
        if (line.data() >= text.data() && line.data() + line.size() <= text.data() + text.size()) {
            view_ = line;
        } else {
            own_.assign(line);
            view_ = own_;
        }
    }
    bool IsSet() const { return set_; }
    std::string_view Line() const { return set_ ? view_ : std::string_view(); }

private:
    bool set_ = false;
    std::string_view view_;
    std::string own_;
};

// The value of a field line: from the second character after the colon (the
// field name is followed by exactly one blank), cut to 256 bytes.
std::string_view RawValue(std::string_view line, std::size_t start) {
    if (line.size() <= start)
        return {};
    return line.substr(start, MaxValueBytes);
}

// A value shown as text: cut without splitting a UTF-8 sequence, then empty
// unless it is valid UTF-8.
std::string DecodedValue(std::string_view line, std::size_t start) {
    if (line.size() <= start)
        return {};
    const std::string_view cut = TextFile::CutUtf8(line.substr(start), MaxValueBytes);
    return TextFile::IsValidUtf8(cut) ? std::string(cut) : std::string();
}

// The names of the regular files in the local package cache.
std::unordered_set<std::string> ListArchives(const QString& archivesDir) {
    std::unordered_set<std::string> names;
    DIR* dir = ::opendir(QFile::encodeName(archivesDir).constData());
    if (!dir)
        return names;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            regular = ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(st.st_mode);
        }
        if (regular)
            names.emplace(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

// Size gets the file's size.
bool IsRegularFile(const QString& path, std::uint64_t& size) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    return true;
}

// A read buffer made ready for a file of Size bytes before its first touch.
void PrepareBuffer(std::string& buffer, std::uint64_t size) {
    if (size <= SafeFiles::MaxIndexSize)
        HugePages::Reserve(buffer, static_cast<std::size_t>(size));
}

using AsciiText::ReplaceAll;
using SafeFiles::InFolder;

// The local file name: every "Filename: " removed, then the package cache's
// one rule for a "Filename:" value, so that the downloaded badge agrees with
// the name the download stores.
void LocalFileNameInto(std::string_view line, std::string& name) {
    constexpr std::string_view Key = "Filename: ";
    std::string slow;
    std::string_view s = line;
    if (s.starts_with(Key) && s.find(Key, Key.size()) == std::string_view::npos) {
        s.remove_prefix(Key.size());
    } else if (s.find(Key) != std::string_view::npos) {
        slow.assign(line);
        ReplaceAll(slow, Key, "");
        s = slow;
    }
    ArchiveCache::LocalFileNameInto(s, name);
}

// The rows of one index by identifier, version and architecture, so that an
// index repeating a stanza gives one row. One flat table of row numbers: no
// allocation per row, and a row's texts are compared only when the hashes of
// the three values agree.
class TRowSet {
public:
    explicit TRowSet(std::size_t expected) {
        std::size_t size = 64;
        while (size < expected * 2)
            size *= 2;
        HugePages::Reserve(slots_, size);
        slots_.assign(size, TSlot{});
    }

    // True when Rows has no row with the values of Rows.back() before it; the
    // row is then remembered.
    bool InsertLast(const TPackageRows& rows) {
        const TPackageRow& row = rows.back();
        const std::uint64_t hash = HashOf(row);
        if ((used_ + 1) * 2 > slots_.size())
            Grow();
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            TSlot& slot = slots_[i];
            if (slot.Row == Empty) {
                slot = {hash, static_cast<std::uint32_t>(rows.size() - 1)};
                ++used_;
                return true;
            }
            if (slot.Hash == hash && Same(rows[slot.Row], row))
                return false;
        }
    }

private:
    static constexpr std::uint32_t Empty = 0xFFFFFFFFu;
    struct TSlot {
        std::uint64_t Hash = 0;
        std::uint32_t Row = Empty;
    };

    static std::uint64_t HashOf(const TPackageRow& row) {
        const std::hash<std::string_view> h;
        std::uint64_t v = h(row.Package);
        v = (v ^ h(row.Version)) * 0x9E3779B97F4A7C15ull;
        v = (v ^ h(row.Architecture.View())) * 0x9E3779B97F4A7C15ull;
        return v ^ (v >> 29);
    }
    static bool Same(const TPackageRow& a, const TPackageRow& b) {
        return a.Package == b.Package && a.Version == b.Version && a.Architecture == b.Architecture;
    }
    void Grow() {
        std::vector<TSlot> old(slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const TSlot& slot : old) {
            if (slot.Row == Empty)
                continue;
            std::size_t i = slot.Hash & mask;
            while (slots_[i].Row != Empty)
                i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    std::vector<TSlot> slots_;
    std::size_t used_ = 0;
};

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
    std::string LastSection;

    std::string Reference; // the reference copy, until the rows are checked
    std::optional<TReferenceCopy> Table;
    // The index, or a reference copy that is there, was unreadable: one flag
    // per task, as the two may end at once.
    bool RowsFailed = false;
    bool ReferenceFailed = false;
    // Why the index gives no rows: one text per task, as for the flags.
    QString Skipped;
    QString ReferenceSkipped;
    // The Package and Version lines of each row, copied out of the index so
    // that its read buffer can serve the next index before the check.
    std::string LineText;
    std::vector<std::uint32_t> LineEnds; // three per row: Package, Version, Architecture
    std::atomic<int> TasksDone{0};
};

// Read buffers pass from index to index: the biggest indexes come first, so a
// buffer handed back is big enough for what follows and memory once touched is
// reused rather than faulted in again.
class TBufferPool {
public:
    std::string Take() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (free_.empty())
            return {};
        std::string b = std::move(free_.back());
        free_.pop_back();
        return b;
    }
    void Give(std::string& b) {
        const std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(std::move(b));
        b = std::string();
    }
    void Clear() {
        const std::lock_guard<std::mutex> lock(mutex_);
        free_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> free_;
};

void Keep(std::string_view line, TIndexPart& part) {
    part.LineText.append(line);
    part.LineEnds.push_back(static_cast<std::uint32_t>(part.LineText.size()));
}

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

// Reads the rows of one index into its part, a stanza at a time: a stanza's
// field lines are remembered as they come and make a row when it ends.
class TIndexReader {
public:
    TIndexReader(std::string_view text, const std::string& indexFile,
                 const std::unordered_set<std::string>& archives, std::string& localName,
                 TIndexPart& part, TRowBudget& budget)
        : text_(text), indexFile_(indexFile), archives_(archives), localName_(localName),
          part_(part), rows_(part.Rows), budget_(budget), seen_(Expected(text)) {
        // Growing the vector would move every row made so far; capacity never
        // touched costs no memory.
        HugePages::Reserve(rows_, Expected(text));
        HugePages::Reserve(part.LineEnds, 3 * Expected(text));
        HugePages::Reserve(part.LineText, 80 * Expected(text));
    }

    // False (with the reason in the part) when the index has more stanzas
    // than an index may have or the catalogue is full.
    bool Read() {
        TextFile::TIndexLines lines(text_);
        std::string_view line;
        while (part_.Skipped.isEmpty() && lines.Next(line)) {
            if (line.empty())
                EndStanza();
            else
                See(line);
        }
        if (part_.Skipped.isEmpty())
            Finish();
        // The room not used goes back; a skipped index gives back all it took.
        budget_.GiveBack(part_.Skipped.isEmpty() ? taken_ - rows_.size() : taken_);
        if (!part_.Skipped.isEmpty())
            return false;
        if (!part_.HasSection)
            part_.Unsectioned = rows_.size();
        return true;
    }

private:
    // An index rarely has a stanza under 512 bytes.
    static std::size_t Expected(std::string_view text) { return text.size() / 512 + 16; }

    void See(std::string_view line) {
        TFieldLine* field = nullptr;
        switch (line[0]) {
        case 'P':
            field = line.starts_with("Package:") ? &package_ : nullptr;
            break;
        case 'N':
            field = line.starts_with("Name:") ? &name_ : nullptr;
            break;
        case 'V':
            field = line.starts_with("Version:") ? &version_ : nullptr;
            break;
        case 'A':
            field = line.starts_with("Architecture:") ? &architecture_ : nullptr;
            break;
        case 'D':
            field = line.starts_with("Description:") ? &description_ : nullptr;
            break;
        case 'F':
            field = line.starts_with("Filename:") ? &filename_ : nullptr;
            break;
        case 'S':
            if (line.starts_with("Section:"))
                SeeSection(line);
            break;
        default:
            break;
        }
        if (field)
            field->Set(line, text_);
    }

    // The category sticks: it holds for the stanzas after it until the next.
    void SeeSection(std::string_view line) {
        if (!part_.HasSection) {
            part_.Unsectioned = rows_.size();
            part_.HasSection = true;
        }
        part_.LastSection.assign(RawValue(line, 9));
    }

    void EndStanza() {
        Finish();
        for (TFieldLine* field :
             {&package_, &name_, &version_, &description_, &filename_, &architecture_})
            field->Clear();
    }

    // Whether another row fits; the reason is in the part when it does not.
    bool Room() {
        // Stanzas are counted as the refresh counts them, repeated ones too.
        if (++stanzas_ > SafeFiles::MaxIndexStanzas) {
            part_.Skipped = QStringLiteral("больше %1 пакетов").arg(SafeFiles::MaxIndexStanzas);
            return false;
        }
        if (rows_.size() < taken_)
            return true;
        taken_ += TRowBudget::Step;
        if (budget_.Take())
            return true;
        part_.Skipped = QStringLiteral("в каталоге больше нет места (%1 пакетов)")
                            .arg(SafeFiles::MaxCatalogueRows);
        return false;
    }

    void Finish() {
        if (!package_.IsSet() || !Room())
            return;
        TPackageRow& row = rows_.emplace_back();
        row.Package.assign(RawValue(package_.Line(), 9));
        row.Version.assign(RawValue(version_.Line(), 9));
        row.Architecture.Assign(RawValue(architecture_.Line(), 14));
        // A stanza repeated with the same identifier, version and architecture
        // is the same package: nothing could tell its two rows apart.
        if (!seen_.InsertLast(rows_)) {
            rows_.pop_back();
            return;
        }
        row.Caption = name_.IsSet() ? DecodedValue(name_.Line(), 6) : row.Package;
        row.Description = DecodedValue(description_.Line(), 13);
        row.IndexFile = indexFile_;
        if (part_.HasSection)
            row.Section = part_.LastSection;
        if (filename_.IsSet() && !archives_.empty()) {
            LocalFileNameInto(filename_.Line(), localName_);
            if (archives_.count(localName_) != 0)
                row.State |= StateDownloaded;
        }
        Keep(package_.Line(), part_);
        Keep(version_.Line(), part_);
        Keep(architecture_.Line(), part_);
    }

    std::string_view text_;
    const std::string& indexFile_;
    const std::unordered_set<std::string>& archives_;
    std::string& localName_;
    TIndexPart& part_;
    TPackageRows& rows_;
    TRowBudget& budget_;
    TRowSet seen_;
    TFieldLine package_, name_, version_, description_, filename_, architecture_;
    std::uint64_t stanzas_ = 0;
    std::uint64_t taken_ = 0; // rows of room taken from the budget
};

void CheckRows(TIndexPart& part, TBufferPool& pool) {
    const std::string_view lines = part.LineText;
    for (std::size_t i = 0; i < part.Rows.size(); ++i) {
        const std::size_t start = i == 0 ? 0 : part.LineEnds[3 * i - 1];
        const std::size_t middle = part.LineEnds[3 * i];
        const std::size_t last = part.LineEnds[3 * i + 1];
        const std::string_view package = lines.substr(start, middle - start);
        const std::string_view version = lines.substr(middle, last - middle);
        const std::string_view architecture = lines.substr(last, part.LineEnds[3 * i + 2] - last);
        if (!part.Table ||
            part.Table->Check(package, version, architecture) != TReferenceCopy::TVerdict::Same)
            part.Rows[i].State |= StateNewOrUpdated;
    }
    part.Table.reset();
    std::string().swap(part.LineText);
    std::vector<std::uint32_t>().swap(part.LineEnds);
    pool.Give(part.Reference);
}

struct TLoadJob {
    const QString& ProcDir;
    const QString& ListsDir;
    const QStringList& Names;
    const std::unordered_set<std::string>& Archives;
    const std::vector<std::uint64_t>& Sizes; // of the indexes, when listed
    TBufferPool Pool;
    TRowBudget Budget;
};

void ReadRows(TLoadJob& job, std::size_t i, TIndexPart& part, std::string& localName) {
    const QString& name = job.Names[qsizetype(i)];
    std::string text = job.Pool.Take();
    PrepareBuffer(text, job.Sizes[i]);
    // A folder named like an index passes the listing but is no file: reading
    // it fails and it gives no rows.
    QString reason;
    const std::string indexFile = QFile::encodeName(name).toStdString();
    if (SafeFiles::ReadAll(InFolder(job.ProcDir, name), SafeFiles::MaxIndexSize, text, &reason))
        part.RowsFailed =
            !TIndexReader(text, indexFile, job.Archives, localName, part, job.Budget).Read();
    else
        part.RowsFailed = true;
    if (part.RowsFailed) {
        TPackageRows().swap(part.Rows);
        if (part.Skipped.isEmpty())
            part.Skipped = reason;
        part.Skipped =
            QStringLiteral("индекс %1 пропущен: %2").arg(InFolder(job.ProcDir, name), part.Skipped);
    }
    job.Pool.Give(text);
}

void ReadReference(TLoadJob& job, std::size_t i, TIndexPart& part) {
    const QString path = InFolder(job.ListsDir, job.Names[qsizetype(i)]);
    std::uint64_t size = 0;
    if (!IsRegularFile(path, size))
        return;
    part.Reference = job.Pool.Take();
    PrepareBuffer(part.Reference, size);
    // A reference copy that is there but cannot be read ends the work on this
    // index before its first row.
    QString reason;
    if (SafeFiles::ReadAll(path, SafeFiles::MaxIndexSize, part.Reference, &reason)) {
        part.Table.emplace(part.Reference);
        if (part.Table->Complete())
            return;
        part.Table.reset();
        reason = QStringLiteral("больше %1 пакетов").arg(SafeFiles::MaxIndexStanzas);
    }
    part.ReferenceFailed = true;
    part.ReferenceSkipped = QStringLiteral("индекс %1 пропущен: его копия %2 не годится: %3")
                                .arg(InFolder(job.ProcDir, job.Names[qsizetype(i)]), path, reason);
    job.Pool.Give(part.Reference);
}

std::uint64_t FileSize(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || st.st_size < 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

// The rows of all indexes, as pointers, and their caption order: the place in
// All of the row for each new place.
struct TGathered {
    std::vector<TPackageRow*> All;
    std::vector<std::uint32_t> Places;
};

TGathered GatherAndSort(std::vector<TIndexPart>& parts) {
    TGathered g;
    std::size_t total = 0;
    for (const TIndexPart& part : parts)
        total += part.Rows.size();
    std::vector<std::string_view> captions;
    HugePages::Reserve(g.All, total);
    HugePages::Reserve(captions, total);
    for (TIndexPart& part : parts)
        for (TPackageRow& row : part.Rows) {
            g.All.push_back(&row);
            captions.emplace_back(row.Caption);
        }
    g.Places = CaptionOrder::SortedPlaces(captions);
    return g;
}

// Moves the rows into their new places, the two halves side by side on a long
// list: the reads hop all over the rows, and two cores wait on memory better
// than one.
TPackageRows MoveInOrder(const TGathered& g) {
    const std::size_t n = g.Places.size();
    TPackageRows rows;
    HugePages::Reserve(rows, n);
    rows.resize(n);
    auto move = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k)
            rows[k] = std::move(*g.All[g.Places[k]]);
    };
    const unsigned parts = n >= 8192 && Workers::Cores() >= 2 ? 2 : 1;
    Workers::RunInParallel(parts,
                           [&](unsigned part) { move(part * n / parts, (part + 1) * n / parts); });
    return rows;
}

} // namespace

TPackageRows LoadPackages(const QString& procDir, const QString& listsDir,
                          const QString& archivesDir, QStringList* skipped) {
    const std::unordered_set<std::string> archives = ListArchives(archivesDir);
    const QStringList names = IndexStore::ListIndexFiles(procDir);
    std::vector<TIndexPart> parts(static_cast<std::size_t>(names.size()));

    // The indexes are shared out biggest first, so that no worker is left with
    // a big one at the end while the others idle. All rows are made before any
    // reference copy is read: the captions are then final, and their sort runs
    // while the other workers read the reference copies.
    std::vector<std::uint64_t> sizes;
    std::vector<std::pair<std::uint64_t, std::size_t>> bySize;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        sizes.push_back(FileSize(InFolder(procDir, names[qsizetype(i)])));
        bySize.emplace_back(sizes.back(), i);
    }
    std::stable_sort(bySize.begin(), bySize.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    TLoadJob job{procDir, listsDir, names, archives, sizes, {}, {}};
    std::vector<std::pair<std::size_t, bool>> tasks; // index, and whether it is the reference
    for (const auto& [size, i] : bySize)
        tasks.emplace_back(i, false);
    for (const auto& [size, i] : bySize)
        tasks.emplace_back(i, true);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> rowsLeft{parts.size()};
    // Made by the worker that ends the last row task. A reference copy that
    // turns out unreadable drops its rows afterwards, and the sort is redone.
    std::optional<TGathered> sorted;
    const unsigned threads = static_cast<unsigned>(std::clamp<std::size_t>(
        std::min<std::size_t>(Workers::Cores(), 4), 1, std::max<std::size_t>(tasks.size(), 1)));
    Workers::RunInParallel(threads, [&](unsigned) {
        std::string localName;
        for (std::size_t k; (k = next.fetch_add(1)) < tasks.size();) {
            const auto [i, isReference] = tasks[k];
            TIndexPart& part = parts[i];
            if (isReference)
                ReadReference(job, i, part);
            else
                ReadRows(job, i, part, localName);
            // The second task of an index sees all the first one wrote.
            if (part.TasksDone.fetch_add(1, std::memory_order_acq_rel) == 1 && !part.RowsFailed &&
                !part.ReferenceFailed)
                CheckRows(part, job.Pool);
            // The flags the reference tasks still set are not read by the
            // sort, only the captions, which no task changes any more.
            if (!isReference && rowsLeft.fetch_sub(1, std::memory_order_acq_rel) == 1)
                sorted.emplace(GatherAndSort(parts));
        }
    });
    // The read buffers are not needed any more: handing them back now keeps
    // them out of the memory the list is built in.
    job.Pool.Clear();
    bool sortAgain = !sorted;
    std::string carried;
    for (TIndexPart& part : parts) {
        if (part.RowsFailed || part.ReferenceFailed) {
            sortAgain = sortAgain || !part.Rows.empty();
            TPackageRows().swap(part.Rows);
            if (skipped)
                *skipped << (part.RowsFailed ? part.Skipped : part.ReferenceSkipped);
            continue;
        }
        for (std::size_t i = 0; i < part.Unsectioned && !carried.empty(); ++i)
            part.Rows[i].Section = carried;
        if (part.HasSection)
            carried = part.LastSection;
    }
    if (sortAgain)
        sorted.emplace(GatherAndSort(parts));
    TGathered& g = *sorted;
    // Sorting and moving the flagged rows up are one rearrangement, so every
    // row moves once, straight into its place.
    std::stable_partition(g.Places.begin(), g.Places.end(), [&g](std::uint32_t i) {
        return (g.All[i]->State & StateNewOrUpdated) != 0;
    });
    return MoveInOrder(g);
}

void SortPackages(TPackageRows& rows) {
    CaptionOrder::Sort(rows);
}
