#include "catalogue/PackageDetails.h"

#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "base/Utf8Text.h"
#include "catalogue/ArchiveCache.h"
#include "catalogue/AsciiText.h"
#include "catalogue/StanzaOffsets.h"
#include "sources/IndexStore.h"

#include <QFile>

#include <array>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using AsciiText::EndsWithNoCase;
using AsciiText::Lower;
using AsciiText::ReplaceAll;
using AsciiText::StartsWithNoCase;
using AsciiText::Trim;

void ReplaceWhilePresent(std::string& s, std::string_view from, std::string_view to) {
    while (s.find(from) != std::string::npos)
        ReplaceAll(s, from, to);
}

// Field names as they are recognised, lower case with exactly one blank.
enum TField {
    FieldPackage,
    FieldName,
    FieldVersion,
    FieldAuthor,
    FieldMaintainer,
    FieldDescription,
    FieldSize,
    FieldHomepage,
    FieldFilename,
    FieldDepends,
    FieldPreDepends,
    FieldDepiction,
    FieldSection,
    FieldSha256,
    FieldSha1,
    FieldMd5sum,
    FieldArchitecture,
    FieldCount
};

constexpr std::array<std::string_view, FieldCount> FieldNames = {
    "package: ", "name: ",     "version: ",  "author: ",  "maintainer: ",  "description: ",
    "size: ",    "homepage: ", "filename: ", "depends: ", "pre-depends: ", "depiction: ",
    "section: ", "sha256: ",   "sha1: ",     "md5sum: ",  "architecture: "};

std::string* FieldSlot(TDebianInfo& info, int field) {
    switch (field) {
    case FieldName:
        return &info.Name;
    case FieldVersion:
        return &info.Version;
    case FieldAuthor:
        return &info.Author;
    case FieldMaintainer:
        return &info.Maintainer;
    case FieldDescription:
        return &info.Description;
    case FieldSize:
        return &info.Size;
    case FieldHomepage:
        return &info.Homepage;
    case FieldFilename:
        return &info.Filename;
    case FieldDepends:
        return &info.Depends;
    case FieldPreDepends:
        return &info.PreDepends;
    case FieldDepiction:
        return &info.Depiction;
    case FieldSection:
        return &info.Section;
    case FieldSha256:
        return &info.SHA256;
    case FieldSha1:
        return &info.SHA1;
    case FieldMd5sum:
        return &info.MD5sum;
    case FieldArchitecture:
        return &info.Architecture;
    default:
        return nullptr;
    }
}

void ClearScanned(TDebianInfo& info) {
    for (int f = 0; f < FieldCount; ++f)
        if (std::string* slot = FieldSlot(info, f))
            slot->clear();
}

// Which field a line holds, or -1. A cheap look at the first letter rules out
// most lines (continuations, hashes) before any comparison.
int MatchField(std::string_view line) {
    if (line.empty())
        return -1;
    const char first = Lower(line.front());
    for (int f = 0; f < FieldCount; ++f)
        if (FieldNames[f].front() == first && StartsWithNoCase(line, FieldNames[f]))
            return f;
    return -1;
}

void DropInvalidUtf8(std::string& text) {
    if (!TextFile::IsValidUtf8(text))
        text.clear();
}

} // namespace

namespace {

// The stanza a scan looks for: any of Package, or one build of it.
struct TWanted {
    const TPackageKey* Key = nullptr;
};

// The Version and Architecture of the stanza being scanned, read the way the
// package list reads them (exact field names, the value from the second
// character after the colon, cut as the list cuts it), so that a row finds
// the stanza it was made from.
struct TRowValues {
    std::string Version;
    TArchitecture Architecture;
    void Clear() {
        Version.clear();
        Architecture = TArchitecture();
    }
    void See(std::string_view line) {
        constexpr std::size_t MaxValueBytes = 256;
        if (line.starts_with("Version:"))
            Version.assign(line.size() > 9 ? line.substr(9, MaxValueBytes) : std::string_view());
        else if (line.starts_with("Architecture:"))
            Architecture.Assign(line.size() > 14 ? line.substr(14) : std::string_view());
    }
};

// Fills Info from the stanzas of Text the way the details are read: the fields
// of a stanza are gathered line by line and cleared at its end unless it is
// the one wanted. True when the wanted stanza was found; the fields are then
// its own. When it was not, a Key lookup leaves nothing, a plain one the
// fields of a last stanza that no empty line ended.
bool ScanText(TDebianInfo& info, std::string_view text, const TWanted& wanted) {
    ClearScanned(info);
    bool found = false; // the stanza has the identifier
    TRowValues row;
    // The stanza is the one wanted once it is over: its Version and
    // Architecture lines may come after its Package line.
    // A saved list written by hand may spell the version or architecture as
    // the details read them ("version: 1.0"); either reading finds the stanza.
    auto wantedStanza = [&] {
        if (!found || !wanted.Key)
            return found;
        const TPackageKey& key = *wanted.Key;
        return (row.Version == key.Version || info.Version == key.Version) &&
               (row.Architecture == key.Architecture ||
                TArchitecture(info.Architecture) == key.Architecture);
    };
    TextFile::TIndexLines lines(text);
    std::string_view line;
    while (lines.Next(line)) {
        if (line.empty()) {
            if (wantedStanza())
                return true;
            ClearScanned(info);
            found = false;
            row.Clear();
            continue;
        }
        if (wanted.Key)
            row.See(line);
        const int field = MatchField(line);
        if (field < 0)
            continue;
        const std::string_view value = line.substr(FieldNames[field].size());
        if (field == FieldPackage)
            found = found || value == info.Package;
        else
            FieldSlot(info, field)->assign(value);
    }
    if (wantedStanza())
        return true;
    // The last stanza was not the build wanted: nothing of it may show.
    if (wanted.Key)
        ClearScanned(info);
    return false;
}

// Looks Info up in the open index Fd (Path) through the offsets kept of it.
bool ScanIndex(TDebianInfo& info, int fd, const std::string& path, const TWanted& wanted) {
    std::string tail;
    const bool found = StanzaOffsets::FindStanza(
        fd, path, info.Package,
        [&](std::string_view stanza) { return ScanText(info, stanza, wanted); }, tail);
    if (found)
        return true;
    ClearScanned(info);
    // Not found: a plain lookup shows what a scan of the whole text would
    // have left, the fields of a last stanza that no empty line ended.
    if (!wanted.Key)
        ScanText(info, tail, wanted);
    return false;
}

// Opens index Name of Folder as every lookup does, under the path its table
// is kept by; -1 when it cannot be read. The index file name comes from the
// saved package list, which anyone can edit: only a plain name inside the
// folder may be opened, and only a regular file is read (the open never waits
// on a FIFO).
int OpenIndex(const QString& folder, const std::string& name, std::string& path) {
    if (!SafeFiles::IsPlainFileName(name))
        return -1;
    const QString decoded = Utf8Text::Decode(name);
    const QByteArray encoded =
        QFile::encodeName(folder.isEmpty() ? decoded : SafeFiles::InFolder(folder, decoded));
    path = encoded.toStdString();
    return ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
}

bool Scan(TDebianInfo& info, const QString& folder, const TWanted& wanted, bool https) {
    ClearScanned(info);
    bool found = false;
    std::string path;
    if (const int fd = OpenIndex(folder, info.IndexFile, path); fd >= 0) {
        found = ScanIndex(info, fd, path, wanted);
        ::close(fd);
    }

    // Decoding only the values that survived the scan gives the same result as
    // decoding each one as it is met.
    DropInvalidUtf8(info.Name);
    DropInvalidUtf8(info.Author);
    DropInvalidUtf8(info.Maintainer);
    DropInvalidUtf8(info.Description);
    if (info.Name.empty())
        info.Name = info.Package;
    info.LocalName = ArchiveCache::LocalFileName(info.Filename);
    info.Filename = DownloadAddress(info.IndexFile, info.Filename, https);
    return found;
}

} // namespace

bool FindPackage(TDebianInfo& info, const QString& folder, bool https) {
    return Scan(info, folder, TWanted{}, https);
}

bool FindPackage(TDebianInfo& info, const QString& folder, const TPackageKey& key, bool https) {
    return Scan(info, folder, TWanted{&key}, https);
}

void LearnIndexes(const QString& folder) {
    for (const QString& name : IndexStore::ListIndexFiles(folder)) {
        std::string path;
        if (const int fd = OpenIndex(folder, QFile::encodeName(name).toStdString(), path);
            fd >= 0) {
            StanzaOffsets::Learn(fd, path);
            ::close(fd);
        }
    }
}

std::string DownloadAddress(std::string_view indexFile, std::string_view filename, bool https) {
    // Repositories on code-hosting sites name a whole address (a release
    // asset); it is used as it stands.
    if (ArchiveCache::IsAbsoluteAddress(filename))
        return std::string(Trim(filename));
    // The source's address without its scheme, as the store names it.
    std::string s = IndexStore::IndexNameToAddress(
                        QString::fromUtf8(indexFile.data(), qsizetype(indexFile.size())))
                        .mid(7)
                        .toStdString();

    bool cutPackages = false;
    std::string lowered(s);
    AsciiText::LowerInPlace(lowered);
    if (const std::size_t dists = lowered.find("/dists"); dists != std::string::npos) {
        s.resize(dists + 1);
    } else if (EndsWithNoCase(s, "/packages")) {
        s.resize(s.size() - 9);
        cutPackages = true;
    }

    // A source added by hand ("host/Packages", "host/dir/Packages") leaves a
    // path that ends in a name; joined straight to "debs/foo.deb" the two would
    // run together ("hostdebs/foo.deb"). The "./" and "/." rules below supply
    // the separator for Cydia's flat form ("host/.") and for "./debs/...", so
    // only the remaining case gets one here.
    if (cutPackages && !s.empty() && s.back() != '/' && !filename.empty() &&
        filename.front() != '/' && !filename.starts_with("./")) {
        const std::size_t slash = s.rfind('/');
        const std::string_view lastSegment =
            std::string_view(s).substr(slash == std::string::npos ? 0 : slash + 1);
        if (lastSegment != ".")
            s.push_back('/');
    }
    s.append(filename);

    ReplaceWhilePresent(s, "..", "");
    ReplaceWhilePresent(s, "//", "/");
    ReplaceAll(s, "./", "/");
    ReplaceAll(s, "/.", "/");
    return (https ? "https://" : "http://") + s;
}

TAuthorLink SplitAuthor(std::string_view author) {
    TAuthorLink link;
    const std::size_t lt = author.find('<');
    if (lt == std::string_view::npos) {
        link.Text.assign(author);
        link.Address.assign(author);
        return link;
    }
    link.Text.assign(Trim(author.substr(0, lt)));
    for (char c : Trim(author.substr(lt + 1)))
        if (c != '<' && c != '>')
            link.Address.push_back(c);
    return link;
}

std::string DependsDisplay(std::string_view depends) {
    std::string out;
    out.reserve(depends.size() + depends.size() / 4);
    for (char c : depends) {
        switch (c) {
        case ' ':
            break;
        case ',':
            out += ", ";
            break;
        case '(':
            out += " (";
            break;
        case '=':
            out += "= ";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string NextDependency(std::string_view labelText, std::string_view current) {
    if (labelText.empty())
        return std::string(current);
    std::vector<std::string_view> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = labelText.find(',', start);
        std::string_view item = Trim(labelText.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (const std::size_t paren = item.find('('); paren != std::string_view::npos)
            item = Trim(item.substr(0, paren));
        items.push_back(item);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    for (std::size_t i = 0; i + 1 < items.size(); ++i)
        if (items[i] == current)
            return std::string(items[i + 1]);
    return std::string(items.front());
}
