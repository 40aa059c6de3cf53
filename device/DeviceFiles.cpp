#include "device/DeviceFiles.h"

#include "app/SafeFiles.h"

#include <QFile>

#include <string>

#include <cerrno>
#include <unistd.h>

namespace DeviceFiles {

bool IsUsableName(std::string_view name) {
    if (!SafeFiles::IsPlainFileName(name))
        return false;
    const QString decoded = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    return decoded.toUtf8() == QByteArrayView(name.data(), static_cast<qsizetype>(name.size()));
}

bool CopyWhole(const QString& source, const QString& target, std::size_t limit) {
    std::string bytes;
    if (!SafeFiles::ReadAll(source, limit, bytes))
        return false;
    return SafeFiles::ReplaceAtomically(target, bytes);
}

bool Stage(const QString& source, const QString& staged, std::size_t limit) {
    if (!Remove(staged))
        return false;
    return CopyWhole(source, staged, limit);
}

bool Remove(const QString& path) {
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}

} // namespace DeviceFiles
