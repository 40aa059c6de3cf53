#include "base/LongOperation.h"
#include "catalogue/PackageDownload.h"
#include "catalogue/PackageRow.h"
#include "net/HTTPGet.h"
#include "support/Files.h"
#include "support/TestHttpServer.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using TestFiles::Pattern;

// The window and the runner as the download sees them, recording what the
// walk does to them.
class TFakeView : public TDownloadView, public TOperationReport {
public:
    struct TRow {
        std::string Package;
        bool Marked = true;
        int State = 0;
        bool Found = true;
        TShownPackage Shown;
    };
    std::vector<TRow> Rows;
    std::vector<std::string> Log;  // "show 1", "busy", "idle"
    std::vector<std::string> Puts; // "put <path> <bytes>"
    std::vector<int> Percents;
    std::function<void()> OnProgress; // after each progress report
    bool PutDebsOn = false, PutAutoInstallOn = false, PhoneAnswers = false;
    QStringList Warnings;

    int RowCount() const override { return static_cast<int>(Rows.size()); }
    bool IsMarked(int row) const override { return At(row).Marked; }
    // Every row stands for version 1.0 of its identifier.
    TPackageKey KeyOf(int row) const override { return {At(row).Package, "1.0", {}}; }
    bool Describe(int row, TShownPackage& shown) override {
        shown = At(row).Shown;
        return At(row).Found;
    }
    void ShowRow(int row) override { Log.push_back("show " + std::to_string(row)); }
    void SetMarked(int row, bool marked) override { At(row).Marked = marked; }
    void SetState(int row, int state) override { At(row).State = state; }
    void Busy(bool on) override { Log.push_back(on ? "busy" : "idle"); }
    void Progress(int percent) override {
        Percents.push_back(percent);
        if (OnProgress)
            OnProgress();
    }
    bool PutDebs() const override { return PutDebsOn; }
    bool PutAutoInstall() const override { return PutAutoInstallOn; }
    // What the upload would send is recorded.
    TOutcome PhonePut(const QString& localFile, const std::string& remotePath) override {
        Puts.push_back("put " + remotePath + " " + TestFiles::ReadBytes(localFile).toStdString());
        return PhoneAnswers ? TOutcome::Success() : TOutcome::Failure(QStringLiteral("no phone"));
    }
    void Warn(const QString& text) override { Warnings << text; }

    std::vector<bool> Marks() const { return Column(&TRow::Marked); }
    std::vector<int> States() const { return Column(&TRow::State); }
    template <typename T> std::vector<T> Column(T TRow::*field) const {
        std::vector<T> column;
        for (const TRow& r : Rows)
            column.push_back(r.*field);
        return column;
    }

private:
    TRow& At(int row) { return Rows.at(static_cast<std::size_t>(row)); }
    const TRow& At(int row) const { return Rows.at(static_cast<std::size_t>(row)); }
};

class DownloadWalk : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(ArchivesDir()) && QDir().mkpath(WorkDir() + "proc"));
    }

    QString WorkDir() const { return tmp_.path() + QStringLiteral("/"); }
    QString ArchivesDir() const { return WorkDir() + QStringLiteral("archives/"); }
    QString CacheFile() const { return WorkDir() + QStringLiteral("proc/cache.txt"); }
    std::string Archive(const std::string& name) const {
        return TestFiles::ReadBytes(ArchivesDir() + QString::fromStdString(name)).toStdString();
    }
    QStringList ArchiveNames() const {
        return QDir(ArchivesDir()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // Only what the test put there: no scratch or staged file, no private
    // folder is left.
    QStringList WorkFiles() const {
        QStringList entries =
            QDir(WorkDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        entries.removeAll(QStringLiteral("archives"));
        entries.removeAll(QStringLiteral("proc"));
        return entries;
    }

    // A marked row served at path with the given body; Size and SHA256 as
    // the index would give them.
    TFakeView::TRow Served(const std::string& package, const std::string& path,
                           const std::string& body, const std::string& localName) {
        server_.Serve(path, body);
        TShownPackage shown{server_.Url(path),
                            std::to_string(body.size()),
                            localName,
                            TestFiles::Digest(body),
                            {},
                            {}};
        return {package, true, 0, true, shown};
    }

    void Run() {
        THTTPGet http;
        TPackageDownload download(view_, http, view_, stop_,
                                  {WorkDir(), ArchivesDir(), CacheFile()});
        stop_.Clear();
        download.Run();
    }

    QTemporaryDir tmp_;
    TTestHttpServer server_;
    TFakeView view_;
    TStopFlag stop_;
};

TEST_F(DownloadWalk, SideBySideOverKeptConnectionsInListOrderAndAFailureRetriedAlone) {
    const int closedPort = TTestHttpServer::ClosedPort();
    std::vector<std::string> log = {"busy"};
    for (int i = 0; i < 8; ++i) {
        const std::string n = std::to_string(i);
        view_.Rows.push_back(
            Served("pkg." + n, "/p" + n + ".deb", Pattern(20000, char('a' + i)), "p" + n + ".deb"));
        log.push_back("show " + n);
    }
    log.push_back("idle");
    // An unreachable server among the others.
    view_.Rows[3].Shown.Address = "http://127.0.0.1:" + std::to_string(closedPort) + "/p3.deb";
    view_.Rows.push_back({"pkg.unmarked", false, 0, true, {}});
    Run();
    EXPECT_EQ(view_.Log, log);
    EXPECT_EQ(view_.Marks(),
              (std::vector<bool>{false, false, false, true, false, false, false, false, false}));
    EXPECT_EQ(view_.States(), (std::vector<int>{1, 1, 1, 0, 1, 1, 1, 1, 0}));
    EXPECT_EQ(ArchiveNames().size(), 7);
    EXPECT_EQ(Archive("p7.deb"), Pattern(20000, 'h'));
    ASSERT_EQ(view_.Warnings.size(), 1);
    EXPECT_TRUE(view_.Warnings[0].startsWith("Не загружено пакетов: 1. ") &&
                view_.Warnings[0].contains("\npkg.3 1.0: ") &&
                view_.Warnings[0].contains(QString::number(closedPort)))
        << view_.Warnings[0].toStdString();
    // A server's connection is kept for its next package.
    std::set<int> connections;
    for (const TTestHttpServer::TRequest& r : server_.Requests())
        connections.insert(r.RemotePort);
    EXPECT_EQ(server_.Requests().size(), 7u);
    EXPECT_LE(connections.size(), std::size_t(TPackageDownload::MaxTransfers));
    EXPECT_TRUE(WorkFiles().isEmpty()) << WorkFiles().join(' ').toStdString();

    // The next press fetches only the package that failed; then nothing is left.
    const std::vector<std::string> retried = {"busy", "show 3", "idle"};
    for (const bool again : {true, false}) {
        server_.ClearRequests();
        view_.Log.clear();
        view_.Rows[3].Shown.Address = server_.Url("/p3.deb");
        Run();
        EXPECT_EQ(server_.RequestLines(), again ? std::vector<std::string>{"GET /p3.deb HTTP/1.1"}
                                                : std::vector<std::string>{});
        EXPECT_EQ(view_.Log, again ? retried : std::vector<std::string>{});
    }
    EXPECT_EQ(view_.Warnings.size(), 1); // the first run's
    EXPECT_EQ(Archive("p3.deb"), Pattern(20000, 'd'));
    EXPECT_EQ(view_.Percents.back(), 100);
}

// Stop while the first package and those fetched ahead of it are all under
// way: every row keeps its mark, nothing is stored, nothing is left behind.
TEST_F(DownloadWalk, StopDuringSeveralTransfersKeepsEveryMarkAndLeavesNothing) {
    for (int i = 0; i < 6; ++i) {
        const std::string n = std::to_string(i), body = Pattern(64 * 1024, char('a' + i));
        view_.Rows.push_back(Served("pkg." + n, "/p" + n + ".deb", body, "p" + n + ".deb"));
        server_.ServePaced("/p" + n + ".deb", body, 1024, 5);
    }
    view_.OnProgress = [this] {
        if (server_.Requests().size() == std::size_t(TPackageDownload::MaxTransfers))
            stop_.Set();
    };
    Run();
    EXPECT_TRUE(stop_.IsSet());
    EXPECT_EQ(view_.Log, (std::vector<std::string>{"busy", "show 0", "idle"}));
    EXPECT_EQ(view_.Marks(), std::vector<bool>(6, true));
    EXPECT_TRUE(ArchiveNames().isEmpty());
    EXPECT_TRUE(view_.Warnings.isEmpty());
    EXPECT_EQ(server_.Requests().size(), std::size_t(TPackageDownload::MaxTransfers));
    EXPECT_TRUE(WorkFiles().isEmpty()) << WorkFiles().join(' ').toStdString();
}

TEST_F(DownloadWalk, EveryFailureIsNamedWithItsReasonAndKeepsItsMark) {
    const std::string body = Pattern(1000, 'n');
    // Refused names (the cache's table has every rule), a stanza gone.
    view_.Rows = {Served("pkg.dots", "/dots.deb", body, ".."),
                  Served("pkg.gone", "/gone.deb", body, "gone.deb"),
                  Served("pkg.tab", "/t.deb", body, "t\tab.deb"),
                  Served("pkg.Ok", "/ok.deb", body, "ok.deb")};
    view_.Rows[1].Found = false;
    // A file unlike its index at the right size (the cache's table has the
    // other answers of the check): only the stored package reaches the phone.
    view_.Rows.push_back(Served("pkg.sum", "/sum.deb", body, "sum.deb"));
    view_.Rows.back().Shown.Sha256 = TestFiles::Digest(body + "?");
    view_.PutDebsOn = view_.PutAutoInstallOn = view_.PhoneAnswers = true;
    // An error page where the index gives no size or hash to tell it by.
    view_.Rows.push_back(Served("pkg.404", "/missing.deb", body, "missing.deb"));
    view_.Rows.back().Shown.SizeText.clear();
    view_.Rows.back().Shown.Sha256.clear();
    server_.Serve("/missing.deb", "Not found", 404);
    // A server that announces a terabyte gets nothing written: the transfer
    // stops at the size the index gives, or at the package cap without one.
    view_.Rows.push_back(Served("pkg.sized", "/sized.deb", "", "sized.deb"));
    view_.Rows.back().Shown.SizeText = "50000";
    view_.Rows.push_back(Served("pkg.unsized", "/unsized.deb", "", "unsized.deb"));
    view_.Rows.back().Shown.SizeText.clear();
    server_.ServeZeros("/sized.deb", 1ULL << 40, 1 << 20);
    server_.ServeZeros("/unsized.deb", 1ULL << 40, 1 << 20);
    Run();
    // Fetched side by side: the requests arrive in any order.
    std::vector<std::string> requests = server_.RequestLines();
    std::sort(requests.begin(), requests.end());
    EXPECT_EQ(requests,
              (std::vector<std::string>{"GET /missing.deb HTTP/1.1", "GET /ok.deb HTTP/1.1",
                                        "GET /sized.deb HTTP/1.1", "GET /sum.deb HTTP/1.1",
                                        "GET /unsized.deb HTTP/1.1"}));
    EXPECT_EQ(view_.Marks(), (std::vector<bool>{true, true, true, false, true, true, true, true}));
    EXPECT_EQ(view_.States(), (std::vector<int>{0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(ArchiveNames(), QStringList{QStringLiteral("ok.deb")});
    EXPECT_EQ(view_.Puts, (std::vector<std::string>{
                              "put /private/var/cache/apt/archives/ok.deb " + body,
                              "put /private/var/root/Media/Cydia/AutoInstall/ok.deb " + body}));
    EXPECT_TRUE(WorkFiles().isEmpty()) << WorkFiles().join(' ').toStdString();
    // One warning after the run names each failed package and why, printable.
    ASSERT_EQ(view_.Warnings.size(), 1);
    const QStringList lines = view_.Warnings.front().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 8);
    const QString starts[] = {
        QStringLiteral("Не загружено пакетов: 7. Они остались отмечены."),
        QStringLiteral("pkg.dots 1.0: имя файла \"..\""),
        QStringLiteral("pkg.gone 1.0: нет в его индексе"),
        QStringLiteral("pkg.tab 1.0: имя файла \"t\\x09ab.deb\""),
        QStringLiteral("pkg.sum 1.0: контрольная сумма не совпадает с индексом"),
        QStringLiteral("pkg.404 1.0: сервер ответил HTTP 404 (http://"),
        QStringLiteral("pkg.sized 1.0: ответ больше предела в 50000 байт"),
        QStringLiteral("pkg.unsized 1.0: ответ больше предела в %1 байт")
            .arg(SafeFiles::MaxPackageSize)};
    for (int i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith(starts[i])) << lines[i].toStdString();
    EXPECT_EQ(view_.Log.back(), "idle"); // shown when the run is over
}

// A repository names its packages after files of the working folder, or
// hides another name behind a colon: the phone still gets the stored, checked
// package, and no file outside the cache is created or changed.
TEST_F(DownloadWalk, NamesFromTheIndexNeverSelectAFileOfTheWorkingFolder) {
    const std::string body = Pattern(2000, 'p');
    const QByteArray settings = "[Settings]\nPutDebs=1\n";
    TestFiles::WriteBytes(WorkDir() + QStringLiteral("orvia.ini"), settings);
    view_.Rows = {Served("pkg.colon", "/pool/evil:orvia.ini", body, "evil:orvia.ini"),
                  Served("pkg.ini", "/orvia.ini", body, "orvia.ini"),
                  Served("pkg.plugin", "/T-Pot.ini", body, "T-Pot.ini"),
                  Served("pkg.scratch", "/download.deb", body, "download.deb")};
    view_.PutDebsOn = true;
    view_.PhoneAnswers = false; // no phone: the run goes on, and says what was not sent
    Run();
    EXPECT_EQ(TestFiles::ReadBytes(WorkDir() + QStringLiteral("orvia.ini")), settings);
    std::vector<std::string> puts;
    QString unsent = QStringLiteral("Не отправлено на телефон файлов: 4.");
    for (const char* name : {"evil:orvia.ini", "orvia.ini", "T-Pot.ini", "download.deb"}) {
        puts.push_back("put /private/var/cache/apt/archives/" + std::string(name) + " " + body);
        unsent += QStringLiteral("\n/private/var/cache/apt/archives/") + QLatin1String(name) +
                  QStringLiteral(": no phone");
    }
    EXPECT_EQ(view_.Puts, puts);
    EXPECT_EQ(view_.Warnings, QStringList{unsent});
    EXPECT_EQ(view_.Marks(), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(ArchiveNames(),
              (QStringList{"T-Pot.ini", "download.deb", "evil:orvia.ini", "orvia.ini"}));
    EXPECT_EQ(WorkFiles(), QStringList{QStringLiteral("orvia.ini")});
}

} // namespace
