#include "plugin/FolderTransport.h"

#include "plugin/LocalFile.h"
#include "plugin/PhonePath.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Tpot {

namespace {

TEntry EntryFromStat(const std::string& name, const struct stat& st) {
    TEntry entry;
    entry.Name = name;
    entry.IsFolder = S_ISDIR(st.st_mode);
    entry.Size = entry.IsFolder ? 0 : static_cast<uint64_t>(st.st_size);
    entry.MTime = static_cast<int64_t>(st.st_mtime);
    entry.Mode = st.st_mode & 07777;
    return entry;
}

bool Missing(int error) {
    return error == ENOENT || error == ENOTDIR;
}

// The status and reason of a failed change of the phone folder.
TStatus ChangeFailed(int error, std::string& why) {
    why = error == ENOTEMPTY || error == EEXIST ? std::string("the folder is not empty")
                                                : BeneathReason(error);
    return Missing(error) ? TStatus::NotFound : TStatus::WriteError;
}

// Closes a descriptor when it goes out of scope.
struct TFd {
    int Fd;
    explicit TFd(int fd) : Fd(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() {
        if (Fd >= 0)
            ::close(Fd);
    }
};

} // namespace

TFolderTransport::TFolderTransport(std::string root) : configured_(std::move(root)) {}

bool TFolderTransport::Connect(std::string& why) {
    if (configured_.empty()) {
        why = "no Folder is set in T-Pot.ini for the folder transport";
        return false;
    }
    // Opened again every time: a mount put over the folder since counts.
    if (!root_.Open(configured_, why)) {
        why = "the folder " + configured_ + " cannot be used: " + why;
        return false;
    }
    return true;
}

bool TFolderTransport::Ready(std::string& why) {
    // A caller that never called Connect still gets its files.
    return root_.IsOpen() || Connect(why);
}

int TFolderTransport::OpenParent(const std::string& path, TStatus& status, std::string& why) {
    if (LastSegment(path).empty()) {
        why = "the root is not a file";
        status = TStatus::WriteError;
        return -1;
    }
    if (!Ready(why)) {
        status = TStatus::ReadError;
        return -1;
    }
    const int fd = root_.OpenParent(path);
    if (fd < 0) {
        why = BeneathReason(errno);
        status = Missing(errno) ? TStatus::NotFound : TStatus::ReadError;
    }
    return fd;
}

bool TFolderTransport::Describe(int dirFd, const std::string& name, const std::string& path,
                                TEntry& entry) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    const bool link = S_ISLNK(st.st_mode);
    if (link) {
        // What the link points at, when it stays inside; else the link itself.
        const TFd target(root_.OpenBeneath(path, O_PATH));
        struct stat followed {};
        if (target.Fd >= 0 && ::fstat(target.Fd, &followed) == 0)
            st = followed;
    }
    entry = EntryFromStat(name, st);
    entry.IsLink = link;
    return true;
}

TStatus TFolderTransport::List(const std::string& path, std::vector<TEntry>& entries,
                               std::string& why) {
    entries.clear();
    if (!Ready(why))
        return TStatus::ReadError;
    const int fd = root_.OpenBeneath(path, O_RDONLY | O_DIRECTORY);
    DIR* folder = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!folder) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        why = BeneathReason(error);
        return Missing(error) ? TStatus::NotFound : TStatus::ReadError;
    }
    const std::string prefix = path == "/" ? std::string() : path;
    while (const dirent* item = ::readdir(folder)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        TEntry entry;
        if (!Describe(fd, name, prefix + "/" + name, entry))
            entry = TEntry{name, 0, 0, false}; // gone since: the name stays
        entries.push_back(std::move(entry));
    }
    ::closedir(folder);
    return TStatus::Ok;
}

TStatus TFolderTransport::Stat(const std::string& path, TEntry& entry, std::string& why) {
    if (path == "/") {
        entry = TEntry{"", 0, 0, true};
        return Ready(why) ? TStatus::Ok : TStatus::ReadError;
    }
    TStatus status = TStatus::Ok;
    const TFd folder(OpenParent(path, status, why));
    if (folder.Fd < 0)
        return status == TStatus::WriteError ? TStatus::ReadError : status;
    if (!Describe(folder.Fd, LastSegment(path), path, entry)) {
        why = std::strerror(errno);
        return Missing(errno) ? TStatus::NotFound : TStatus::ReadError;
    }
    return TStatus::Ok;
}

TStatus TFolderTransport::Read(const std::string& path, uint64_t limit, const TSink& sink,
                               std::string& why) {
    if (!Ready(why))
        return TStatus::ReadError;
    // O_NONBLOCK so that opening a named pipe does not wait for a writer.
    const TFd file(root_.OpenBeneath(path, O_RDONLY | O_NONBLOCK));
    struct stat st {};
    if (file.Fd < 0) {
        why = BeneathReason(errno);
        return Missing(errno) ? TStatus::NotFound : TStatus::ReadError;
    }
    if (::fstat(file.Fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode) ? "is a folder" : "not a regular file";
        return TStatus::ReadError;
    }
    ::fcntl(file.Fd, F_SETFL, ::fcntl(file.Fd, F_GETFL) & ~O_NONBLOCK);
    char buffer[64 * 1024];
    uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(file.Fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = std::strerror(errno);
            return TStatus::ReadError;
        }
        if (got == 0)
            return TStatus::Ok;
        total += static_cast<uint64_t>(got);
        if (total > limit) {
            why = TooLongReason(limit);
            return TStatus::ReadError;
        }
        if (!sink(buffer, static_cast<std::size_t>(got))) {
            why = "stopped";
            return TStatus::Aborted;
        }
    }
}

TStatus TFolderTransport::Write(const std::string& path, const TEntry& like, const TSource& source,
                                std::string& why) {
    TStatus status = TStatus::Ok;
    const TFd folder(OpenParent(path, status, why));
    if (folder.Fd < 0)
        return status == TStatus::NotFound ? TStatus::NotFound : TStatus::WriteError;
    TLocalAtomicFile file;
    struct stat old {};
    if (like.Mode != 0)
        file.SetMode(like.Mode, true);
    else if (::fstatat(folder.Fd, LastSegment(path).c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
             S_ISREG(old.st_mode))
        file.SetMode(old.st_mode, true);
    if (like.MTime != 0)
        file.SetTime(like.MTime);
    if (!file.OpenAt(folder.Fd, LastSegment(path), why))
        return TStatus::WriteError;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const std::ptrdiff_t got = source(buffer.data(), buffer.size());
        if (got < 0) {
            why = "stopped";
            return TStatus::Aborted;
        }
        if (got == 0)
            break;
        if (!file.Write(buffer.data(), static_cast<std::size_t>(got), why))
            return TStatus::WriteError;
    }
    return file.Commit(why) ? TStatus::Ok : TStatus::WriteError;
}

TStatus TFolderTransport::Remove(const std::string& path, std::string& why) {
    TStatus status = TStatus::Ok;
    const TFd folder(OpenParent(path, status, why));
    if (folder.Fd < 0)
        return status == TStatus::NotFound ? TStatus::NotFound : TStatus::WriteError;
    // Removes the name itself: a link goes, what it points at stays.
    if (::unlinkat(folder.Fd, LastSegment(path).c_str(), 0) != 0) {
        why = errno == EISDIR ? std::string("is a folder") : std::strerror(errno);
        return Missing(errno) ? TStatus::NotFound : TStatus::WriteError;
    }
    return TStatus::Ok;
}

TStatus TFolderTransport::MakeFolder(const std::string& path, std::string& why) {
    TStatus status = TStatus::Ok;
    const TFd folder(OpenParent(path, status, why));
    if (folder.Fd < 0)
        return status == TStatus::NotFound ? TStatus::NotFound : TStatus::WriteError;
    if (::mkdirat(folder.Fd, LastSegment(path).c_str(), 0777) != 0) {
        if (errno == EEXIST)
            return TStatus::Exists;
        return ChangeFailed(errno, why);
    }
    return TStatus::Ok;
}

TStatus TFolderTransport::RemoveFolder(const std::string& path, std::string& why) {
    TStatus status = TStatus::Ok;
    const TFd folder(OpenParent(path, status, why));
    if (folder.Fd < 0)
        return status == TStatus::NotFound ? TStatus::NotFound : TStatus::WriteError;
    const std::string name = LastSegment(path);
    struct stat st {};
    if (::fstatat(folder.Fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return ChangeFailed(errno, why);
    // A link goes as itself; a folder only when empty.
    const int flags = S_ISLNK(st.st_mode) ? 0 : AT_REMOVEDIR;
    if (::unlinkat(folder.Fd, name.c_str(), flags) != 0)
        return ChangeFailed(errno, why);
    return TStatus::Ok;
}

TStatus TFolderTransport::Rename(const std::string& from, const std::string& to, bool replace,
                                 std::string& why) {
    TStatus status = TStatus::Ok;
    const TFd source(OpenParent(from, status, why));
    if (source.Fd < 0)
        return status;
    const TFd target(OpenParent(to, status, why));
    if (target.Fd < 0)
        return status == TStatus::NotFound ? TStatus::NotFound : TStatus::WriteError;
    const std::string fromName = LastSegment(from);
    const std::string toName = LastSegment(to);
    struct stat there {};
    const bool exists = ::fstatat(target.Fd, toName.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && (!replace || S_ISDIR(there.st_mode))) {
        why = "something of that name is there";
        return TStatus::Exists;
    }
    int renamed = -1;
    if (!replace) {
        // Without replacing also when a file turns up meanwhile; a file system
        // that cannot promise that gets the plain rename checked above.
        renamed =
            ::renameat2(source.Fd, fromName.c_str(), target.Fd, toName.c_str(), RENAME_NOREPLACE);
        if (renamed != 0 && errno == EEXIST) {
            why = "something of that name is there";
            return TStatus::Exists;
        }
    }
    if (renamed != 0 && (replace || errno == EINVAL || errno == ENOSYS))
        renamed = ::renameat(source.Fd, fromName.c_str(), target.Fd, toName.c_str());
    if (renamed != 0)
        return ChangeFailed(errno, why);
    return TStatus::Ok;
}

TStatus TFolderTransport::SetTime(const std::string& path, int64_t mtime, std::string& why) {
    TStatus status = TStatus::Ok;
    const TFd folder(OpenParent(path, status, why));
    if (folder.Fd < 0)
        return status == TStatus::NotFound ? TStatus::NotFound : TStatus::WriteError;
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(mtime), 0}};
    if (::utimensat(folder.Fd, LastSegment(path).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return ChangeFailed(errno, why);
    return TStatus::Ok;
}

TStatus TFolderTransport::LinkTarget(const std::string& path, std::string& target,
                                     std::string& why) {
    if (!Ready(why))
        return TStatus::ReadError;
    const TFd opened(root_.OpenBeneath(path, O_PATH));
    if (opened.Fd < 0) {
        why = BeneathReason(errno);
        return Missing(errno) ? TStatus::NotFound : TStatus::ReadError;
    }
    // Where the descriptor ended up, by the kernel's own account.
    char local[PATH_MAX];
    const std::string self = "/proc/self/fd/" + std::to_string(opened.Fd);
    const ssize_t size = ::readlink(self.c_str(), local, sizeof local - 1);
    if (size <= 0) {
        why = "cannot tell where the link leads";
        return TStatus::ReadError;
    }
    const std::string real(local, static_cast<std::size_t>(size));
    const std::string& root = root_.LocalPath();
    if (real == root) {
        target = "/";
    } else if (root == "/" || real.rfind(root + "/", 0) == 0) {
        target = root == "/" ? real : real.substr(root.size());
    } else {
        why = BeneathReason(EXDEV);
        return TStatus::ReadError;
    }
    return TStatus::Ok;
}

} // namespace Tpot
