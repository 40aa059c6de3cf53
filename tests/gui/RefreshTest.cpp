// The window's wiring of the refresh: the button, the start-up refresh, the
// catalogue reload, and closing the window while a refresh runs.
#include "GuiTestSupport.h"
#include "app/ui/PackagesPage.h"
#include "app/ui/SourcesPage.h"
#include "sources/IndexStore.h"
#include "support/Archives.h"
#include "support/TestHttpServer.h"
#include "support/TestTls.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>

#include <algorithm>

namespace {

using TestArchives::Gzip;

// One package with a long, varied description: its gzip form is well over
// the 128 bytes below which an answer counts as missing.
std::string Index(const std::string& package) {
    std::string description;
    for (int i = 0; i < 60; ++i)
        description += std::to_string(i * 7919 % 1000) + " ";
    return "Package: " + package + "\nName: " + package + "\nVersion: 2.0\nSection: Tweaks\n" +
           "Description: " + description + "\n\n";
}

class RefreshWindowTest : public WindowTest {
protected:
    // A source of the local server, with a stored index so that the source
    // list shows it at start-up.
    QString AddSource(const std::string& path, const std::string& storedPackage) {
        const QString address = QString::fromStdString(server_.Url(path));
        WriteFile(QStringLiteral("proc/") + IndexStore::AddressToIndexName(address),
                  QByteArray::fromStdString(Index(storedPackage)));
        return address;
    }
    QByteArray Stored(const QString& address) const {
        return ReadFile(QStringLiteral("proc/") + IndexStore::AddressToIndexName(address));
    }
    static bool HasPackage(TfrmMain& frm, const std::string& package) {
        const auto& rows = PageOf<TPackagesPage>(frm)->Rows();
        return std::any_of(rows.begin(), rows.end(),
                           [&](auto& r) { return r.Package() == package; });
    }

    TTestHttpServer server_;
};

// The button, and the start-up when the settings ask for it: the index is
// stored and the catalogue reloaded.
TEST_F(RefreshWindowTest, RefreshStoresAndReloads) {
    for (const bool atStartup : {false, true}) {
        SCOPED_TRACE(atStartup ? "start-up" : "button");
        server_.ClearRequests();
        QFile::remove(WorkDir() + QStringLiteral("proc/cache.txt"));
        const QString a = AddSource("/a/Packages", "old.a");
        server_.Serve("/a/Packages.gz", Gzip(Index("new.a")));
        WriteFile(QStringLiteral("orvia.ini"), atStartup ? "[Settings]\nRefresh=1\n" : "");
        auto frm = StartWindow();
        ASSERT_EQ(HasPackage(*frm, "old.a"), !atStartup);
        QStringList titles;
        QObject::connect(frm.get(), &QWidget::windowTitleChanged,
                         [&](const QString& title) { titles << title; });
        if (!atStartup)
            emit PageOf<TSourcesPage>(*frm)->refreshClicked();

        EXPECT_EQ(Stored(a), QByteArray::fromStdString(Index("new.a")));
        EXPECT_TRUE(HasPackage(*frm, "new.a"));
        EXPECT_FALSE(HasPackage(*frm, "old.a"));
        EXPECT_TRUE(Exists(QStringLiteral("proc/cache.txt")));
        if (!atStartup) {
            EXPECT_EQ(titles,
                      (QStringList{QStringLiteral("Orvia - обновление источников"),
                                   QStringLiteral("Orvia - загрузка пакетов и поиск обновлений"),
                                   QStringLiteral("Orvia")}));
        }
        EXPECT_FALSE(Find<QProgressBar>(frm.get(), "prSrc")->isVisible());
        EXPECT_TRUE(frm->isEnabled());
        EXPECT_FALSE(frm->Runner().Running());
    }
}

TEST_F(RefreshWindowTest, FailuresAreMarkedAndSummedAndTheFieldShowsTheSelection) {
    const TTestTls tls;
    TTestHttpServer secure(tls.CertFile(), tls.KeyFile());
    secure.Serve("/c/Packages.gz", Gzip(Index("new.c")));
    server_.Redirect("/c/Packages.gz", 301, secure.Url("/c/Packages.gz"));
    server_.Serve("/a/Packages.gz", Gzip(Index("new.a")));
    const QString a = AddSource("/a/Packages", "old.a");
    const QString b = AddSource("/b/Packages", "old.b"); // every form answers 404
    const QString c = AddSource("/c/Packages", "old.c");
    const QString movedC = QString::fromStdString(secure.Url("/c/Packages"));
    auto frm = StartWindow();
    TSourcesPage* page = PageOf<TSourcesPage>(*frm);
    auto* list = Find<QListWidget>(frm.get(), "lstSources");
    ASSERT_EQ(list->count(), 3);
    page->SelectEntry(page->Sources().FindRepository(b));
    emit page->refreshClicked();

    // The walk ends on the first entry, and the field shows it: Apply
    // cannot put another entry's address in its place.
    EXPECT_EQ(page->Sources().Selected(), 0);
    EXPECT_EQ(Find<QLineEdit>(frm.get(), "txtSource")->text(), page->Sources().Text(0));
    for (int i = 0; i < list->count(); ++i) {
        const QString text = list->item(i)->text();
        SCOPED_TRACE(text.toStdString());
        const bool failed = text == b;
        EXPECT_EQ(list->item(i)->icon().isNull(), !failed);
        EXPECT_EQ(list->item(i)->toolTip().startsWith(QStringLiteral("Не обновлён: ") + b + " — "),
                  failed);
        EXPECT_NE(text, c); // moved to https
    }
    EXPECT_EQ(
        Find<QLabel>(frm.get(), "lblSrcStatus")->text(),
        QStringLiteral("Обновлено 2 из 3 источников (причины — в подсказках отмеченных строк)"));
    EXPECT_TRUE(page->Sources().Texts().contains(movedC));
    EXPECT_EQ(Stored(c), QByteArray::fromStdString(Index("new.c")));
    EXPECT_EQ(Stored(b), QByteArray::fromStdString(Index("old.b")));
}

// Closing the window while the sources' answers are held: the transfers stop
// at once, the walk ends, the catalogue is reloaded and then the shutdown
// runs. (A termination request closes the same way: ControllerTest.)
TEST_F(RefreshWindowTest, ClosingMidRefreshStopsTheWalkBeforeShutdown) {
    const QString a = AddSource("/a/Packages", "old.a");
    const QString b = AddSource("/b/Packages", "old.b");
    server_.ServeHeld("/a/Packages.gz", Gzip(Index("new.a")), 10);
    server_.ServeHeld("/b/Packages.gz", Gzip(Index("new.b")), 10);
    auto frm = StartWindow();
    frm->show();
    TfrmMain* window = frm.get();
    server_.SetOnRequest([window](const TTestHttpServer::TRequest&) {
        QMetaObject::invokeMethod(
            window, [=] { window->close(); }, Qt::QueuedConnection);
    });
    emit PageOf<TSourcesPage>(*frm)->refreshClicked();
    server_.SetOnRequest(nullptr);
    Settle();

    // The two sources are asked side by side, each once at most; no source
    // stored.
    EXPECT_GE(server_.Requests().size(), 1u);
    EXPECT_LE(server_.Requests().size(), 2u);
    EXPECT_EQ(Stored(a), QByteArray::fromStdString(Index("old.a")));
    EXPECT_EQ(Stored(b), QByteArray::fromStdString(Index("old.b")));
    EXPECT_FALSE(frm->isVisible());
    EXPECT_TRUE(Exists(QStringLiteral("orvia.ini"))); // the shutdown ran
    EXPECT_TRUE(Exists(QStringLiteral("proc/cache.txt")));
    EXPECT_FALSE(frm->Runner().Running());
}

} // namespace
