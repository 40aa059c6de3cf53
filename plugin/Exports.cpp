// The seven entry points of the file-system plugin interface. Everything else
// in this library is hidden; a version script keeps the export list exact.

#include "device/WfxApi.h"
#include "plugin/Plugin.h"
#include "plugin/Settings.h"
#include "plugin/TransportFactory.h"

#include <cstdio>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <string>

#define TPOT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// A file manager may call from more than one thread; the calls take turns.
std::mutex gLock;
std::unique_ptr<tpot::TPlugin> gPlugin;

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

// The plugin, set up from its settings file on the first call.
tpot::TPlugin& Plugin() {
    if (!gPlugin) {
        std::vector<std::string> warnings;
        const std::string folder = OwnFolder();
        const std::string path = (folder == "/" ? folder : folder + "/") + "T-Pot.ini";
        const tpot::TSettings settings = tpot::LoadSettings(path, warnings);
        auto transport = tpot::MakeTransport(settings, warnings);
        gPlugin = std::make_unique<tpot::TPlugin>(std::move(transport), settings.RootPrefix);
        for (const std::string& warning : warnings)
            gPlugin->Report(path + ": " + warning);
    }
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
