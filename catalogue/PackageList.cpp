#include "catalogue/PackageList.h"

#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "base/Workers.h"
#include "catalogue/AsciiText.h"
#include "catalogue/CaptionOrder.h"
#include "catalogue/HugePages.h"
#include "catalogue/PackageIndex.h"
#include "sources/IndexStore.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PackageList {

namespace {

constexpr std::string_view LineEnd = "\r\n";

// A field never holds a line break or the end-of-text byte when it came from an
// index, but rows can be made elsewhere: such a byte would split the record or
// cut the file short when read back, so it is written as a blank.
// Such bytes are rare, so fields are scanned eight bytes at a time and only a
// word that holds one is fixed byte by byte.
bool HasBreak(std::uint64_t word) {
    constexpr std::uint64_t Ones = 0x0101010101010101ull;
    constexpr std::uint64_t Highs = 0x8080808080808080ull;
    // Not zero exactly when some byte of X is zero.
    const auto anyZero = [](std::uint64_t x) { return (x - Ones) & ~x & Highs; };
    return (anyZero(word ^ (Ones * '\r')) | anyZero(word ^ (Ones * '\n')) |
            anyZero(word ^ (Ones * 0x1A))) != 0;
}

void Blank(char* from, char* to) {
    for (char* p = from; p != to; ++p)
        if (*p == '\r' || *p == '\n' || *p == '\x1A')
            *p = ' ';
}

char* PutField(char* out, std::string_view field) {
    const std::size_t size = field.size();
    if (size != 0) // an empty view may have no data at all
        std::memcpy(out, field.data(), size);
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, out + i, 8);
        if (HasBreak(word))
            Blank(out + i, out + i + 8);
    }
    Blank(out + i, out + size);
    out += size;
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

// The state line's number, in decimal.
struct TStateText {
    explicit TStateText(int state)
        : End(std::to_chars(Digits, Digits + sizeof Digits, state).ptr) {}
    std::string_view View() const { return {Digits, std::size_t(End - Digits)}; }
    char Digits[16];
    char* End;
};

// Bytes of a row's record: its fields, "$" and the state, and seven line ends.
std::size_t RecordSize(const TPackageRow& row) {
    return row.Section().size() + row.Caption().size() + row.Version().size() +
           row.Package().size() + row.Description().size() + row.IndexFile().size() + 1 +
           TStateText(row.State).View().size() + 7 * LineEnd.size();
}

char* PutRecord(char* out, const TPackageRow& row) {
    out = PutField(out, row.Section());
    out = PutField(out, row.Caption());
    *out++ = '$';
    const TStateText state(row.State);
    std::memcpy(out, state.Digits, state.View().size());
    out += state.View().size();
    *out++ = '\r';
    *out++ = '\n';
    out = PutField(out, row.Version());
    out = PutField(out, row.Package());
    out = PutField(out, row.Description());
    return PutField(out, row.IndexFile());
}

// The texts of sorted rows lie all over their store, in the order the indexes
// were read: copying them one by one waits on memory for every field. Asking
// for the texts of a row further on lets those waits overlap.
constexpr std::size_t PrefetchAhead = 16;

void Prefetch(const TPackageRow& row) {
    const TRowFields& t = row.Texts();
    for (const std::string_view field : {t.Section, t.Caption, t.Version, t.Package, t.Description})
        __builtin_prefetch(field.data());
}

// The records are formatted a piece at a time into a buffer each thread keeps,
// and the pieces are written in order: the whole text, some 150 bytes a row,
// never lies in fresh memory at once, and formatting one piece overlaps the
// write of the one before.
constexpr std::size_t PieceRows = 2048;

class TPieceOrder {
public:
    // Waits until the pieces before Piece are written, or a write failed.
    bool WaitForTurn(std::size_t piece) {
        std::unique_lock<std::mutex> hold(lock_);
        turn_.wait(hold, [&] { return written_ == piece || failed_; });
        return !failed_;
    }
    void Done(bool ok) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            ++written_;
            failed_ = failed_ || !ok;
        }
        turn_.notify_all();
    }
    bool Failed() {
        const std::lock_guard<std::mutex> hold(lock_);
        return failed_;
    }

private:
    std::mutex lock_;
    std::condition_variable turn_;
    std::size_t written_ = 0;
    bool failed_ = false;
};

void FormatPiece(const TPackageRows& rows, std::size_t from, std::size_t to,
                 std::vector<char>& buffer, std::size_t& used) {
    used = 0;
    for (std::size_t i = from; i < to; ++i) {
        if (i + PrefetchAhead < to)
            Prefetch(rows[i + PrefetchAhead]);
        const std::size_t size = RecordSize(rows[i]);
        if (buffer.size() - used < size)
            buffer.resize(std::max(buffer.size() * 2, used + size));
        used = std::size_t(PutRecord(buffer.data() + used, rows[i]) - buffer.data());
    }
}

bool WriteRecords(SafeFiles::TAtomicFile& file, const TPackageRows& rows) {
    const std::size_t pieces = (rows.size() + PieceRows - 1) / PieceRows;
    std::atomic<std::size_t> next{0};
    TPieceOrder order;
    auto work = [&](unsigned) {
        std::vector<char> buffer(PieceRows * 256);
        for (std::size_t k; (k = next.fetch_add(1)) < pieces;) {
            bool ok = false;
            // A piece that cannot be made fails the file, and releases the
            // thread waiting to write the next one.
            try {
                std::size_t used = 0;
                if (!order.Failed())
                    FormatPiece(rows, k * PieceRows, std::min(rows.size(), (k + 1) * PieceRows),
                                buffer, used);
                ok = order.WaitForTurn(k) && file.Write(buffer.data(), used);
                if (ok)
                    file.StartFlush();
            } catch (...) {
                order.Done(false);
                throw;
            }
            order.Done(ok);
        }
    };
    Workers::RunInParallel(pieces >= 4 && Workers::Cores() >= 2 ? 2 : 1, work);
    return !order.Failed();
}

enum class TFileKind { Missing, Regular, Other };

// Size, when given, gets the file's size.
TFileKind KindOf(const QString& path, std::size_t* size = nullptr) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return TFileKind::Missing;
    if (size)
        *size = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
    return S_ISREG(st.st_mode) ? TFileKind::Regular : TFileKind::Other;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A state line: "$" and hexadecimal digits, or decimal digits. Only the states
// 0 to 3 exist; anything else is damage.
bool ParseState(std::string_view line, int& state) {
    int base = 10;
    if (!line.empty() && line[0] == '$') {
        base = 16;
        line.remove_prefix(1);
    }
    if (line.empty())
        return false;
    int value = 0;
    for (const char c : line) {
        const int d = HexDigit(c);
        if (d < 0 || d >= base)
            return false;
        value = value * base + d;
        if (value > 3)
            return false;
    }
    state = value;
    return true;
}

// Letter case ignored for the category entries: valid UTF-8 is case-folded,
// anything else has only its ASCII letters lowered.
std::string CategoryKey(std::string_view section) {
    if (TextFile::IsValidUtf8(section))
        return QString::fromUtf8(section.data(), qsizetype(section.size()))
            .toCaseFolded()
            .toStdString();
    std::string key(section);
    AsciiText::LowerInPlace(key);
    return key;
}

constexpr std::string_view ArchitectureBlock = "Architecture";

// The block after the records: 0x1A, its name, then one line per run of
// records with the same architecture.
std::string ArchitectureTrailer(const TPackageRows& rows) {
    std::string out;
    out.push_back('\x1A');
    out.append(ArchitectureBlock);
    out.append(LineEnd);
    auto putRun = [&out](std::size_t count, std::string_view architecture) {
        out.append(std::to_string(count));
        if (!architecture.empty()) {
            out.push_back(' ');
            const std::size_t at = out.size();
            out.append(architecture);
            Blank(out.data() + at, out.data() + out.size());
        }
        out.append(LineEnd);
    };
    std::size_t run = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0 && !(rows[i].Architecture == rows[i - 1].Architecture)) {
            putRun(run, rows[i - 1].Architecture.View());
            run = 0;
        }
        ++run;
    }
    if (run > 0)
        putRun(run, rows.back().Architecture.View());
    return out;
}

bool ParseCount(std::string_view text, std::size_t& count) {
    if (text.empty() || text.size() > 9)
        return false;
    count = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        count = count * 10 + static_cast<std::size_t>(c - '0');
    }
    return count > 0;
}

} // namespace

TArchitectureRuns::TArchitectureRuns(std::string_view fileText) {
    recordsEnd_ = fileText.size();
    const void* mark = ::memrchr(fileText.data(), 0x1A, fileText.size());
    if (!mark)
        return;
    recordsEnd_ = static_cast<std::size_t>(static_cast<const char*>(mark) - fileText.data());
    TextFile::TAnyLines lines(fileText.substr(recordsEnd_ + 1));
    std::string_view line;
    if (!lines.Next(line) || line != ArchitectureBlock)
        return;
    while (lines.Next(line)) {
        const std::size_t blank = line.find(' ');
        std::size_t count = 0;
        if (!ParseCount(line.substr(0, blank), count))
            return;
        total_ += count;
        runs_.emplace_back(total_,
                           TArchitecture(blank == std::string_view::npos ? std::string_view()
                                                                         : line.substr(blank + 1)));
    }
    known_ = true;
}

TArchitecture TArchitectureRuns::At(std::size_t record) const {
    const auto run =
        std::upper_bound(runs_.begin(), runs_.end(), record,
                         [](std::size_t r, const auto& entry) { return r < entry.first; });
    return run == runs_.end() ? TArchitecture() : run->second;
}

namespace {

// Removes the old list at once. Its blocks are freed only when the file's
// last descriptor closes, and on a disk that is told of freed blocks that
// close waits on the disk for milliseconds: one descriptor is held and closed
// on a thread of its own, beside the writing of the new list.
class TOldList {
public:
    explicit TOldList(const QString& path) {
        const TFileKind kind = KindOf(path);
        if (kind == TFileKind::Missing)
            return;
        const int fd = kind == TFileKind::Regular
                           ? ::open(QFile::encodeName(path).constData(),
                                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                           : -1;
        QFile::remove(path);
        if (fd >= 0)
            closer_ = Workers::TWorker::StartOrRunHere([fd] { ::close(fd); });
    }

private:
    Workers::TWorker closer_;
};

} // namespace

bool SavePackageList(const QString& cacheFile, const TPackageRows& rows, QString* reason) {
    // The old list goes first: whatever happens next, no stale list survives.
    const TOldList old(cacheFile);
    if (rows.empty()) {
        const bool gone = KindOf(cacheFile) == TFileKind::Missing;
        if (!gone && reason)
            *reason = QStringLiteral("на месте списка не обычный файл");
        return gone;
    }
    SafeFiles::TAtomicFile file(cacheFile);
    const std::string trailer = ArchitectureTrailer(rows);
    if (file.Open() && WriteRecords(file, rows) && file.Write(trailer.data(), trailer.size()) &&
        file.Commit())
        return true;
    if (reason)
        *reason = file.ErrorString();
    return false;
}

namespace {

// The lines of the saved list as the rows keep them: views into the file's
// text, which the rows' store holds; the rare line the reader had to mend
// (a lone CR dropped) is copied into the store.
class TRecordLines {
public:
    TRecordLines(std::string_view records, TRowTexts& texts) : lines_(records), texts_(texts) {
        records_ = records;
    }
    bool AtEnd() const { return lines_.AtEnd(); }
    // The next line; lines past the end of the file read as empty.
    std::string_view Next() {
        std::string_view line;
        if (!lines_.Next(line))
            return {};
        const bool inText = line.data() >= records_.data() &&
                            line.data() + line.size() <= records_.data() + records_.size();
        return inText ? line : texts_.Add(0, line);
    }

private:
    TextFile::TIndexLines lines_;
    std::string_view records_;
    TRowTexts& texts_;
};

// The six lines of a saved record after its section: caption, state,
// version, identifier, description, index file. False when the state line is
// no state.
bool ReadRecordFields(TRecordLines& lines, TRowFields& texts, int& state) {
    texts.Caption = lines.Next();
    if (!ParseState(lines.Next(), state))
        return false;
    texts.Version = lines.Next();
    texts.Package = lines.Next();
    texts.Description = lines.Next();
    texts.IndexFile = lines.Next();
    return true;
}

} // namespace

TLoadResult LoadPackageList(const QString& cacheFile, const std::string& category,
                            TPackageRows& rows, std::vector<std::string>& categories,
                            std::string_view architecture, bool* knowsArchitectures) {
    if (knowsArchitectures)
        *knowsArchitectures = false;
    // Only a plain file is a saved list; a folder or a link in its place counts
    // as no list, so the catalogue is built again and saved over it.
    std::size_t size = 0;
    if (KindOf(cacheFile, &size) != TFileKind::Regular)
        return TLoadResult::Missing;
    rows.clear();
    const bool allCategories = category.empty();
    std::unordered_set<std::string> seen;
    std::vector<std::string> found;
    auto finish = [&](TLoadResult result) {
        if (allCategories) {
            CaptionOrder::SortCaseFree(found);
            categories.swap(found);
        }
        return result;
    };

    std::string read;
    if (size <= SafeFiles::MaxTextSize)
        HugePages::Reserve(read, size);
    if (!SafeFiles::ReadAll(cacheFile, SafeFiles::MaxTextSize, read))
        return finish(TLoadResult::Damaged);
    // The rows view the file's text, kept by their store as it was read.
    const auto texts = std::make_shared<TRowTexts>();
    const std::string_view text = texts->Adopt(std::move(read));
    const TArchitectureRuns runs(text);
    // The rows are made in one piece of memory rather than one that grows
    // by doubling (each step moving every row into fresh memory). A record
    // takes some 100 bytes, and never less than its seven line ends; the
    // architectures, when they agree, give the exact count.
    HugePages::Reserve(rows, runs.Known() ? std::min(runs.Records(), text.size() / 7 + 1)
                                          : text.size() / 100);
    TRecordLines lines(text.substr(0, runs.RecordsEnd()), *texts);
    // Records are read in order, so the run of the current one is found by
    // walking the runs alongside.
    std::size_t record = 0, run = 0;
    TArchitecture shownFor;
    shownFor.Assign(architecture);
    for (; !lines.AtEnd(); ++record) {
        const std::string_view section = lines.Next();
        const TArchitecture rowArchitecture =
            runs.Known() ? runs.InOrder(record, run) : TArchitecture();
        const bool listed = ListedFor(rowArchitecture, shownFor.View());
        if (allCategories && listed && !section.empty() && seen.insert(CategoryKey(section)).second)
            found.emplace_back(section);
        if (!listed || (!allCategories && section != category)) {
            for (int i = 0; i < 6; ++i)
                lines.Next();
            continue;
        }
        TPackageRow& row = rows.emplace_back();
        row.Architecture = rowArchitecture;
        row.Share(texts);
        TRowFields fields;
        const bool whole = ReadRecordFields(lines, fields, row.State);
        // A damaged record keeps what was read of it before the damage.
        if (whole)
            fields.Section = section;
        row.ViewTexts(fields);
        if (!whole)
            return finish(TLoadResult::Damaged);
    }
    const bool known = runs.Known() && runs.Records() == record;
    if (runs.Known() && !known)
        for (TPackageRow& row : rows)
            row.Architecture = TArchitecture();
    if (knowsArchitectures)
        *knowsArchitectures = known;
    return finish(TLoadResult::Complete);
}

std::vector<std::string> Categories(const TPackageRows& rows) {
    std::unordered_set<std::string> seen;
    std::vector<std::string> found;
    for (const TPackageRow& row : rows)
        if (!row.Section().empty() && seen.insert(CategoryKey(row.Section())).second)
            found.emplace_back(row.Section());
    CaptionOrder::SortCaseFree(found);
    return found;
}

void UpdatePackageIcon(const QString& cacheFile, const TPackageKey& key, int state) {
    if (KindOf(cacheFile) != TFileKind::Regular)
        return;
    std::string text;
    if (!SafeFiles::ReadAll(cacheFile, SafeFiles::MaxTextSize, text))
        return;
    const TArchitectureRuns runs(text);
    const std::string_view records = std::string_view(text).substr(0, runs.RecordsEnd());
    // The reader's own line ends: a lone CR split off as a line would shift
    // every record after it when the file is written back.
    std::vector<std::string_view> lines = TextFile::SplitIndexLines(records);
    std::string newState = std::to_string(state);
    newState.insert(newState.begin(), '$');
    bool changed = false;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        // Only an identifier line has the state line two places above it; the
        // version line lies between them.
        if (lines[i] != key.Package || !lines[i - 2].starts_with('$') ||
            lines[i - 1] != key.Version || lines[i - 2] == newState)
            continue;
        if (runs.Known() && (i % 7 != 4 || !(runs.At(i / 7) == key.Architecture)))
            continue;
        lines[i - 2] = newState;
        changed = true;
    }
    if (!changed)
        return;
    std::string out;
    out.reserve(text.size() + lines.size() * 2);
    for (const std::string_view l : lines) {
        out.append(l);
        out.append(LineEnd);
    }
    // The architectures stay as they were.
    out.append(std::string_view(text).substr(runs.RecordsEnd()));
    SafeFiles::ReplaceAtomically(cacheFile, out);
}

void AcceptIndexes(const QString& procDir, const QString& listsDir) {
    std::string text;
    for (const QString& name : IndexStore::ListIndexFiles(procDir)) {
        // Folders named like an index are not copied; a failed copy leaves the
        // old reference copy whole.
        if (SafeFiles::ReadAll(SafeFiles::InFolder(procDir, name), SafeFiles::MaxTextSize, text))
            SafeFiles::ReplaceAtomically(SafeFiles::InFolder(listsDir, name), text);
    }
}

void ClearUpdateFlags(TPackageRows& rows) {
    for (TPackageRow& row : rows)
        row.State &= ~StateNewOrUpdated;
    SortPackages(rows);
}

} // namespace PackageList
