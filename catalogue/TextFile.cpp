#include "catalogue/TextFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TextFile {

bool ReadAll(const QString& path, std::string& out) {
    out.clear();
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK keeps a FIFO from blocking the open; O_NOFOLLOW refuses links.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<unsigned long long>(st.st_size) > MaxFileSize) {
        ::close(fd);
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    bool ok = true;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
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
        text_ = text_.substr(0, static_cast<std::size_t>(static_cast<const char*>(eof) - text_.data()));
}

bool IndexLines::Next(std::string_view& line) {
    if (pos_ >= text_.size())
        return false;
    const char* begin = text_.data() + pos_;
    const std::size_t left = text_.size() - pos_;
    const void* lf = std::memchr(begin, '\n', left);
    std::size_t len = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - begin) : left;
    pos_ += lf ? len + 1 : len;
    if (len > 0 && begin[len - 1] == '\r')
        --len;
    std::string_view raw(begin, len);
    if (raw.find('\r') == std::string_view::npos) {
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

std::vector<std::string_view> SplitAnyLineEnds(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const char* p = text.data() + i;
        // Jump to the next CR or LF quickly.
        const void* lf = std::memchr(p, '\n', n - i);
        const void* cr = std::memchr(p, '\r', (lf ? static_cast<const char*>(lf) : text.data() + n) - p);
        const char* end = cr ? static_cast<const char*>(cr)
                             : (lf ? static_cast<const char*>(lf) : nullptr);
        if (!end)
            break;
        i = static_cast<std::size_t>(end - text.data());
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n')
            ++i;
        ++i;
        start = i;
    }
    if (start < n)
        lines.push_back(text.substr(start));
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

std::string_view CutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t cut = maxBytes;
    // Step back over continuation bytes to the lead byte of the sequence the
    // cut falls in; drop the sequence when it does not fit completely.
    std::size_t lead = cut;
    while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80 && cut - lead < 4)
        --lead;
    if (lead < cut && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        cut = lead;
    return text.substr(0, cut);
}

} // namespace TextFile
