#include "plugin/LocalFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tpot {

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

// Makes a finished rename survive a power cut.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::string LocalFolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

TLocalAtomicFile::~TLocalAtomicFile() {
    Discard();
}

void TLocalAtomicFile::Discard() {
    if (Fd >= 0)
        ::close(Fd);
    Fd = -1;
    if (!TempPath.empty())
        ::unlink(TempPath.c_str());
    TempPath.clear();
}

bool TLocalAtomicFile::Open(const std::string& target, std::string& why) {
    Discard();
    Target = target;
    std::string pattern = LocalFolderOf(target);
    if (pattern.back() != '/')
        pattern += '/';
    pattern += ".T-Pot-XXXXXX";
    Fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (Fd < 0) {
        why = "cannot create a temporary file beside it: " + Reason(errno);
        return false;
    }
    TempPath = pattern;
    // mkostemp makes the file private; the files we write are ordinary ones.
    ::fchmod(Fd, 0644);
    return true;
}

bool TLocalAtomicFile::Write(const char* data, std::size_t size, std::string& why) {
    while (size > 0) {
        const ssize_t done = ::write(Fd, data, size);
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
    if (Fd < 0) {
        why = "no file open";
        return false;
    }
    if (::fsync(Fd) != 0) {
        why = "cannot flush to disk: " + Reason(errno);
        Discard();
        return false;
    }
    const int closed = ::close(Fd);
    Fd = -1;
    if (closed != 0) {
        why = "cannot close: " + Reason(errno);
        Discard();
        return false;
    }
    // link() fails on an existing target, which rename() would replace.
    const int placed = noReplace ? ::link(TempPath.c_str(), Target.c_str())
                                 : ::rename(TempPath.c_str(), Target.c_str());
    if (placed != 0) {
        why = "cannot put the file in place: " + Reason(errno);
        Discard();
        return false;
    }
    if (noReplace)
        ::unlink(TempPath.c_str());
    TempPath.clear();
    SyncFolder(LocalFolderOf(Target));
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

} // namespace tpot
