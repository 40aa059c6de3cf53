#include "sources/IndexStore.h"

#include <QFile>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace IndexStore {

QString AddressToIndexName(const QString& address) {
    QString name = address;
    name.remove(QStringLiteral("http://"), Qt::CaseSensitive);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return name;
}

QString IndexNameToAddress(const QString& name) {
    QString address = name;
    address.replace(QLatin1Char('_'), QLatin1Char('/'));
    return QStringLiteral("http://") + address;
}

bool IsIndexName(const QString& name) {
    return name.endsWith(QStringLiteral("packages"), Qt::CaseInsensitive);
}

namespace {

bool ModeAllowed(mode_t mode) {
    return S_ISREG(mode) || S_ISDIR(mode);
}

} // namespace

QStringList ListFolder(const QString& folder) {
    QStringList names;
    const QByteArray dirPath = QFile::encodeName(folder);
    DIR* dir = ::opendir(dirPath.constData());
    if (!dir)
        return names;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const char* raw = entry->d_name;
        if ((raw[0] == '.' && raw[1] == 0) || (raw[0] == '.' && raw[1] == '.' && raw[2] == 0))
            continue;
        bool take = false;
        switch (entry->d_type) {
        case DT_REG:
        case DT_DIR:
            take = true;
            break;
        case DT_UNKNOWN: {
            struct stat st {};
            take = ::fstatat(dirFd, raw, &st, AT_SYMLINK_NOFOLLOW) == 0 && ModeAllowed(st.st_mode);
            break;
        }
        default:
            break;
        }
        if (take)
            names.append(QFile::decodeName(raw));
    }
    ::closedir(dir);
    return names;
}

QStringList ListIndexFiles(const QString& folder) {
    QStringList names = ListFolder(folder);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QString& n) { return !IsIndexName(n); }),
                names.end());
    return names;
}

} // namespace IndexStore
