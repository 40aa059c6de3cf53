// The entry points' logic on each transport, one table of calls for all:
// the same calls must give the same answers and leave the same files, over
// USB (an in-memory phone), a folder and SFTP (a throw-away sshd).

#include "PhoneSides.h"
#include "PluginCalls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <sys/stat.h>

namespace {

const std::string Prefix = "/var/jb";
bool gStopCopies = false;

int StopWhenAsked(int, char*, char*, int percent) {
    return gStopCopies && percent > 0 && percent < 100 ? 1 : 0;
}

std::unique_ptr<TPhoneSide> MakeSide(const std::string& transport) {
    if (transport == "usb")
        return std::make_unique<TUsbSide>();
    if (transport == "folder")
        return std::make_unique<TFolderSide>();
    return std::make_unique<TSftpSide>();
}

class EveryTransport : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        gStopCopies = false;
        side_ = MakeSide(GetParam());
        const std::string why = side_->Start();
        if (!why.empty())
            GTEST_SKIP() << why;
    }

    // Runs one call ("verb arguments"; local files are names in the work
    // folder, or full paths) and gives its answer, with the text it leaves in Text.
    int Run(const std::string& call, std::string& text) {
        std::istringstream words(call);
        std::string verb, a, b, c;
        words >> verb >> a >> b >> c;
        Tpot::TPlugin& plugin = *plugin_;
        const std::string& name = verb == "put" ? a : b;
        const std::string local = name.starts_with('/') ? name : work_ / name;
        if (verb == "list") {
            const std::vector<std::string> names = ListNames(plugin, a);
            for (const std::string& name : names)
                text += (text.empty() ? "" : " ") + name;
            return static_cast<int>(names.size());
        }
        if (verb == "attr") { // without the bit saying that the mode is given; the size
            uint32_t size = 0;
            const DWORD attributes = AttributesOf(plugin, a, b, &size);
            text = std::to_string(size);
            return static_cast<int>(attributes & 0x7fffffffu);
        }
        if (verb == "open")
            return OpenPath(plugin, a, text);
        if (verb == "get") {
            const int answer = plugin.GetFile(a.c_str(), local.c_str(), std::stoi(c));
            text = ReadFile(local);
            return answer;
        }
        if (verb == "put")
            return plugin.PutFile(local.c_str(), b.c_str(), std::stoi(c));
        if (verb == "del")
            return plugin.DeleteFile(a.c_str());
        if (verb == "mkdir")
            return plugin.MakeFolder(a.c_str());
        if (verb == "rmdir")
            return plugin.RemoveFolder(a.c_str());
        if (verb == "mv" || verb == "cp") // a third word: overwrite
            return plugin.RenameOrCopy(a.c_str(), b.c_str(), verb == "mv", !c.empty());
        if (verb == "settime") {
            const FILETIME time = FileTime(std::stoll(b));
            return plugin.SetTime(a.c_str(), &time);
        }
        if (verb == "time")
            return static_cast<int>(side_->TimeOf(Prefix + a));
        if (verb == "ltime") {
            struct stat st {};
            return ::stat((work_ / a).c_str(), &st) == 0 ? static_cast<int>(st.st_mtime) : -1;
        }
        gStopCopies = verb == "stop";
        return 0;
    }

    std::unique_ptr<TPhoneSide> side_;
    std::unique_ptr<Tpot::TPlugin> plugin_;
    TTestFolder work_;
};

struct TStep {
    const char* Call;
    int Answer;
    const char* Text = nullptr; // the text the call leaves; nullptr: not checked
};

// Every call a program or a file manager makes, under a root prefix: the
// answers, the files on both sides after them, no temporary file left, and
// nothing written outside the prefix.
TEST_P(EveryTransport, CallsGiveTheSameAnswersAndLeaveTheSameFiles) {
    side_->AddFile(Prefix + "/d/a", "first", 1000000000);
    side_->AddFile(Prefix + "/d/b", "second", 1100000000);
    side_->AddFile(Prefix + "/d/sub/x", "x", 0);
    side_->AddLink(Prefix + "/lnk", "d");
    side_->AddLink(Prefix + "/flnk", "d/a");
    WriteFile(work_ / "l", "local");
    const std::string big = RandomBytes(4 * 1024 * 1024 + 17, 7);
    WriteFile(work_ / "big", big);
    plugin_ = side_->MakePlugin(Prefix);
    ASSERT_EQ(plugin_->Init(0, StopWhenAsked, nullptr), 0);

    const TStep steps[] = {
        {"list /", 3, "d flnk lnk"},
        {"list /d", 3, "a b sub"},
        {"list /none", 1, "<invalid>"},
        {"attr /d sub", FILE_ATTRIBUTE_DIRECTORY},
        {"attr /d a", 0},
        // A link to a folder is a folder marked as a link, entered by "open";
        // a link to a file is the file, which the host opens itself.
        {"attr / lnk", FILE_ATTRIBUTE_DIRECTORY | 0x400},
        {"attr / flnk", 0, "5"},
        {"open /lnk", -2, "/d"},
        {"open /flnk", -1},
        // Phone to computer: only over a file when told, whole or not at all.
        {"get /d/a l 0", FS_FILE_EXISTS, "local"},
        {"get /d/a l 1", FS_FILE_OK, "first"},
        {"ltime l", 1000000000},
        {"get /d/none n 1", FS_FILE_NOTFOUND, "<missing>"},
        {"get /d/sub n 1", FS_FILE_READERROR, "<missing>"},
        {"get /d/a none/n 1", FS_FILE_WRITEERROR},
        // Computer to phone, taking the local file's time.
        {"put l /d/b 0", FS_FILE_EXISTS},
        {"put l /d/b 1", FS_FILE_OK},
        {"time /d/b", 1000000000},
        {"put l /none/x 1", FS_FILE_WRITEERROR},
        {"put l /d/sub 1", FS_FILE_WRITEERROR},
        {"put none /d/c 1", FS_FILE_NOTFOUND},
        {"put l /d/c 2", FS_FILE_NOTSUPPORTED}, // resume
        // A local file that fails to read (here at once) says so, not "stopped".
        {"put /proc/self/mem /d/c 1", FS_FILE_READERROR},
        // Moves remove the source after a complete copy.
        {"put l /d/c 5", FS_FILE_OK},
        {"ltime l", -1},
        {"get /d/c l 5", FS_FILE_OK, "first"},
        {"time /d/c", -1},
        // Only files are deleted; a link goes as itself.
        {"del /d/none", 0},
        {"del /d/sub", 0},
        {"del /d/b", 1},
        {"del /flnk", 1},
        // Folders are made once and removed only when empty.
        {"mkdir /n", 1},
        {"mkdir /n", 0},
        {"mkdir /none/n", 0},
        {"rmdir /d/sub", 0},
        {"rmdir /d/sub/x", 0},
        {"rmdir /n", 1},
        // Renames replace a file only when told to; copies keep the time.
        {"mv /d/a /d/sub/x", FS_FILE_EXISTS},
        {"mv /d/a /d/sub/x !", FS_FILE_OK},
        {"mv /none /d/x", FS_FILE_NOTFOUND},
        {"mv /d/sub/x /../x !", FS_FILE_WRITEERROR},
        {"mv /d/sub /d/moved", FS_FILE_OK},
        {"cp /d/moved/x /d/copy", FS_FILE_OK},
        {"time /d/copy", 1000000000},
        {"cp /d/moved/x /d/copy", FS_FILE_EXISTS},
        {"settime /d/copy 1200000000", 1},
        {"time /d/copy", 1200000000},
        {"settime /none 0", 0},
        // A progress procedure asking to stop ends a copy without a trace.
        {"put big /d/big 1", FS_FILE_OK},
        {"stop", 0},
        {"get /d/big s 1", FS_FILE_USERABORT, "<missing>"},
        {"put big /d/copy 1", FS_FILE_USERABORT},
        {"go", 0},
        {"get /d/big s 1", FS_FILE_OK},
        // A link to a folder is removed as itself, never what it leads to.
        {"rmdir /lnk", 1},
    };
    const std::string errors = StderrOf([&] {
        for (const TStep& step : steps) {
            SCOPED_TRACE(step.Call);
            std::string text;
            EXPECT_EQ(Run(step.Call, text), step.Answer);
            if (step.Text) {
                EXPECT_EQ(text, step.Text);
            }
        }
    });
    // One line for each failed call, naming what and where.
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 17) << errors;
    for (const char* said : {"get ", "/var/jb/d/none: ", "make folder ", "remove folder ",
                             "set time ", "rename /../x: refused", ": Input/output error"})
        EXPECT_NE(errors.find(said), std::string::npos) << said;
    EXPECT_EQ(side_->Tree(), "var/ var/jb/ var/jb/d/ var/jb/d/big=<4194321 bytes> "
                             "var/jb/d/copy=first var/jb/d/moved/ var/jb/d/moved/x=first");
    EXPECT_EQ(NamesIn(work_.Path()), (std::vector<std::string>{"big", "l", "s"}));
    EXPECT_TRUE(ReadFile(work_ / "s") == big);
}

INSTANTIATE_TEST_SUITE_P(Plugin, EveryTransport, ::testing::Values("usb", "folder", "sftp"),
                         [](const auto& info) { return std::string(info.param); });

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Modes, where the phone side has them: a file fetched gets the phone file's
// bits less the umask, a file put exactly the local file's (a private file
// stays private), a copy within the phone keeps them.
using DiskTransport = EveryTransport;
TEST_P(DiskTransport, CopiesKeepModesNeverWiderUnderEachUmask) {
    const std::string root = static_cast<TDiskSide&>(*side_).Root();
    side_->AddFile("/f", "phone file", 0);
    plugin_ = side_->MakePlugin("");
    ASSERT_EQ(plugin_->Init(0, nullptr, nullptr), 0);
    std::string text;
    for (const mode_t mask : {mode_t{077}, mode_t{022}}) {
        const mode_t before = ::umask(mask);
        for (const mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0755}}) {
            SCOPED_TRACE(std::to_string(mask) + " " + std::to_string(mode));
            ::chmod((root + "/f").c_str(), mode);
            EXPECT_EQ(Run("get /f got 1", text), FS_FILE_OK);
            EXPECT_EQ(ModeOf(work_ / "got"), mode & ~mask);
            ::chmod((work_ / "got").c_str(), mode);
            EXPECT_EQ(Run("put got /put 1", text), FS_FILE_OK);
            EXPECT_EQ(ModeOf(root + "/put"), mode);
        }
        ::umask(before);
    }
    ::chmod((root + "/f").c_str(), 0640);
    EXPECT_EQ(Run("cp /f /copy", text), FS_FILE_OK);
    EXPECT_EQ(ModeOf(root + "/copy"), 0640u);
}

INSTANTIATE_TEST_SUITE_P(Plugin, DiskTransport, ::testing::Values("folder", "sftp"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
