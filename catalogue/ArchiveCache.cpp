#include "catalogue/ArchiveCache.h"

#include "base/SafeFiles.h"
#include "base/Utf8Text.h"
#include "base/WorkFolders.h"
#include "catalogue/AsciiText.h"
#include "net/Digest.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>

namespace ArchiveCache {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size())
        return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerPrefix[i])
            return false;
    }
    return true;
}

// Length of the scheme and its "://", or 0 when the value is not absolute.
std::size_t SchemeLength(std::string_view trimmed) {
    if (StartsWithNoCase(trimmed, "http://"))
        return 7;
    if (StartsWithNoCase(trimmed, "https://"))
        return 8;
    return 0;
}

// The last path segment of an absolute address; an address without a path
// ("https://host") has none.
void LastPathSegment(std::string_view address, std::size_t schemeLength, std::string& name) {
    std::string_view rest = address.substr(schemeLength);
    if (const std::size_t end = rest.find_first_of("?#"); end != std::string_view::npos)
        rest = rest.substr(0, end);
    const std::size_t pathStart = rest.find('/');
    if (pathStart == std::string_view::npos) {
        name.clear();
        return;
    }
    name.assign(rest.substr(rest.rfind('/') + 1));
}

// A relative value: trimmed, every "./" removed, then the text after the last
// slash, backslash or colon. Since "./" cannot overlap itself, its removal
// drops exactly the slashes that follow a dot, with the dot: the name starts
// after the last separator that survives, and only that tail is rebuilt.
void RelativeName(std::string_view s, std::string& name) {
    std::size_t start = s.size();
    while (start > 0) {
        const char c = s[start - 1];
        if (c == '\\' || c == ':' || (c == '/' && (start < 2 || s[start - 2] != '.')))
            break;
        --start;
    }
    const std::string_view tail = s.substr(start);
    if (tail.find("./") == std::string_view::npos) {
        name.assign(tail);
        return;
    }
    name.clear();
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (tail[i] == '.' && i + 1 < tail.size() && tail[i + 1] == '/') {
            ++i; // "./" dropped
            continue;
        }
        name.push_back(tail[i]);
    }
}

std::string LowerHex(std::string_view value) {
    std::string out(AsciiText::Trim(value));
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool IsHexOfLength(std::string_view digest, std::size_t length) {
    if (digest.size() != length)
        return false;
    for (const char c : digest)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

std::optional<QCryptographicHash::Algorithm> HashOf(const TExpected& expected) {
    switch (expected.Hash) {
    case TExpected::THash::Md5:
        return QCryptographicHash::Md5;
    case TExpected::THash::Sha1:
        return QCryptographicHash::Sha1;
    case TExpected::THash::Sha256:
        return QCryptographicHash::Sha256;
    case TExpected::THash::None:
        break;
    }
    return std::nullopt;
}

namespace {

std::size_t DigestLength(TExpected::THash hash) {
    switch (hash) {
    case TExpected::THash::Md5:
        return 32;
    case TExpected::THash::Sha1:
        return 40;
    case TExpected::THash::Sha256:
        return 64;
    case TExpected::THash::None:
        break;
    }
    return 0;
}

class TFd {
public:
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

} // namespace

bool IsAbsoluteAddress(std::string_view filenameValue) {
    return SchemeLength(AsciiText::Trim(filenameValue)) != 0;
}

void LocalFileNameInto(std::string_view filenameValue, std::string& name) {
    const std::string_view s = AsciiText::Trim(filenameValue);
    if (const std::size_t scheme = SchemeLength(s); scheme != 0)
        LastPathSegment(s, scheme, name);
    else
        RelativeName(s, name);
}

std::string LocalFileName(std::string_view filenameValue) {
    std::string name;
    LocalFileNameInto(filenameValue, name);
    return name;
}

QString UnusableNameReason(std::string_view name) {
    QString reason = SafeFiles::UnsafeNameReason(name);
    // Start-up removes what looks like the cache's own temporary files.
    if (reason.isEmpty() && Startup::IsScratchName(Startup::TScratchPlace::Archives, name))
        reason = QStringLiteral("так называются временные файлы программы");
    return reason;
}

bool IsUsableName(std::string_view name) {
    return UnusableNameReason(name).isEmpty();
}

bool ParseSize(std::string_view text, std::uint64_t& size) {
    const std::string_view digits = AsciiText::Trim(text);
    if (digits.empty())
        return false;
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    size = value;
    return true;
}

TExpected ExpectedFrom(std::string_view sizeText, std::string_view sha256, std::string_view sha1,
                       std::string_view md5) {
    TExpected expected;
    expected.HasSize = ParseSize(sizeText, expected.Size);
    if (!AsciiText::Trim(sha256).empty()) {
        expected.Hash = TExpected::THash::Sha256;
        expected.Digest = LowerHex(sha256);
    } else if (!AsciiText::Trim(sha1).empty()) {
        expected.Hash = TExpected::THash::Sha1;
        expected.Digest = LowerHex(sha1);
    } else if (!AsciiText::Trim(md5).empty()) {
        expected.Hash = TExpected::THash::Md5;
        expected.Digest = LowerHex(md5);
    }
    return expected;
}

TStoreResult Store(const QString& scratch, const QString& archivesDir, const std::string& name,
                   const TExpected& expected) {
    if (!IsUsableName(name))
        return TStoreResult::Failed;
    // A hash field that cannot be a digest of its kind can match no file.
    if (expected.Hash != TExpected::THash::None &&
        !IsHexOfLength(expected.Digest, DigestLength(expected.Hash)))
        return TStoreResult::Mismatch;

    const TFd in(::open(QFile::encodeName(scratch).constData(),
                        O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (in.Get() < 0 || ::fstat(in.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return TStoreResult::Failed;
    // The size alone settles most mismatches without reading anything.
    if (expected.HasSize && static_cast<std::uint64_t>(st.st_size) != expected.Size)
        return TStoreResult::Mismatch;

    const std::optional<QCryptographicHash::Algorithm> algorithm = HashOf(expected);
    std::optional<TDigest> hash;
    if (algorithm)
        hash.emplace(*algorithm);

    SafeFiles::TAtomicFile out(SafeFiles::InFolder(archivesDir, Utf8Text::Decode(name)));
    if (!out.Open())
        return TStoreResult::Failed;
    constexpr std::size_t BlockSize = std::size_t(256) << 10;
    const std::unique_ptr<char[]> block(new char[BlockSize]);
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(in.Get(), block.get(), BlockSize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return TStoreResult::Failed; // the destructor removes the temporary file
        if (n == 0)
            break;
        if (hash)
            hash->Add(block.get(), static_cast<std::size_t>(n));
        if (!out.Write(block.get(), static_cast<std::size_t>(n)))
            return TStoreResult::Failed;
        total += static_cast<std::uint64_t>(n);
    }
    // Sizes are compared again on what was read: the file may have changed
    // since it was measured.
    if (expected.HasSize && total != expected.Size)
        return TStoreResult::Mismatch;
    if (hash && hash->Hex() != expected.Digest)
        return TStoreResult::Mismatch;
    return out.Commit() ? TStoreResult::Stored : TStoreResult::Failed;
}

TStoreResult Move(const QString& scratch, const std::string& digest, const QString& archivesDir,
                  const std::string& name, const TExpected& expected) {
    if (!IsUsableName(name))
        return TStoreResult::Failed;
    if (expected.Hash != TExpected::THash::None &&
        (!IsHexOfLength(expected.Digest, DigestLength(expected.Hash)) || digest != expected.Digest))
        return TStoreResult::Mismatch;
    const QByteArray from = QFile::encodeName(scratch);
    const TFd file(::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (file.Get() < 0 || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return TStoreResult::Failed;
    if (expected.HasSize && static_cast<std::uint64_t>(st.st_size) != expected.Size)
        return TStoreResult::Mismatch;

    // The name is resolved inside the open folder and a link there is
    // replaced, not followed; the old file stays whole until the rename.
    const TFd dir(
        ::open(QFile::encodeName(archivesDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() < 0)
        return TStoreResult::Failed;
    struct stat old {};
    const mode_t mode =
        ::fstatat(dir.Get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode)
            ? static_cast<mode_t>(old.st_mode & 07777)
            : mode_t(0644);
    if ((st.st_mode & 07777) != mode && ::fchmod(file.Get(), mode) != 0)
        return TStoreResult::Failed;
    if (::renameat(AT_FDCWD, from.constData(), dir.Get(), name.c_str()) != 0)
        return errno == EXDEV ? Store(scratch, archivesDir, name, expected) : TStoreResult::Failed;
    return TStoreResult::Stored;
}

TOutcome FlushScratch(const QString& scratch, const TExpected& expected, std::string& digest) {
    digest.clear();
    const TFd file(::open(QFile::encodeName(scratch).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (file.Get() < 0)
        return TOutcome::Failure(
            QStringLiteral("не удалось записать файл: %1").arg(SafeFiles::ErrnoText(errno)));
    // The bytes are read back while they are still in memory: the hash is
    // paid here, beside the transfers, not on the thread that runs them.
    if (const std::optional<QCryptographicHash::Algorithm> algorithm = HashOf(expected)) {
        TDigest hash(*algorithm);
        // On the stack: a thread's stack is reused from thread to thread,
        // where a fresh block of the heap would be fresh memory every time.
        char block[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(file.Get(), block, sizeof block);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return TOutcome::Failure(QStringLiteral("не удалось прочитать файл: %1")
                                             .arg(SafeFiles::ErrnoText(errno)));
            if (n == 0)
                break;
            hash.Add(block, static_cast<std::size_t>(n));
        }
        digest = hash.Hex();
    }
    if (::fdatasync(file.Get()) == 0)
        return TOutcome::Success();
    return TOutcome::Failure(
        QStringLiteral("не удалось записать файл: %1").arg(SafeFiles::ErrnoText(errno)));
}

void FlushFolder(const QString& archivesDir) {
    // Only the renames' way to the disk: a folder that cannot be flushed
    // leaves every file whole, so it is no failure.
    const TFd dir(
        ::open(QFile::encodeName(archivesDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        ::fsync(dir.Get());
}

} // namespace ArchiveCache
