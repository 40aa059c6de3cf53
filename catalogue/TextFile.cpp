#include "catalogue/TextFile.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TextFile {

bool ReadAll(const QString& path, std::string& out) {
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK keeps a FIFO from blocking the open; O_NOFOLLOW refuses links.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        out.clear();
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<unsigned long long>(st.st_size) > MaxFileSize) {
        ::close(fd);
        out.clear();
        return false;
    }
    // Growing a string clears only the bytes added: a buffer reused file after
    // file is not cleared whole for each.
    const auto size = static_cast<std::size_t>(st.st_size);
    if (out.size() < size)
        out.resize(size);
    std::size_t done = 0;
    bool ok = true;
    while (done < size) {
        const ssize_t n = ::read(fd, out.data() + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (n == 0)
            break; // the file shrank while we read it: keep what arrived
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(done);
    if (!ok)
        out.clear();
    return ok;
}

IndexLines::IndexLines(std::string_view text) : text_(text) {
    if (const void* eof = std::memchr(text_.data(), 0x1A, text_.size()))
        text_ =
            text_.substr(0, static_cast<std::size_t>(static_cast<const char*>(eof) - text_.data()));
}

bool IndexLines::Next(std::string_view& line) {
    if (pos_ >= text_.size())
        return false;
    const char* begin = text_.data() + pos_;
    const std::size_t left = text_.size() - pos_;
    const void* lf = std::memchr(begin, '\n', left);
    const std::size_t end =
        lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - begin) : left;
    // Most indexes hold no CR at all: the next CR is remembered, so such a text
    // is searched for one only once.
    if (!crKnown_ || (nextCr_ != std::string_view::npos && nextCr_ < pos_)) {
        const void* cr = std::memchr(begin, '\r', left);
        nextCr_ = cr ? pos_ + static_cast<std::size_t>(static_cast<const char*>(cr) - begin)
                     : std::string_view::npos;
        crKnown_ = true;
    }
    const std::size_t start = pos_;
    pos_ += lf ? end + 1 : end;
    if (nextCr_ >= start + end) {
        line = std::string_view(begin, end);
        return true;
    }
    std::size_t len = end;
    if (begin[len - 1] == '\r')
        --len;
    std::string_view raw(begin, len);
    if (nextCr_ >= start + len) {
        line = raw;
        return true;
    }
    scratch_.clear();
    for (char c : raw)
        if (c != '\r')
            scratch_.push_back(c);
    line = scratch_;
    return true;
}

bool AnyLines::Next(std::string_view& line) {
    const std::size_t n = text_.size();
    if (pos_ >= n)
        return false;
    // The next LF is remembered between calls: a text of CR-only line ends
    // would otherwise be searched to its end for every line.
    if (!lfKnown_ || (nextLf_ != std::string_view::npos && nextLf_ < pos_)) {
        const void* lf = std::memchr(text_.data() + pos_, '\n', n - pos_);
        nextLf_ = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text_.data())
                     : std::string_view::npos;
        lfKnown_ = true;
    }
    const std::size_t limit = nextLf_ == std::string_view::npos ? n : nextLf_;
    if (!crKnown_ || (nextCr_ != std::string_view::npos && nextCr_ < pos_)) {
        const void* c = std::memchr(text_.data() + pos_, '\r', n - pos_);
        nextCr_ = c ? static_cast<std::size_t>(static_cast<const char*>(c) - text_.data())
                    : std::string_view::npos;
        crKnown_ = true;
    }
    const void* cr = nextCr_ < limit ? text_.data() + nextCr_ : nullptr;
    const std::size_t end =
        cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - text_.data()) : limit;
    line = text_.substr(pos_, end - pos_);
    if (end >= n) {
        pos_ = n;
    } else if (text_[end] == '\r' && end + 1 < n && text_[end + 1] == '\n') {
        pos_ = end + 2;
    } else {
        pos_ = end + 1;
    }
    return true;
}

std::vector<std::string_view> SplitAnyLineEnds(std::string_view text) {
    std::vector<std::string_view> lines;
    AnyLines reader(text);
    std::string_view line;
    while (reader.Next(line))
        lines.push_back(line);
    return lines;
}

bool IsValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        unsigned int cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[k] & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        p += extra + 1;
    }
    return true;
}

namespace {

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Length of the sequence a lead byte starts, or 0 for a byte that starts none.
std::size_t SequenceLength(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0xC2 && u <= 0xDF)
        return 2;
    if (u >= 0xE0 && u <= 0xEF)
        return 3;
    if (u >= 0xF0 && u <= 0xF4)
        return 4;
    return 0;
}

} // namespace

std::string_view CutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    if (maxBytes == 0 || !IsContinuation(text[maxBytes]))
        return text.substr(0, maxBytes);
    // The first byte left out continues something: find the lead byte at most
    // three places back and drop its sequence when it reaches past the cut. A
    // stray continuation byte is no sequence and is cut like any other byte.
    std::size_t lead = maxBytes - 1;
    while (lead > 0 && maxBytes - lead < 3 && IsContinuation(text[lead]))
        --lead;
    const std::size_t length = SequenceLength(text[lead]);
    if (length != 0 && lead + length > maxBytes)
        return text.substr(0, lead);
    return text.substr(0, maxBytes);
}

bool WriteAtomically(const QString& path, std::string_view data) {
    const QByteArray target = QFile::encodeName(path);
    if (target.isEmpty())
        return false;
    // The temporary file lies in the same folder, so the rename stays within
    // one file system and replaces the old file in one step.
    QByteArray pattern = target;
    const qsizetype slash = pattern.lastIndexOf('/');
    pattern.insert(slash + 1, '.');
    pattern.append(".XXXXXX");
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0644) == 0;
    std::size_t done = 0;
    while (ok && done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    ok = ok && ::fdatasync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(pattern.constData(), target.constData()) == 0;
    if (!ok)
        ::unlink(pattern.constData());
    return ok;
}

} // namespace TextFile
