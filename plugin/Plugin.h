#pragma once

// What the entry points do, on top of one transport: checking the paths the
// caller gives, the root prefix, copy flags, the find records and handles,
// the FS_FILE_* results and the error lines.

#include "common/WfxApi.h"
#include "plugin/Transport.h"
#include "plugin/WfxExtra.h"

#include <memory>
#include <set>
#include <string>

namespace Tpot {

// Copy flags of the interface beyond FS_COPYFLAGS_OVERWRITE.
inline constexpr int CopyFlagResume = 2;
inline constexpr int CopyFlagMove = 4;

class TPlugin {
public:
    // RootPrefix: canonical phone path put before every path, "" for none.
    TPlugin(std::unique_ptr<TTransport> transport, std::string rootPrefix);
    TPlugin(const TPlugin&) = delete;
    TPlugin& operator=(const TPlugin&) = delete;
    ~TPlugin();

    int Init(int pluginNr, tProgressProc progress, tLogProc log);
    HANDLE FindFirst(const char* path, WIN32_FIND_DATAA* data);
    BOOL FindNext(HANDLE handle, WIN32_FIND_DATAA* data);
    int FindClose(HANDLE handle);
    int GetFile(const char* remoteName, const char* localName, int copyFlags);
    int PutFile(const char* localName, const char* remoteName, int copyFlags);
    BOOL DeleteFile(const char* remoteName);
    // The entry points a file manager uses beyond the program's seven.
    BOOL MakeFolder(const char* path);
    BOOL RemoveFolder(const char* remoteName);
    int RenameOrCopy(const char* oldName, const char* newName, bool move, bool overwrite);
    BOOL SetTime(const char* remoteName, const FILETIME* lastWrite);
    int Execute(char* remoteName, const char* verb);
    BOOL Disconnect();

    // Another transport (the settings changed); open listings stay as they are.
    void Replace(std::unique_ptr<TTransport> transport, std::string rootPrefix);

    // Writes "T-Pot: " + Text to stderr (and to the caller's log procedure when
    // it gave one), with control characters escaped.
    void Report(const std::string& text) const;

private:
    struct TFind;

    // The transport's path for the caller's phone path, or nothing (reported).
    bool PhonePath(const char* given, const char* operation, std::string& path) const;
    // Tells the caller's progress procedure; false when it asks to stop.
    bool Progress(const std::string& source, const std::string& target, int percent) const;
    // Copies the phone file From to the phone file To through a local
    // temporary file, To taking From's mode and time.
    int CopyWithin(const std::string& from, const std::string& to, const TEntry& source);

    std::unique_ptr<TTransport> transport_;
    std::string rootPrefix_;
    int pluginNr_ = 0;
    tProgressProc progressProc_ = nullptr;
    tLogProc logProc_ = nullptr;
    std::set<TFind*> openFinds_;
};

// Windows file time (100 ns ticks since 1601) of a Unix time; 0 for times
// before 1601.
FILETIME FileTimeFromUnix(int64_t seconds);
// The Unix time of a Windows file time, whole seconds.
int64_t UnixFromFileTime(const FILETIME& time);

// Fills a find record from an entry. False when the name does not fit the
// record or is not a plain file name: such an entry must not be shown.
bool FillFindData(const TEntry& entry, WIN32_FIND_DATAA& data);

} // namespace Tpot
