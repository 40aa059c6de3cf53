#include "catalogue/PackageIndex.h"

#include "catalogue/CaptionOrder.h"
#include "catalogue/ReferenceCopy.h"
#include "catalogue/TextFile.h"
#include "sources/IndexStore.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <functional>
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
    name.clear();
    const std::string_view tail = s.substr(start);
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
struct IndexPart {
    PackageRows Rows;
    std::size_t Unsectioned = 0; // rows before the first Section line
    bool HasSection = false;
    std::string LastSection;
};

void ReadIndex(std::string_view text, const std::string& indexFile, const ReferenceCopy* reference,
               const std::unordered_set<std::string>& archives, std::string& localName,
               IndexPart& part) {
    FieldLine package, name, version, description, filename;
    std::string& section = part.LastSection;
    PackageRows& rows = part.Rows;
    // Growing the vector moves every row made so far; an index rarely has a
    // stanza under 512 bytes, and capacity never touched costs no memory.
    rows.reserve(text.size() / 512 + 16);
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
        if (!reference ||
            reference->Check(package.Line(), version.Line()) != ReferenceCopy::Verdict::Same)
            row.State |= StateNewOrUpdated;
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

// What one worker reads its indexes into, kept from index to index: the
// largest index comes first, so the buffers grow only once.
struct Buffers {
    std::string Text;
    std::string Reference;
    std::string LocalName;
};

void LoadIndex(const QString& procDir, const QString& listsDir, const QString& name,
               const std::unordered_set<std::string>& archives, Buffers& buffers, IndexPart& part) {
    // A folder named like an index passes the listing but is no file: reading
    // it fails and it gives no rows.
    if (!TextFile::ReadAll(InFolder(procDir, name), buffers.Text))
        return;
    std::optional<ReferenceCopy> reference;
    const QString referencePath = InFolder(listsDir, name);
    if (IsRegularFile(referencePath)) {
        // A reference copy that is there but cannot be read ends the work on
        // this index before its first row.
        if (!TextFile::ReadAll(referencePath, buffers.Reference))
            return;
        reference.emplace(buffers.Reference);
    }
    ReadIndex(buffers.Text, QFile::encodeName(name).toStdString(),
              reference ? &*reference : nullptr, archives, buffers.LocalName, part);
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
    std::atomic<std::size_t> next{0};
    const unsigned threads = static_cast<unsigned>(
        std::clamp<std::size_t>(std::min<std::size_t>(std::thread::hardware_concurrency(), 4), 1,
                                std::max<std::size_t>(parts.size(), 1)));
    OnThreads(threads, [&] {
        Buffers buffers;
        for (std::size_t k; (k = next.fetch_add(1)) < bySize.size();) {
            const std::size_t i = bySize[k].second;
            LoadIndex(procDir, listsDir, names[qsizetype(i)], archives, buffers, parts[i]);
        }
    });

    std::size_t total = 0;
    std::string carried;
    for (IndexPart& part : parts) {
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
