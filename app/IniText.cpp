#include "app/IniText.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace IniText {

// ---------------------------------------------------------------------------
// Reading the raw bytes. The file is opened without blocking and taken only when
// it is a regular file of sane size, so a FIFO, a device or a huge file put in
// its place can neither hang nor exhaust the program.

QString ErrnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

Loaded LoadBytes(const QString& path) {
    Loaded out;
    if (path.isEmpty())
        return out;
    const QByteArray native = QFile::encodeName(path);
    int fd = -1;
    do {
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        out.Status = err == ENOENT ? LoadStatus::Missing : LoadStatus::Unreadable;
        out.Reason = ErrnoText(err);
        return out;
    }
    out.Status = LoadStatus::Unreadable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        out.Reason = QStringLiteral("это не обычный файл");
        ::close(fd);
        return out;
    }
    const qint64 cap = MaxFileSize;
    QByteArray buf;
    if (st.st_size <= cap) {
        // One byte more than allowed tells a file that grew meanwhile.
        buf.resize(cap + 1);
        qint64 got = 0;
        while (got < buf.size()) {
            const ssize_t n = ::read(fd, buf.data() + got, static_cast<size_t>(buf.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                out.Reason = ErrnoText(errno);
                ::close(fd);
                return out;
            }
            if (n == 0)
                break;
            got += n;
        }
        if (got <= cap) {
            buf.truncate(got);
            out.Status = LoadStatus::Ok;
            out.Data = std::move(buf);
        }
    }
    ::close(fd);
    if (out.Status != LoadStatus::Ok)
        out.Reason = QStringLiteral("файл больше %1 байт").arg(cap);
    return out;
}

// ---------------------------------------------------------------------------
// Parsing. Lines are kept as bytes so that everything the program does not
// change is written back byte for byte, even when it is not valid UTF-8.

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

QByteArray TrimBlanks(const QByteArray& s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

QByteArray Unquote(const QByteArray& s) {
    if (s.size() >= 2 && IsQuote(s.front()) && s.front() == s.back())
        return s.mid(1, s.size() - 2);
    return s;
}

IniLine ParseLine(QByteArray raw) {
    IniLine line;
    line.Raw = std::move(raw);
    const QByteArray t = TrimBlanks(line.Raw);
    if (t.isEmpty() || t.front() == ';')
        return line;
    if (t.front() == '[') {
        const qsizetype close = t.indexOf(']');
        if (close > 0) {
            line.Type = IniLine::Kind::Section;
            line.Name = QString::fromUtf8(TrimBlanks(t.mid(1, close - 1)));
        }
        return line;
    }
    const qsizetype eq = t.indexOf('=');
    if (eq <= 0)
        return line;
    line.KeyBytes = TrimBlanks(t.left(eq));
    if (line.KeyBytes.isEmpty())
        return line;
    line.Type = IniLine::Kind::Key;
    line.Name = QString::fromUtf8(line.KeyBytes);
    line.Value = Unquote(TrimBlanks(t.mid(eq + 1)));
    return line;
}

Lines Parse(const QByteArray& data) {
    Lines lines;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            end = data.size();
        QByteArray raw = data.mid(start, end - start);
        if (raw.endsWith('\r'))
            raw.chop(1);
        lines.push_back(ParseLine(std::move(raw)));
        start = end + 1;
    }
    return lines;
}

// Writes Data to a temporary file beside Path and renames it over Path once
// every byte is on disk. Each write is checked for its full length: a short
// write (disk full, file size limit) must fail rather than leave a cut file.
bool ReplaceFile(const QString& path, const QByteArray& data, QString& reason) {
    const QFileInfo info(path);
    QByteArray temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") +
                                        info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        reason = ErrnoText(errno);
        return false;
    }
    bool ok = true;
    qsizetype done = 0;
    while (ok && done < data.size()) {
        const ssize_t n =
            ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reason = ErrnoText(n < 0 ? errno : EIO);
            ok = false;
        } else {
            done += n;
        }
    }
    // Keep the permissions of the file being replaced; a new file gets the usual ones.
    struct stat st {};
    const mode_t mode = ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode)
                            ? (st.st_mode & 07777)
                            : 0644;
    if (ok && (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)) {
        reason = ErrnoText(errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        reason = ErrnoText(errno);
        ok = false;
    }
    if (ok && ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        reason = ErrnoText(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temp.constData());
    return ok;
}

} // namespace IniText
