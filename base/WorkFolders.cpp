#include "base/WorkFolders.h"

#include "base/Outcome.h"
#include "base/SafeFiles.h"
#include "base/Utf8Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace Startup {

namespace {

// The fixed scratch names of the working folder: the refresh's downloads and
// its result ("download.bz2" is what older versions left), the package being
// fetched, a list being fetched from the phone and the phone's dpkg
// architecture file.
constexpr std::string_view FixedScratch[] = {
    "download.txt",     "download.bz2", "download.txt.gz", "download.txt.bz2", "download.txt.xz",
    "download.txt.zst", "download.deb", "download.list",   "download.arch",
};

// The six characters mkstemp() and QTemporaryDir put in place of "XXXXXX".
constexpr std::size_t RandomLength = 6;

bool IsRandomTail(std::string_view s) {
    if (s.size() != RandomLength)
        return false;
    for (const char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool IsFixedScratch(std::string_view name) {
    for (const std::string_view fixed : FixedScratch)
        if (name == fixed)
            return true;
    return false;
}

bool EndsWithNoCase(std::string_view s, std::string_view lowerSuffix) {
    if (s.size() < lowerSuffix.size())
        return false;
    s = s.substr(s.size() - lowerSuffix.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerSuffix[i])
            return false;
    }
    return true;
}

// "." + Target + "." + six letters or digits: the temporary file written
// beside Target while it is replaced. Target is given back.
bool IsTemporaryOf(std::string_view name, std::string_view& target) {
    if (name.size() < 2 + RandomLength + 1 || name.front() != '.')
        return false;
    const std::size_t dot = name.size() - RandomLength - 1;
    if (name[dot] != '.' || !IsRandomTail(name.substr(dot + 1)))
        return false;
    target = name.substr(1, dot - 1);
    return !target.empty();
}

QString WithSlash(QString path) {
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QString SystemError(const QString& what, int err) {
    return QStringLiteral("%1:\n%2").arg(what, QString::fromLocal8Bit(std::strerror(err)));
}

bool EnsureFolder(const QString& path, QString& error) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    if (::mkdir(native.constData(), 0755) == 0)
        return true;
    error = SystemError(QDir::toNativeSeparators(path), errno);
    return false;
}

// Removes the folder Name of the folder open at Parent with everything in it.
// Nothing is followed: a link inside is removed as a link, and the folder is
// opened without following one in its place. The unpacking folders are flat;
// the depth limit only keeps a strange tree from exhausting the descriptors.
bool RemoveTree(int parent, const char* name, int depth) {
    if (depth > 8)
        return false;
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const char* child = entry->d_name;
        if (std::strcmp(child, ".") == 0 || std::strcmp(child, "..") == 0)
            continue;
        struct stat st {};
        if (::fstatat(fd, child, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            RemoveTree(fd, child, depth + 1);
        else
            ::unlinkat(fd, child, 0);
    }
    ::closedir(dir);
    return ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

// Removes every scratch entry of Folder. A link is removed as a link; a
// folder only when it is an unpacking folder of the working folder.
void RemoveScratch(const QString& folder, TScratchPlace place, std::string_view settingsName) {
    const QByteArray native = QFile::encodeName(folder);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (!IsScratchName(place, name, settingsName))
            continue;
        struct stat st {};
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        bool removed;
        if (S_ISDIR(st.st_mode)) {
            if (place != TScratchPlace::WorkDir || !name.starts_with(".unpack-"))
                continue;
            removed = RemoveTree(fd, entry->d_name, 0);
        } else {
            removed = ::unlinkat(fd, entry->d_name, 0) == 0;
        }
        if (!removed)
            ReportToStderr(QStringLiteral("не удалось удалить временный файл \"%1\": %2")
                               .arg(folder + Utf8Text::Decode(entry->d_name),
                                    QString::fromLocal8Bit(std::strerror(errno))));
    }
    ::closedir(dir);
}

} // namespace

bool IsScratchName(TScratchPlace place, std::string_view name, std::string_view settingsName) {
    if (!SafeFiles::IsPlainFileName(name))
        return false;
    std::string_view target;
    const bool temporary = IsTemporaryOf(name, target);
    switch (place) {
    case TScratchPlace::WorkDir:
        if (IsFixedScratch(name))
            return true;
        for (const std::string_view prefix :
             {std::string_view(".T-Pot-"), std::string_view(".unpack-")})
            if (name.starts_with(prefix) && IsRandomTail(name.substr(prefix.size())))
                return true;
        return temporary && (IsFixedScratch(target) || target == "T-Pot.dll" ||
                             (!settingsName.empty() && target == settingsName));
    case TScratchPlace::Store:
        return temporary && (target == "cache.txt" || EndsWithNoCase(target, "packages"));
    case TScratchPlace::Archives:
        return temporary && target.front() != '.';
    }
    return false;
}

QString FolderOf(const QString& programFilePath) {
    return WithSlash(QFileInfo(programFilePath).absolutePath());
}

bool PrepareWorkFolders(const QString& workDir, TWorkFolders& folders, QString& error,
                        const QString& settingsName) {
    folders.WorkDir = WithSlash(workDir);
    if (::chdir(QFile::encodeName(folders.WorkDir).constData()) != 0) {
        error = SystemError(folders.WorkDir, errno);
        return false;
    }
    for (const char* name : {"lists", "proc", "archives"}) {
        if (!EnsureFolder(folders.WorkDir + QLatin1String(name), error))
            return false;
    }
    folders.ListsDir = folders.WorkDir + QStringLiteral("lists/");
    folders.ProcDir = folders.WorkDir + QStringLiteral("proc/");
    folders.ArchivesDir = folders.WorkDir + QStringLiteral("archives/");
    // Leftovers of a run that was killed: partial downloads can be large, and
    // nothing else ever removes them.
    const QByteArray settings = QFile::encodeName(settingsName);
    const std::string_view settingsView(settings.constData(), std::size_t(settings.size()));
    RemoveScratch(folders.WorkDir, TScratchPlace::WorkDir, settingsView);
    RemoveScratch(folders.ListsDir, TScratchPlace::Store, {});
    RemoveScratch(folders.ProcDir, TScratchPlace::Store, {});
    RemoveScratch(folders.ArchivesDir, TScratchPlace::Archives, {});
    return true;
}

} // namespace Startup
