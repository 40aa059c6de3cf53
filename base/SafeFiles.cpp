#include "base/SafeFiles.h"

#include "base/TextFile.h"
#include "base/Utf8Text.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

// Plain POSIX calls rather than QFile/QSaveFile: every write here must be
// checked for its full length, and a cut-short write has been seen reported as
// success by the Qt classes.
namespace SafeFiles {

QString ErrnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

QString InFolder(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString UnsafeNameReason(std::string_view name) {
    switch (FileNames::NameFault(name)) {
    case FileNames::TNameFault::None:
        break;
    case FileNames::TNameFault::NotPlain:
        return QStringLiteral("недопустимое имя файла");
    case FileNames::TNameFault::ControlCharacter:
        return QStringLiteral("имя содержит управляющий символ");
    case FileNames::TNameFault::NotUtf8:
        return QStringLiteral("имя не в кодировке UTF-8");
    }
    return {};
}

QString PrintableName(std::string_view name) {
    const QString decoded = Utf8Text::Decode(name);
    QString shown;
    shown.reserve(decoded.size());
    for (const QChar c : decoded) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

// ---------------------------------------------------------------------------
// Reading.

namespace {

void SetReason(QString* reason, QString text) {
    if (reason)
        *reason = std::move(text);
}

} // namespace

TReadFile::~TReadFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

TReadResult TReadFile::Open(const QString& path, std::uint64_t limit, QString* reason) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    size_ = 0;
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty()) {
        SetReason(reason, QStringLiteral("пустое имя файла"));
        return TReadResult::Missing;
    }
    // O_NONBLOCK: a FIFO put in the file's place must not hang the open.
    // O_NOFOLLOW: a link could point anywhere, a device included.
    int fd;
    do {
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT) {
            SetReason(reason, ErrnoText(err));
            return TReadResult::Missing;
        }
        SetReason(reason,
                  err == ELOOP ? QStringLiteral("это символическая ссылка") : ErrnoText(err));
        return TReadResult::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        SetReason(reason, QStringLiteral("это не обычный файл"));
        return TReadResult::Failed;
    }
    if (static_cast<unsigned long long>(st.st_size) > limit) {
        ::close(fd);
        SetReason(reason, QStringLiteral("файл больше %1 байт").arg(qulonglong(limit)));
        return TReadResult::Failed;
    }
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(st.st_size);
    return TReadResult::Ok;
}

std::ptrdiff_t TReadFile::Read(char* data, std::size_t bytes, QString* reason) {
    for (;;) {
        const ssize_t n = ::read(fd_, data, bytes);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            SetReason(reason, ErrnoText(errno));
            return -1;
        }
    }
}

TReadResult Read(const QString& path, std::size_t limit, std::string& out, QString* reason) {
    TReadFile file;
    const TReadResult opened = file.Open(path, limit, reason);
    if (opened != TReadResult::Ok) {
        out.clear();
        return opened;
    }
    // Growing a string clears only the bytes added: a buffer reused file after
    // file is not cleared whole for each.
    const auto size = static_cast<std::size_t>(file.Size());
    if (out.size() < size)
        out.resize(size);
    std::size_t done = 0;
    while (done < size) {
        const std::ptrdiff_t n = file.Read(out.data() + done, size - done, reason);
        if (n < 0) {
            out.clear();
            return TReadResult::Failed;
        }
        if (n == 0)
            break; // the file shrank while we read it: keep what arrived
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return TReadResult::Ok;
}

bool ReadAll(const QString& path, std::size_t limit, std::string& out, QString* reason) {
    return Read(path, limit, out, reason) == TReadResult::Ok;
}

// ---------------------------------------------------------------------------
// Writing.

bool ReplaceAtomically(const QString& path, std::string_view data, QString* reason) {
    TAtomicFile file(path);
    const bool ok = file.Open() && file.Write(data.data(), data.size()) && file.Commit();
    if (!ok)
        SetReason(reason, file.ErrorString());
    return ok;
}

TAtomicFile::TAtomicFile(QString target) : target_(std::move(target)) {}

TAtomicFile::~TAtomicFile() {
    Abort();
}

bool TAtomicFile::Open() {
    Abort();
    failed_ = false;
    flushed_ = false;
    written_ = 0;
    flushStarted_ = 0;
    error_.clear();
    const QByteArray native = QFile::encodeName(target_);
    const qsizetype slash = native.lastIndexOf('/');
    const QByteArray name = native.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..") {
        failed_ = true;
        error_ = QStringLiteral("недопустимое имя файла");
        return false;
    }
    // The temporary file lies in the same folder, so the rename stays on one
    // file system and replaces the old file in one step. A hidden name keeps it
    // out of folder listings; a long name is cut so that the suffix still fits.
    // The cut keeps whole UTF-8 sequences, so the name stays readable in a listing.
    const std::string_view kept =
        TextFile::CutUtf8(std::string_view(name.constData(), std::size_t(name.size())), 200);
    QByteArray pattern =
        native.left(slash + 1) + '.' + QByteArray(kept.data(), qsizetype(kept.size())) + ".XXXXXX";
    int fd;
    do {
        fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        failed_ = true;
        error_ = ErrnoText(errno);
        return false;
    }
    fd_ = fd;
    temp_ = pattern;
    return true;
}

bool TAtomicFile::Write(const void* data, std::size_t size) {
    if (fd_ < 0 || failed_) {
        if (error_.isEmpty())
            error_ = QStringLiteral("файл не открыт");
        failed_ = true;
        return false;
    }
    flushed_ = false;
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, p + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A write that stops short (disk full, file size limit) fails the
            // whole file rather than leaving a cut one.
            error_ = ErrnoText(n < 0 ? errno : EIO);
            failed_ = true;
            return false;
        }
        done += static_cast<std::size_t>(n);
        written_ += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool TAtomicFile::Flush() {
    if (fd_ < 0 || failed_ || flushed_)
        return fd_ >= 0 && !failed_;
    if (::fsync(fd_) != 0) {
        error_ = ErrnoText(errno);
        failed_ = true;
        return false;
    }
    flushed_ = true;
    return true;
}

void TAtomicFile::StartFlush() {
    constexpr std::uint64_t Step = std::uint64_t(1) << 20;
    const std::uint64_t until = written_ / Step * Step;
    if (fd_ < 0 || failed_ || !flush_ || until <= flushStarted_)
        return;
    // Only a hint: the flush at Commit still waits for every byte.
    ::sync_file_range(fd_, off64_t(flushStarted_), off64_t(until - flushStarted_),
                      SYNC_FILE_RANGE_WRITE);
    flushStarted_ = until;
}

bool TAtomicFile::Commit() {
    if (fd_ < 0 || failed_) {
        if (error_.isEmpty())
            error_ = QStringLiteral("файл не открыт");
        Abort();
        return false;
    }
    const QByteArray target = QFile::encodeName(target_);
    // Keep the permissions of the file being replaced; a new file gets 0644
    // whatever the temporary file was created with.
    struct stat st {};
    const mode_t mode = ::stat(target.constData(), &st) == 0 && S_ISREG(st.st_mode)
                            ? static_cast<mode_t>(st.st_mode & 07777)
                            : mode_t(0644);
    bool ok = true;
    if (::fchmod(fd_, mode) != 0 || (flush_ && !flushed_ && ::fsync(fd_) != 0)) {
        error_ = ErrnoText(errno);
        ok = false;
    }
    if (::close(fd_) != 0 && ok) {
        error_ = ErrnoText(errno);
        ok = false;
    }
    fd_ = -1;
    if (ok && ::rename(temp_.constData(), target.constData()) != 0) {
        error_ = ErrnoText(errno);
        ok = false;
    }
    if (!ok) {
        failed_ = true;
        Abort();
        return false;
    }
    temp_.clear();
    if (!flush_)
        return true;
    // The rename itself reaches the disk with the folder; failing to flush the
    // folder leaves the new file in place, so it is not an error.
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0    ? QByteArray(".")
                              : slash == 0 ? QByteArray("/")
                                           : target.left(slash);
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void TAtomicFile::Abort() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.isEmpty()) {
        ::unlink(temp_.constData());
        temp_.clear();
    }
}

} // namespace SafeFiles
