#include "app/WorkFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace Startup {

namespace {

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

} // namespace

QString FolderOf(const QString& programFilePath) {
    return WithSlash(QFileInfo(programFilePath).absolutePath());
}

bool PrepareWorkFolders(const QString& workDir, WorkFolders& folders, QString& error) {
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
    // Leftovers of a refresh that was cut off; failures are of no consequence.
    QFile::remove(folders.WorkDir + QStringLiteral("download.txt"));
    QFile::remove(folders.WorkDir + QStringLiteral("download.bz2"));
    return true;
}

} // namespace Startup
