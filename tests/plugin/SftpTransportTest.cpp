// The SFTP transport against a real OpenSSH server on 127.0.0.1, driven
// through the plugin's entry-point logic, so that paths, the root prefix and
// the FS_FILE_* results are those a program sees.

#include "plugin/SftpTransport.h"
#include "PhoneSides.h"
#include "PluginCalls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <utility>

namespace {

namespace Fs = std::filesystem;

const std::string Lists = "/private/var/lib/apt/lists";
const std::vector<std::string> Listed = {"lock", "partial", "repo.example_Packages"};

// Run once by the progress procedure in the middle of a transfer.
std::function<void()> gDuring;

int OnProgress(int, char*, char*, int percent) {
    if (gDuring && percent > 0 && percent < 100)
        std::exchange(gDuring, nullptr)();
    return 0;
}

class SftpTransport : public ::testing::Test {
protected:
    void SetUp() override {
        gDuring = nullptr;
        const std::string why = side_.Start();
        if (!why.empty())
            GTEST_SKIP() << why;
        server_ = &side_.Server();
        WriteFile(phone_ + Lists + "/repo.example_Packages", "Package: one\n");
        WriteFile(phone_ + Lists + "/lock", "");
        Fs::create_directories(phone_ + Lists + "/partial");
    }

    // The plugin over SFTP, made by name, with the phone's root at the Phone folder.
    std::unique_ptr<Tpot::TPlugin> MakePlugin() { return side_.MakePlugin(""); }

    static bool Ready(Tpot::TPlugin& plugin) { return plugin.Init(0, OnProgress, nullptr) == 0; }
    std::vector<std::string> List(Tpot::TPlugin& plugin, const std::string& path) {
        return Ready(plugin) ? ListNames(plugin, path) : std::vector<std::string>{"<no link>"};
    }
    int Get(Tpot::TPlugin& plugin, const std::string& remote, const std::string& local) {
        return Ready(plugin) ? plugin.GetFile(remote.c_str(), local.c_str(), 1) : -1;
    }
    int Put(Tpot::TPlugin& plugin, const std::string& local, const std::string& remote) {
        return Ready(plugin) ? plugin.PutFile(local.c_str(), remote.c_str(), 1) : -1;
    }
    // Restarts the server with another SFTP server behind it.
    void Serve(const std::string& subsystem) {
        server_->Stop();
        server_->SetSftpSubsystem(subsystem);
        std::string why;
        ASSERT_TRUE(server_->Start(why)) << why;
    }

    TSftpSide side_;
    const TTestFolder& dir_ = side_.Dir();
    const std::string phone_ = side_.Root();
    const std::string knownHosts_ = side_.KnownHosts();
    TSshd* server_ = nullptr;
};

// A server without the atomic rename, the flush and the size limits (with
// them it is EveryTransport's case): the old file is moved aside and removed
// after, blocks stay small, and the last, short block still arrives.
TEST_F(SftpTransport, LargeFilesCrossWholeWithAPlainServer) {
    Serve("internal-sftp -P posix-rename,fsync,limits");
    const std::string remote = Lists + "/repo.example_Packages";
    const std::string bytes = RandomBytes(1024 * 1024 + 17, 7);
    WriteFile(dir_ / "new", bytes);
    auto plugin = MakePlugin();
    ASSERT_EQ(Put(*plugin, dir_ / "new", remote), FS_FILE_OK);
    EXPECT_TRUE(ReadFile(phone_ + remote) == bytes);
    EXPECT_EQ(NamesIn(phone_ + Lists), Listed); // and no temporary file
    ASSERT_EQ(Get(*plugin, remote, dir_ / "back"), FS_FILE_OK);
    EXPECT_TRUE(ReadFile(dir_ / "back") == bytes);
    WriteFile(phone_ + remote, "");
    ASSERT_EQ(Get(*plugin, remote, dir_ / "back"), FS_FILE_OK);
    EXPECT_EQ(ReadFile(dir_ / "back"), "");
}

TEST_F(SftpTransport, KeepsItsFootingWithAMisbehavingServer) {
    const std::string bytes = RandomBytes(300 * 1000 + 1, 5);
    WriteFile(phone_ + Lists + "/big", bytes);
    WriteFile(phone_ + Lists + "/small", "ten bytes!");
    const struct {
        const char* Mode;
        bool Listing; // else a get of "big"
        int Expected; // FS_FILE_* of the get, or the list's success
    } cases[] = {
        {"short", false, FS_FILE_OK}, // short blocks, answers out of order: all allowed
        {"oversized", false, FS_FILE_READERROR},
        {"hugepacket", false, FS_FILE_READERROR},
        {"endless", true, 0},
        {"emptynames", true, 0},
        {"noeof", false, FS_FILE_READERROR}, // "small" is 10 bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Mode);
        Serve(std::string(TPOT_FAKE_SFTP_SERVER) + " " + c.Mode);
        auto plugin = MakePlugin();
        Fs::remove(dir_ / "big");
        if (c.Listing) {
            EXPECT_NE(StderrOf([&] {
                          EXPECT_EQ(List(*plugin, Lists), std::vector<std::string>{"<invalid>"});
                      }),
                      "");
            continue;
        }
        const bool small = c.Mode == std::string("noeof");
        const std::string errors = StderrOf([&] {
            EXPECT_EQ(Get(*plugin, Lists + (small ? "/small" : "/big"), dir_ / "big"), c.Expected);
        });
        EXPECT_EQ(errors.empty(), c.Expected == FS_FILE_OK) << errors;
        if (c.Expected == FS_FILE_OK)
            EXPECT_TRUE(ReadFile(dir_ / "big") == bytes);
        else // (that no temporary file is left is AfcPlugin's: the local side is shared)
            EXPECT_FALSE(Fs::exists(dir_ / "big"));
    }
}

TEST_F(SftpTransport, APutCutByTheServerLeavesTheOldFile) {
    const std::string remote = Lists + "/repo.example_Packages";
    WriteFile(dir_ / "new", RandomBytes(3 * 1024 * 1024, 3));
    auto plugin = MakePlugin();
    gDuring = [&] { server_->Stop(); };
    EXPECT_EQ(Put(*plugin, dir_ / "new", remote), FS_FILE_WRITEERROR);
    EXPECT_EQ(ReadFile(phone_ + remote), "Package: one\n");
    // The broken link kept the partial copy; it goes with the next connection.
    std::string why;
    ASSERT_TRUE(server_->Start(why)) << why;
    EXPECT_EQ(List(*plugin, Lists), Listed);
    EXPECT_EQ(NamesIn(phone_ + Lists), Listed); // and no temporary file
}

TEST_F(SftpTransport, ReconnectsWhenTheServerWentAwayBetweenCalls) {
    auto plugin = MakePlugin();
    ASSERT_EQ(List(*plugin, Lists).size(), 3u);

    server_->Stop();
    EXPECT_NE(plugin->Init(0, nullptr, nullptr), 0);
    EXPECT_EQ(List(*plugin, Lists), std::vector<std::string>{"<no link>"});

    std::string why;
    ASSERT_TRUE(server_->Start(why)) << why;
    EXPECT_EQ(List(*plugin, Lists).size(), 3u);
    // Gone and back between two calls without a failed one in between.
    server_->Stop();
    ASSERT_TRUE(server_->Start(why)) << why;
    EXPECT_EQ(Get(*plugin, Lists + "/repo.example_Packages", dir_ / "got"), FS_FILE_OK);
    EXPECT_EQ(ReadFile(dir_ / "got"), "Package: one\n");
}

TEST_F(SftpTransport, RefusesAnUnknownOrChangedHostKey) {
    // A real key that is not the server's: the user's.
    std::istringstream pub(ReadFile(server_->UserKey() + ".pub"));
    std::string type, blob;
    pub >> type >> blob;
    const std::string otherServer = "[127.0.0.1]:1 " + type + " " + blob + "\n";
    const auto ExpectRefused = [&](Tpot::TPlugin& plugin, const char* reason) {
        const std::string said = StderrOf([&] { EXPECT_NE(plugin.Init(0, nullptr, nullptr), 0); });
        EXPECT_NE(said.find(reason), std::string::npos) << said;
        EXPECT_NE(said.find(server_->Fingerprint()), std::string::npos) << said;
    };
    for (const bool otherHostsOnly : {false, true}) { // else no known-hosts file at all
        SCOPED_TRACE(otherHostsOnly);
        Fs::remove(knownHosts_);
        if (otherHostsOnly)
            WriteFile(knownHosts_, otherServer);
        ExpectRefused(*MakePlugin(), "unknown");
    }

    // The server's key changes while the plugin is connected: the next
    // connection is refused, though the old link was trusted; the same holds
    // for a fresh plugin.
    WriteFile(knownHosts_, server_->KnownHostsLine());
    auto plugin = MakePlugin();
    ASSERT_EQ(List(*plugin, Lists).size(), 3u);
    server_->Stop();
    std::string why;
    ASSERT_TRUE(server_->NewHostKey(why) && server_->Start(why)) << why;
    ExpectRefused(*plugin, "not the one");
    ExpectRefused(*MakePlugin(), "not the one");
}

TEST_F(SftpTransport, LogsInOnlyWithAnAcceptedKey) {
    TTestFolder keys;
    std::string output;
    ASSERT_TRUE(RunCommand("ssh-keygen -q -t ed25519 -N '' -f " + keys / "other", output));
    ASSERT_TRUE(RunCommand("ssh-keygen -q -t ed25519 -N secret -f " + keys / "locked", output));
    for (const std::string& key : {keys / "other", keys / "locked", keys / "missing"}) {
        SCOPED_TRACE(key);
        Tpot::TSettings settings = side_.Settings();
        settings.Values["keyfile"] = key;
        Tpot::TSftpTransport transport(Tpot::TSftpSettings::From(settings));
        std::string why;
        EXPECT_FALSE(transport.Connect(why));
        EXPECT_NE(why.find("accepts none of our keys"), std::string::npos) << why;
    }
}

TEST(SftpSettings, ReadsTheKeysOfTheIni) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    const struct {
        std::map<std::string, std::string> Values;
        int Port;
        const char* User;
        const char* Problem; // part of it; "" = none
    } cases[] = {
        {{{"host", "phone.local"}}, 22, "root", ""},
        {{{"host", "127.0.0.1"}, {"port", "2222"}, {"user", "mobile"}}, 2222, "mobile", ""},
        {{}, 22, "root", "no Host"},
        {{{"host", "a b"}}, 22, "root", "not a host"},
        {{{"host", "mobile@phone"}}, 22, "root", "not a host"},
        {{{"host", "phone"}, {"port", "0"}}, 0, "root", "Port \"0\""},
        {{{"host", "phone"}, {"port", "65536"}}, 65536, "root", "Port"},
        {{{"host", "phone"}, {"port", "22x"}}, 0, "root", "Port"},
        {{{"host", "phone"}, {"keyfile", "id_rsa"}}, 22, "root", "KeyFile \"id_rsa\""},
        {{{"host", "phone"}, {"knownhosts", "hosts"}}, 22, "root", "KnownHosts"},
    };
    for (const auto& c : cases) {
        Tpot::TSettings settings;
        settings.Values = c.Values;
        const Tpot::TSftpSettings sftp = Tpot::TSftpSettings::From(settings);
        SCOPED_TRACE(sftp.Host);
        EXPECT_EQ(sftp.Port, c.Port);
        EXPECT_EQ(sftp.User, c.User);
        EXPECT_EQ(sftp.Problem.empty(), *c.Problem == '\0');
        EXPECT_NE(sftp.Problem.find(c.Problem), std::string::npos) << sftp.Problem;
    }
    // With a problem, the transport refuses to connect, naming it.
    Tpot::TSftpTransport transport(Tpot::TSftpSettings::From(Tpot::TSettings{}));
    std::string why;
    EXPECT_FALSE(transport.Connect(why));
    EXPECT_NE(why.find("no Host"), std::string::npos) << why;
    if (!home.empty()) {
        Tpot::TSettings settings;
        settings.Values = {{"host", "phone"}, {"keyfile", "~/.ssh/phone"}};
        EXPECT_EQ(Tpot::TSftpSettings::From(settings).KeyFile, home + "/.ssh/phone");
    }
}

} // namespace
