#include "catalogue/PackageIndex.h"

#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "base/Workers.h"
#include "catalogue/ArchiveCache.h"
#include "catalogue/AsciiText.h"
#include "catalogue/CaptionOrder.h"
#include "catalogue/HugePages.h"
#include "catalogue/IndexReader.h"
#include "catalogue/ReferenceCopy.h"
#include "sources/IndexStore.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

using IndexReader::TIndexPart;
using IndexReader::TRowBudget;

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

using SafeFiles::InFolder;

// The table goes back to the worker's scratch for the next reference copy.
void CheckRows(TIndexPart& part, IndexReader::TScratch& scratch) {
    const std::string_view lines = part.LineText;
    // The Package, Version and Architecture lines of row I.
    const auto line = [&](std::size_t i, int k) {
        const std::size_t at = 3 * i + std::size_t(k);
        const std::size_t start = at == 0 ? 0 : part.LineEnds[at - 1];
        return lines.substr(start, part.LineEnds[at] - start);
    };
    // Each check waits on memory: the places of the rows a few further on
    // are asked for meanwhile.
    constexpr std::size_t Ahead = 8;
    const std::size_t n = part.Rows.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (part.Table && i + Ahead < n)
            part.Table->Prefetch(line(i + Ahead, 0), line(i + Ahead, 1), line(i + Ahead, 2));
        if (!part.Table ||
            part.Table->Check(line(i, 0), line(i, 1), line(i, 2)) != TReferenceCopy::TVerdict::Same)
            part.Rows[i].State |= StateNewOrUpdated;
    }
    if (part.Table && !scratch.SpareTable)
        scratch.SpareTable = std::move(part.Table);
    part.Table.reset();
    std::string().swap(part.LineText);
    std::vector<std::uint32_t>().swap(part.LineEnds);
}

struct TLoadTask {
    std::size_t Index;
    bool Reference; // the reference copy's task, else the rows'
};

struct TLoadJob {
    const QString& ProcDir;
    const QString& ListsDir;
    const QStringList& Names;
    const IndexReader::TArchiveNames& Archives;
    TRowBudget Budget;
};

void ReadRows(TLoadJob& job, std::size_t i, TIndexPart& part, IndexReader::TScratch& scratch) {
    const QString& name = job.Names[qsizetype(i)];
    // A folder named like an index passes the listing but is no file: reading
    // it fails and it gives no rows.
    const std::string indexFile = QFile::encodeName(name).toStdString();
    part.RowsFailed = !IndexReader::ReadRows(InFolder(job.ProcDir, name), indexFile, job.Archives,
                                             scratch, part, job.Budget);
    if (part.RowsFailed) {
        TPackageRows().swap(part.Rows);
        part.Skipped =
            QStringLiteral("индекс %1 пропущен: %2").arg(InFolder(job.ProcDir, name), part.Skipped);
    }
}

void ReadReference(TLoadJob& job, std::size_t i, TIndexPart& part, IndexReader::TScratch& scratch) {
    const QString path = InFolder(job.ListsDir, job.Names[qsizetype(i)]);
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    // A reference copy that is there but cannot be read ends the work on this
    // index before its first row.
    QString reason;
    SafeFiles::TReadFile file;
    if (file.Open(path, SafeFiles::MaxIndexSize, &reason) == SafeFiles::TReadResult::Ok) {
        if (scratch.SpareTable) {
            part.Table = std::move(scratch.SpareTable);
            scratch.SpareTable.reset();
            part.Table->Reset(file.Size());
        } else {
            part.Table.emplace(file.Size());
        }
        TReferenceCopy& table = *part.Table;
        const bool read = IndexReader::ReadPieces(
            file, scratch.Buffer,
            [&table](std::string_view piece) {
                table.Add(piece);
                return table.Complete();
            },
            &reason);
        if (read && table.Complete())
            return;
        if (read)
            reason = QStringLiteral("больше %1 пакетов").arg(SafeFiles::MaxIndexStanzas);
        part.Table.reset();
    }
    part.ReferenceFailed = true;
    part.ReferenceSkipped = QStringLiteral("индекс %1 пропущен: его копия %2 не годится: %3")
                                .arg(InFolder(job.ProcDir, job.Names[qsizetype(i)]), path, reason);
}

std::uint64_t FileSize(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || st.st_size < 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

// The rows of all indexes, as pointers, and their caption order: the place in
// All of the row for each new place.
// Rows is the list to be, made (its memory faulted in) by the worker that
// sorted, while the others still read reference copies: fresh memory is
// slow to come by on a virtual machine, and on the last thread it is
// waited for alone.
struct TGathered {
    std::vector<TPackageRow*> All;
    std::vector<std::uint32_t> Places;
    TPackageRows Rows;
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
            captions.emplace_back(row.Caption());
        }
    g.Places = CaptionOrder::SortedPlaces(captions);
    std::vector<std::string_view>().swap(captions);
    HugePages::Reserve(g.Rows, total);
    g.Rows.resize(total);
    return g;
}

// Moves the rows into their new places, each sharing the store of the
// load's texts. One thread: the share count is one counter all rows touch.
TPackageRows MoveInOrder(TGathered& g, const std::shared_ptr<const TRowTexts>& texts) {
    const std::size_t n = g.Places.size();
    TPackageRows rows = std::move(g.Rows);
    // The rows come from all over their parts: asking for those a few
    // places on lets the waits for memory overlap.
    constexpr std::size_t Ahead = 8;
    for (std::size_t k = 0; k < n; ++k) {
        if (k + Ahead < n) {
            const char* next = reinterpret_cast<const char*>(g.All[g.Places[k + Ahead]]);
            for (std::size_t line = 0; line < sizeof(TPackageRow); line += 64)
                __builtin_prefetch(next + line);
        }
        TPackageRow& row = rows[k];
        row = std::move(*g.All[g.Places[k]]);
        row.Share(texts);
    }
    return rows;
}

// The size of the blocks of one lane of the load's store: a row keeps some
// 90 bytes of its stanza's 700 or so, and room mapped but never touched
// costs nothing.
std::size_t TextBlockBytes(std::uint64_t indexBytes, unsigned lanes) {
    constexpr std::uint64_t Least = std::uint64_t(2) << 20, Most = std::uint64_t(64) << 20;
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(indexBytes / 6 / lanes, Least, Most));
}

// One task per index for its rows, then one per index for its reference
// copy. The indexes are shared out biggest first, so that no worker is left
// with a big one at the end while the others idle. All rows are made before
// any reference copy is read: the captions are then final, and their sort
// runs while the other workers read the reference copies. IndexBytes is the
// size of all indexes together.
std::vector<TLoadTask> TasksBiggestFirst(const QString& procDir, const QStringList& names,
                                         std::uint64_t& indexBytes) {
    std::vector<std::pair<std::uint64_t, std::size_t>> bySize;
    indexBytes = 0;
    for (std::size_t i = 0; i < std::size_t(names.size()); ++i) {
        bySize.emplace_back(FileSize(InFolder(procDir, names[qsizetype(i)])), i);
        indexBytes += bySize.back().first;
    }
    std::stable_sort(bySize.begin(), bySize.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<TLoadTask> tasks;
    for (const bool reference : {false, true})
        for (const auto& [size, i] : bySize)
            tasks.push_back({i, reference});
    return tasks;
}

// Drops the rows of every index that failed, saying why in Skipped, and gives
// the rows before an index's first Section line the category the indexes
// before it in list order left. True when rows were dropped, so that the sort
// made meanwhile no longer holds.
bool SettleParts(std::vector<TIndexPart>& parts, QStringList* skipped) {
    bool dropped = false;
    std::string_view carried;
    for (TIndexPart& part : parts) {
        if (part.RowsFailed || part.ReferenceFailed) {
            dropped = dropped || !part.Rows.empty();
            TPackageRows().swap(part.Rows);
            if (skipped)
                *skipped << (part.RowsFailed ? part.Skipped : part.ReferenceSkipped);
            continue;
        }
        for (std::size_t i = 0; i < part.Unsectioned && !carried.empty(); ++i) {
            TRowFields fields = part.Rows[i].Texts();
            fields.Section = carried;
            part.Rows[i].ViewTexts(fields);
        }
        if (part.HasSection)
            carried = part.LastSection;
    }
    return dropped;
}

} // namespace

TPackageRows LoadPackages(const QString& procDir, const QString& listsDir,
                          const QString& archivesDir, QStringList* skipped) {
    const IndexReader::TArchiveNames archives(ListArchives(archivesDir));
    const QStringList names = IndexStore::ListIndexFiles(procDir);
    std::vector<TIndexPart> parts(static_cast<std::size_t>(names.size()));
    std::uint64_t indexBytes = 0;
    const std::vector<TLoadTask> tasks = TasksBiggestFirst(procDir, names, indexBytes);
    TLoadJob job{procDir, listsDir, names, archives, {}};
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> rowsLeft{parts.size()};
    // Made by the worker that ends the last row task. A reference copy that
    // turns out unreadable drops its rows afterwards, and the sort is redone.
    std::optional<TGathered> sorted;
    const unsigned threads = static_cast<unsigned>(std::clamp<std::size_t>(
        std::min<std::size_t>(Workers::Cores(), 4), 1, std::max<std::size_t>(tasks.size(), 1)));
    const auto texts = std::make_shared<TRowTexts>(threads, TextBlockBytes(indexBytes, threads));
    Workers::RunInParallel(threads, [&](unsigned lane) {
        IndexReader::TScratch scratch;
        scratch.Texts = texts.get();
        scratch.Lane = lane;
        for (std::size_t k; (k = next.fetch_add(1)) < tasks.size();) {
            const auto [i, isReference] = tasks[k];
            TIndexPart& part = parts[i];
            if (isReference)
                ReadReference(job, i, part, scratch);
            else
                ReadRows(job, i, part, scratch);
            // The second task of an index sees all the first one wrote.
            if (part.TasksDone.fetch_add(1, std::memory_order_acq_rel) == 1 && !part.RowsFailed &&
                !part.ReferenceFailed)
                CheckRows(part, scratch);
            // The flags the reference tasks still set are not read by the
            // sort, only the captions, which no task changes any more.
            if (!isReference && rowsLeft.fetch_sub(1, std::memory_order_acq_rel) == 1)
                sorted.emplace(GatherAndSort(parts));
        }
    });
    if (SettleParts(parts, skipped) || !sorted)
        sorted.emplace(GatherAndSort(parts));
    TGathered& g = *sorted;
    // Sorting and moving the flagged rows up are one rearrangement, so every
    // row moves once, straight into its place.
    std::stable_partition(g.Places.begin(), g.Places.end(), [&g](std::uint32_t i) {
        return (g.All[i]->State & StateNewOrUpdated) != 0;
    });
    return MoveInOrder(g, texts);
}

void SortPackages(TPackageRows& rows) {
    CaptionOrder::Sort(rows);
}
