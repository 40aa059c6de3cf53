#include "GuiTestSupport.h"

#include "app/ui/SettingsPage.h"

#include <QCheckBox>
#include <QListWidget>
#include <QTimer>

namespace {

const QByteArray kIndex = "Package: com.example.app\n"
                          "Name: Example App\n"
                          "Version: 1.0\n"
                          "Section: Games\n"
                          "Filename: debs/app_1.0.deb\n"
                          "Size: 100\n"
                          "\n";

} // namespace

TEST_F(WindowTest, FirstRunPreparesTheWorkingFolderAndRemovesOnlyScratchFiles) {
    WriteFile(QStringLiteral("download.txt"), "partial index");
    WriteFile(QStringLiteral("download.deb"), "kept");

    auto frm = StartWindow();
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_FALSE(Exists(QStringLiteral("download.txt")));
    EXPECT_EQ(ReadFile(QStringLiteral("download.deb")), QByteArray("kept"));

    EXPECT_EQ(frm->Folders().ProcDir, WorkDir() + QStringLiteral("proc/"));
    EXPECT_TRUE(frm->StartupDone());
    EXPECT_FALSE(frm->isHidden());
    EXPECT_TRUE(frm->isEnabled());
    EXPECT_EQ(frm->windowTitle(), QStringLiteral("Orvia"));
    EXPECT_EQ(frm->ActivePage(), 0);
    EXPECT_EQ(Find<QListWidget>(frm.get(), "lstSources")->count(), 0);
    const TSettings options = frm->SettingsPage()->Options();
    EXPECT_EQ(options, TSettings{});
    // An empty catalogue leaves no saved package list behind.
    EXPECT_FALSE(Exists(QStringLiteral("proc/cache.txt")));
    EXPECT_FALSE(Exists(QStringLiteral("orvia.ini"))); // nothing written before shutdown
}

TEST_F(WindowTest, StartupBuildsTheSavedPackageListFromTheIndexStore) {
    WriteFile(QStringLiteral("proc/repo.example.org_Packages"), kIndex);
    auto frm = StartWindow();
    const QByteArray cache = ReadFile(QStringLiteral("proc/cache.txt"));
    EXPECT_TRUE(cache.contains("com.example.app")) << cache.constData();
    EXPECT_TRUE(cache.contains("repo.example.org_Packages")) << cache.constData();
    EXPECT_EQ(Find<QListWidget>(frm.get(), "lstSources")->item(0)->text(),
              QStringLiteral("http://repo.example.org/Packages"));
}

TEST_F(WindowTest, ShutdownWritesEverySettingAndTheActivePageComesBack) {
    {
        auto frm = StartWindow();
        Find<QCheckBox>(frm.get(), "chkRefresh")->setChecked(false);
        Find<QCheckBox>(frm.get(), "chkPutDebs")->setChecked(true);
        Find<QCheckBox>(frm.get(), "chkPutAutoInstall")->setChecked(true);
        frm->panSettingsClick();
        frm->close();
        EXPECT_TRUE(frm->isHidden());
        EXPECT_EQ(frm->windowTitle(), QStringLiteral("Orvia - завершение работы"));
    }
    const QByteArray ini = ReadFile(QStringLiteral("orvia.ini"));
    const QByteArray expected = "[Settings]\nRefresh=0\nGetCydia=0\nPutCydia=0\nPutDebs=1\n"
                                "PutAutoInstall=1\nActivePage=3\n";
    EXPECT_TRUE(
        QString::fromUtf8(ini).remove(QLatin1Char('\r')).startsWith(QString::fromUtf8(expected)))
        << ini.constData();

    auto frm = StartWindow();
    EXPECT_EQ(frm->ActivePage(), 3);
    EXPECT_TRUE(Find<QCheckBox>(frm.get(), "chkPutDebs")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(frm.get(), "chkPutAutoInstall")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(frm.get(), "chkPutCydia")->isChecked());
}

TEST_F(WindowTest, SavedPageIsRestoredOnlyWhenValidAndSyncFillsAtOnce) {
    const struct {
        const char* value;
        int page;
        int cacheRefreshes;
    } cases[] = {
        {"2", 2, 1},
        {"7", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        WriteFile(QStringLiteral("orvia.ini"),
                  QByteArray("[Settings]\nActivePage=") + c.value + "\n");
        auto frm = StartWindow();
        EXPECT_EQ(frm->ActivePage(), c.page);
        EXPECT_EQ(frm->CacheRefreshCalls(), c.cacheRefreshes);
    }
}

TEST_F(WindowTest, FolderThatCannotBeCreatedIsReportedAndStartupStops) {
    WriteFile(QStringLiteral("lists"), "a file where the folder should be");
    auto frm = MakeWindow();
    EXPECT_FALSE(frm->FormCreate());
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_FALSE(errors_[0].isEmpty());
    EXPECT_TRUE(frm->isHidden());
    EXPECT_FALSE(frm->StartupDone());
    EXPECT_FALSE(Exists(QStringLiteral("proc")));
    // Closing such a window writes nothing.
    frm->close();
    EXPECT_FALSE(Exists(QStringLiteral("orvia.ini")));
}

TEST_F(WindowTest, UnwritableSettingsFileIsReportedByNameAndTheWindowStillCloses) {
    auto frm = StartWindow();
    // A folder in the settings file's place makes every write fail.
    ASSERT_TRUE(QDir().mkpath(IniPath()));
    frm->close();
    EXPECT_TRUE(frm->isHidden());
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains(IniPath())) << errors_[0].toStdString();
}

TEST_F(WindowTest, ShutdownRunsOnlyOnce) {
    auto frm = StartWindow();
    frm->close();
    ASSERT_TRUE(QFile::remove(IniPath()));
    frm->close();
    frm->RequestClose();
    Settle();
    EXPECT_FALSE(Exists(QStringLiteral("orvia.ini")));
}

TEST_F(WindowTest, TerminationRequestClosesThroughTheNormalShutdown) {
    auto frm = StartWindow();
    frm->RequestClose();
    EXPECT_TRUE(frm->isHidden());
    EXPECT_TRUE(Exists(QStringLiteral("orvia.ini")));
}

TEST_F(WindowTest, CloseDuringALongOperationStopsItAndClosesWhenItEnds) {
    for (const bool viaCloseBox : {false, true}) {
        SCOPED_TRACE(viaCloseBox ? "close box" : "termination request");
        QFile::remove(IniPath());
        auto frm = StartWindow();
        frm->BeginLongOperation();
        EXPECT_FALSE(frm->StopRequested());
        if (viaCloseBox)
            frm->close();
        else
            frm->RequestClose();
        EXPECT_TRUE(frm->StopRequested());
        Settle();
        EXPECT_FALSE(frm->isHidden());
        EXPECT_FALSE(Exists(QStringLiteral("orvia.ini")));

        frm->EndLongOperation();
        Settle();
        EXPECT_TRUE(frm->isHidden());
        EXPECT_TRUE(Exists(QStringLiteral("orvia.ini")));
    }
}

TEST_F(WindowTest, TerminationRequestDuringStartupClosesRightAfterIt) {
    auto frm = MakeWindow();
    // Delivered while start-up handles pending window messages.
    QTimer::singleShot(0, frm.get(), [&frm] { frm->RequestClose(); });
    ASSERT_TRUE(frm->FormCreate());
    EXPECT_TRUE(frm->StartupDone());
    EXPECT_FALSE(Exists(QStringLiteral("orvia.ini")));
    Settle();
    EXPECT_TRUE(frm->isHidden());
    EXPECT_TRUE(Exists(QStringLiteral("orvia.ini")));
}
