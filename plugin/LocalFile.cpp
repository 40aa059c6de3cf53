#include "plugin/LocalFile.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace Tpot {

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

// Makes a finished rename survive a power cut.
void SyncFolder(int dirFd) {
    const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Six letters or digits, as mkstemp would choose them. The bits come from the
// kernel on every call: the plugin is loaded and unloaded by its host, and a
// per-thread generator would leave thread-local storage of an unloaded
// library behind in every thread that ever made a name.
std::string RandomTail() {
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::atomic<uint64_t> counter{0};
    uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != ssize_t(sizeof bits))
        bits = (uint64_t(::getpid()) << 32) ^ uint64_t(::time(nullptr)) ^
               (++counter * 0x9E3779B97F4A7C15ull);
    std::string tail;
    for (int i = 0; i < 6; ++i, bits /= 62)
        tail += Letters[bits % 62];
    return tail;
}

} // namespace

std::string LocalFolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::ptrdiff_t ReadLocalBlock(int fd, char* buffer, std::size_t capacity, std::string& why) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, capacity);
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            why = Reason(errno);
            return -1;
        }
    }
}

TLocalAtomicFile::~TLocalAtomicFile() {
    Discard();
    if (dirFd_ >= 0)
        ::close(dirFd_);
}

void TLocalAtomicFile::Discard() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!tempName_.empty())
        ::unlinkat(dirFd_, tempName_.c_str(), 0);
    tempName_.clear();
}

void TLocalAtomicFile::SetMode(uint32_t mode, bool exact) {
    mode_ = mode & 0777;
    exactMode_ = exact;
}

void TLocalAtomicFile::SetTime(int64_t seconds) {
    hasTime_ = true;
    time_ = seconds;
}

bool TLocalAtomicFile::Open(const std::string& target, std::string& why) {
    const std::size_t slash = target.rfind('/');
    const int dirFd = ::open(LocalFolderOf(target).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        why = "cannot create a temporary file beside it: " + Reason(errno);
        return false;
    }
    const bool opened =
        OpenAt(dirFd, slash == std::string::npos ? target : target.substr(slash + 1), why);
    ::close(dirFd);
    return opened;
}

bool TLocalAtomicFile::OpenAt(int dirFd, const std::string& name, std::string& why) {
    Discard();
    if (dirFd_ >= 0)
        ::close(dirFd_);
    dirFd_ = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    name_ = name;
    if (dirFd_ < 0) {
        why = "cannot create a temporary file beside it: " + Reason(errno);
        return false;
    }
    return Create(why);
}

bool TLocalAtomicFile::Create(std::string& why) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = ".T-Pot-" + RandomTail();
        // Created with the final mode, so that the umask applies as it does
        // to any new file; never through a link of that name.
        fd_ = ::openat(dirFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       static_cast<mode_t>(mode_));
        if (fd_ >= 0) {
            tempName_ = name;
            if (exactMode_)
                ::fchmod(fd_, static_cast<mode_t>(mode_));
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    why = "cannot create a temporary file beside it: " + Reason(errno);
    return false;
}

bool TLocalAtomicFile::Write(const char* data, std::size_t size, std::string& why) {
    while (size > 0) {
        const ssize_t done = ::write(fd_, data, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            why = "cannot write: " + Reason(done < 0 ? errno : EIO);
            return false;
        }
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

bool TLocalAtomicFile::Commit(std::string& why, bool noReplace) {
    if (fd_ < 0) {
        why = "no file open";
        return false;
    }
    if (hasTime_) {
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(time_), 0}};
        ::futimens(fd_, times); // a folder that cannot keep times still gets the file
    }
    if (::fsync(fd_) != 0) {
        why = "cannot flush to disk: " + Reason(errno);
        Discard();
        return false;
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) {
        why = "cannot close: " + Reason(errno);
        Discard();
        return false;
    }
    // link() fails on an existing target, which rename() would replace.
    const int placed = noReplace ? ::linkat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str(), 0)
                                 : ::renameat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str());
    if (placed != 0) {
        why = "cannot put the file in place: " + Reason(errno);
        Discard();
        return false;
    }
    if (noReplace)
        ::unlinkat(dirFd_, tempName_.c_str(), 0);
    tempName_.clear();
    SyncFolder(dirFd_);
    return true;
}

int OpenRegularFile(const std::string& path, bool& notFound, std::string& why) {
    notFound = false;
    // O_NONBLOCK so that opening a named pipe does not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        notFound = errno == ENOENT || errno == ENOTDIR;
        why = Reason(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode) ? "is a folder" : "not a regular file";
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& out, bool& notFound,
                   std::string& why) {
    out.clear();
    const int fd = OpenRegularFile(path, notFound, why);
    if (fd < 0)
        return false;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = Reason(errno);
            ::close(fd);
            return false;
        }
        if (got == 0)
            break;
        if (out.size() + static_cast<std::size_t>(got) > limit) {
            why = "larger than " + std::to_string(limit) + " bytes";
            ::close(fd);
            return false;
        }
        out.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
}

std::function<std::ptrdiff_t(char* buffer, std::size_t capacity)>
LocalBlocks(int fd, std::function<bool()> proceed, std::uint64_t& done, bool& localFailed,
            bool& userStopped, std::string& why) {
    return [fd, proceed = std::move(proceed), &done, &localFailed, &userStopped,
            &why](char* buffer, std::size_t capacity) -> std::ptrdiff_t {
        if (!proceed()) {
            userStopped = true;
            return -1;
        }
        const std::ptrdiff_t got = ReadLocalBlock(fd, buffer, capacity, why);
        if (got < 0) {
            localFailed = true;
            return -1;
        }
        done += static_cast<std::uint64_t>(got);
        return got;
    };
}

} // namespace Tpot
