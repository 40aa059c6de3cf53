#include "base/WorkFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/Files.h"

namespace {

// PrepareWorkFolders changes the process's current directory; put it back so
// later tests are not affected.
class WorkFoldersTest : public ::testing::Test {
protected:
    void TearDown() override { QDir::setCurrent(saved_); }
    static void Touch(const QString& path) { TestFiles::WriteBytes(path, "x"); }
    QString saved_ = QDir::currentPath();
    QTemporaryDir tmp_;
};

TEST_F(WorkFoldersTest, CreatesFoldersAndRemovesOnlyTheProgramsScratchNames) {
    const QString work = tmp_.path() + QStringLiteral("/");
    const QString outside = tmp_.path() + QStringLiteral("-outside/");
    const QTemporaryDir outsideDir(outside.chopped(1));
    Touch(outside + QStringLiteral("precious"));
    for (const char* sub : {"lists", "proc", "archives"})
        ASSERT_TRUE(QDir(work).mkpath(QLatin1String(sub)));
    // What a killed run leaves, and look-alikes the program never makes.
    const struct {
        const char* path;
        bool removed;
    } files[] = {
        {"download.txt", true},
        {"download.bz2", true},
        {"download.txt.gz", true},
        {"download.txt.bz2", true},
        {"download.txt.xz", true},
        {"download.txt.zst", true},
        {"download.deb", true},
        {"download.list", true},
        {"download.arch", true},
        {".T-Pot-a1B2c3", true},
        {".download.txt.gz.Xy12Ab", true},
        {".download.deb.000000", true},
        {".orvia.ini.AbCdEf", true},
        {".T-Pot.dll.q1w2e3", true},
        {"proc/.cache.txt.AbCdEf", true},
        {"proc/.a_Packages.a1b2c3", true},
        {"lists/.b_packages.zzzzzz", true},
        {"archives/.foo.deb.AbC123", true},
        {"download.txt.keep", false},
        {"Download.txt", false},
        {"download.deb~", false},
        {".T-Pot-1", false},
        {".T-Pot-abcdefg", false},
        {".T-Pot-abc-ef", false},
        {".orvia.ini.bak", false},
        {".bashrc.backup", false},
        {".other.ini.AbCdEf", false},
        {".unpack-abc", false},
        {"orvia.ini", false},
        {"T-Pot.dll", false},
        {"T-Pot.ini", false},
        {"Packages", false},
        {"x_Packages", false},
        {"proc/cache.txt", false},
        {"proc/a_Packages", false},
        {"proc/.notes.txt.abcdef", false},
        {"lists/.download.txt.AbCdEf", false},
        {"archives/foo.deb", false},
        {"archives/..foo.abcdef", false},
        {"archives/.hidden", false},
    };
    for (const auto& f : files)
        Touch(work + QLatin1String(f.path));
    // An unpacking folder with a link out of it and a folder inside.
    ASSERT_TRUE(QDir(work).mkpath(QStringLiteral(".unpack-Qw3rTy/deeper")));
    Touch(work + QStringLiteral(".unpack-Qw3rTy/download.txt"));
    Touch(work + QStringLiteral(".unpack-Qw3rTy/deeper/Packages"));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("precious"),
                            work + QStringLiteral(".unpack-Qw3rTy/link")));
    // Links in place of scratch names go as links; a folder named like a
    // scratch file is not ours to empty.
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("precious"),
                            work + QStringLiteral(".download.txt.abcdef")));
    ASSERT_TRUE(QFile::link(outside.chopped(1), work + QStringLiteral(".unpack-Linked")));
    ASSERT_TRUE(QDir(work).mkpath(QStringLiteral(".orvia.ini.folder")));

    TWorkFolders folders;
    QString error;
    ASSERT_TRUE(
        Startup::PrepareWorkFolders(tmp_.path(), folders, error, QStringLiteral("orvia.ini")))
        << error.toStdString();

    EXPECT_EQ(folders.WorkDir, work);
    EXPECT_EQ(folders.ListsDir, work + QStringLiteral("lists/"));
    EXPECT_EQ(folders.ProcDir, work + QStringLiteral("proc/"));
    EXPECT_EQ(folders.ArchivesDir, work + QStringLiteral("archives/"));
    EXPECT_EQ(QDir::currentPath() + QStringLiteral("/"), QFileInfo(work).canonicalFilePath() + "/");

    for (const auto& f : files)
        EXPECT_EQ(QFileInfo(work + QLatin1String(f.path)).isFile(), !f.removed) << f.path;
    for (const char* gone : {".unpack-Qw3rTy", ".download.txt.abcdef", ".unpack-Linked"})
        EXPECT_FALSE(QFileInfo(work + QLatin1String(gone)).exists() ||
                     QFileInfo(work + QLatin1String(gone)).isSymLink())
            << gone;
    EXPECT_TRUE(QFileInfo(work + QStringLiteral(".orvia.ini.folder")).isDir());
    EXPECT_EQ(TestFiles::ReadBytes(outside + QStringLiteral("precious")), QByteArray("x"));
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("precious")));
}

TEST_F(WorkFoldersTest, ExistingFoldersAndTheirContentStay) {
    QDir(tmp_.path()).mkpath(QStringLiteral("proc"));
    Touch(tmp_.path() + QStringLiteral("/proc/repo.example.org_Packages"));
    TWorkFolders folders;
    QString error;
    ASSERT_TRUE(Startup::PrepareWorkFolders(tmp_.path(), folders, error));
    EXPECT_TRUE(QFile::exists(folders.ProcDir + QStringLiteral("repo.example.org_Packages")));
}

TEST_F(WorkFoldersTest, AFolderThatCannotBeCreatedIsReportedWithTheSystemError) {
    // A regular file where a folder must go makes the creation fail even for root.
    Touch(tmp_.path() + QStringLiteral("/proc"));
    TWorkFolders folders;
    QString error;
    EXPECT_FALSE(Startup::PrepareWorkFolders(tmp_.path(), folders, error));
    EXPECT_TRUE(error.contains(QStringLiteral("proc"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("File exists"))) << error.toStdString();
    // "lists" comes first and was made before the failure.
    EXPECT_TRUE(QFileInfo(tmp_.path() + QStringLiteral("/lists")).isDir());
    EXPECT_FALSE(QFileInfo(tmp_.path() + QStringLiteral("/archives")).exists());
}

TEST_F(WorkFoldersTest, AMissingWorkFolderIsReported) {
    TWorkFolders folders;
    QString error;
    EXPECT_FALSE(
        Startup::PrepareWorkFolders(tmp_.path() + QStringLiteral("/gone"), folders, error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(TWorkFolders, FolderOfProgramFile) {
    EXPECT_EQ(Startup::FolderOf(QStringLiteral("/opt/orvia/orvia")), QStringLiteral("/opt/orvia/"));
}

} // namespace
