// The entry points a file manager uses beyond the program's seven: folders,
// renaming and copying within the phone, times, links, disconnecting.

#include "plugin/Plugin.h"

#include "plugin/LocalFile.h"
#include "plugin/PhonePath.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Tpot {

namespace {

// The most a file may grow while it is copied within the phone.
uint64_t CopyLimit(uint64_t size) {
    return size + size / 16 + 1024 * 1024;
}

// An unnamed local file that goes when it is closed.
int ScratchFile(std::string& why) {
    const char* folder = std::getenv("TMPDIR");
    const std::string where = folder && *folder == '/' ? folder : "/tmp";
    int fd = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string pattern = where + "/.T-Pot-XXXXXX";
        fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(pattern.c_str());
    }
    if (fd < 0)
        why = std::string("no room for a temporary copy: ") + std::strerror(errno);
    return fd;
}

const char* StatusText(TStatus status) {
    return status == TStatus::NotFound ? "not found" : "failed";
}

} // namespace

BOOL TPlugin::MakeFolder(const char* path) {
    std::string phone;
    if (!PhonePath(path, "make folder", phone))
        return 0;
    std::string why;
    if (const TStatus status = transport_->MakeFolder(phone, why); status != TStatus::Ok) {
        Report("make folder " + phone + ": " +
               (status == TStatus::Exists ? std::string("something of that name is there") : why));
        return 0;
    }
    return 1;
}

BOOL TPlugin::RemoveFolder(const char* remoteName) {
    std::string phone;
    if (!PhonePath(remoteName, "remove folder", phone))
        return 0;
    std::string why;
    if (phone == "/" || phone == rootPrefix_) {
        Report("remove folder " + phone + ": the root stays");
        return 0;
    }
    if (transport_->RemoveFolder(phone, why) != TStatus::Ok) {
        Report("remove folder " + phone + ": " + why);
        return 0;
    }
    return 1;
}

int TPlugin::RenameOrCopy(const char* oldName, const char* newName, bool move, bool overwrite) {
    std::string from;
    std::string to;
    const char* operation = move ? "rename" : "copy";
    if (!PhonePath(oldName, operation, from) || !PhonePath(newName, operation, to))
        return FS_FILE_WRITEERROR;
    if (from == to)
        return FS_FILE_OK;
    std::string why;
    TEntry source;
    if (const TStatus status = transport_->Stat(from, source, why); status != TStatus::Ok) {
        Report(std::string(operation) + " " + from + ": " + why);
        return status == TStatus::NotFound ? FS_FILE_NOTFOUND : FS_FILE_READERROR;
    }
    TEntry target;
    if (transport_->Stat(to, target, why) == TStatus::Ok && !overwrite)
        return FS_FILE_EXISTS;
    if (!move) {
        if (source.IsFolder) {
            Report("copy " + from + ": a folder is copied file by file");
            return FS_FILE_NOTSUPPORTED;
        }
        return CopyWithin(from, to, source);
    }
    const TStatus status = transport_->Rename(from, to, overwrite, why);
    if (status == TStatus::Exists)
        return FS_FILE_EXISTS;
    if (status != TStatus::Ok) {
        Report("rename " + from + " to " + to + ": " + why);
        return status == TStatus::NotFound ? FS_FILE_NOTFOUND : FS_FILE_WRITEERROR;
    }
    return FS_FILE_OK;
}

int TPlugin::CopyWithin(const std::string& from, const std::string& to, const TEntry& source) {
    std::string why;
    const int fd = ScratchFile(why);
    if (fd < 0) {
        Report("copy " + from + ": " + why);
        return FS_FILE_WRITEERROR;
    }
    struct TFdCloser {
        int Fd;
        ~TFdCloser() { ::close(Fd); }
    } closer{fd};
    bool localFailed = false;
    bool userStopped = false;
    uint64_t done = 0;
    const uint64_t total = source.Size * 2; // read, then written
    const auto percent = [&] { return total == 0 ? 0 : static_cast<int>(done * 100 / total); };
    TStatus status = transport_->Read(
        from, CopyLimit(source.Size),
        [&](const char* data, std::size_t size) {
            if (::write(fd, data, size) != static_cast<ssize_t>(size)) {
                localFailed = true;
                why = std::string("no room for a temporary copy: ") + std::strerror(errno);
                return false;
            }
            done += size;
            userStopped = !Progress(from, to, percent());
            return !userStopped;
        },
        why);
    if (status == TStatus::Ok) {
        ::lseek(fd, 0, SEEK_SET);
        status = transport_->Write(to, source,
                                   LocalBlocks(
                                       fd, [&] { return Progress(from, to, percent()); }, done,
                                       localFailed, userStopped, why),
                                   why);
    }
    if (userStopped)
        return FS_FILE_USERABORT;
    if (status != TStatus::Ok) {
        Report("copy " + from + " to " + to + ": " + why);
        return localFailed || status == TStatus::WriteError ? FS_FILE_WRITEERROR
                                                            : FS_FILE_READERROR;
    }
    Progress(from, to, 100);
    return FS_FILE_OK;
}

BOOL TPlugin::SetTime(const char* remoteName, const FILETIME* lastWrite) {
    std::string phone;
    if (!PhonePath(remoteName, "set time", phone))
        return 0;
    if (!lastWrite)
        return 1; // nothing asked that the phone keeps
    std::string why;
    const TStatus status = transport_->SetTime(phone, UnixFromFileTime(*lastWrite), why);
    if (status != TStatus::Ok) {
        Report("set time " + phone + ": " + (why.empty() ? StatusText(status) : why));
        return 0;
    }
    return 1;
}

int TPlugin::Execute(char* remoteName, const char* verb) {
    std::string phone;
    if (!verb || !PhonePath(remoteName, "open", phone))
        return ExecError;
    if (std::strcmp(verb, "open") != 0)
        return ExecError;
    std::string why;
    TEntry entry;
    if (transport_->Stat(phone, entry, why) != TStatus::Ok) {
        Report("open " + phone + ": " + why);
        return ExecError;
    }
    if (!(entry.IsLink && entry.IsFolder))
        return ExecYourself;
    std::string target;
    if (transport_->LinkTarget(phone, target, why) != TStatus::Ok) {
        Report("open " + phone + ": " + why);
        return ExecError;
    }
    // The host's path: the target without the root prefix, which must hold it.
    if (!rootPrefix_.empty()) {
        if (target == rootPrefix_)
            target = "/";
        else if (target.rfind(rootPrefix_ + "/", 0) == 0)
            target.erase(0, rootPrefix_.size());
        else {
            Report("open " + phone + ": the link leads outside " + rootPrefix_);
            return ExecError;
        }
    }
    if (target.size() >= MAX_PATH) {
        Report("open " + phone + ": the link's target is too long a path");
        return ExecError;
    }
    std::memcpy(remoteName, target.c_str(), target.size() + 1);
    return ExecSymlink;
}

BOOL TPlugin::Disconnect() {
    transport_->Disconnect();
    return 1;
}

} // namespace Tpot
