#include "base/LongOperation.h"
#include "catalogue/PackageDownload.h"
#include "catalogue/PackageRow.h"
#include "net/HTTPGet.h"
#include "support/Files.h"
#include "support/TestHttpServer.h"

#include <QCryptographicHash>
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

std::string Body(std::size_t size, char seed) {
    std::string s(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(seed + i % 19);
    return s;
}

std::string Sha256(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

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
    std::vector<std::string> Log; // "show 1", "busy", "idle", "put <path> <bytes>"
    std::vector<int> Percents;
    std::function<void()> OnProgress; // after each progress report
    bool PutDebsOn = false;
    bool PutAutoInstallOn = false;
    bool PhoneAnswers = false;
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
        Log.push_back("put " + remotePath + " " + TestFiles::ReadBytes(localFile).toStdString());
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
    std::vector<std::string> Puts() const {
        std::vector<std::string> puts;
        for (const std::string& l : Log)
            if (l.starts_with("put "))
                puts.push_back(l);
        return puts;
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
        TShownPackage shown{
            server_.Url(path), std::to_string(body.size()), localName, Sha256(body), {}, {}};
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
            Served("pkg." + n, "/p" + n + ".deb", Body(20000, char('a' + i)), "p" + n + ".deb"));
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
    EXPECT_EQ(Archive("p7.deb"), Body(20000, 'h'));
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
    EXPECT_EQ(Archive("p3.deb"), Body(20000, 'd'));
    EXPECT_EQ(view_.Percents.back(), 100);
}

// Stop while the first package and those fetched ahead of it are all under
// way: every row keeps its mark, nothing is stored, nothing is left behind.
TEST_F(DownloadWalk, StopDuringSeveralTransfersKeepsEveryMarkAndLeavesNothing) {
    for (int i = 0; i < 6; ++i) {
        const std::string n = std::to_string(i), body = Body(64 * 1024, char('a' + i));
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

TEST_F(DownloadWalk, OnlyFilesThatMatchTheIndexAreStoredAndReachThePhone) {
    const std::string body = Body(50000, 'x');
    struct TCase {
        const char* What;
        std::string Size, Sha256;
        bool Stored;
        const char* Reason; // in the message when not stored
    };
    // The other answers of the store (size, the hash that counts) are the
    // cache's own table; a transfer past the size is a failure of its own.
    const TCase cases[] = {
        {"hash mismatch at the right size", "50000", Sha256(body + "?"), false,
         "pkg.x 1.0: контрольная сумма не совпадает с индексом"},
        {"size and hash right", "50000", Sha256(body), true, ""},
    };
    view_.PutDebsOn = view_.PutAutoInstallOn = true;
    view_.PhoneAnswers = true;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        QFile::remove(ArchivesDir() + QStringLiteral("x.deb"));
        view_.Log.clear();
        view_.Warnings.clear();
        view_.Rows = {Served("pkg.x", "/x.deb", body, "x.deb")};
        view_.Rows[0].State = 2;
        view_.Rows[0].Shown.SizeText = c.Size;
        view_.Rows[0].Shown.Sha256 = c.Sha256;
        Run();
        // A file unlike its index is a failure: said, and its mark kept.
        EXPECT_EQ(view_.Rows[0].Marked, !c.Stored);
        ASSERT_EQ(view_.Warnings.size(), c.Stored ? 0 : 1);
        if (!c.Stored) {
            EXPECT_TRUE(view_.Warnings[0].contains(QString::fromUtf8(c.Reason)))
                << view_.Warnings[0].toStdString();
        }
        EXPECT_EQ(view_.Rows[0].State, c.Stored ? 1 : 2);
        EXPECT_EQ(Archive("x.deb"), c.Stored ? body : "<missing>");
        std::vector<std::string> puts;
        for (const char* folder : {"cache/apt/archives", "root/Media/Cydia/AutoInstall"})
            if (c.Stored)
                puts.push_back("put /private/var/" + std::string(folder) + "/x.deb " + body);
        EXPECT_EQ(view_.Puts(), puts);
        EXPECT_TRUE(WorkFiles().isEmpty());
    }
}

TEST_F(DownloadWalk, EveryFailureIsNamedWithItsReasonAndKeepsItsMark) {
    const std::string body = Body(1000, 'n');
    // Refused names (the cache's table has every rule), a stanza gone.
    view_.Rows = {Served("pkg.dots", "/dots.deb", body, ".."),
                  Served("pkg.gone", "/gone.deb", body, "gone.deb"),
                  Served("pkg.tab", "/t.deb", body, "t\tab.deb"),
                  Served("pkg.Ok", "/ok.deb", body, "ok.deb")};
    view_.Rows[1].Found = false;
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
                                        "GET /sized.deb HTTP/1.1", "GET /unsized.deb HTTP/1.1"}));
    EXPECT_EQ(view_.Marks(), (std::vector<bool>{true, true, true, false, true, true, true}));
    EXPECT_EQ(ArchiveNames(), QStringList{QStringLiteral("ok.deb")});
    EXPECT_EQ(TestFiles::ReadBytes(WorkDir() + QStringLiteral("dots.deb")), "<missing>");
    // One warning after the run names each failed package and why, printable.
    ASSERT_EQ(view_.Warnings.size(), 1);
    const QStringList lines = view_.Warnings.front().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[0], "Не загружено пакетов: 6. Они остались отмечены.");
    EXPECT_TRUE(lines[1].startsWith("pkg.dots 1.0: имя файла \"..\""));
    EXPECT_EQ(lines[2], "pkg.gone 1.0: нет в его индексе");
    EXPECT_TRUE(lines[3].startsWith("pkg.tab 1.0: имя файла \"t\\x09ab.deb\""))
        << lines[3].toStdString();
    EXPECT_TRUE(lines[4].startsWith("pkg.404 1.0: сервер ответил HTTP 404 (http://"))
        << lines[4].toStdString();
    EXPECT_TRUE(lines[5].startsWith("pkg.sized 1.0: ответ больше предела в 50000 байт"))
        << lines[5].toStdString();
    EXPECT_TRUE(
        lines[6].startsWith(QStringLiteral("pkg.unsized 1.0: ответ больше предела в %1 байт")
                                .arg(SafeFiles::MaxPackageSize)))
        << lines[6].toStdString();
    EXPECT_EQ(view_.Log.back(), "idle"); // shown when the run is over
}

// A repository names its packages after files of the working folder, or
// hides another name behind a colon: the phone still gets the stored, checked
// package, and no file outside the cache is created or changed.
TEST_F(DownloadWalk, NamesFromTheIndexNeverSelectAFileOfTheWorkingFolder) {
    const std::string body = Body(2000, 'p');
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
    EXPECT_EQ(view_.Puts(), puts);
    EXPECT_EQ(view_.Warnings, QStringList{unsent});
    EXPECT_EQ(view_.Marks(), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(ArchiveNames(),
              (QStringList{"T-Pot.ini", "download.deb", "evil:orvia.ini", "orvia.ini"}));
    EXPECT_EQ(WorkFiles(), QStringList{QStringLiteral("orvia.ini")});
}

} // namespace
