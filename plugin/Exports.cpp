// The entry points of the file-system plugin interface: the seven the program
// binds, and the optional ones a file manager uses. Everything else in this
// library is hidden; a version script keeps the export list exact.

#include "common/WfxApi.h"
#include "plugin/Plugin.h"
#include "plugin/Settings.h"
#include "plugin/TransportFactory.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>

#define TPOT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// A file manager may call from more than one thread; the calls take turns.
std::mutex gLock;
std::unique_ptr<Tpot::TPlugin> gPlugin;

// The folder of this library file, where its settings file lives.
std::string OwnFolder() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&OwnFolder), &info) || !info.dli_fname)
        return ".";
    const std::string file = info.dli_fname;
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

// The host's settings folder, when it told us (FsSetDefaultParams).
std::string gHostFolder;
// The settings file the plugin was last set up from, and how it was then.
std::string gSettingsPath;
struct stat gSettingsSeen {};
bool gSettingsThere = false;

std::string InFolder(const std::string& folder, const char* name) {
    return (folder == "/" ? folder : folder + "/") + name;
}

// The settings file: the host's, when it has one, else the one beside the
// plugin; a host folder without one gets it only when there is none beside us.
std::string SettingsPath() {
    const std::string beside = InFolder(OwnFolder(), "T-Pot.ini");
    if (gHostFolder.empty())
        return beside;
    const std::string host = InFolder(gHostFolder, "T-Pot.ini");
    struct stat st {};
    if (::stat(host.c_str(), &st) == 0 || ::stat(beside.c_str(), &st) != 0)
        return host;
    return beside;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The plugin, set up from its settings file on the first call and again
// whenever that file changed since the last call.
Tpot::TPlugin& Plugin() {
    const std::string path = SettingsPath();
    struct stat st {};
    const bool there = ::stat(path.c_str(), &st) == 0;
    if (gPlugin && path == gSettingsPath && there == gSettingsThere &&
        (!there || SameFile(st, gSettingsSeen)))
        return *gPlugin;
    std::vector<std::string> warnings;
    const Tpot::TSettings settings = Tpot::LoadSettings(path, warnings);
    auto transport = Tpot::MakeTransport(settings, warnings);
    if (gPlugin)
        gPlugin->Replace(std::move(transport), settings.RootPrefix);
    else
        gPlugin = std::make_unique<Tpot::TPlugin>(std::move(transport), settings.RootPrefix);
    // As it is now, after a missing file was written with the defaults.
    gSettingsPath = path;
    gSettingsThere = ::stat(path.c_str(), &gSettingsSeen) == 0;
    for (const std::string& warning : warnings)
        gPlugin->Report(path + ": " + warning);
    return *gPlugin;
}

} // namespace

TPOT_EXPORT int FsInit(int PluginNr, tProgressProc pProgressProc, tLogProc pLogProc, tRequestProc) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().Init(PluginNr, pProgressProc, pLogProc);
}

TPOT_EXPORT HANDLE FsFindFirst(char* Path, WIN32_FIND_DATAA* FindData) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().FindFirst(Path, FindData);
}

TPOT_EXPORT BOOL FsFindNext(HANDLE Hdl, WIN32_FIND_DATAA* FindData) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().FindNext(Hdl, FindData);
}

TPOT_EXPORT int FsFindClose(HANDLE Hdl) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().FindClose(Hdl);
}

TPOT_EXPORT int FsGetFile(char* RemoteName, char* LocalName, int CopyFlags, RemoteInfoStruct*) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().GetFile(RemoteName, LocalName, CopyFlags);
}

TPOT_EXPORT int FsPutFile(char* LocalName, char* RemoteName, int CopyFlags) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().PutFile(LocalName, RemoteName, CopyFlags);
}

TPOT_EXPORT BOOL FsDeleteFile(char* RemoteName) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().DeleteFile(RemoteName);
}

TPOT_EXPORT BOOL FsMkDir(char* Path) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().MakeFolder(Path);
}

TPOT_EXPORT BOOL FsRemoveDir(char* RemoteName) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().RemoveFolder(RemoteName);
}

TPOT_EXPORT int FsRenMovFile(char* OldName, char* NewName, BOOL Move, BOOL OverWrite,
                             RemoteInfoStruct*) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().RenameOrCopy(OldName, NewName, Move != 0, OverWrite != 0);
}

TPOT_EXPORT BOOL FsSetTime(char* RemoteName, FILETIME*, FILETIME*, FILETIME* LastWriteTime) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().SetTime(RemoteName, LastWriteTime);
}

TPOT_EXPORT int FsExecuteFile(HANDLE, char* RemoteName, char* Verb) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().Execute(RemoteName, Verb);
}

TPOT_EXPORT BOOL FsDisconnect(char*) {
    std::lock_guard<std::mutex> lock(gLock);
    return Plugin().Disconnect();
}

TPOT_EXPORT void FsGetDefRootName(char* DefRootName, int maxlen) {
    static const char RootName[] = "T-Pot";
    if (DefRootName && maxlen > 0)
        std::snprintf(DefRootName, static_cast<std::size_t>(maxlen), "%s", RootName);
}

TPOT_EXPORT void FsSetDefaultParams(Tpot::TDefaultParams* dps) {
    std::lock_guard<std::mutex> lock(gLock);
    if (!dps || dps->Size < static_cast<int32_t>(sizeof(Tpot::TDefaultParams)))
        return;
    const std::string ini(dps->DefaultIniName, ::strnlen(dps->DefaultIniName, MAX_PATH));
    const std::size_t slash = ini.rfind('/');
    if (slash != std::string::npos && ini.front() == '/')
        gHostFolder = slash == 0 ? "/" : ini.substr(0, slash);
}
