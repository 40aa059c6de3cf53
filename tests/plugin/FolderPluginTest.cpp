// The plugin file as a program meets it: copied into a working folder as
// "T-Pot.dll", loaded by its full path, its seven exports bound by name, with
// its own T-Pot.ini choosing the folder transport over a temporary phone root.

#include "PluginCalls.h"
#include "TestFolder.h"
#include "common/WfxApi.h"
#include "plugin/FolderTransport.h"
#include "plugin/Settings.h"
#include "plugin/WfxExtra.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string Lists = "/private/var/lib/apt/lists";

std::string gLogged; // the lines the plugin gave the host's log procedure
void OnLog(int, int, char* text) {
    gLogged += std::string(text) + "\n";
}

// The loaded plugin file's exports, bound by name at each call; they take
// writable strings, so each call gets copies.
class FolderPlugin : public ::testing::Test {
protected:
    void TearDown() override {
        if (library_)
            dlclose(library_);
    }

    // Puts the plugin into the working folder, with Ini as its settings file
    // (none when empty), and loads it.
    void Load(const std::string& ini) {
        if (!ini.empty())
            WriteFile(dir_ / "T-Pot.ini", ini);
        std::filesystem::copy_file(TPOT_PLUGIN_FILE, dir_ / "T-Pot.dll");
        library_ = dlopen((dir_ / "T-Pot.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
    }
    void LoadFolderTransport() { Load("[T-Pot]\nTransport=folder\nFolder=" + phone_ + "\n"); }

    template <typename T> T Bind(const char* name) {
        T entry = reinterpret_cast<T>(dlsym(library_, name));
        EXPECT_NE(entry, nullptr) << name;
        return entry;
    }

public:
    // The listing and "open" entry points as the shared calls use them.
    HANDLE FindFirst(std::string path, WIN32_FIND_DATAA* data) {
        return Bind<tFsFindFirst>("FsFindFirst")(path.data(), data);
    }
    BOOL FindNext(HANDLE handle, WIN32_FIND_DATAA* data) {
        return Bind<tFsFindNext>("FsFindNext")(handle, data);
    }
    int FindClose(HANDLE handle) { return Bind<tFsFindClose>("FsFindClose")(handle); }
    int Execute(char* path, std::string verb) {
        return Bind<int (*)(HANDLE, char*, char*)>("FsExecuteFile")(nullptr, path, verb.data());
    }

protected:
    int Init(tLogProc log = nullptr) {
        gLogged.clear();
        return Bind<tFsInit>("FsInit")(0, nullptr, log, nullptr);
    }
    std::vector<std::string> List(const std::string& path) { return ListNames(*this, path); }
    int Get(std::string remote, std::string local, int flags = 1) {
        RemoteInfoStruct info{};
        return Bind<tFsGetFile>("FsGetFile")(remote.data(), local.data(), flags, &info);
    }
    int Put(std::string local, std::string remote, int flags = 1) {
        return Bind<tFsPutFile>("FsPutFile")(local.data(), remote.data(), flags);
    }
    BOOL Delete(std::string remote) { return Bind<tFsDeleteFile>("FsDeleteFile")(remote.data()); }
    // The entry points a file manager uses beyond the program's seven.
    BOOL MakeFolder(std::string path) { return Bind<BOOL (*)(char*)>("FsMkDir")(path.data()); }
    BOOL RemoveFolder(std::string path) {
        return Bind<BOOL (*)(char*)>("FsRemoveDir")(path.data());
    }
    int Rename(std::string from, std::string to, bool move, bool overwrite) {
        using TRenMov = int (*)(char*, char*, BOOL, BOOL, RemoteInfoStruct*);
        return Bind<TRenMov>("FsRenMovFile")(from.data(), to.data(), move, overwrite, nullptr);
    }
    BOOL Touch(std::string path, int64_t seconds) {
        FILETIME time = FileTime(seconds);
        using TSetTime = BOOL (*)(char*, FILETIME*, FILETIME*, FILETIME*);
        return Bind<TSetTime>("FsSetTime")(path.data(), nullptr, nullptr, &time);
    }
    static bool Logged(const std::string& text) { return gLogged.find(text) != std::string::npos; }

    TTestFolder dir_;
    const std::string phone_ = dir_ / "phone";
    void* library_ = nullptr;
};

TEST_F(FolderPlugin, NothingOutsideThePhoneFolderIsReadWrittenOrDeleted) {
    WriteFile(dir_ / "outside.txt", "secret");
    WriteFile(phone_ + "/private/inside", "in");
    const std::string staged = dir_ / "staged";
    WriteFile(staged, "payload");
    ASSERT_EQ(::symlink(dir_.Path().c_str(), (phone_ + "/private/out").c_str()), 0);
    ASSERT_EQ(::symlink((dir_ / "outside.txt").c_str(), (phone_ + "/private/evil").c_str()), 0);
    LoadFolderTransport();

    testing::internal::CaptureStderr();
    // (Paths refused before any transport sees them are AfcPlugin's.)
    for (const std::string path : {"/private/out/outside.txt", "/private/out/x"}) {
        SCOPED_TRACE(path);
        const std::string fetched = dir_ / "fetched";
        EXPECT_EQ(Get(path, fetched), FS_FILE_READERROR);
        EXPECT_EQ(ReadFile(fetched), "<missing>");
        EXPECT_EQ(Put(staged, path), FS_FILE_WRITEERROR);
        EXPECT_FALSE(Delete(path));
    }
    EXPECT_EQ(List("/private/out"), std::vector<std::string>{"<invalid>"});
    // Leading outside, it is no folder to enter.
    std::string target;
    EXPECT_EQ(AttributesOf(*this, "/private", "out") & 0x410u, 0u);
    EXPECT_EQ(OpenPath(*this, "/private/out", target), -1);
    EXPECT_EQ(Get("/private/evil", dir_ / "fetched"), FS_FILE_READERROR);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("outside the phone folder"), std::string::npos) << errors;

    // Links that stay inside lead where they point, however they are written.
    ASSERT_EQ(::symlink("inside", (phone_ + "/private/relative").c_str()), 0);
    ASSERT_EQ(
        ::symlink((phone_ + "/private/inside").c_str(), (phone_ + "/private/absolute").c_str()), 0);
    ASSERT_EQ(::symlink("../private/./inside", (phone_ + "/private/up").c_str()), 0);
    ASSERT_EQ(::symlink("private", (phone_ + "/folder").c_str()), 0);
    ASSERT_EQ(::symlink("../../outside.txt", (phone_ + "/private/escape").c_str()), 0);
    for (const std::string path :
         {"/private/relative", "/private/absolute", "/private/up", "/folder/inside"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Get(path, dir_ / "fetched"), FS_FILE_OK);
        EXPECT_EQ(ReadFile(dir_ / "fetched"), "in");
    }
    EXPECT_EQ(Put(staged, "/folder/put"), FS_FILE_OK);
    EXPECT_EQ(ReadFile(phone_ + "/private/put"), "payload");
    EXPECT_NE(StderrOf([&] {
                  EXPECT_EQ(Get("/private/escape", dir_ / "escaped"), FS_FILE_READERROR);
              }).find("outside the phone folder"),
              std::string::npos);
    std::filesystem::remove(dir_ / "fetched");

    // A link is replaced or removed as itself; what it points at stays.
    EXPECT_EQ(Put(staged, "/private/evil"), FS_FILE_OK);
    EXPECT_EQ(ReadFile(phone_ + "/private/evil"), "payload");
    EXPECT_TRUE(Delete("/private/out"));
    EXPECT_EQ(ReadFile(dir_ / "outside.txt"), "secret");
    EXPECT_EQ(NamesIn(dir_.Path()), (std::vector<std::string>{"T-Pot.dll", "T-Pot.ini",
                                                              "outside.txt", "phone", "staged"}));
}

// Entries of the phone folder swapped with links to the computer's files while
// they are used: whatever the timing, nothing outside is read, made or removed.
TEST(FolderTransport, EntriesSwappedForLinksMeanwhileNeverLeadOutside) {
    TTestFolder dir;
    const std::string phone = dir / "phone";
    WriteFile(dir / "outside/secret", "secret");
    WriteFile(dir / "outside/victim", "victim");
    WriteFile(phone + "/swap", "inside");
    ASSERT_EQ(::mkdir((phone + "/folder").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((dir / "outside/secret").c_str(), (phone + "/swap.alt").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (phone + "/folder.alt").c_str()), 0);
    Tpot::TFolderTransport transport(phone);
    std::string why;
    ASSERT_TRUE(transport.Connect(why)) << why;

    std::atomic<bool> done{false};
    std::thread swapper([&] {
        while (!done.load()) {
            ::renameat2(AT_FDCWD, (phone + "/swap").c_str(), AT_FDCWD,
                        (phone + "/swap.alt").c_str(), RENAME_EXCHANGE);
            ::renameat2(AT_FDCWD, (phone + "/folder").c_str(), AT_FDCWD,
                        (phone + "/folder.alt").c_str(), RENAME_EXCHANGE);
        }
    });
    int read = 0;
    for (int i = 0; i < 4000; ++i) {
        std::string got;
        const auto sink = [&](const char* data, std::size_t size) {
            got.append(data, size);
            return true;
        };
        if (transport.Read("/swap", 100, sink, why) == Tpot::TStatus::Ok) {
            ++read;
            ASSERT_EQ(got, "inside");
        }
        transport.Remove("/folder/victim", why);
        if (i % 10 == 0)
            transport.Write(
                "/folder/made", Tpot::TEntry{},
                [](char*, std::size_t) -> std::ptrdiff_t { return 0; }, why);
    }
    done = true;
    swapper.join();
    EXPECT_GT(read, 0);
    EXPECT_EQ(NamesIn(dir / "outside"), (std::vector<std::string>{"secret", "victim"}));
    EXPECT_EQ(ReadFile(dir / "outside/victim"), "victim");
}

// Plain names and empty listings are the entry points' own, tested over USB.
TEST_F(FolderPlugin, PipesAreNotWaitedOn) {
    ASSERT_EQ(::mkdir(phone_.c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo((phone_ + "/pipe").c_str(), 0644), 0);
    LoadFolderTransport();
    StderrOf([&] {
        EXPECT_EQ(List("/"), std::vector<std::string>{"pipe"});
        EXPECT_EQ(Get("/pipe", dir_ / "pipe"), FS_FILE_READERROR);
    });
    EXPECT_EQ(ReadFile(dir_ / "pipe"), "<missing>");
}

TEST_F(FolderPlugin, WritesItsSettingsFileWithCommentedDefaultsBesideItselfWhenMissing) {
    Load("");
    EXPECT_EQ(ReadFile(dir_ / "T-Pot.ini"), "<missing>");
    // A refused path sets the plugin up without reaching for a phone.
    std::string refused = "relative";
    WIN32_FIND_DATAA data;
    StderrOf([&] { EXPECT_EQ(FindFirst(refused, &data), INVALID_HANDLE_VALUE); });
    EXPECT_EQ(ReadFile(dir_ / "T-Pot.ini"), Tpot::DefaultSettingsText);
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// Each export reaches the plugin's logic (whose answers the table for every
// transport checks), listings carry the Unix mode, and failures reach the
// host's log.
TEST_F(FolderPlugin, EveryExportIsBoundListsModesAndLogs) {
    WriteFile(phone_ + "/a", "first");
    ASSERT_EQ(::mkdir((phone_ + "/d").c_str(), 0755), 0);
    LoadFolderTransport();
    ASSERT_EQ(Init(OnLog), 0);
    char root[16] = {};
    Bind<void (*)(char*, int)>("FsGetDefRootName")(root, sizeof root);
    EXPECT_STREQ(root, "T-Pot");
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirst("/", &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    do { // the bit saying that dwReserved0 holds the mode
        const bool folder = data.cFileName == std::string("d");
        EXPECT_EQ(data.dwFileAttributes, (folder ? FILE_ATTRIBUTE_DIRECTORY : 0u) | 0x80000000u);
        EXPECT_EQ(data.dwReserved0 & 0170000u, folder ? 0040000u : 0100000u);
    } while (FindNext(handle, &data));
    FindClose(handle);
    EXPECT_EQ(Get("/a", dir_ / "a"), FS_FILE_OK);
    EXPECT_EQ(ReadFile(dir_ / "a"), "first");
    EXPECT_EQ(Put(dir_ / "a", "/a", 0), FS_FILE_EXISTS); // the flags reach it
    EXPECT_TRUE(MakeFolder("/new"));
    EXPECT_FALSE(MakeFolder("/new"));
    EXPECT_TRUE(Logged("make folder /new")) << gLogged;
    EXPECT_EQ(Rename("/a", "/new/a", true, false), FS_FILE_OK);
    EXPECT_FALSE(RemoveFolder("/new"));
    EXPECT_TRUE(Logged("remove folder /new"));
    EXPECT_TRUE(Touch("/new/a", 1200000000));
    EXPECT_EQ(StatOf(phone_ + "/new/a").st_mtime, 1200000000);
    EXPECT_FALSE(RemoveFolder("/"));
    EXPECT_TRUE(Bind<BOOL (*)(char*)>("FsDisconnect")(nullptr));
    EXPECT_TRUE(Delete("/new/a")); // the next call connects again
    EXPECT_TRUE(RemoveFolder("/new"));
    EXPECT_EQ(NamesIn(phone_), std::vector<std::string>{"d"});
}

// Times before 1970 and after 2038 cross whole, both ways (modes are
// DiskTransport's).
TEST_F(FolderPlugin, TimesOutsideThe32BitRangeCrossWhole) {
    WriteFile(phone_ + "/f", "phone file");
    LoadFolderTransport();
    for (const int64_t seconds : {int64_t{-315619200}, int64_t{4102444800}}) {
        ASSERT_TRUE(Touch("/f", seconds));
        EXPECT_EQ(StatOf(phone_ + "/f").st_mtime, seconds);
        EXPECT_EQ(Get("/f", dir_ / "got"), FS_FILE_OK);
        EXPECT_EQ(StatOf(dir_ / "got").st_mtime, seconds);
        EXPECT_EQ(Put(dir_ / "got", "/put"), FS_FILE_OK);
        EXPECT_EQ(StatOf(phone_ + "/put").st_mtime, seconds);
    }
}

TEST_F(FolderPlugin, SettingsAreReadAgainWhenChangedAndTheHostsFolderWins) {
    const std::string other = dir_ / "other";
    WriteFile(phone_ + "/in-phone", "");
    WriteFile(other + "/in-other", "");
    LoadFolderTransport();
    ASSERT_EQ(Init(OnLog), 0);
    EXPECT_EQ(List("/"), std::vector<std::string>{"in-phone"});
    WriteFile(dir_ / "T-Pot.ini", "[T-Pot]\nTransport=folder\nFolder=" + other + "\n");
    EXPECT_EQ(List("/"), std::vector<std::string>{"in-other"});
    WriteFile(other + "/var/jb/etc/x", "rootless");
    WriteFile(dir_ / "T-Pot.ini",
              "[T-Pot]\nTransport=folder\nRootPrefix=/var/jb\nFolder=" + other + "\n");
    EXPECT_EQ(List("/"), std::vector<std::string>{"etc"});
    EXPECT_EQ(Get("/etc/x", dir_ / "x"), FS_FILE_OK);
    EXPECT_EQ(ReadFile(dir_ / "x"), "rootless");
    // A folder that is not there: Init fails, naming it.
    WriteFile(dir_ / "T-Pot.ini", "[T-Pot]\nTransport=folder\nFolder=" + (dir_ / "absent") + "\n");
    EXPECT_NE(StderrOf([&] { EXPECT_NE(Init(), 0); }).find(dir_ / "absent"), std::string::npos);

    // The host's settings folder, with a T-Pot.ini of its own.
    const std::string host = dir_ / "host";
    WriteFile(host + "/T-Pot.ini", "[T-Pot]\nTransport=folder\nFolder=" + phone_ + "\n");
    Tpot::TDefaultParams params{};
    params.Size = sizeof params;
    std::snprintf(params.DefaultIniName, sizeof params.DefaultIniName, "%s/wfx.ini", host.c_str());
    Bind<void (*)(Tpot::TDefaultParams*)>("FsSetDefaultParams")(&params);
    EXPECT_EQ(List("/"), std::vector<std::string>{"in-phone"});
}

} // namespace
