#include "device/DeviceFiles.h"

#include "app/SafeFiles.h"

#include <QFile>

#include <string>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace DeviceFiles {

bool IsUsableName(std::string_view name) {
    return SafeFiles::UnsafeNameReason(name).isEmpty();
}

bool CopyWhole(const QString& source, const QString& target, std::size_t limit) {
    std::string bytes;
    if (!SafeFiles::ReadAll(source, limit, bytes))
        return false;
    return SafeFiles::ReplaceAtomically(target, bytes);
}

bool IsRegularFile(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Remove(const QString& path) {
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}

} // namespace DeviceFiles
