#include "GuiTestSupport.h"

#include "app/ui/PackagesPage.h"
#include "base/TerminationSignals.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QTimer>

#include <algorithm>
#include <csignal>

namespace {

const QByteArray IndexText = "Package: com.example.app\n"
                             "Name: Example App\n"
                             "Version: 1.0\n"
                             "Section: Games\n"
                             "Filename: debs/app_1.0.deb\n"
                             "Size: 100\n"
                             "\n";

// The real dialogs, with stderr caught and the termination signals
// handled as the program handles them. A signal is raised once the dialog
// runs; if it failed to end the dialog, a last resort closes it and the test
// fails instead of hanging.
class TerminationTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(termination_.Install());
        testing::internal::CaptureStderr();
    }
    void TearDown() override { Stderr(); }

    std::unique_ptr<TfrmMain> RealDialogsWindow() {
        auto frm = std::make_unique<TfrmMain>(ProgramPath());
        TfrmMain* window = frm.get();
        QObject::connect(&termination_, &TTerminationSignals::terminationRequested, window,
                         [window](int) { window->Terminate(); });
        return frm;
    }

    // Raises Signal as soon as a dialog is open.
    void SignalWhenADialogOpens(int signal) {
        auto* poll = new QTimer(&termination_);
        QObject::connect(poll, &QTimer::timeout, poll, [this, poll, signal] {
            if (!QApplication::activeModalWidget())
                return;
            poll->deleteLater();
            sawDialog_ = true;
            ::raise(signal);
            QTimer::singleShot(5000, &termination_, [] {
                if (QWidget* stuck = QApplication::activeModalWidget()) {
                    ADD_FAILURE() << "the dialog outlived the termination signal";
                    stuck->hide();
                }
            });
        });
        poll->start(10);
    }

    // What went to stderr; read once.
    QByteArray Stderr() {
        if (!stderrRead_)
            stderr_ = QByteArray::fromStdString(testing::internal::GetCapturedStderr());
        stderrRead_ = true;
        return stderr_;
    }

    TTerminationSignals termination_;
    QByteArray stderr_;
    bool stderrRead_ = false;
    bool sawDialog_ = false;
};

} // namespace

TEST_F(WindowTest, FirstRunRemovesOnlyScratchFilesAndWritesNothingYet) {
    // Which names are scratch is WorkFoldersTest's.
    WriteFile(QStringLiteral("download.txt"), "partial index");
    auto frm = StartWindow();
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_FALSE(Exists(QStringLiteral("download.txt")));

    // What start-up makes and reads is ControllerTest's, the look after it
    // DeviceTest's.
    EXPECT_FALSE(frm->isHidden());
    EXPECT_EQ(Find<QListWidget>(frm.get(), "lstSources")->count(), 0);
    // An empty catalogue leaves no saved package list behind.
    EXPECT_FALSE(Exists(QStringLiteral("proc/cache.txt")));
    EXPECT_FALSE(Exists(QStringLiteral("orvia.ini"))); // nothing written before shutdown
}

TEST_F(WindowTest, StartupBuildsTheSavedPackageListFromTheIndexStore) {
    WriteFile(QStringLiteral("proc/repo.example.org_Packages"), IndexText);
    auto frm = StartWindow();
    const QByteArray cache = ReadFile(QStringLiteral("proc/cache.txt"));
    EXPECT_TRUE(cache.contains("com.example.app")) << cache.constData();
    EXPECT_TRUE(cache.contains("repo.example.org_Packages")) << cache.constData();
    // The categories come from the list just built, not only after a restart.
    auto* categories = Find<QComboBox>(frm.get(), "lstSections");
    ASSERT_EQ(categories->count(), 2);
    EXPECT_EQ(categories->itemText(1), QStringLiteral("Games"));
}

// A list that cannot be saved says why, and the catalogue is shown all the same.
TEST_F(WindowTest, AListThatCannotBeSavedSaysWhy) {
    WriteFile(QStringLiteral("proc/repo.example.org_Packages"), IndexText);
    WriteFile(QStringLiteral("proc/cache.txt/keep"), "a folder in the list's place");
    auto frm = StartWindow();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].startsWith(QStringLiteral("Список пакетов не сохранён")))
        << qPrintable(errors_[0]);
    EXPECT_EQ(Find<QComboBox>(frm.get(), "lstSections")->count(), 2);
}

// A list saved before the architectures were kept is built again; with the
// phone's architecture chosen, only its builds are listed, and the saved list
// keeps every build through a restart.
TEST_F(WindowTest, SavedListWithoutArchitecturesIsRebuiltAndThePhoneNarrowsTheList) {
    const QByteArray builds = "Package: p\nName: Build arm\nVersion: 1\nArchitecture: "
                              "iphoneos-arm\nSection: S\n\n"
                              "Package: p\nName: Build arm64\nVersion: 1\nArchitecture: "
                              "iphoneos-arm64\nSection: S\n\n"
                              "Package: q\nName: Any\nVersion: 1\nArchitecture: all\nSection: T\n";
    WriteFile(QStringLiteral("proc/r_Packages"), builds);
    WriteFile(QStringLiteral("proc/cache.txt"),
              "S\r\nOld caption\r\n$0\r\n1\r\np\r\n\r\nr_Packages\r\n");
    WriteFile(QStringLiteral("orvia.ini"), "[Settings]\nArchitecture=iphoneos-arm64\n");
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        auto frm = StartWindow();
        std::vector<std::string> captions;
        for (const TPackageRow& row : PageOf<TPackagesPage>(*frm)->Rows())
            captions.emplace_back(row.Caption());
        std::sort(captions.begin(), captions.end());
        EXPECT_EQ(captions, (std::vector<std::string>{"Any", "Build arm64"}));
        frm->close();
        const QByteArray cache = ReadFile(QStringLiteral("proc/cache.txt"));
        EXPECT_FALSE(cache.contains("Old caption"));
        EXPECT_TRUE(cache.contains("\r\nBuild arm\r\n")) << cache.constData();
        EXPECT_TRUE(cache.contains("\x1A"
                                   "Architecture\r\n"))
            << cache.constData();
    }
}

TEST_F(WindowTest, ShutdownWritesEverySettingAndTheActivePageComesBack) {
    {
        auto frm = StartWindow();
        Find<QCheckBox>(frm.get(), "chkPutDebs")->setChecked(true);
        Find<QCheckBox>(frm.get(), "chkPutAutoInstall")->setChecked(true);
        Find<QComboBox>(frm.get(), "lstArchitecture")->setCurrentIndex(3);
        frm->SetActivePage(TfrmMain::PageSettings);
        frm->close();
        EXPECT_TRUE(frm->isHidden());
        EXPECT_EQ(frm->windowTitle(), QStringLiteral("Orvia - завершение работы"));
    }
    // The file's layout is SettingsTest's; here: what the controls show comes back.
    auto frm = StartWindow();
    EXPECT_EQ(frm->ActivePage(), 3);
    EXPECT_TRUE(Find<QCheckBox>(frm.get(), "chkPutDebs")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(frm.get(), "chkPutAutoInstall")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(frm.get(), "chkPutCydia")->isChecked());
    EXPECT_EQ(Find<QComboBox>(frm.get(), "lstArchitecture")->currentText(),
              QStringLiteral("iphoneos-arm64e"));
    // Only a page that exists comes back.
    WriteFile(QStringLiteral("orvia.ini"), "[Settings]\nActivePage=7\n");
    EXPECT_EQ(StartWindow()->ActivePage(), 0);
}

TEST_F(TerminationTest, SignalDuringAFailedStartupEndsTheErrorDialog) {
    WriteFile(QStringLiteral("lists"), "a file where the folder should be");
    auto frm = RealDialogsWindow();
    SignalWhenADialogOpens(SIGTERM);
    EXPECT_FALSE(frm->FormCreate()); // main then ends with status 1
    EXPECT_TRUE(sawDialog_);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(Stderr().contains("lists")) << Stderr().constData();
}

TEST_F(TerminationTest, SignalAtShutdownAnswersTheQuestionNoAndEndsTheErrorDialog) {
    WriteFile(QStringLiteral("proc/repo.example.org_Packages"), IndexText);
    auto frm = RealDialogsWindow();
    ASSERT_TRUE(frm->FormCreate());
    // A question first: the signal answers it No, and the shutdown that
    // follows meets a settings file it cannot write.
    ASSERT_TRUE(QDir().mkpath(IniPath()));
    auto* list = Find<QListWidget>(frm.get(), "lstSources");
    list->setCurrentRow(0);
    SignalWhenADialogOpens(SIGHUP);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_TRUE(sawDialog_);
    EXPECT_EQ(list->count(), 1); // No: the source stays
    Settle();
    EXPECT_TRUE(frm->isHidden());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    const QByteArray log = Stderr();
    EXPECT_TRUE(log.contains(QFile::encodeName(IniPath()))) << log.constData();
    EXPECT_TRUE(log.contains("repo.example.org")) << log.constData();
}
