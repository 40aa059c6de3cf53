// The phone through the window: the plugin bound at start-up, the copies of
// the source lists, the Sync page's lists and buttons, start-up and shutdown
// with the phone options. The phone is the test plugin over a folder.
#include "GuiTestSupport.h"
#include "support/FakePhone.h"

#include "app/ui/PackagesPage.h"
#include "app/ui/SourcesPage.h"

#include "app/ui/SettingsPage.h"
#include "app/ui/SyncPage.h"

#include <QComboBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

namespace {

const QString ListsFolder = QStringLiteral("/private/var/lib/apt/lists/");
const QString CacheFolder = QStringLiteral("/private/var/cache/apt/archives/");
const QString AutoFolder = QStringLiteral("/private/var/root/Media/Cydia/AutoInstall/");

QStringList Lines(const QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

void Select(QListWidget* list, const QString& text) {
    const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << text.toStdString();
    list->setCurrentItem(found.first());
}

} // namespace

class DeviceWindowTest : public WindowTest, protected TTestPluginPhone {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(QStringLiteral(ORVIA_TEST_PLUGIN), WorkDir() + "T-Pot.dll"));
        PlacePhone(WorkDir() + "phone", WorkDir(), WorkDir() + "calls.log");
    }

    // Clicks a button of the window by its name.
    static void Click(const TfrmMain& frm, const char* button) {
        Find<QToolButton>(&frm, button)->click();
    }
    static QStringList Lines(const TfrmMain& frm, const char* list) {
        return ::Lines(Find<QListWidget>(&frm, list));
    }
};

// Only when none is there: every other test here runs with the test plugin
// in its place, which the start-up keeps, and the shutdown releases it.
#ifdef ORVIA_TPOT_PLUGIN
TEST_F(DeviceWindowTest, StartupWritesTheCarriedPluginOnlyWhenNoneIsThere) {
    QFile::remove(WorkDir() + "T-Pot.dll");
    auto frm = StartWindow();
    EXPECT_EQ(ReadFile("T-Pot.dll"), TestFiles::ReadBytes(QStringLiteral(ORVIA_TPOT_PLUGIN)));
    EXPECT_TRUE(frm->Phone().Loaded());
}
#endif

TEST_F(DeviceWindowTest, StartupCopiesFromThePhoneAndFillsASavedSyncPage) {
    PhoneFile(ListsFolder + "a_Packages", "Package: a\n\n");
    PhoneFile(ListsFolder + "Release", "release");
    PhoneFile(CacheFolder + "p.deb", "p");
    PhoneFile(CacheFolder + "Q.deb", "Q");
    PhoneFile(AutoFolder + "q.deb", "q");
    WriteFile("archives/l.deb", "l");
    WriteFile("archives/K.deb", "K");
    WriteFile("archives/m.DEB", "m");
    WriteFile("orvia.ini", "[Settings]\nGetCydia=1\nActivePage=2\n");

    auto frm = StartWindow();
    EXPECT_EQ(ReadFile("lists/a_Packages"), QByteArray("Package: a\n\n"));
    EXPECT_FALSE(Exists("proc/a_Packages")); // the start-up copy fills the reference copies only
    // Sorted by name without regard to letter case.
    EXPECT_EQ(Lines(*frm, "lstLocalCache"), (QStringList{"K.deb", "l.deb", "m.DEB"}));
    EXPECT_EQ(Lines(*frm, "lstCache"), (QStringList{"p.deb", "Q.deb"}));
    EXPECT_EQ(Lines(*frm, "lstAutoInstall"), QStringList{"q.deb"});

    const QStringList calls = TakeCalls().filter(QRegularExpression("^Fs(FindFirst|GetFile)"));
    EXPECT_EQ(calls, (QStringList{
                         "FsFindFirst /private/var/lib/apt/lists",
                         "FsGetFile " + ListsFolder + "a_Packages " + WorkDir() + "download.list 1",
                         // The phone is asked for its architecture after the copy.
                         "FsGetFile /var/lib/dpkg/arch " + WorkDir() + "download.arch 1",
                         "FsGetFile /private/var/lib/dpkg/arch " + WorkDir() + "download.arch 1",
                         "FsGetFile /var/jb/var/lib/dpkg/arch " + WorkDir() + "download.arch 1",
                         "FsFindFirst /private/var/cache/apt/archives",
                         "FsFindFirst /private/var/root/Media/Cydia/AutoInstall"}));
}

TEST_F(DeviceWindowTest, CopyFromThePhoneAddsItsNewSourcesToTheListAsItWas) {
    WriteFile("proc/x.example.org_Packages", "Package: x\n\n");
    WriteFile("proc/deleted.example.org_Packages", "Package: d\n\n");
    PhoneFile(ListsFolder + "y.example.org_Packages", "Package: y\n\n");
    PhoneFile(ListsFolder + "z.example.org_Packages", "Package: z\n\n");
    // The phone's name for the repository the computer has as "x.example.org_Packages".
    PhoneFile(ListsFolder + "x.example.org_._Packages", "Package: x2\n\n");
    auto frm = StartWindow();
    auto* sources = Find<QListWidget>(frm.get(), "lstSources");
    ASSERT_EQ(sources->count(), 2);
    PageOf<TSourcesPage>(*frm)->SelectEntry(sources->item(0)->text().contains("deleted") ? 0 : 1);
    PageOf<TSourcesPage>(*frm)->btnSrcDeleteClick();
    ASSERT_EQ(sources->count(), 1);
    sources->item(0)->setCheckState(Qt::Unchecked);

    auto* bar = Find<QProgressBar>(frm.get(), "prSync");
    QList<int> shown;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) {
        if (!bar->isHidden())
            shown << v;
    });
    Click(*frm, "btnPhone2Comp");

    EXPECT_EQ(shown, (QList<int>{33, 66})); // 0, 33, 66 for three files
    // Idle again: the strip's look is MainWindowTest's.
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(frm->windowTitle(), QStringLiteral("Orvia"));
    // The list keeps its entry, mark and deletion; the phone's new sources
    // follow, checked; its name for a known repository adds no second one.
    ASSERT_EQ(sources->count(), 3);
    EXPECT_EQ(sources->item(0)->text(), QStringLiteral("http://x.example.org/Packages"));
    EXPECT_EQ(sources->item(0)->checkState(), Qt::Unchecked);
    for (int i = 1; i < sources->count(); ++i)
        EXPECT_EQ(sources->item(i)->checkState(), Qt::Checked) << i;
    EXPECT_EQ(ReadFile("proc/y.example.org_Packages"), QByteArray("Package: y\n\n"));
    EXPECT_FALSE(Exists("proc/x.example.org_._Packages"));
}

TEST_F(DeviceWindowTest, StopDuringACopyFromThePhoneEndsAfterTheCurrentFile) {
    for (const char* name : {"a_Packages", "b_Packages", "c_Packages"})
        PhoneFile(ListsFolder + name, name);
    auto frm = StartWindow();
    auto* stop = Find<QToolButton>(frm.get(), "btnSyncStop");
    QObject::connect(&frm->Runner(), &TRunner::ItemStarted, [&](TRunner::TKind, int index) {
        if (index == 1) // the press arrives while the second file is fetched
            QMetaObject::invokeMethod(
                stop, [&] { stop->click(); }, Qt::QueuedConnection);
    });
    Click(*frm, "btnPhone2Comp");
    EXPECT_EQ(QDir(WorkDir() + "lists").entryList(QDir::Files).size(), 2);
    EXPECT_EQ(TakeCalls().filter("FsGetFile").size(), 2);
    EXPECT_EQ(Find<QListWidget>(frm.get(), "lstSources")->count(), 2); // reloaded all the same
    EXPECT_TRUE(errors_.isEmpty()); // the files left out are no failures
}

// The phone's dpkg tells its architecture: on the Settings page's button, and
// as a question after the first copy from the phone while all are listed.
TEST_F(DeviceWindowTest, ThePhonesArchitectureIsAskedForAndOfferedOnce) {
    PhoneFile(ListsFolder + "a_Packages", "Package: a\nArchitecture: iphoneos-arm\n\n"
                                          "Package: b\nArchitecture: iphoneos-arm64\n\n");
    auto frm = StartWindow();
    QComboBox* choice = Find<QComboBox>(frm.get(), "lstArchitecture");
    Find<QPushButton>(frm.get(), "btnPhoneArchitecture")->click();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("/var/jb/var/lib/dpkg/arch")) << errors_[0].toStdString();
    EXPECT_EQ(choice->currentIndex(), 0);

    // A rootless phone reached without the root prefix; another architecture
    // listed before the phone's own.
    PhoneFile("/var/jb/var/lib/dpkg/arch", "darwin-arm64\n iphoneos-arm64 \n");
    answer_ = true;
    Click(*frm, "btnPhone2Comp");
    ASSERT_EQ(questions_.size(), 1);
    EXPECT_TRUE(questions_[0].contains("iphoneos-arm64")) << questions_[0].toStdString();
    EXPECT_EQ(choice->currentText(), QStringLiteral("iphoneos-arm64"));
    ASSERT_EQ(PageOf<TPackagesPage>(*frm)->Rows().size(), 1u);
    EXPECT_EQ(PageOf<TPackagesPage>(*frm)->Rows()[0].Package(), "b");

    // Asked once a run; the button asks again and takes what the phone says.
    PhoneFile("/private/var/lib/dpkg/arch", "iphoneos-arm\n");
    Click(*frm, "btnPhone2Comp");
    EXPECT_EQ(questions_.size(), 1);
    Find<QPushButton>(frm.get(), "btnPhoneArchitecture")->click();
    EXPECT_EQ(errors_.size(), 1);
    EXPECT_EQ(choice->currentText(), QStringLiteral("iphoneos-arm"));
    ASSERT_EQ(PageOf<TPackagesPage>(*frm)->Rows().size(), 1u);
    EXPECT_EQ(PageOf<TPackagesPage>(*frm)->Rows()[0].Package(), "a");
    EXPECT_FALSE(Exists("download.arch"));
}

TEST_F(DeviceWindowTest, ShutdownSendsTheListsWhenAskedEvenWithoutAPhone) {
    const struct {
        const char* Name;
        QStringList Config;
        QStringList Sent;
    } cases[] = {
        {"phone attached", {}, {"a_Packages"}},
        {"no phone", {"init fail"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteFile("lists/a_Packages", "a");
        WriteFile("orvia.ini", "[Settings]\nPutCydia=1\n");
        QFile::remove(PhoneRoot() + ListsFolder + "a_Packages");
        Configure(c.Config);
        auto frm = StartWindow();
        TakeCalls();
        ::testing::internal::CaptureStderr();
        frm->close();
        // What was not sent is said on stderr, with why; no dialog holds the
        // shutdown up.
        EXPECT_EQ(::testing::internal::GetCapturedStderr().find(
                      "не принял файл источника \"a_Packages\": телефон не подключён "
                      "(cannot reach); отправка прервана.") != std::string::npos,
                  c.Sent.isEmpty());
        EXPECT_TRUE(frm->isHidden());
        EXPECT_EQ(PhoneFiles(ListsFolder), c.Sent);
        EXPECT_EQ(TakeCalls().first(), QStringLiteral("FsInit 0 progress")); // it was tried
        EXPECT_TRUE(ReadFile("orvia.ini").contains("PutCydia=1"));
        EXPECT_FALSE(frm->Phone().Loaded());
        EXPECT_TRUE(errors_.isEmpty());
    }
}

TEST_F(DeviceWindowTest, ClosingDuringACopyEndsItAfterTheCurrentFileThenShutsDown) {
    for (const bool terminate : {false, true}) {
        SCOPED_TRACE(terminate ? "termination request" : "close box");
        for (const QString& f : PhoneFiles(ListsFolder))
            QFile::remove(PhoneRoot() + ListsFolder + f);
        QFile::remove(IniPath());
        for (const char* name : {"1_Packages", "2_Packages", "3_Packages"})
            WriteFile(QStringLiteral("lists/") + name, name);
        auto frm = StartWindow();
        QObject::connect(&frm->Runner(), &TRunner::ItemStarted, [&](TRunner::TKind, int index) {
            if (index == 0) // arrives while the first file goes
                QMetaObject::invokeMethod(
                    frm.get(), [&] { terminate ? frm->RequestClose() : void(frm->close()); },
                    Qt::QueuedConnection);
        });
        Click(*frm, "btnComp2Phone");
        Settle();
        EXPECT_EQ(PhoneFiles(ListsFolder).size(), 1);
        EXPECT_TRUE(frm->isHidden());
        EXPECT_TRUE(Exists("orvia.ini")); // the shutdown ran
        EXPECT_FALSE(frm->Phone().Loaded());
    }
}

TEST_F(DeviceWindowTest, DeletionsAskAndRefillTheirList) {
    const struct {
        const char* List;
        const char* Button;
        QString Folder; // where the file lies, relative to the working folder
        bool Select;
        bool Answer; // removed when selected and answered Yes
    } cases[] = {
        {"lstLocalCache", "btnDeleteLocal", "archives/", false, true},
        {"lstLocalCache", "btnDeleteLocal", "archives/", true, false},
        {"lstLocalCache", "btnDeleteLocal", "archives/", true, true},
        {"lstCache", "btnDeleteCache", "phone" + CacheFolder, true, true},
        {"lstAutoInstall", "btnDeleteAutoInstall", "phone" + AutoFolder, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Button) + (c.Select ? " selected" : "") +
                     (c.Answer ? " Yes" : ""));
        const bool removed = c.Select && c.Answer;
        WriteFile(c.Folder + "p.deb", "p");
        auto frm = StartWindow();
        frm->SetActivePage(TfrmMain::PageSync);
        ASSERT_EQ(Lines(*frm, c.List), QStringList{"p.deb"});
        if (c.Select)
            Select(Find<QListWidget>(frm.get(), c.List), "p.deb");
        questions_.clear();
        answer_ = c.Answer;
        Click(*frm, c.Button);
        EXPECT_EQ(questions_, c.Select ? QStringList{"Удалить пакет p.deb?"} : QStringList{});
        EXPECT_EQ(Exists(c.Folder + "p.deb"), !removed);
        EXPECT_EQ(Lines(*frm, c.List), removed ? QStringList{} : QStringList{"p.deb"});
        EXPECT_EQ(frm->windowTitle(), QStringLiteral("Orvia"));
    }
}

TEST_F(DeviceWindowTest, CopyToThePhoneKeepsTheListWhenTheListingFails) {
    WriteFile("archives/l.deb", "local package");
    PhoneFile(CacheFolder + "old.deb", "old");
    auto frm = StartWindow();
    frm->SetActivePage(TfrmMain::PageSync);
    ASSERT_EQ(Lines(*frm, "lstCache"), QStringList{"old.deb"});

    Configure({"refuse /private/var/cache/apt/archives"});
    Select(Find<QListWidget>(frm.get(), "lstLocalCache"), "l.deb");
    Click(*frm, "btnCopy2Cache");
    EXPECT_EQ(TestFiles::ReadBytes(PhoneRoot() + CacheFolder + "l.deb"), "local package");
    EXPECT_EQ(Lines(*frm, "lstCache"), QStringList{"old.deb"});
    EXPECT_TRUE(questions_.isEmpty());

    Configure({});
    Click(*frm, "btnCopy2AutoInstall");
    EXPECT_EQ(Lines(*frm, "lstAutoInstall"), QStringList{"l.deb"});
}

// A phone list that cannot be read says why over the list, without a dialog,
// and on stderr once for as long as the reason stays.
TEST_F(DeviceWindowTest, AListThatCannotBeReadSaysWhyQuietly) {
    Configure({"init fail"});
    auto frm = StartWindow();
    const auto* cacheProblem = Find<QLabel>(frm.get(), "lblCacheProblem");
    const auto* autoProblem = Find<QLabel>(frm.get(), "lblAutoInstallProblem");
    const auto switchToSync = [&] {
        frm->SetActivePage(TfrmMain::PageSources);
        frm->SetActivePage(TfrmMain::PageSync);
    };
    ::testing::internal::CaptureStderr();
    switchToSync();
    switchToSync();
    Configure({"refuse /private/var/cache/apt/archives"});
    switchToSync();
    const QString said = QString::fromStdString(::testing::internal::GetCapturedStderr());
    EXPECT_EQ(said.count("телефон не подключён (cannot reach)"), 2) << said.toStdString();
    EXPECT_EQ(said.count("refused /private/var/cache/apt/archives"), 1) << said.toStdString();
    EXPECT_FALSE(cacheProblem->isHidden());
    EXPECT_EQ(cacheProblem->text(), "refused /private/var/cache/apt/archives");
    EXPECT_EQ(Find<QListWidget>(frm.get(), "lstCache")->toolTip(), cacheProblem->text());
    EXPECT_TRUE(autoProblem->isHidden());
    EXPECT_TRUE(errors_.isEmpty());

    Configure({});
    switchToSync();
    EXPECT_TRUE(cacheProblem->isHidden());
}
