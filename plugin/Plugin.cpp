#include "plugin/Plugin.h"

#include "plugin/LocalFile.h"
#include "plugin/PhonePath.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Tpot {

namespace {

// The log procedure's message type for an error the user should see.
constexpr int LogImportantError = 6;

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t EpochGap = 11644473600;

std::string Escaped(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            out += code;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The most a file of the announced size may give: a file may grow while it is
// read (a log, an index being written), but not without end.
uint64_t ReadLimit(uint64_t announced) {
    constexpr uint64_t GrowthRoom = 1024 * 1024;
    const uint64_t room = GrowthRoom + announced / 16;
    return announced > UINT64_MAX - room ? UINT64_MAX : announced + room;
}

int Percent(uint64_t done, uint64_t total) {
    if (total == 0 || done >= total)
        return 100;
    return static_cast<int>(done * 100 / total);
}

} // namespace

struct TPlugin::TFind {
    std::vector<TEntry> Entries;
    std::size_t Next = 0;
};

FILETIME FileTimeFromUnix(int64_t seconds) {
    FILETIME time{0, 0};
    if (seconds < -EpochGap || seconds > (INT64_MAX / 10000000) - EpochGap)
        return time;
    const uint64_t ticks = static_cast<uint64_t>(seconds + EpochGap) * 10000000u;
    time.dwLowDateTime = static_cast<DWORD>(ticks & 0xffffffffu);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

int64_t UnixFromFileTime(const FILETIME& time) {
    const uint64_t ticks = (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000u) - EpochGap;
}

bool FillFindData(const TEntry& entry, WIN32_FIND_DATAA& data) {
    if (!IsPlainFileName(entry.Name) || entry.Name.size() >= sizeof data.cFileName)
        return false;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = entry.IsFolder ? FILE_ATTRIBUTE_DIRECTORY : 0;
    // A link to a folder is shown as a folder that a host enters through
    // FsExecuteFile and never walks into when it copies or deletes.
    if (entry.IsLink && entry.IsFolder)
        data.dwFileAttributes |= AttributeReparsePoint;
    if (entry.Mode != 0) {
        data.dwFileAttributes |= AttributeUnixMode;
        data.dwReserved0 = (entry.IsFolder ? S_IFDIR : S_IFREG) | (entry.Mode & 07777);
    }
    data.ftLastWriteTime = FileTimeFromUnix(entry.MTime);
    data.nFileSizeHigh = static_cast<DWORD>(entry.Size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(entry.Size & 0xffffffffu);
    std::memcpy(data.cFileName, entry.Name.data(), entry.Name.size());
    return true;
}

TPlugin::TPlugin(std::unique_ptr<TTransport> transport, std::string rootPrefix)
    : transport_(std::move(transport)), rootPrefix_(std::move(rootPrefix)) {}

void TPlugin::Replace(std::unique_ptr<TTransport> transport, std::string rootPrefix) {
    transport_ = std::move(transport);
    rootPrefix_ = std::move(rootPrefix);
}

TPlugin::~TPlugin() {
    for (TFind* find : openFinds_)
        delete find;
}

void TPlugin::Report(const std::string& text) const {
    std::string line = "T-Pot: " + Escaped(text);
    std::fprintf(stderr, "%s\n", line.c_str());
    if (logProc_)
        logProc_(pluginNr_, LogImportantError, line.data());
}

bool TPlugin::PhonePath(const char* given, const char* operation, std::string& path) const {
    const auto canonical = given ? NormalisePhonePath(given) : std::nullopt;
    if (!canonical) {
        Report(std::string(operation) + " " + (given ? given : "(none)") +
               ": refused, not a full phone path of plain names");
        return false;
    }
    path = JoinPhonePath(rootPrefix_, *canonical);
    return true;
}

bool TPlugin::Progress(const std::string& source, const std::string& target, int percent) const {
    if (!progressProc_)
        return true;
    std::string from = source;
    std::string to = target;
    return progressProc_(pluginNr_, from.data(), to.data(), percent) == 0;
}

int TPlugin::Init(int pluginNr, tProgressProc progress, tLogProc log) {
    pluginNr_ = pluginNr;
    progressProc_ = progress;
    logProc_ = log;
    std::string why;
    if (!transport_->Connect(why)) {
        Report("cannot reach the phone: " + why);
        return 1;
    }
    return 0;
}

HANDLE TPlugin::FindFirst(const char* path, WIN32_FIND_DATAA* data) {
    std::string phone;
    if (!data || !PhonePath(path, "list", phone))
        return INVALID_HANDLE_VALUE;
    std::vector<TEntry> listed;
    std::string why;
    if (const TStatus status = transport_->List(phone, listed, why); status != TStatus::Ok) {
        Report("list " + phone + ": " + why);
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_unique<TFind>();
    WIN32_FIND_DATAA probe;
    for (TEntry& entry : listed) {
        if (FillFindData(entry, probe))
            find->Entries.push_back(std::move(entry));
        else if (entry.Name != "." && entry.Name != "..")
            Report("list " + phone + ": entry \"" + entry.Name + "\" skipped, not a plain name");
    }
    if (find->Entries.empty())
        return INVALID_HANDLE_VALUE;
    FillFindData(find->Entries[0], *data);
    find->Next = 1;
    openFinds_.insert(find.get());
    return find.release();
}

BOOL TPlugin::FindNext(HANDLE handle, WIN32_FIND_DATAA* data) {
    const auto found = openFinds_.find(static_cast<TFind*>(handle));
    if (found == openFinds_.end() || !data)
        return 0;
    TFind& find = **found;
    if (find.Next >= find.Entries.size())
        return 0;
    FillFindData(find.Entries[find.Next++], *data);
    return 1;
}

int TPlugin::FindClose(HANDLE handle) {
    const auto found = openFinds_.find(static_cast<TFind*>(handle));
    if (found == openFinds_.end())
        return 0;
    delete *found;
    openFinds_.erase(found);
    return 0;
}

int TPlugin::GetFile(const char* remoteName, const char* localName, int copyFlags) {
    std::string phone;
    if (!PhonePath(remoteName, "get", phone))
        return FS_FILE_READERROR;
    if (copyFlags & CopyFlagResume)
        return FS_FILE_NOTSUPPORTED;
    if (!localName || !*localName) {
        Report("get " + phone + ": no local file name");
        return FS_FILE_WRITEERROR;
    }
    const std::string local = localName;
    struct stat st {};
    if (!(copyFlags & FS_COPYFLAGS_OVERWRITE) && ::lstat(local.c_str(), &st) == 0)
        return FS_FILE_EXISTS;

    std::string why;
    TEntry remote;
    if (const TStatus status = transport_->Stat(phone, remote, why); status != TStatus::Ok) {
        Report("get " + phone + ": " + why);
        return status == TStatus::NotFound ? FS_FILE_NOTFOUND : FS_FILE_READERROR;
    }
    if (remote.IsFolder) {
        Report("get " + phone + ": is a folder");
        return FS_FILE_READERROR;
    }
    TLocalAtomicFile file;
    // The phone file's permissions, never wider, less the umask; its time.
    if (remote.Mode != 0)
        file.SetMode(remote.Mode, false);
    if (remote.MTime != 0)
        file.SetTime(remote.MTime);
    if (!file.Open(local, why)) {
        Report("get " + phone + " to " + local + ": " + why);
        return FS_FILE_WRITEERROR;
    }
    if (!Progress(phone, local, 0))
        return FS_FILE_USERABORT;
    uint64_t done = 0;
    bool localFailed = false;
    bool userStopped = false;
    // The local side's reason apart: the transport only sees that the sink
    // stopped, and would say so over it.
    std::string localWhy;
    const TStatus status = transport_->Read(
        phone, ReadLimit(remote.Size),
        [&](const char* data, std::size_t size) {
            if (!file.Write(data, size, localWhy)) {
                localFailed = true;
                return false;
            }
            done += size;
            userStopped = !Progress(phone, local, Percent(done, remote.Size));
            return !userStopped;
        },
        why);
    if (status != TStatus::Ok) {
        if (userStopped)
            return FS_FILE_USERABORT;
        if (localFailed) {
            Report("get " + phone + " to " + local + ": " + localWhy);
            return FS_FILE_WRITEERROR;
        }
        Report("get " + phone + ": " + why);
        return status == TStatus::NotFound ? FS_FILE_NOTFOUND : FS_FILE_READERROR;
    }
    if (!file.Commit(why)) {
        Report("get " + phone + " to " + local + ": " + why);
        return FS_FILE_WRITEERROR;
    }
    Progress(phone, local, 100);
    if ((copyFlags & CopyFlagMove) && transport_->Remove(phone, why) != TStatus::Ok)
        Report("get " + phone + ": copied, but cannot remove it: " + why);
    return FS_FILE_OK;
}

int TPlugin::PutFile(const char* localName, const char* remoteName, int copyFlags) {
    std::string phone;
    if (!PhonePath(remoteName, "put", phone))
        return FS_FILE_WRITEERROR;
    if (copyFlags & CopyFlagResume)
        return FS_FILE_NOTSUPPORTED;
    const std::string local = localName ? localName : "";
    bool missing = false;
    std::string why;
    const int fd = OpenRegularFile(local, missing, why);
    if (fd < 0) {
        Report("put " + local + " to " + phone + ": " + why);
        return missing ? FS_FILE_NOTFOUND : FS_FILE_READERROR;
    }
    struct TFdCloser {
        int Fd;
        ~TFdCloser() { ::close(Fd); }
    } closer{fd};
    struct stat st {};
    ::fstat(fd, &st);
    const uint64_t total = static_cast<uint64_t>(st.st_size);
    TEntry like;
    like.Mode = st.st_mode & 0777;
    like.MTime = static_cast<int64_t>(st.st_mtime);

    TEntry existing;
    const TStatus there = transport_->Stat(phone, existing, why);
    if (there == TStatus::Ok && existing.IsFolder) {
        Report("put " + phone + ": a folder of that name is there");
        return FS_FILE_WRITEERROR;
    }
    if (there == TStatus::Ok && !(copyFlags & FS_COPYFLAGS_OVERWRITE))
        return FS_FILE_EXISTS;
    if (!Progress(local, phone, 0))
        return FS_FILE_USERABORT;

    uint64_t done = 0;
    bool localFailed = false;
    bool userStopped = false;
    std::string localWhy; // as for a get: the transport would say "stopped" over it
    const TStatus status = transport_->Write(
        phone, like,
        LocalBlocks(
            fd, [&] { return done == 0 || Progress(local, phone, Percent(done, total)); }, done,
            localFailed, userStopped, localWhy),
        why);
    if (status != TStatus::Ok) {
        if (userStopped)
            return FS_FILE_USERABORT;
        Report("put " + local + " to " + phone + ": " + (localFailed ? localWhy : why));
        return localFailed ? FS_FILE_READERROR : FS_FILE_WRITEERROR;
    }
    Progress(local, phone, 100);
    if ((copyFlags & CopyFlagMove) && ::unlink(local.c_str()) != 0)
        Report("put " + local + ": copied, but cannot remove it: " + std::strerror(errno));
    return FS_FILE_OK;
}

BOOL TPlugin::DeleteFile(const char* remoteName) {
    std::string phone;
    if (!PhonePath(remoteName, "delete", phone))
        return 0;
    std::string why;
    TEntry entry;
    TStatus status = transport_->Stat(phone, entry, why);
    if (status == TStatus::Ok && entry.IsFolder && !entry.IsLink) {
        Report("delete " + phone + ": is a folder");
        return 0;
    }
    if (status == TStatus::Ok)
        status = transport_->Remove(phone, why);
    if (status != TStatus::Ok) {
        Report("delete " + phone + ": " + why);
        return 0;
    }
    return 1;
}

} // namespace Tpot
