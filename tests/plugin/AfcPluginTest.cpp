// The entry points' logic on the USB transport, against an in-memory phone.

#include "FakeAfc.h"
#include "PluginCalls.h"
#include "TestFolder.h"
#include "plugin/AfcTransport.h"
#include "plugin/Plugin.h"
#include "plugin/UsbAfc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const std::string Lists = "/private/var/lib/apt/lists";
const std::string Target = Lists + "/a_Packages";

using TSetup = std::function<void(TFakePhone&)>;

TSetup Fail(const std::string& wanted, afc_error_t error) {
    return [=](TFakePhone& p) {
        p.Fault = [=](const std::string& op, const std::string&) {
            return op == wanted ? error : AFC_E_SUCCESS;
        };
    };
}

std::unique_ptr<Tpot::TPlugin> MakePlugin(TFakePhone& phone) {
    return std::make_unique<Tpot::TPlugin>(
        std::make_unique<Tpot::TAfcTransport>(std::make_unique<TFakeConnector>(phone)), "");
}

class AfcPlugin : public ::testing::Test {
protected:
    void SetUp() override { phone_.AddFolder(Lists); }

    std::vector<std::string> CallsStartingWith(const std::string& op) const {
        std::vector<std::string> calls;
        std::copy_if(phone_.Calls.begin(), phone_.Calls.end(), std::back_inserter(calls),
                     [&](const std::string& call) { return call.rfind(op + " ", 0) == 0; });
        return calls;
    }

    TFakePhone phone_;
    TTestFolder work_;
    std::unique_ptr<Tpot::TPlugin> plugin_ = MakePlugin(phone_);
};

TEST_F(AfcPlugin, PutWritesWriteOnlyUnderATemporaryNameAndRenamesItOverTheTarget) {
    phone_.AddFile(Target, "old index");
    const std::string staged = work_ / "a_Packages";
    // More than one transfer chunk, and the phone takes fewer bytes than offered.
    phone_.WriteLimit = 1000;
    std::string content;
    for (int i = 0; i < 150000; ++i)
        content += static_cast<char>('a' + i % 26);
    WriteFile(staged, content);
    std::vector<std::string> targetWhileWriting;
    phone_.Fault = [&](const std::string& op, const std::string&) {
        if (op == "write")
            targetWhileWriting.push_back(phone_.DataOf(Target));
        return AFC_E_SUCCESS;
    };
    ASSERT_EQ(plugin_->Init(0, nullptr, nullptr), 0);

    EXPECT_EQ(plugin_->PutFile(staged.c_str(), Target.c_str(), FS_COPYFLAGS_OVERWRITE), FS_FILE_OK);

    const std::vector<std::string> opens = CallsStartingWith("open");
    ASSERT_EQ(opens.size(), 1u);
    const std::string mode = " " + std::to_string(AFC_FOPEN_WRONLY);
    ASSERT_EQ(opens[0].substr(opens[0].size() - mode.size()), mode) << opens[0];
    const std::string temp = opens[0].substr(5, opens[0].size() - 5 - mode.size());
    EXPECT_EQ(temp.rfind(Lists + "/.T-Pot-", 0), 0u) << temp;
    EXPECT_EQ(CallsStartingWith("rename"),
              std::vector<std::string>{"rename " + temp + " " + Target});
    EXPECT_EQ(phone_.Calls.back(), "rename " + temp + " " + Target);
    ASSERT_FALSE(targetWhileWriting.empty());
    for (const std::string& seen : targetWhileWriting) // never half-written
        EXPECT_EQ(seen, "old index");
    EXPECT_EQ(phone_.DataOf(Target), content);
    EXPECT_TRUE(phone_.NamesStartingWith(Lists, ".T-Pot-").empty());
}

// A failed copy or delete leaves the phone's file and the local one as they
// were, leaves no temporary file and says why.
TEST_F(AfcPlugin, FailedCallsLeaveTheFilesAsTheyWereAndSayWhy) {
    const struct {
        const char* Name;
        char Call; // Get, Put or Delete
        TSetup Setup;
        const char* Reason; // expected in the error line
    } cases[] = {
        {"put: open refused", 'P', Fail("open", AFC_E_PERM_DENIED), "permission denied"},
        {"put: write fails", 'P', Fail("write", AFC_E_NO_SPACE_LEFT), "no space left"},
        {"put: close fails", 'P', Fail("close", AFC_E_IO_ERROR), "input/output error on the phone"},
        {"put: rename fails", 'P', Fail("rename", AFC_E_PERM_DENIED), "permission denied"},
        {"put: phone takes no byte", 'P', [](TFakePhone& p) { p.WriteLimit = 0; },
         "could not write it (AFC error 5)"},
        {"get: open refused", 'G', Fail("open", AFC_E_PERM_DENIED), "permission denied"},
        {"get: read fails", 'G', Fail("read", AFC_E_READ_ERROR), "could not read it (AFC error 4)"},
        {"get: reads never end", 'G', [](TFakePhone& p) { p.ReadsPastTheEnd = 16 * 1024 * 1024; },
         "more than the size it gave"},
        {"delete refused", 'D', Fail("remove", AFC_E_PERM_DENIED), "permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TFakePhone phone;
        phone.AddFile(Target, "phone index");
        c.Setup(phone);
        TTestFolder work;
        const std::string local = work / "a_Packages";
        WriteFile(local, "local index");
        auto plugin = MakePlugin(phone);
        const std::string errors = StderrOf([&] {
            if (c.Call == 'P')
                EXPECT_EQ(plugin->PutFile(local.c_str(), Target.c_str(), 1), FS_FILE_WRITEERROR);
            else if (c.Call == 'G')
                EXPECT_EQ(plugin->GetFile(Target.c_str(), local.c_str(), 1), FS_FILE_READERROR);
            else
                EXPECT_FALSE(plugin->DeleteFile(Target.c_str()));
        });
        EXPECT_EQ(phone.DataOf(Target), "phone index");
        EXPECT_TRUE(phone.NamesStartingWith(Lists, ".T-Pot-").empty());
        EXPECT_EQ(ReadFile(local), "local index");
        EXPECT_EQ(NamesIn(work.Path()), std::vector<std::string>{"a_Packages"});
        EXPECT_NE(errors.find(Target), std::string::npos) << errors;
        EXPECT_NE(errors.find(c.Reason), std::string::npos) << errors;
    }
}

TEST_F(AfcPlugin, ListingGivesPlainNamesAndWholeSecondsOrTheInvalidHandle) {
    phone_.AddFile(Lists + "/a_Packages", "12345", 1700000000123456789ull);
    phone_.AddFolder(Lists + "/partial");
    phone_.ExtraNames[Lists] = {
        "", ".", "..", "../etc", "x\\y", std::string(300, 'n'), std::string(259, 'm'), "vanished"};
    phone_.AddFolder("/empty");
    phone_.ExtraNames["/hostile"] = {"a/b", ""};
    phone_.AddFolder("/hostile");
    phone_.AddFolder("/refused");
    phone_.Fault = [](const std::string& op, const std::string& path) {
        return op == "list" && path == "/refused" ? AFC_E_PERM_DENIED : AFC_E_SUCCESS;
    };

    // Kinds and sizes are EveryTransport's; "vanished" is listed, though its
    // details are gone.
    WIN32_FIND_DATAA first{};
    const std::string errors = StderrOf([&] {
        EXPECT_EQ(
            ListNames(*plugin_, Lists),
            (std::vector<std::string>{"a_Packages", std::string(259, 'm'), "partial", "vanished"}));
        plugin_->FindClose(plugin_->FindFirst(Lists.c_str(), &first));
        for (const char* path : {"/empty", "/hostile", "/missing", "/refused"})
            EXPECT_EQ(ListNames(*plugin_, path), std::vector<std::string>{"<invalid>"}) << path;
    });
    ASSERT_STREQ(first.cFileName, "a_Packages");
    const FILETIME seconds = FileTime(1700000000); // whole seconds
    EXPECT_EQ(first.ftLastWriteTime.dwLowDateTime, seconds.dwLowDateTime);
    EXPECT_EQ(first.ftLastWriteTime.dwHighDateTime, seconds.dwHighDateTime);
    for (const char* said :
         {"\"x\\y\" skipped", "\"../etc\" skipped", "list /refused: permission denied"})
        EXPECT_NE(errors.find(said), std::string::npos) << errors;
}

TEST(FindData, SplitsSizesAndConvertsTimes) {
    const struct {
        uint64_t Size;
        int64_t Time;
        DWORD High, Low, TimeHigh, TimeLow;
    } cases[] = {
        {0, 0, 0, 0, 0x019DB1DE, 0xD53E8000},
        {5, -11644473600, 0, 5, 0, 0},
        {0x100000005ull, -11644473601, 1, 5, 0, 0},
        {0xFFFFFFFFull, 1, 0, 0xFFFFFFFF, 0x019DB1DE, 0xD5D71680},
    };
    for (const auto& c : cases) {
        WIN32_FIND_DATAA data;
        ASSERT_TRUE(Tpot::FillFindData(Tpot::TEntry{"f", c.Size, c.Time, false}, data));
        EXPECT_EQ(data.nFileSizeHigh, c.High);
        EXPECT_EQ(data.nFileSizeLow, c.Low);
        EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, c.TimeHigh) << c.Time;
        EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, c.TimeLow) << c.Time;
    }
}

TEST_F(AfcPlugin, PathsThatCouldLeaveTheRootAreRefusedBeforeReachingThePhone) {
    const std::string staged = work_ / "staged";
    WriteFile(staged, "bytes");
    const std::string errors = StderrOf([&] {
        for (const char* path :
             {"/private/../etc/passwd", "private/x", "", "/a\\b/c", "/..", "/a/.."}) {
            SCOPED_TRACE(path);
            EXPECT_EQ(ListNames(*plugin_, path), std::vector<std::string>{"<invalid>"});
            EXPECT_EQ(plugin_->GetFile(path, staged.c_str(), 1), FS_FILE_READERROR);
            EXPECT_EQ(plugin_->PutFile(staged.c_str(), path, 1), FS_FILE_WRITEERROR);
            EXPECT_FALSE(plugin_->DeleteFile(path));
        }
        EXPECT_EQ(plugin_->FindFirst(nullptr, nullptr), INVALID_HANDLE_VALUE);
        EXPECT_EQ(plugin_->GetFile(nullptr, staged.c_str(), 1), FS_FILE_READERROR);
    });
    EXPECT_NE(errors.find("/private/../etc/passwd: refused"), std::string::npos);
    EXPECT_TRUE(phone_.Calls.empty());
    EXPECT_EQ(ReadFile(staged), "bytes");
}

TEST_F(AfcPlugin, InitConnectsOnceChecksCheaplyAndReconnectsAfterABreakOrAFailure) {
    ASSERT_EQ(plugin_->Init(0, nullptr, nullptr), 0);
    ASSERT_EQ(plugin_->Init(0, nullptr, nullptr), 0);
    EXPECT_EQ(phone_.Connects, 1);
    EXPECT_EQ(phone_.Calls, std::vector<std::string>{"info /"});

    // The cable was pulled: the check fails and a new connection is made.
    phone_.LinkBroken = true;
    phone_.Calls.clear();
    EXPECT_EQ(plugin_->Init(0, nullptr, nullptr), 0);
    EXPECT_EQ(phone_.Connects, 2);

    // A call that finds the link broken drops the connection, so the next
    // Init reconnects without first checking the dead one.
    EXPECT_NE(StderrOf([&] {
                  EXPECT_EQ(ListNames(*plugin_, Lists), std::vector<std::string>{"<invalid>"});
              }).find("connection to the phone broke"),
              std::string::npos);
    phone_.LinkBroken = false;
    phone_.Calls.clear();
    EXPECT_EQ(plugin_->Init(0, nullptr, nullptr), 0);
    EXPECT_EQ(phone_.Connects, 3);
    EXPECT_TRUE(phone_.Calls.empty());
    EXPECT_EQ(ListNames(*plugin_, "/private/var/lib/apt"), std::vector<std::string>{"lists"});

    // A phone that cannot be reached: non-zero with the reason, tried again each time.
    plugin_->Disconnect();
    const std::string reason = "the phone is not paired with this computer";
    phone_.ConnectFailure = reason;
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_NE(StderrOf([&] { EXPECT_NE(plugin_->Init(0, nullptr, nullptr), 0); }).find(reason),
                  std::string::npos);
    EXPECT_EQ(phone_.Connects, 5);
    phone_.ConnectFailure.clear();
    EXPECT_EQ(plugin_->Init(0, nullptr, nullptr), 0);
}

TEST_F(AfcPlugin, UnknownHandlesAreIgnored) {
    phone_.AddFile(Target, "x");
    WIN32_FIND_DATAA data;
    HANDLE handle = plugin_->FindFirst(Lists.c_str(), &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    int bogus = 0;
    EXPECT_EQ(plugin_->FindNext(&bogus, &data), 0);
    EXPECT_EQ(plugin_->FindClose(&bogus), 0);
    EXPECT_EQ(plugin_->FindNext(INVALID_HANDLE_VALUE, &data), 0);
    plugin_->FindClose(handle);
    EXPECT_EQ(plugin_->FindNext(handle, &data), 0);
    EXPECT_EQ(plugin_->FindClose(handle), 0);
}

// The USB link's first step against a usbmuxd that is not there or never answers.
TEST(UsbConnector, AnUnansweringOrMissingUsbmuxdGivesItsOwnReason) {
    TTestFolder dir;
    const std::string socketPath = dir / "usbmuxd";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    socketPath.copy(where.sun_path, sizeof where.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    ASSERT_EQ(::listen(listener, 4), 0); // takes connections, never answers
    const struct {
        std::string Address;
        const char* Reason;
    } cases[] = {
        {"UNIX:" + socketPath, "usbmuxd does not answer"},
        {"UNIX:" + (dir / "absent"), "usbmuxd is not running"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Address);
        ::setenv("USBMUXD_SOCKET_ADDRESS", c.Address.c_str(), 1);
        std::string why;
        EXPECT_EQ(Tpot::TUsbAfcConnector("").Connect(why), nullptr);
        EXPECT_NE(why.find(c.Reason), std::string::npos) << why;
    }
    ::unsetenv("USBMUXD_SOCKET_ADDRESS");
    ::close(listener);
}

} // namespace
