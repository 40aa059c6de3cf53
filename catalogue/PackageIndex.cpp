#include "catalogue/PackageIndex.h"

#include "catalogue/CaptionOrder.h"
#include "catalogue/ReferenceCopy.h"
#include "catalogue/TextFile.h"
#include "sources/IndexStore.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr std::size_t MaxValueBytes = 256;

// A remembered field line. Most lines point into the file's text; a line that
// had lone CRs removed lives in the reader's scratch buffer and is copied.
class FieldLine {
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

bool IsRegularFile(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

QString InFolder(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(s.size());
    std::size_t pos = 0;
    for (std::size_t hit; (hit = s.find(from, pos)) != std::string::npos; pos = hit + from.size()) {
        out.append(s, pos, hit - pos);
        out.append(to);
    }
    out.append(s, pos, std::string::npos);
    s.swap(out);
}

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// The local file name: every "Filename: " removed, blanks and control
// characters trimmed at both ends, every "./" removed, and of what remains the
// text after the last slash, backslash or colon. (Collapsing doubled slashes
// cannot change that text.) Since "./" cannot overlap itself, its removal drops
// exactly the slashes that follow a dot, with the dot: the name starts after
// the last separator that survives.
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
    while (!s.empty() && IsTrimmed(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsTrimmed(s.back()))
        s.remove_suffix(1);
    std::size_t start = s.size();
    while (start > 0) {
        const char c = s[start - 1];
        if (c == '\\' || c == ':' || (c == '/' && (start < 2 || s[start - 2] != '.')))
            break;
        --start;
    }
    const std::string_view tail = s.substr(start);
    // Usually no "./" is left in the name, and it is taken whole.
    if (tail.find("./") == std::string_view::npos) {
        name.assign(tail);
        return;
    }
    name.clear();
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (tail[i] == '.' && i + 1 < tail.size() && tail[i + 1] == '/') {
            ++i; // "./" dropped
            continue;
        }
        name.push_back(tail[i]);
    }
}

// One index's share of the list, built apart from the others so that indexes
// can be read side by side. The category sticks across indexes, so the rows
// before the index's first "Section:" line take theirs from the indexes before
// it once all are read.
//
// An index and its reference copy are read by two tasks, which may run side by
// side: the rows are made first and remember their Package and Version lines,
// and whichever task ends second checks them against the reference copy.
struct IndexPart {
    PackageRows Rows;
    std::size_t Unsectioned = 0; // rows before the first Section line
    bool HasSection = false;
    std::string LastSection;

    std::string Text;      // the index, until the rows are checked
    std::string Reference; // its reference copy, likewise
    std::optional<ReferenceCopy> Table;
    // The index, or a reference copy that is there, was unreadable: one flag
    // per task, as the two may end at once.
    bool RowsFailed = false;
    bool ReferenceFailed = false;
    std::vector<std::pair<std::string_view, std::string_view>> Lines; // per row
    std::deque<std::string> Copies; // lines that had lone CRs removed
    std::atomic<int> TasksDone{0};
};

// Read buffers pass from index to index: the biggest indexes come first, so a
// buffer handed back is big enough for what follows and memory once touched is
// reused rather than faulted in again.
class BufferPool {
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

private:
    std::mutex mutex_;
    std::vector<std::string> free_;
};

std::string_view Kept(std::string_view line, std::string_view text, IndexPart& part) {
    if (line.empty())
        return {};
    if (line.data() >= text.data() && line.data() + line.size() <= text.data() + text.size())
        return line;
    return part.Copies.emplace_back(line);
}

void ReadIndex(std::string_view text, const std::string& indexFile,
               const std::unordered_set<std::string>& archives, std::string& localName,
               IndexPart& part) {
    FieldLine package, name, version, description, filename;
    std::string& section = part.LastSection;
    PackageRows& rows = part.Rows;
    // Growing the vector moves every row made so far; an index rarely has a
    // stanza under 512 bytes, and capacity never touched costs no memory.
    rows.reserve(text.size() / 512 + 16);
    part.Lines.reserve(text.size() / 512 + 16);
    auto clear = [&] {
        package.Clear();
        name.Clear();
        version.Clear();
        description.Clear();
        filename.Clear();
    };
    auto finish = [&] {
        if (!package.IsSet())
            return;
        PackageRow& row = rows.emplace_back();
        row.Package.assign(RawValue(package.Line(), 9));
        row.Caption = name.IsSet() ? DecodedValue(name.Line(), 6) : row.Package;
        row.Version.assign(RawValue(version.Line(), 9));
        row.Description = DecodedValue(description.Line(), 13);
        row.IndexFile = indexFile;
        if (part.HasSection)
            row.Section = section;
        if (filename.IsSet() && !archives.empty()) {
            LocalFileNameInto(filename.Line(), localName);
            if (archives.count(localName) != 0)
                row.State |= StateDownloaded;
        }
        part.Lines.emplace_back(Kept(package.Line(), text, part), Kept(version.Line(), text, part));
    };

    TextFile::IndexLines lines(text);
    std::string_view line;
    while (lines.Next(line)) {
        if (line.empty()) {
            finish();
            clear();
            continue;
        }
        switch (line[0]) {
        case 'P':
            if (line.starts_with("Package:"))
                package.Set(line, text);
            break;
        case 'N':
            if (line.starts_with("Name:"))
                name.Set(line, text);
            break;
        case 'V':
            if (line.starts_with("Version:"))
                version.Set(line, text);
            break;
        case 'D':
            if (line.starts_with("Description:"))
                description.Set(line, text);
            break;
        case 'F':
            if (line.starts_with("Filename:"))
                filename.Set(line, text);
            break;
        case 'S':
            if (line.starts_with("Section:")) {
                if (!part.HasSection) {
                    part.Unsectioned = rows.size();
                    part.HasSection = true;
                }
                section.assign(RawValue(line, 9));
            }
            break;
        default:
            break;
        }
    }
    finish();
    if (!part.HasSection)
        part.Unsectioned = rows.size();
}

void CheckRows(IndexPart& part, BufferPool& pool) {
    for (std::size_t i = 0; i < part.Rows.size(); ++i) {
        const auto& [package, version] = part.Lines[i];
        if (!part.Table || part.Table->Check(package, version) != ReferenceCopy::Verdict::Same)
            part.Rows[i].State |= StateNewOrUpdated;
    }
    part.Table.reset();
    decltype(part.Lines)().swap(part.Lines);
    part.Copies.clear();
    pool.Give(part.Text);
    pool.Give(part.Reference);
}

struct LoadJob {
    const QString& ProcDir;
    const QString& ListsDir;
    const QStringList& Names;
    const std::unordered_set<std::string>& Archives;
    BufferPool Pool;
};

void ReadRows(LoadJob& job, std::size_t i, IndexPart& part, std::string& localName) {
    const QString& name = job.Names[qsizetype(i)];
    part.Text = job.Pool.Take();
    // A folder named like an index passes the listing but is no file: reading
    // it fails and it gives no rows.
    if (!TextFile::ReadAll(InFolder(job.ProcDir, name), part.Text)) {
        part.RowsFailed = true;
        return;
    }
    ReadIndex(part.Text, QFile::encodeName(name).toStdString(), job.Archives, localName, part);
}

void ReadReference(LoadJob& job, std::size_t i, IndexPart& part) {
    const QString path = InFolder(job.ListsDir, job.Names[qsizetype(i)]);
    if (!IsRegularFile(path))
        return;
    part.Reference = job.Pool.Take();
    // A reference copy that is there but cannot be read ends the work on this
    // index before its first row.
    if (!TextFile::ReadAll(path, part.Reference)) {
        part.ReferenceFailed = true;
        return;
    }
    part.Table.emplace(part.Reference);
}

std::uint64_t FileSize(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || st.st_size < 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

// Runs Work on up to Count threads, the calling one included.
void OnThreads(unsigned count, const std::function<void()>& work) {
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < count; ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread& t : helpers)
        t.join();
}

} // namespace

PackageRows LoadPackages(const QString& procDir, const QString& listsDir,
                         const QString& archivesDir) {
    const std::unordered_set<std::string> archives = ListArchives(archivesDir);
    const QStringList names = IndexStore::ListIndexFiles(procDir);
    std::vector<IndexPart> parts(static_cast<std::size_t>(names.size()));

    // The indexes are shared out biggest first, so that no worker is left with
    // a big one at the end while the others idle.
    std::vector<std::pair<std::uint64_t, std::size_t>> bySize;
    for (std::size_t i = 0; i < parts.size(); ++i)
        bySize.emplace_back(FileSize(InFolder(procDir, names[qsizetype(i)])), i);
    std::stable_sort(bySize.begin(), bySize.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    LoadJob job{procDir, listsDir, names, archives, {}};
    std::vector<std::pair<std::size_t, bool>> tasks; // index, and whether it is the reference
    for (const auto& [size, i] : bySize) {
        tasks.emplace_back(i, true);
        tasks.emplace_back(i, false);
    }
    std::atomic<std::size_t> next{0};
    const unsigned threads = static_cast<unsigned>(
        std::clamp<std::size_t>(std::min<std::size_t>(std::thread::hardware_concurrency(), 4), 1,
                                std::max<std::size_t>(tasks.size(), 1)));
    OnThreads(threads, [&] {
        std::string localName;
        for (std::size_t k; (k = next.fetch_add(1)) < tasks.size();) {
            const auto [i, isReference] = tasks[k];
            IndexPart& part = parts[i];
            if (isReference)
                ReadReference(job, i, part);
            else
                ReadRows(job, i, part, localName);
            // The second task of an index sees all the first one wrote.
            if (part.TasksDone.fetch_add(1, std::memory_order_acq_rel) == 1 && !part.RowsFailed &&
                !part.ReferenceFailed)
                CheckRows(part, job.Pool);
        }
    });

    std::size_t total = 0;
    std::string carried;
    for (IndexPart& part : parts) {
        if (part.RowsFailed || part.ReferenceFailed) {
            part.Rows.clear();
            continue;
        }
        for (std::size_t i = 0; i < part.Unsectioned && !carried.empty(); ++i)
            part.Rows[i].Section = carried;
        if (part.HasSection)
            carried = part.LastSection;
        total += part.Rows.size();
    }
    std::vector<PackageRow*> all;
    std::vector<std::string_view> captions;
    all.reserve(total);
    captions.reserve(total);
    for (IndexPart& part : parts)
        for (PackageRow& row : part.Rows) {
            all.push_back(&row);
            captions.emplace_back(row.Caption);
        }
    // Sorting and moving the flagged rows up are one rearrangement, so every
    // row moves once, straight into its place.
    std::vector<std::uint32_t> places = CaptionOrder::SortedPlaces(captions);
    std::stable_partition(places.begin(), places.end(), [&all](std::uint32_t i) {
        return (all[i]->State & StateNewOrUpdated) != 0;
    });
    PackageRows rows;
    rows.reserve(total);
    for (const std::uint32_t i : places)
        rows.push_back(std::move(*all[i]));
    return rows;
}

void SortPackages(PackageRows& rows) {
    CaptionOrder::Sort(rows);
}

void MoveUpdates(PackageRows& rows) {
    std::stable_partition(rows.begin(), rows.end(),
                          [](const PackageRow& r) { return (r.State & StateNewOrUpdated) != 0; });
}

std::string LocalFileName(std::string_view filenameLine) {
    std::string name;
    LocalFileNameInto(filenameLine, name);
    return name;
}
