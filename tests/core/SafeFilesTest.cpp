#include "base/SafeFiles.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TestFiles::ReadBytes;
using TestFiles::WriteBytes;

class SafeFilesTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString Path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QByteArray Native(const char* name) const { return QFile::encodeName(Path(name)); }
    QStringList Entries() const { return TestFiles::Entries(dir.path()); }
    mode_t Mode(const char* name) const {
        struct stat st {};
        EXPECT_EQ(::lstat(Native(name).constData(), &st), 0) << name;
        return st.st_mode & 07777;
    }
};

// Writes beyond 64 bytes fail with EFBIG (not SIGXFSZ) while this lives.
class TSmallFileSizeLimit {
public:
    TSmallFileSizeLimit() : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit small = old_;
        small.rlim_cur = 64;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~TSmallFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, handler_);
    }

private:
    void (*handler_)(int);
    rlimit old_{};
};

TEST_F(SafeFilesTest, ReadTakesOnlyARegularFileWithinTheLimit) {
    ASSERT_TRUE(dir.isValid());
    const std::string bytes("x\0y\r\n", 5);
    WriteBytes(Path("plain"), QByteArray::fromStdString(bytes));
    WriteBytes(Path("large"), QByteArray(11, 'z'));
    ASSERT_EQ(::mkfifo(Native("fifo").constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    ASSERT_EQ(::symlink("plain", Native("link").constData()), 0);

    const struct {
        const char* Name;
        SafeFiles::TReadResult Result;
    } cases[] = {
        {"plain", SafeFiles::TReadResult::Ok},      {"fifo", SafeFiles::TReadResult::Failed},
        {"folder", SafeFiles::TReadResult::Failed}, {"link", SafeFiles::TReadResult::Failed},
        {"large", SafeFiles::TReadResult::Failed},  {"absent", SafeFiles::TReadResult::Missing},
    };
    for (const auto& c : cases) {
        // A longer buffer from an earlier read must not leave bytes behind.
        std::string out = "stale bytes from before";
        QString reason;
        EXPECT_EQ(SafeFiles::Read(Path(c.Name), 10, out, &reason), c.Result) << c.Name;
        EXPECT_EQ(out, c.Result == SafeFiles::TReadResult::Ok ? bytes : std::string()) << c.Name;
        EXPECT_EQ(reason.isEmpty(), c.Result == SafeFiles::TReadResult::Ok) << c.Name;
    }
}

TEST_F(SafeFilesTest, ReplaceKeepsTheOldModeGivesANewFile0644AndSwapsALinkForAFile) {
    WriteBytes(Path("private"), "old contents");
    ASSERT_EQ(::chmod(Native("private").constData(), 0600), 0);
    const mode_t oldMask = ::umask(077);
    const bool replaced = SafeFiles::ReplaceAtomically(Path("private"), std::string("n\0w", 3));
    const bool created = SafeFiles::ReplaceAtomically(Path("fresh"), "new");
    ::umask(oldMask);
    ASSERT_TRUE(replaced);
    ASSERT_TRUE(created);
    EXPECT_EQ(ReadBytes(Path("private")), QByteArray("n\0w", 3));
    EXPECT_EQ(Mode("private"), mode_t(0600));
    EXPECT_EQ(Mode("fresh"), mode_t(0644));
    EXPECT_EQ(Entries(), (QStringList{QStringLiteral("fresh"), QStringLiteral("private")}));

    // A link is swapped for a file; what it pointed at stays.
    WriteBytes(Path("elsewhere"), "untouched");
    ASSERT_EQ(::symlink("elsewhere", Native("target").constData()), 0);
    ASSERT_TRUE(SafeFiles::ReplaceAtomically(Path("target"), "fresh"));
    EXPECT_EQ(ReadBytes(Path("elsewhere")), QByteArray("untouched"));
    EXPECT_EQ(ReadBytes(Path("target")), QByteArray("fresh"));
    EXPECT_FALSE(QFileInfo(Path("target")).isSymLink());
}

// Each failure leaves the folder exactly as it was: the old file whole, no
// temporary file beside it.
TEST_F(SafeFilesTest, FailedReplaceLeavesTheOldFileAndNoTemporary) {
    const std::string big(200, 'x');
    const struct {
        const char* Name;
        const char* Target;
        std::function<bool(const QString&)> Replace;
    } cases[] = {
        {"write cut short", "kept",
         [&](const QString& p) {
             TSmallFileSizeLimit limit;
             return SafeFiles::ReplaceAtomically(p, big);
         }},
        {"streamed write cut short", "kept",
         [&](const QString& p) {
             TSmallFileSizeLimit limit;
             SafeFiles::TAtomicFile f(p);
             return f.Open() && f.Write(big.data(), 100) && f.Write(big.data(), 100) && f.Commit();
         }},
        {"folder in the way", "folder",
         [](const QString& p) { return SafeFiles::ReplaceAtomically(p, "data"); }},
        {"missing parent", "absent/file",
         [](const QString& p) { return SafeFiles::ReplaceAtomically(p, "data"); }},
    };
    WriteBytes(Path("kept"), "old");
    WriteBytes(Path("folder/inner"), "inside");
    const QStringList before = Entries();
    for (const auto& c : cases) {
        EXPECT_FALSE(c.Replace(Path(c.Target))) << c.Name;
        EXPECT_EQ(ReadBytes(Path("kept")), QByteArray("old")) << c.Name;
        EXPECT_EQ(ReadBytes(Path("folder/inner")), QByteArray("inside")) << c.Name;
        EXPECT_EQ(Entries(), before) << c.Name;
    }
    QString reason;
    EXPECT_FALSE(SafeFiles::ReplaceAtomically(Path("folder"), "data", &reason));
    EXPECT_FALSE(reason.isEmpty());
}

// The temporary file's name is cut for a long target; a cut inside a
// two-byte letter must not make a name the file cannot be renamed from.
TEST_F(SafeFilesTest, StreamedFileAppearsOnlyOnCommit) {
    for (const QString& name :
         {QStringLiteral("index"), QStringLiteral("a") + QString(127, QChar(u'я'))}) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir.filePath(name);
        WriteBytes(path, "old");
        {
            SafeFiles::TAtomicFile dropped(path);
            ASSERT_TRUE(dropped.Open());
            ASSERT_TRUE(dropped.Write("abandoned", 9));
            EXPECT_EQ(Entries().size(), 2);
        } // the destructor removes the temporary file
        EXPECT_EQ(Entries(), QStringList{name});

        SafeFiles::TAtomicFile file(path);
        ASSERT_TRUE(file.Open());
        ASSERT_TRUE(file.Write("new ", 4));
        ASSERT_TRUE(file.Write("bytes", 5));
        EXPECT_EQ(ReadBytes(path), QByteArray("old"));
        ASSERT_TRUE(file.Commit()) << file.ErrorString().toStdString();
        EXPECT_EQ(file.Written(), 9u);
        EXPECT_EQ(ReadBytes(path), QByteArray("new bytes"));
        EXPECT_EQ(Entries(), QStringList{name});
        ASSERT_TRUE(QFile::remove(path));
    }
}

// The one rule for names from outside, shared with the phone plugin.
TEST(SafeFileNames, OnlyPlainUtf8NamesWithoutControlsAreFileNames) {
    using FileNames::TNameFault;
    const struct {
        std::string_view Name;
        TNameFault Fault;
    } cases[] = {
        {"lists_repo_Packages", TNameFault::None},
        {".hidden", TNameFault::None},
        {"..x", TNameFault::None},
        {"name with blanks", TNameFault::None},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6.deb", TNameFault::None},
        {"\xef\xbf\xbf\xf4\x8f\xbf\xbf", TNameFault::None}, // U+FFFF, U+10FFFF
        {"", TNameFault::NotPlain},
        {".", TNameFault::NotPlain},
        {"..", TNameFault::NotPlain},
        {"a/b", TNameFault::NotPlain},
        {"/abs", TNameFault::NotPlain},
        {"a\\b", TNameFault::NotPlain},
        {std::string_view("a\0b", 3), TNameFault::NotPlain},
        {"a\tb", TNameFault::ControlCharacter},
        {"a\nb", TNameFault::ControlCharacter},
        {"\x1b[2J", TNameFault::ControlCharacter},
        {"a\x7f", TNameFault::ControlCharacter},
        {"caf\xe9.deb", TNameFault::NotUtf8},          // Latin-1
        {"\xc3", TNameFault::NotUtf8},                 // cut short
        {"\xc3(", TNameFault::NotUtf8},                // no continuation
        {"\x80", TNameFault::NotUtf8},                 // stray continuation
        {"\xc0\xaf", TNameFault::NotUtf8},             // overlong "/"
        {"\xe0\x80\xaf", TNameFault::NotUtf8},         // overlong "/"
        {"\xed\xa0\x80", TNameFault::NotUtf8},         // a surrogate
        {"\xf4\x90\x80\x80", TNameFault::NotUtf8},     // past U+10FFFF
        {"\xf8\x88\x80\x80\x80", TNameFault::NotUtf8}, // five bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileNames::NameFault(c.Name), c.Fault)
            << SafeFiles::PrintableName(c.Name).toStdString();
        EXPECT_EQ(SafeFiles::IsPlainFileName(c.Name), c.Fault != TNameFault::NotPlain);
        EXPECT_EQ(SafeFiles::UnsafeNameReason(c.Name).isEmpty(), c.Fault == TNameFault::None);
    }
}

} // namespace
