#include "catalogue/PackageIndex.h"

#include "catalogue/CaptionOrder.h"
#include "catalogue/ReferenceCopy.h"
#include "catalogue/TextFile.h"
#include "sources/IndexStore.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_set>

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

struct LoadContext {
    const std::unordered_set<std::string>& Archives;
    std::string Section; // sticky across stanzas and index files
    PackageRows& Rows;
};

void ReadIndex(std::string_view text, const std::string& indexFile, const ReferenceCopy* reference,
               LoadContext& ctx) {
    FieldLine package, name, version, description, filename;
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
        PackageRow& row = ctx.Rows.emplace_back();
        row.Package.assign(RawValue(package.Line(), 9));
        row.Caption = name.IsSet() ? DecodedValue(name.Line(), 6) : row.Package;
        row.Version.assign(RawValue(version.Line(), 9));
        row.Description = DecodedValue(description.Line(), 13);
        row.IndexFile = indexFile;
        row.Section = ctx.Section;
        if (filename.IsSet() && ctx.Archives.count(LocalFileName(filename.Line())) != 0)
            row.State |= StateDownloaded;
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
            if (line.starts_with("Section:"))
                ctx.Section.assign(RawValue(line, 9));
            break;
        default:
            break;
        }
    }
    finish();
}

} // namespace

PackageRows LoadPackages(const QString& procDir, const QString& listsDir,
                         const QString& archivesDir) {
    PackageRows rows;
    const std::unordered_set<std::string> archives = ListArchives(archivesDir);
    LoadContext ctx{archives, {}, rows};
    std::string text;
    for (const QString& name : IndexStore::ListIndexFiles(procDir)) {
        // A folder named like an index passes the listing but is no file:
        // reading it fails and it gives no rows.
        if (!TextFile::ReadAll(InFolder(procDir, name), text))
            continue;
        std::unique_ptr<ReferenceCopy> reference;
        const QString referencePath = InFolder(listsDir, name);
        if (IsRegularFile(referencePath)) {
            std::string referenceText;
            // A reference copy that is there but cannot be read ends the work
            // on this index before its first row.
            if (!TextFile::ReadAll(referencePath, referenceText))
                continue;
            reference = std::make_unique<ReferenceCopy>(std::move(referenceText));
        }
        ReadIndex(text, QFile::encodeName(name).toStdString(), reference.get(), ctx);
    }
    SortPackages(rows);
    MoveUpdates(rows);
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
    auto replaceAll = [](std::string& s, std::string_view from, std::string_view to) {
        std::string out;
        out.reserve(s.size());
        std::size_t pos = 0;
        for (std::size_t hit; (hit = s.find(from, pos)) != std::string::npos;
             pos = hit + from.size()) {
            out.append(s, pos, hit - pos);
            out.append(to);
        }
        out.append(s, pos, std::string::npos);
        s.swap(out);
    };
    std::string s(filenameLine);
    replaceAll(s, "Filename: ", "");
    // Blanks and control characters go at both ends.
    const auto isTrimmed = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    const auto first = std::find_if_not(s.begin(), s.end(), isTrimmed);
    const auto last = std::find_if_not(s.rbegin(), s.rend(), isTrimmed).base();
    s = first < last ? std::string(first, last) : std::string();
    replaceAll(s, "./", "");
    // Collapsing doubled slashes cannot change what follows the last one, so it
    // is left out. Slashes, backslashes and colons all separate; the name is
    // what follows the last.
    const std::size_t cut = s.find_last_of("/\\:");
    return cut == std::string::npos ? s : s.substr(cut + 1);
}
