// The package download through the window: marked rows of the list, their
// details, the local server for the files and the test plugin for the phone.
#include "GuiTestSupport.h"

#include "app/ui/PackagesPage.h"
#include "app/ui/SettingsPage.h"
#include "sources/IndexStore.h"
#include "support/TestHttpServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QProgressBar>
#include <QToolButton>

namespace {

const QString CacheFolder = QStringLiteral("/private/var/cache/apt/archives/");
const QString AutoInstallFolder = QStringLiteral("/private/var/root/Media/Cydia/AutoInstall/");

using TestFiles::Digest;
using TestFiles::Pattern;

} // namespace

class DownloadWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(QStringLiteral(ORVIA_TEST_PLUGIN), WorkDir() + "T-Pot.dll"));
        for (const QString& folder : {CacheFolder, AutoInstallFolder})
            ASSERT_TRUE(QDir().mkpath(PhoneRoot() + folder));
        WriteFile("TestPlugin.conf", "root " + PhoneRoot().toUtf8() + '\n');
    }

    QString PhoneRoot() const { return WorkDir() + "phone"; }
    QStringList PhoneFiles(const QString& folder) const {
        return QDir(PhoneRoot() + folder).entryList(QDir::Files, QDir::Name);
    }
    QStringList Archives() const {
        return QDir(WorkDir() + "archives").entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // Nothing of a download is left in the working folder.
    QStringList Leftovers() const {
        QStringList files =
            QDir(WorkDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const char* kept :
             {"T-Pot.dll", "TestPlugin.conf", "orvia.ini", "archives", "lists", "proc", "phone"})
            files.removeAll(QString::fromUtf8(kept));
        return files;
    }

    // The index of the local server's source, "/./Packages" (every "Filename:"
    // below it is relative to the server's root).
    QString IndexName() const {
        return IndexStore::AddressToIndexName(QString::fromStdString(server_.Url("/./Packages")));
    }
    void WriteIndex(const std::string& stanzas, const QString& name = {}) const {
        WriteFile("proc/" + (name.isEmpty() ? IndexName() : name),
                  QByteArray::fromStdString(stanzas));
    }
    // A stanza whose file the server serves at "/debs/<file>".
    std::string Served(const std::string& package, const std::string& file,
                       const std::string& body) {
        server_.Serve("/debs/" + file, body);
        return Stanza(package, "debs/" + file, std::to_string(body.size()), Digest(body));
    }
    static std::string Stanza(const std::string& package, const std::string& filename,
                              const std::string& size, const std::string& sha256) {
        return "Package: " + package + "\nVersion: 1.0\nSection: Tweaks\nFilename: " + filename +
               "\nSize: " + size + "\nSHA256: " + sha256 + "\n\n";
    }

    std::unique_ptr<TfrmMain> Start() {
        auto frm = StartWindow();
        titles_.clear();
        QObject::connect(frm.get(), &QWidget::windowTitleChanged,
                         [this](const QString& title) { titles_ << title; });
        return frm;
    }
    static void MarkAll(TfrmMain& frm) {
        for (int i = 0; i < static_cast<int>(PageOf<TPackagesPage>(frm)->Rows().size()); ++i)
            PageOf<TPackagesPage>(frm)->SetRowMarked(i, true);
    }
    static std::vector<bool> Marks(TfrmMain& frm) { return Column(frm, &TPackageRow::Marked); }
    static std::vector<int> States(TfrmMain& frm) { return Column(frm, &TPackageRow::State); }
    template <typename T> static std::vector<T> Column(TfrmMain& frm, T TPackageRow::*field) {
        std::vector<T> column;
        for (const TPackageRow& row : PageOf<TPackagesPage>(frm)->Rows())
            column.push_back(row.*field);
        return column;
    }
    static void Download(TfrmMain& frm) { Find<QToolButton>(&frm, "btnPkgDownload")->click(); }
    // Three marked packages, the second served slowly.
    std::unique_ptr<TfrmMain> StartThreeWithASlowSecond() {
        const std::string b = Pattern(300000, 'b');
        WriteIndex(Served("a.first", "a.deb", Pattern(5000, 'a')) + Served("b.second", "b.deb", b) +
                   Served("c.third", "c.deb", Pattern(5000, 'c')));
        server_.ServePaced("/debs/b.deb", b, 4096, 20);
        auto frm = Start();
        MarkAll(*frm);
        return frm;
    }
    // Calls Act once, the first time the progress of Package's file is
    // above 0.
    static void OnProgressOf(TfrmMain& frm, const std::string& package, std::function<void()> act) {
        auto done = std::make_shared<bool>(false);
        QObject::connect(&frm.Runner(), &TRunner::ProgressChanged, &frm,
                         [&frm, package, act, done](TRunner::TStrip, int percent) {
                             if (*done || percent <= 0 ||
                                 PageOf<TPackagesPage>(frm)->CurrentPackage().Package != package)
                                 return;
                             *done = true;
                             act();
                         });
    }

    TTestHttpServer server_;
    QStringList titles_;
};

TEST_F(DownloadWindowTest, AWholeAddressIsFetchedThroughItsRedirectStoredAndBadged) {
    const std::string body = Pattern(40000, 'r');
    server_.Serve("/cdn/asset-77", body);
    server_.Redirect("/releases/download/v1/rel_1.0.deb", 302, server_.Url("/cdn/asset-77"));
    const std::string stanza =
        Stanza("a.rel", server_.Url("/releases/download/v1/rel_1.0.deb?raw=1"),
               std::to_string(body.size()), Digest(body));
    WriteIndex(stanza);
    // The same package from a second source: its saved row changes too.
    WriteIndex(stanza, QStringLiteral("mirror.example.org_._Packages"));
    auto frm = Start();
    ASSERT_EQ(States(*frm), (std::vector<int>{2, 2}));
    PageOf<TPackagesPage>(*frm)->SetRowMarked(0, true);

    Download(*frm);

    EXPECT_EQ(Archives(), QStringList{QStringLiteral("rel_1.0.deb")});
    EXPECT_EQ(ReadFile("archives/rel_1.0.deb"), QByteArray::fromStdString(body));
    EXPECT_EQ(Marks(*frm), (std::vector<bool>{false, false}));
    EXPECT_EQ(States(*frm), (std::vector<int>{1, 2}));
    const QByteArray saved = ReadFile("proc/cache.txt");
    EXPECT_EQ(saved.count("\r\n$1\r\n1.0\r\na.rel\r\n"), 2) << saved.toStdString();
    EXPECT_EQ(titles_, (QStringList{QStringLiteral("Orvia - загрузка выбранных пакетов"),
                                    QStringLiteral("Orvia")}));
    EXPECT_TRUE(Find<QProgressBar>(frm.get(), "prPkg")->isHidden());
    EXPECT_FALSE(Find<QToolButton>(frm.get(), "btnPkgDownload")->isHidden());
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();

    // The next load badges both rows: the name is the same rule's.
    PageOf<TPackagesPage>(*frm)->LoadPackages();
    EXPECT_EQ(States(*frm), (std::vector<int>{3, 3}));
}

// Marks made in two categories are both downloaded, whichever category is
// shown when the button is pressed, and reach both folders of the phone.
TEST_F(DownloadWindowTest, MarksFromEveryCategoryAreDownloaded) {
    std::string theme = Served("t.theme", "t.deb", Pattern(3000, 't'));
    theme.replace(theme.find("Tweaks"), 6, "Themes");
    WriteIndex(Served("a.tweak", "a.deb", Pattern(3000, 'a')) + theme);
    auto frm = Start();
    auto* sections = frm->findChild<QComboBox*>(QStringLiteral("lstSections"));
    for (const char* category : {"Themes", "Tweaks"}) {
        const int entry = sections->findText(QString::fromUtf8(category));
        ASSERT_GT(entry, 0) << category;
        sections->setCurrentIndex(entry);
        emit sections->activated(entry);
        ASSERT_EQ(PageOf<TPackagesPage>(*frm)->Rows().size(), 1u) << category;
        PageOf<TPackagesPage>(*frm)->SetRowMarked(0, true);
    }
    EXPECT_EQ(PageOf<TPackagesPage>(*frm)->MarkedCount(), 2);
    Find<QCheckBox>(frm.get(), "chkPutDebs")->setChecked(true);
    Find<QCheckBox>(frm.get(), "chkPutAutoInstall")->setChecked(true);
    Download(*frm);
    const QStringList both = {QStringLiteral("a.deb"), QStringLiteral("t.deb")};
    EXPECT_EQ(Archives(), both);
    for (const QString& folder : {CacheFolder, AutoInstallFolder}) {
        EXPECT_EQ(PhoneFiles(folder), both);
        EXPECT_EQ(TestFiles::ReadBytes(PhoneRoot() + folder + "t.deb").toStdString(),
                  Pattern(3000, 't'));
    }
    EXPECT_EQ(PageOf<TPackagesPage>(*frm)->MarkedCount(), 0);
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
}

TEST_F(DownloadWindowTest, StopDuringTheSecondOfThreeKeepsItAndTheThirdMarked) {
    auto frm = StartThreeWithASlowSecond();
    bool busy = false;
    OnProgressOf(*frm, "b.second", [&] {
        busy = !Find<QProgressBar>(frm.get(), "prPkg")->isHidden() &&
               Find<QToolButton>(frm.get(), "btnPkgDownload")->isHidden() &&
               !Find<QGroupBox>(frm.get(), "grpPackages")->isEnabled() &&
               frm->windowTitle() == QStringLiteral("Orvia - загрузка выбранных пакетов");
        Find<QToolButton>(frm.get(), "btnPkgStop")->click();
    });

    Download(*frm);

    EXPECT_TRUE(busy);
    EXPECT_EQ(Marks(*frm), (std::vector<bool>{false, true, true}));
    EXPECT_EQ(States(*frm), (std::vector<int>{1, 2, 2}));
    EXPECT_EQ(Archives(), QStringList{QStringLiteral("a.deb")});
    EXPECT_EQ(titles_.back(), QStringLiteral("Orvia"));
    EXPECT_TRUE(Find<QToolButton>(frm.get(), "btnPkgStop")->isHidden());
    EXPECT_FALSE(frm->Runner().Running());
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
}

TEST_F(DownloadWindowTest, ClosingTheWindowStopsTheTransferEndsTheRunThenShutsDown) {
    auto frm = StartThreeWithASlowSecond();
    OnProgressOf(*frm, "b.second", [&] { frm->close(); });

    Download(*frm);
    EXPECT_TRUE(frm->isVisible()); // the run ended first
    Settle();

    EXPECT_FALSE(frm->isVisible());
    EXPECT_TRUE(Exists(QStringLiteral("orvia.ini"))); // the shutdown ran
    EXPECT_EQ(titles_.back(), QStringLiteral("Orvia - завершение работы"));
    EXPECT_EQ(Archives(), QStringList{QStringLiteral("a.deb")});
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
}
