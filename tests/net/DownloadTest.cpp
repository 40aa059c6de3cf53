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
    std::vector<TRow> rows;
    std::vector<std::string> log; // "show 1", "busy", "idle", "put <path> <bytes>"
    std::vector<int> progress;
    bool putDebs = false;
    bool putAutoInstall = false;
    bool phoneAnswers = false;

    int RowCount() const override { return static_cast<int>(rows.size()); }
    bool IsMarked(int row) const override { return At(row).Marked; }
    // Every row stands for version 1.0 of its identifier.
    TPackageKey KeyOf(int row) const override { return {At(row).Package, "1.0", {}}; }
    bool Describe(int row, TShownPackage& shown) override {
        shown = At(row).Shown;
        return At(row).Found;
    }
    void ShowRow(int row) override { log.push_back("show " + std::to_string(row)); }
    void SetMarked(int row, bool marked) override { At(row).Marked = marked; }
    void SetState(int row, int state) override { At(row).State = state; }
    void Busy(bool on) override { log.push_back(on ? "busy" : "idle"); }
    void Progress(int percent) override {
        progress.push_back(percent);
        if (onProgress)
            onProgress();
    }
    std::function<void()> onProgress;
    bool PutDebs() const override { return putDebs; }
    bool PutAutoInstall() const override { return putAutoInstall; }
    // What the upload would send is recorded.
    bool PhonePut(const QString& localFile, const std::string& remotePath) override {
        log.push_back("put " + remotePath + " " + TestFiles::ReadBytes(localFile).toStdString());
        return phoneAnswers;
    }
    void Warn(const QString& text) override { warnings << text; }
    QStringList warnings;

    std::vector<bool> Marks() const {
        std::vector<bool> marks;
        for (const TRow& r : rows)
            marks.push_back(r.Marked);
        return marks;
    }
    std::vector<int> States() const {
        std::vector<int> states;
        for (const TRow& r : rows)
            states.push_back(r.State);
        return states;
    }
    std::vector<std::string> Puts() const {
        std::vector<std::string> puts;
        for (const std::string& l : log)
            if (l.starts_with("put "))
                puts.push_back(l);
        return puts;
    }

private:
    TRow& At(int row) { return rows.at(static_cast<std::size_t>(row)); }
    const TRow& At(int row) const { return rows.at(static_cast<std::size_t>(row)); }
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

TEST_F(DownloadWalk, AFailedFetchKeepsItsMarkAndTheNextPressRetriesOnlyIt) {
    int closedPort = 0;
    {
        TTestTcpListener closed; // a port that was free a moment ago
        closedPort = closed.Port();
    }
    const std::string a = Body(20000, 'a'), b = Body(30000, 'b'), c = Body(40000, 'c');
    view_.rows = {Served("pkg.a", "/debs/a.deb", a, "a.deb"),
                  Served("pkg.b", "/debs/b.deb", b, "b.deb"),
                  Served("pkg.c", "/debs/c.deb", c, "c.deb")};
    view_.rows[1].Shown.Address = "http://127.0.0.1:" + std::to_string(closedPort) + "/debs/b.deb";
    view_.rows.push_back({"pkg.unmarked", false, 0, true, {}});
    Run();
    EXPECT_EQ(view_.Marks(), (std::vector<bool>{false, true, false, false}));
    EXPECT_EQ(view_.States(), (std::vector<int>{1, 0, 1, 0}));
    EXPECT_EQ(ArchiveNames(), (QStringList{QStringLiteral("a.deb"), QStringLiteral("c.deb")}));
    EXPECT_EQ(Archive("a.deb"), a);
    EXPECT_EQ(Archive("c.deb"), c);
    EXPECT_EQ(view_.log, (std::vector<std::string>{"busy", "show 0", "show 1", "show 2", "idle"}));
    EXPECT_TRUE(WorkFiles().isEmpty());
    // One message at the end names the package that failed, and where from.
    ASSERT_EQ(view_.warnings.size(), 1);
    EXPECT_TRUE(view_.warnings[0].startsWith("Не загружено пакетов: 1."))
        << view_.warnings[0].toStdString();
    EXPECT_TRUE(view_.warnings[0].contains("\npkg.b 1.0: ")) << view_.warnings[0].toStdString();
    EXPECT_TRUE(view_.warnings[0].contains(QString::number(closedPort)))
        << view_.warnings[0].toStdString();

    server_.ClearRequests();
    view_.log.clear();
    view_.warnings.clear();
    view_.rows[1].Shown.Address = server_.Url("/debs/b.deb");
    Run();
    EXPECT_TRUE(view_.warnings.empty());
    EXPECT_EQ(server_.RequestLines(), (std::vector<std::string>{"GET /debs/b.deb HTTP/1.1"}));
    EXPECT_EQ(view_.log, (std::vector<std::string>{"busy", "show 1", "idle"}));
    EXPECT_EQ(Archive("b.deb"), b);
    EXPECT_EQ(view_.Marks(), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(view_.progress.back(), 100);

    // Nothing marked: nothing happens.
    server_.ClearRequests();
    view_.log.clear();
    Run();
    EXPECT_TRUE(view_.log.empty());
    EXPECT_TRUE(server_.RequestLines().empty());
}

TEST_F(DownloadWalk, PackagesComeSideBySideOverKeptConnectionsAndAreHandledInListOrder) {
    std::vector<std::string> expectedLog = {"busy"};
    for (int i = 0; i < 8; ++i) {
        const std::string n = std::to_string(i);
        view_.rows.push_back(
            Served("pkg." + n, "/p" + n + ".deb", Body(20000, char('a' + i)), "p" + n + ".deb"));
        expectedLog.push_back("show " + n);
    }
    expectedLog.push_back("idle");
    server_.ServeErrorPage("/p3.deb", 404, 300); // a failure among the others
    Run();
    EXPECT_EQ(view_.log, expectedLog);
    EXPECT_EQ(view_.Marks(),
              (std::vector<bool>{false, false, false, true, false, false, false, false}));
    EXPECT_EQ(ArchiveNames().size(), 7);
    ASSERT_EQ(view_.warnings.size(), 1);
    EXPECT_TRUE(view_.warnings[0].contains("\npkg.3 1.0: сервер ответил HTTP 404"))
        << view_.warnings[0].toStdString();
    // A server's connection is kept for its next package.
    const std::vector<TTestHttpServer::TRequest> requests = server_.Requests();
    std::set<int> connections;
    for (const TTestHttpServer::TRequest& r : requests)
        connections.insert(r.RemotePort);
    EXPECT_EQ(requests.size(), 8u);
    EXPECT_LE(connections.size(), std::size_t(TPackageDownload::MaxTransfers));
    EXPECT_TRUE(WorkFiles().isEmpty()) << WorkFiles().join(' ').toStdString();
}

// Stop while the first package and those fetched ahead of it are all under
// way: every row keeps its mark, nothing is stored, nothing is left behind.
TEST_F(DownloadWalk, StopDuringSeveralTransfersKeepsEveryMarkAndLeavesNothing) {
    for (int i = 0; i < 6; ++i) {
        const std::string n = std::to_string(i), body = Body(64 * 1024, char('a' + i));
        view_.rows.push_back(Served("pkg." + n, "/p" + n + ".deb", body, "p" + n + ".deb"));
        server_.ServePaced("/p" + n + ".deb", body, 1024, 5);
    }
    view_.onProgress = [this] {
        if (server_.Requests().size() == std::size_t(TPackageDownload::MaxTransfers))
            stop_.Set();
    };
    Run();
    EXPECT_TRUE(stop_.IsSet());
    EXPECT_EQ(view_.log, (std::vector<std::string>{"busy", "show 0", "idle"}));
    EXPECT_EQ(view_.Marks(), std::vector<bool>(6, true));
    EXPECT_TRUE(ArchiveNames().isEmpty());
    EXPECT_TRUE(view_.warnings.isEmpty());
    EXPECT_EQ(server_.Requests().size(), std::size_t(TPackageDownload::MaxTransfers));
    EXPECT_TRUE(WorkFiles().isEmpty()) << WorkFiles().join(' ').toStdString();
}

TEST_F(DownloadWalk, OnlyFilesThatMatchTheIndexAreStoredAndReachThePhone) {
    const std::string body = Body(50000, 'x');
    struct TCase {
        const char* what;
        std::string size, sha256;
        bool stored;
        const char* reason; // in the message when not stored
    };
    const TCase cases[] = {
        // The transfer stops at the size the index gives.
        {"size smaller than the file", "49999", "", false,
         "pkg.x 1.0: ответ больше предела в 49999 байт"},
        {"hash mismatch at the right size", "50000", Sha256(body + "?"), false,
         "pkg.x 1.0: контрольная сумма не совпадает с индексом"},
        {"size and hash right", "50000", Sha256(body), true, ""},
        {"no size and no hash", "", "", true, ""},
        {"size not a number, no hash", "50 KB", "", true, ""},
    };
    view_.putDebs = view_.putAutoInstall = true;
    view_.phoneAnswers = true;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(ArchivesDir() + QStringLiteral("x.deb"));
        view_.log.clear();
        view_.warnings.clear();
        view_.rows = {Served("pkg.x", "/x.deb", body, "x.deb")};
        view_.rows[0].State = 2;
        view_.rows[0].Shown.SizeText = c.size;
        view_.rows[0].Shown.Sha256 = c.sha256;
        Run();
        // A file unlike its index is a failure: said, and its mark kept.
        EXPECT_EQ(view_.rows[0].Marked, !c.stored);
        ASSERT_EQ(view_.warnings.size(), c.stored ? 0 : 1);
        if (!c.stored) {
            EXPECT_TRUE(view_.warnings[0].contains(QString::fromUtf8(c.reason)))
                << view_.warnings[0].toStdString();
        }
        EXPECT_EQ(view_.rows[0].State, c.stored ? 1 : 2);
        EXPECT_EQ(Archive("x.deb"), c.stored ? body : "<missing>");
        std::vector<std::string> puts;
        for (const char* folder : {"cache/apt/archives", "root/Media/Cydia/AutoInstall"})
            if (c.stored)
                puts.push_back("put /private/var/" + std::string(folder) + "/x.deb " + body);
        EXPECT_EQ(view_.Puts(), puts);
        EXPECT_TRUE(WorkFiles().isEmpty());
    }
}

TEST_F(DownloadWalk, EveryFailureIsNamedWithItsReasonAndKeepsItsMark) {
    const std::string body = Body(1000, 'n');
    view_.rows = {Served("pkg.dots", "/dots.deb", body, ".."),
                  Served("pkg.empty", "/dir/", body, ""),
                  Served("pkg.gone", "/gone.deb", body, "gone.deb"),
                  Served("pkg.tab", "/t.deb", body, "t\tab.deb"),
                  Served("pkg.line", "/l.deb", body, "l\nine.deb"),
                  Served("pkg.hidden", "/h.deb", body, ".orvia.ini.AbCdEf"),
                  Served("pkg.latin1", "/x.deb", body, "caf\xe9.deb"),
                  Served("pkg.ok", "/ok.deb", body, "ok.deb")};
    view_.rows[2].Found = false;
    // An error page where the index gives no size or hash to tell it by.
    view_.rows.push_back(Served("pkg.404", "/missing.deb", body, "missing.deb"));
    view_.rows.back().Shown.SizeText.clear();
    view_.rows.back().Shown.Sha256.clear();
    server_.Serve("/missing.deb", "Not found", 404);
    // A server that announces a terabyte gets nothing written: the transfer
    // stops at the size the index gives, or at the package cap without one.
    view_.rows.push_back(Served("pkg.sized", "/sized.deb", "", "sized.deb"));
    view_.rows.back().Shown.SizeText = "50000";
    view_.rows.push_back(Served("pkg.unsized", "/unsized.deb", "", "unsized.deb"));
    view_.rows.back().Shown.SizeText.clear();
    server_.ServeZeros("/sized.deb", 1ULL << 40, 1 << 20);
    server_.ServeZeros("/unsized.deb", 1ULL << 40, 1 << 20);
    Run();
    // Fetched side by side: the requests arrive in any order.
    std::vector<std::string> requests = server_.RequestLines();
    std::sort(requests.begin(), requests.end());
    EXPECT_EQ(requests,
              (std::vector<std::string>{"GET /missing.deb HTTP/1.1", "GET /ok.deb HTTP/1.1",
                                        "GET /sized.deb HTTP/1.1", "GET /unsized.deb HTTP/1.1"}));
    EXPECT_EQ(view_.Marks(), (std::vector<bool>{true, true, true, true, true, true, true, false,
                                                true, true, true}));
    EXPECT_EQ(ArchiveNames(), QStringList{QStringLiteral("ok.deb")});
    EXPECT_EQ(TestFiles::ReadBytes(WorkDir() + QStringLiteral("dots.deb")), "<missing>");
    // One warning after the run names each failed package and why, printable.
    ASSERT_EQ(view_.warnings.size(), 1);
    const QString& warning = view_.warnings.front();
    for (const char* shown : {"pkg.dots", "pkg.empty", "pkg.tab", "pkg.line", "pkg.hidden",
                              "pkg.latin1", "t\\x09ab.deb", "l\\x0aine.deb"})
        EXPECT_TRUE(warning.contains(QLatin1String(shown))) << shown;
    EXPECT_FALSE(warning.contains(QLatin1Char('\t')));
    const QStringList lines = warning.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines[0], "Не загружено пакетов: 10. Они остались отмечены.");
    EXPECT_EQ(lines[3], "pkg.gone 1.0: нет в его индексе");
    EXPECT_TRUE(lines[8].startsWith("pkg.404 1.0: сервер ответил HTTP 404 (http://"))
        << lines[8].toStdString();
    EXPECT_TRUE(lines[9].startsWith("pkg.sized 1.0: ответ больше предела в 50000 байт"))
        << lines[9].toStdString();
    EXPECT_TRUE(
        lines[10].startsWith(QStringLiteral("pkg.unsized 1.0: ответ больше предела в %1 байт")
                                 .arg(SafeFiles::MaxPackageSize)))
        << lines[10].toStdString();
    EXPECT_EQ(view_.log.back(), "idle"); // shown when the run is over
}

// A repository names its packages after files of the working folder, or
// hides another name behind a colon: the phone still gets the stored, checked
// package, and no file outside the cache is created or changed.
TEST_F(DownloadWalk, NamesFromTheIndexNeverSelectAFileOfTheWorkingFolder) {
    const std::string body = Body(2000, 'p');
    const QByteArray settings = "[Settings]\nPutDebs=1\n";
    TestFiles::WriteBytes(WorkDir() + QStringLiteral("orvia.ini"), settings);
    view_.rows = {Served("pkg.colon", "/pool/evil:orvia.ini", body, "evil:orvia.ini"),
                  Served("pkg.ini", "/orvia.ini", body, "orvia.ini"),
                  Served("pkg.plugin", "/T-Pot.ini", body, "T-Pot.ini"),
                  Served("pkg.scratch", "/download.deb", body, "download.deb")};
    view_.putDebs = true;
    view_.phoneAnswers = false; // no phone: the run goes on, and says what was not sent
    Run();
    EXPECT_EQ(TestFiles::ReadBytes(WorkDir() + QStringLiteral("orvia.ini")), settings);
    std::vector<std::string> puts;
    QString unsent = QStringLiteral("Не отправлено на телефон файлов: 4.");
    for (const char* name : {"evil:orvia.ini", "orvia.ini", "T-Pot.ini", "download.deb"}) {
        puts.push_back("put /private/var/cache/apt/archives/" + std::string(name) + " " + body);
        unsent += QStringLiteral("\n/private/var/cache/apt/archives/") + QLatin1String(name);
    }
    EXPECT_EQ(view_.Puts(), puts);
    EXPECT_EQ(view_.warnings, QStringList{unsent});
    EXPECT_EQ(view_.Marks(), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(ArchiveNames(),
              (QStringList{"T-Pot.ini", "download.deb", "evil:orvia.ini", "orvia.ini"}));
    EXPECT_EQ(WorkFiles(), QStringList{QStringLiteral("orvia.ini")});
}

TEST_F(DownloadWalk, ANewPackageBecomesDownloadedInEverySavedRowOfItsIdentifier) {
    auto record = [](const std::string& state, const std::string& package,
                     const std::string& index) {
        return "Tweaks\r\nCaption\r\n" + state + "\r\n1.0\r\n" + package + "\r\nDesc\r\n" + index +
               "\r\n";
    };
    TestFiles::WriteBytes(CacheFile(),
                          QByteArray::fromStdString(record("$2", "pkg.new", "one_Packages") +
                                                    record("$0", "pkg.other", "one_Packages") +
                                                    record("$3", "pkg.new", "two_Packages")));
    const std::string body = Body(5000, 'n');
    view_.rows = {Served("pkg.new", "/new.deb", body, "new.deb")};
    view_.rows[0].State = 2;
    Run();
    EXPECT_EQ(view_.States(), std::vector<int>{1});
    EXPECT_EQ(TestFiles::ReadBytes(CacheFile()).toStdString(),
              record("$1", "pkg.new", "one_Packages") + record("$0", "pkg.other", "one_Packages") +
                  record("$1", "pkg.new", "two_Packages"));
}

} // namespace
