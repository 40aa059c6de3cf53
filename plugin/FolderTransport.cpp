#include "plugin/FolderTransport.h"

#include "plugin/LocalFile.h"
#include "plugin/PhonePath.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tpot {

namespace {

TEntry EntryFromStat(const std::string& name, const struct stat& st) {
    TEntry entry;
    entry.Name = name;
    entry.IsFolder = S_ISDIR(st.st_mode);
    entry.Size = entry.IsFolder ? 0 : static_cast<uint64_t>(st.st_size);
    entry.MTime = static_cast<int64_t>(st.st_mtime);
    return entry;
}

bool RealPath(const std::string& path, std::string& real, bool& missing, std::string& why) {
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) {
        missing = errno == ENOENT || errno == ENOTDIR;
        why = std::strerror(errno);
        return false;
    }
    real = buffer;
    return true;
}

} // namespace

TFolderTransport::TFolderTransport(std::string root) : Configured(std::move(root)) {}

bool TFolderTransport::Connect(std::string& why) {
    if (Configured.empty()) {
        why = "no Folder is set in T-Pot.ini for the folder transport";
        return false;
    }
    bool missing = false;
    std::string real;
    if (!RealPath(Configured, real, missing, why)) {
        why = "the folder " + Configured + " cannot be used: " + why;
        return false;
    }
    struct stat st {};
    if (::stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        why = Configured + " is not a folder";
        return false;
    }
    Root = real;
    return true;
}

bool TFolderTransport::Inside(const std::string& real) const {
    if (Root.empty())
        return false;
    if (Root == "/" || real == Root)
        return true;
    return real.size() > Root.size() && real.compare(0, Root.size(), Root) == 0 &&
           real[Root.size()] == '/';
}

TStatus TFolderTransport::Resolve(const std::string& path, std::string& local, std::string& why) {
    // A caller that never called Connect still gets its files.
    if (Root.empty() && !Connect(why))
        return TStatus::ReadError;
    bool missing = false;
    if (!RealPath(path == "/" ? Root : Root + path, local, missing, why))
        return missing ? TStatus::NotFound : TStatus::ReadError;
    if (!Inside(local)) {
        why = "a link leads outside the phone folder";
        return TStatus::ReadError;
    }
    return TStatus::Ok;
}

TStatus TFolderTransport::ResolveParent(const std::string& path, std::string& folder,
                                        std::string& name, std::string& why) {
    name = LastSegment(path);
    if (name.empty()) {
        why = "the root is not a file";
        return TStatus::WriteError;
    }
    return Resolve(ParentPath(path), folder, why);
}

TStatus TFolderTransport::List(const std::string& path, std::vector<TEntry>& entries,
                               std::string& why) {
    entries.clear();
    std::string local;
    if (const TStatus status = Resolve(path, local, why); status != TStatus::Ok)
        return status;
    DIR* folder = ::opendir(local.c_str());
    if (!folder) {
        why = std::strerror(errno);
        return errno == ENOENT ? TStatus::NotFound : TStatus::ReadError;
    }
    const int fd = ::dirfd(folder);
    while (const dirent* item = ::readdir(folder)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        // A link is described as itself: what it points at may lie outside.
        if (::fstatat(fd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            st = {};
        entries.push_back(EntryFromStat(name, st));
    }
    ::closedir(folder);
    return TStatus::Ok;
}

TStatus TFolderTransport::Stat(const std::string& path, TEntry& entry, std::string& why) {
    std::string local;
    if (path == "/") {
        const TStatus status = Resolve(path, local, why);
        entry = TEntry{"", 0, 0, true};
        return status;
    }
    std::string name;
    if (const TStatus status = ResolveParent(path, local, name, why); status != TStatus::Ok)
        return status == TStatus::WriteError ? TStatus::ReadError : status;
    struct stat st {};
    if (::lstat((local + "/" + name).c_str(), &st) != 0) {
        why = std::strerror(errno);
        return errno == ENOENT ? TStatus::NotFound : TStatus::ReadError;
    }
    entry = EntryFromStat(name, st);
    return TStatus::Ok;
}

TStatus TFolderTransport::Read(const std::string& path, uint64_t limit, const TSink& sink,
                               std::string& why) {
    std::string local;
    if (const TStatus status = Resolve(path, local, why); status != TStatus::Ok)
        return status;
    bool missing = false;
    const int fd = OpenRegularFile(local, missing, why);
    if (fd < 0)
        return missing ? TStatus::NotFound : TStatus::ReadError;
    char buffer[64 * 1024];
    TStatus status = TStatus::Ok;
    uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = std::strerror(errno);
            status = TStatus::ReadError;
            break;
        }
        if (got == 0)
            break;
        total += static_cast<uint64_t>(got);
        if (total > limit) {
            why = TooLongReason(limit);
            status = TStatus::ReadError;
            break;
        }
        if (!sink(buffer, static_cast<std::size_t>(got))) {
            why = "stopped";
            status = TStatus::Aborted;
            break;
        }
    }
    ::close(fd);
    return status;
}

TStatus TFolderTransport::Write(const std::string& path, const TSource& source, std::string& why) {
    std::string folder;
    std::string name;
    if (const TStatus status = ResolveParent(path, folder, name, why); status != TStatus::Ok)
        return status == TStatus::NotFound ? TStatus::NotFound : TStatus::WriteError;
    TLocalAtomicFile file;
    if (!file.Open(folder + "/" + name, why))
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
    std::string folder;
    std::string name;
    if (const TStatus status = ResolveParent(path, folder, name, why); status != TStatus::Ok)
        return status == TStatus::NotFound ? TStatus::NotFound : TStatus::WriteError;
    if (::unlink((folder + "/" + name).c_str()) != 0) {
        why = std::strerror(errno);
        return errno == ENOENT ? TStatus::NotFound : TStatus::WriteError;
    }
    return TStatus::Ok;
}

} // namespace tpot
