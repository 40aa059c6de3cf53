// A phone plugin for the tests: the phone is a local folder ("root"), and the
// faults to inject are read at every FsInit from "TestPlugin.conf" beside the
// plugin file, one "key value" per line:
//
//   root <folder>        the folder standing for the phone's "/"
//   log <file>           every call is appended to this file, one line each
//   init fail            FsInit answers 1, logging "cannot reach"
//   refuse <folder>      FsFindFirst of this phone folder fails, logging
//                        "refused <folder>"
//   getfail <name>       FsGetFile of a file of this name fails, writing nothing
//   putfail <name>       FsPutFile to a file of this name fails, writing nothing
//   delrefuse <name>     FsDeleteFile of a file of this name fails
//                        (each of these three logs "<call> refused <path>")
//   inject <hex>         this name (hex bytes, may be 260 bytes or more) ends
//                        every listing
//   endless              listings never end
//   slowget <name>       FsGetFile of a file of this name reports progress until
//                        told to stop (then FS_FILE_USERABORT), at most 100 s
//
// Plain C++ on purpose: it is loaded like any outside plugin.
#include "common/WfxApi.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Keys without a value hold "" in their set.
struct TConfig {
    std::string Root;
    std::string Log;
    std::map<std::string, std::set<std::string>> Sets;
    std::vector<std::string> Injected;

    bool Has(const char* key, const std::string& value = {}) const {
        const auto found = Sets.find(key);
        return found != Sets.end() && found->second.count(value) != 0;
    }
};

TConfig config;
tProgressProc gProgress = nullptr;
tLogProc gLogProc = nullptr;

int anchor; // an object of this library, to find the library's file

std::string OwnFolder() {
    Dl_info info{};
    if (::dladdr(&anchor, &info) == 0 || !info.dli_fname)
        return ".";
    std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

void ReadConfig() {
    config = TConfig{};
    std::ifstream in(OwnFolder() + "/TestPlugin.conf");
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "root" || key == "log") {
            (key == "root" ? config.Root : config.Log) = value;
        } else if (key == "inject") {
            std::string name;
            for (std::size_t i = 0; i + 1 < value.size(); i += 2)
                name += static_cast<char>(std::stoi(value.substr(i, 2), nullptr, 16));
            config.Injected.push_back(name);
        } else {
            config.Sets[key].insert(value);
        }
    }
}

void Log(const std::string& line) {
    if (config.Log.empty())
        return;
    std::ofstream out(config.Log, std::ios::app);
    out << line << '\n';
}

// Tells the program of an error, as the interface's log procedure does.
void LogError(std::string text) {
    if (gLogProc)
        gLogProc(0, 6, text.data());
}

std::string LastName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool CopyFile(const std::string& from, const std::string& to) {
    std::error_code error;
    return std::filesystem::is_regular_file(from, error) &&
           std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing,
                                      error);
}

struct TSearch {
    std::vector<std::string> Names;
    std::size_t Next = 0;
};

void Fill(WIN32_FIND_DATAA* data, const std::string& name) {
    std::memset(data, 0, sizeof *data);
    // A name of 260 bytes or more fills the field with no NUL at its end.
    std::memcpy(data->cFileName, name.data(), std::min(name.size(), sizeof data->cFileName));
    data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
}

} // namespace

TEST_EXPORT int FsInit(int number, tProgressProc progress, tLogProc log, tRequestProc) {
    ReadConfig();
    gProgress = progress;
    gLogProc = log;
    Log("FsInit " + std::to_string(number) + (progress ? " progress" : " null"));
    if (config.Has("init", "fail"))
        LogError("cannot reach");
    return config.Has("init", "fail") ? 1 : 0;
}

TEST_EXPORT HANDLE FsFindFirst(char* path, WIN32_FIND_DATAA* data) {
    Log(std::string("FsFindFirst ") + path);
    if (config.Has("refuse", path)) {
        LogError(std::string("refused ") + path);
        return INVALID_HANDLE_VALUE;
    }
    DIR* dir = ::opendir((config.Root + path).c_str());
    if (!dir)
        return INVALID_HANDLE_VALUE;
    auto* search = new TSearch;
    while (const dirent* entry = ::readdir(dir))
        search->Names.push_back(entry->d_name);
    ::closedir(dir);
    std::sort(search->Names.begin(), search->Names.end());
    search->Names.insert(search->Names.end(), config.Injected.begin(), config.Injected.end());
    Fill(data, search->Names[search->Next++]);
    return search;
}

TEST_EXPORT BOOL FsFindNext(HANDLE handle, WIN32_FIND_DATAA* data) {
    auto* search = static_cast<TSearch*>(handle);
    if (config.Has("endless")) {
        Fill(data, "again.deb");
        return 1;
    }
    if (search->Next >= search->Names.size())
        return 0;
    Fill(data, search->Names[search->Next++]);
    return 1;
}

TEST_EXPORT int FsFindClose(HANDLE handle) {
    Log("FsFindClose");
    delete static_cast<TSearch*>(handle);
    return 0;
}

TEST_EXPORT int FsGetFile(char* remote, char* local, int flags, RemoteInfoStruct*) {
    Log(std::string("FsGetFile ") + remote + " " + local + " " + std::to_string(flags));
    if (config.Has("getfail", LastName(remote))) {
        LogError(std::string("get refused ") + remote);
        return FS_FILE_READERROR;
    }
    if (config.Has("slowget", LastName(remote))) {
        for (int i = 0; i < 100000; ++i) {
            if (gProgress && gProgress(0, remote, local, i % 100) != 0) {
                Log("stopped");
                return FS_FILE_USERABORT;
            }
            ::usleep(1000);
        }
    }
    return CopyFile(config.Root + remote, local) ? FS_FILE_OK : FS_FILE_NOTFOUND;
}

TEST_EXPORT int FsPutFile(char* local, char* remote, int flags) {
    Log(std::string("FsPutFile ") + local + " " + remote + " " + std::to_string(flags));
    if (config.Has("putfail", LastName(remote))) {
        LogError(std::string("put refused ") + remote);
        return FS_FILE_WRITEERROR;
    }
    return CopyFile(local, config.Root + remote) ? FS_FILE_OK : FS_FILE_NOTFOUND;
}

#ifndef TEST_PLUGIN_WITHOUT_DELETE
TEST_EXPORT BOOL FsDeleteFile(char* remote) {
    Log(std::string("FsDeleteFile ") + remote);
    if (config.Has("delrefuse", LastName(remote))) {
        LogError(std::string("delete refused ") + remote);
        return 0;
    }
    return ::unlink((config.Root + remote).c_str()) == 0;
}
#endif
