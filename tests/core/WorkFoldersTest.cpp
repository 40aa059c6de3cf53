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
    const QStringList removed =
        QStringLiteral("download.txt download.bz2 download.txt.gz download.txt.bz2 download.txt.xz "
                       "download.txt.zst download.deb download.list download.arch .T-Pot-a1B2c3 "
                       ".download.txt.gz.Xy12Ab .download.deb.000000 .orvia.ini.AbCdEf "
                       ".T-Pot.dll.q1w2e3 proc/.cache.txt.AbCdEf "
                       "proc/.a_Packages.a1b2c3 lists/.b_packages.zzzzzz archives/.foo.deb.AbC123")
            .split(u' ');
    const QStringList kept =
        QStringLiteral("download.txt.keep Download.txt download.deb~ .T-Pot-1 .T-Pot-abcdefg "
                       ".T-Pot-abc-ef .orvia.ini.bak .bashrc.backup .other.ini.AbCdEf .unpack-abc "
                       "orvia.ini T-Pot.dll T-Pot.ini Packages x_Packages "
                       "proc/cache.txt proc/a_Packages proc/.notes.txt.abcdef "
                       "lists/.download.txt.AbCdEf archives/foo.deb "
                       "archives/..foo.abcdef archives/.hidden")
            .split(u' ');
    for (const QString& path : removed + kept)
        Touch(work + path);
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

    for (const QString& path : removed)
        EXPECT_FALSE(QFileInfo(work + path).isFile()) << path.toStdString();
    for (const QString& path : kept)
        EXPECT_TRUE(QFileInfo(work + path).isFile()) << path.toStdString();
    for (const char* gone : {".unpack-Qw3rTy", ".download.txt.abcdef", ".unpack-Linked"})
        EXPECT_FALSE(QFileInfo(work + QLatin1String(gone)).exists() ||
                     QFileInfo(work + QLatin1String(gone)).isSymLink())
            << gone;
    EXPECT_TRUE(QFileInfo(work + QStringLiteral(".orvia.ini.folder")).isDir());
    EXPECT_EQ(TestFiles::ReadBytes(outside + QStringLiteral("precious")), QByteArray("x"));
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("precious")));
}

TEST_F(WorkFoldersTest, FoldersThatCannotBeMadeOrAreMissingAreReported) {
    TWorkFolders folders;
    QString error;
    EXPECT_FALSE(
        Startup::PrepareWorkFolders(tmp_.path() + QStringLiteral("/gone"), folders, error));
    EXPECT_FALSE(error.isEmpty());
    // A regular file where a folder must go makes the creation fail even for root.
    Touch(tmp_.path() + QStringLiteral("/proc"));
    EXPECT_FALSE(Startup::PrepareWorkFolders(tmp_.path(), folders, error));
    EXPECT_TRUE(error.contains(QStringLiteral("proc"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("File exists"))) << error.toStdString();
    // "lists" comes first and was made before the failure.
    EXPECT_TRUE(QFileInfo(tmp_.path() + QStringLiteral("/lists")).isDir());
    EXPECT_FALSE(QFileInfo(tmp_.path() + QStringLiteral("/archives")).exists());
}

} // namespace
