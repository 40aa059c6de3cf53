#include "device/DeviceFiles.h"

#include "base/SafeFiles.h"

#include <QFile>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DeviceFiles {

bool IsUsableName(std::string_view name) {
    return SafeFiles::UnsafeNameReason(name).isEmpty();
}

bool CopyWhole(const QString& source, const QString& target, std::size_t limit, QString* reason) {
    const auto fail = [reason](QString why) {
        if (reason)
            *reason = std::move(why);
        return false;
    };
    // Block by block: a list of a gigabyte must not take a gigabyte of memory.
    const int in = ::open(QFile::encodeName(source).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (in < 0)
        return fail(SafeFiles::ErrnoText(errno));
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return fail(QStringLiteral("это не обычный файл"));
    }
    SafeFiles::TAtomicFile out(target);
    bool ok = out.Open();
    QString why = out.ErrorString();
    std::vector<char> block(std::size_t(256) << 10);
    std::uint64_t total = 0;
    while (ok) {
        const ssize_t n = ::read(in, block.data(), block.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = SafeFiles::ErrnoText(errno);
            ok = false;
        } else if (n == 0) {
            break;
        } else if ((total += static_cast<std::uint64_t>(n)) > limit) {
            why = QStringLiteral("файл больше %1 байт").arg(qulonglong(limit));
            ok = false;
        } else if (!out.Write(block.data(), static_cast<std::size_t>(n))) {
            why = out.ErrorString();
            ok = false;
        }
    }
    ::close(in);
    if (ok && !out.Commit()) {
        why = out.ErrorString();
        ok = false;
    }
    return ok || fail(why);
}

bool IsRegularFile(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Remove(const QString& path) {
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}

} // namespace DeviceFiles
