#include "app/WorkFolders.h"

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

TEST_F(WorkFoldersTest, CreatesFoldersAndRemovesOnlyRefreshLeftovers) {
    const QString work = tmp_.path() + QStringLiteral("/");
    for (const char* name :
         {"download.txt", "download.bz2", "download.txt.gz", "download.txt.bz2", "download.deb"})
        Touch(work + QLatin1String(name));

    WorkFolders folders;
    QString error;
    ASSERT_TRUE(Startup::PrepareWorkFolders(tmp_.path(), folders, error)) << error.toStdString();

    EXPECT_EQ(folders.WorkDir, work);
    EXPECT_EQ(folders.ListsDir, work + QStringLiteral("lists/"));
    EXPECT_EQ(folders.ProcDir, work + QStringLiteral("proc/"));
    EXPECT_EQ(folders.ArchivesDir, work + QStringLiteral("archives/"));
    for (const char* name : {"lists", "proc", "archives"})
        EXPECT_TRUE(QFileInfo(work + QLatin1String(name)).isDir()) << name;
    EXPECT_EQ(QDir::currentPath() + QStringLiteral("/"), QFileInfo(work).canonicalFilePath() + "/");

    EXPECT_FALSE(QFile::exists(work + QStringLiteral("download.txt")));
    EXPECT_FALSE(QFile::exists(work + QStringLiteral("download.bz2")));
    for (const char* kept : {"download.txt.gz", "download.txt.bz2", "download.deb"})
        EXPECT_TRUE(QFile::exists(work + QLatin1String(kept))) << kept;
}

TEST_F(WorkFoldersTest, ExistingFoldersAndTheirContentStay) {
    QDir(tmp_.path()).mkpath(QStringLiteral("proc"));
    Touch(tmp_.path() + QStringLiteral("/proc/repo.example.org_Packages"));
    WorkFolders folders;
    QString error;
    ASSERT_TRUE(Startup::PrepareWorkFolders(tmp_.path(), folders, error));
    EXPECT_TRUE(QFile::exists(folders.ProcDir + QStringLiteral("repo.example.org_Packages")));
}

TEST_F(WorkFoldersTest, AFolderThatCannotBeCreatedIsReportedWithTheSystemError) {
    // A regular file where a folder must go makes the creation fail even for root.
    Touch(tmp_.path() + QStringLiteral("/proc"));
    WorkFolders folders;
    QString error;
    EXPECT_FALSE(Startup::PrepareWorkFolders(tmp_.path(), folders, error));
    EXPECT_TRUE(error.contains(QStringLiteral("proc"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("File exists"))) << error.toStdString();
    // "lists" comes first and was made before the failure.
    EXPECT_TRUE(QFileInfo(tmp_.path() + QStringLiteral("/lists")).isDir());
    EXPECT_FALSE(QFileInfo(tmp_.path() + QStringLiteral("/archives")).exists());
}

TEST_F(WorkFoldersTest, AMissingWorkFolderIsReported) {
    WorkFolders folders;
    QString error;
    EXPECT_FALSE(
        Startup::PrepareWorkFolders(tmp_.path() + QStringLiteral("/gone"), folders, error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(WorkFolders, FolderOfProgramFile) {
    EXPECT_EQ(Startup::FolderOf(QStringLiteral("/opt/orvia/orvia")), QStringLiteral("/opt/orvia/"));
}

} // namespace
