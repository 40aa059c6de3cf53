#include "sources/Refresh.h"
#include "base/LongOperation.h"
#include "base/SafeFiles.h"
#include "net/HTTPGet.h"
#include "sources/IndexStore.h"
#include "sources/RefreshFetch.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/TestHttpServer.h"
#include "support/TestTls.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace TestArchives;

std::string Index(const std::string& tag) {
    std::string text;
    for (int i = 0; i < 20; ++i)
        text += "Package: " + tag + ".pkg" + std::to_string(i) + "\nVersion: 1." +
                std::to_string(i) + "\nSection: Tweaks\n\n";
    return text;
}

// The middle of an archive flipped, and its tail cut off.
std::string Corrupt(std::string archive) {
    for (std::size_t i = archive.size() / 3; i < archive.size() * 2 / 3; ++i)
        archive[i] ^= 0x5A;
    return archive;
}
std::string Truncated(const std::string& archive) {
    return archive.substr(0, archive.size() * 2 / 3);
}

// Sources are fetched side by side: the requests of different sources
// arrive in any order.
std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

// How many progress reports a transfer makes depends on timing: only the
// resets to 0 are recorded in order, and the last value apart.
struct TRefreshReport : TOperationReport {
    void Busy(bool on) override { Calls.push_back(on ? "begin" : "end"); }
    void ItemStarted(int index) override {
        Calls.push_back("select " + std::to_string(index));
        if (OnItem)
            OnItem(index);
    }
    void Progress(int percent) override {
        if (percent == 0)
            Calls.push_back("progress 0");
        Last = percent;
    }
    std::vector<std::string> Calls;
    int Last = -1;
    std::function<void(int)> OnItem;
};

class RefreshTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(Proc()) && QDir().mkpath(Lists()));
        TestFiles::WriteBytes(Work() + QStringLiteral("orvia.ini"), "[Settings]\n");
    }
    QString Work() const { return dir_.path() + QStringLiteral("/"); }
    QString Proc() const { return Work() + QStringLiteral("proc/"); }
    QString Lists() const { return Work() + QStringLiteral("lists/"); }
    QString Address(const std::string& path) const { return Url(server_, path); }
    static QString Url(const TTestHttpServer& server, const std::string& path) {
        return QString::fromStdString(server.Url(path));
    }
    QString StoredPath(const QString& address) const {
        return Proc() + IndexStore::AddressToIndexName(address);
    }
    QByteArray Stored(const QString& address) const {
        return TestFiles::ReadBytes(StoredPath(address));
    }
    void SetStored(const QString& address, const QByteArray& bytes) const {
        TestFiles::WriteBytes(StoredPath(address), bytes);
    }
    // The working folder holds nothing but what the test put there, the
    // store no temporary file.
    void ExpectNoLeftovers() const {
        EXPECT_EQ(QDir(Work()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  (QStringList{"lists", "orvia.ini", "proc"}));
        EXPECT_EQ(TestFiles::ReadBytes(Work() + QStringLiteral("orvia.ini")), "[Settings]\n");
        EXPECT_EQ(Temporaries(), QStringList());
    }
    QStringList Temporaries() const {
        return QDir(Proc()).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden);
    }
    int Walk(const std::vector<TSourceEntry>& sources) {
        TRefresh refresh(http_, stop_, Work(), Proc(), view_, Lists());
        const int stored = refresh.Walk(sources);
        outcomes_ = refresh.Outcomes();
        return stored;
    }
    // "entry: ok", "entry: ok note" or "entry: reason" for each source the
    // walk tried.
    std::vector<std::string> Outcomes() const {
        std::vector<std::string> lines;
        for (const TSourceOutcome& o : outcomes_) {
            const std::string reason = o.Outcome.Reason.toStdString();
            lines.push_back(std::to_string(o.Entry) + ": " + (o.Outcome ? "ok" : "") +
                            (o.Outcome && !reason.empty() ? " " : "") + reason);
        }
        return lines;
    }

    QTemporaryDir dir_;
    TTestHttpServer server_, a_, b_, c_; // a, b, c: more repository hosts
    THTTPGet http_;
    TStopFlag stop_;
    TRefreshReport view_;
    std::vector<TSourceOutcome> outcomes_;
};

// A scratch file of fewer than 128 bytes is missing; a first byte other than
// a line end that is "<" makes a web page, however many line ends precede it.
TEST(ScratchCheckTest, Files) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/f");
    EXPECT_EQ(TRefresh::CheckScratchFile(path), TRefresh::TScratch::MissingOrShort);
    const QByteArray pad(200, 'x');
    const struct {
        QByteArray bytes;
        TRefresh::TScratch scratch;
    } cases[] = {
        {"<" + QByteArray(126, 'x'), TRefresh::TScratch::MissingOrShort},
        {"<" + QByteArray(127, 'x'), TRefresh::TScratch::WebPage},
        {"\r\n\n\r<" + pad, TRefresh::TScratch::WebPage},
        {QByteArray(100000, '\n') + QByteArray(200, '<'), TRefresh::TScratch::WebPage},
        {" <" + pad, TRefresh::TScratch::Data},
        {"Package: a\n" + pad, TRefresh::TScratch::Data},
        {QByteArray(100000, '\n'), TRefresh::TScratch::Data},
    };
    for (const auto& c : cases) {
        TestFiles::WriteBytes(path, c.bytes);
        EXPECT_EQ(TRefresh::CheckScratchFile(path), c.scratch) << c.bytes.left(20).toStdString();
    }
    // A folder or a FIFO is never opened as a scratch file (a FIFO would block).
    const QString fifo = dir.path() + QStringLiteral("/fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(TRefresh::CheckScratchFile(fifo), TRefresh::TScratch::MissingOrShort);
    EXPECT_EQ(TRefresh::CheckScratchFile(dir.path()), TRefresh::TScratch::MissingOrShort);
}

// Which requests each answer causes, what is stored, and the reason given
// when the previous index stays. Every name before the case's suffix, in the
// order tried, answers with a 404 page of 300 bytes; with Text, every archive
// name answers with the plain index instead (no archive of its form: the
// next form is tried, as after a web page).
TEST_F(RefreshTest, AttemptsAndStoredIndex) {
    const std::string index = Index("new");
    enum THow { Whole, Chunked, CutShort, Absent, Page, Text };
    struct TCase {
        const char* Name;
        std::string Suffix, Body;
        const char* Reason; // nullptr: stored; else how the reason begins after the address
        THow Answer = Whole;
        std::string Plain = {}; // what Body holds, when not the sample index
    };
    // An index may hold so many stanzas (more are refused at the refresh, so
    // that the load never skips what the refresh stored).
    auto stanzas = [](std::uint64_t count) {
        std::string text;
        for (std::uint64_t i = 0; i < count; ++i)
            text += "Package: p\r\n\n";
        return text;
    };
    const std::uint64_t most = SafeFiles::MaxIndexStanzas;
    const std::string overLimit = "в индексе больше " + std::to_string(most) + " пакетов";
    const TCase cases[] = {
        {"gzip", ".gz", Gzip(index), nullptr},
        {"gzip named Packages", ".gz", Gzip(index, "Packages"), nullptr},
        {"gzip with a path as its name", ".gz", Gzip(index, "../../evil"), nullptr},
        {"gzip named after another file", ".gz", Gzip(index, "orvia.ini"),
         ".gz: недопустимое имя файла в архиве"},
        {"gzip corrupt", ".gz", Corrupt(Gzip(index)), ".gz: архив повреждён или оборван"},
        {"gzip truncated", ".gz", Truncated(Gzip(index)), ".gz: ответ короче 128 байт"},
        {"gzip without a length", ".gz", Gzip(index), ".gz: ответ без длины", Chunked},
        {"as many stanzas as allowed", ".gz", Gzip(stanzas(most)), nullptr, Whole, stanzas(most)},
        {"one stanza more", ".gz", Gzip(stanzas(most + 1)), overLimit.c_str()},
        {"no answer for gzip (404 of 100 bytes)", ".gz", "", ".gz: HTTP 404", Absent},
        {"bzip2", ".bz2", Bzip2(index), nullptr},
        {"bzip2 corrupt", ".bz2", Corrupt(Bzip2(index)),
         ".gz: HTTP 404; .bz2: архив не распакован"},
        {"plain", "", index, nullptr},
        {"plain cut short", "", index, ".gz и .bz2: HTTP 404; без сжатия: соединение прервано",
         CutShort},
        {"plain text under the archive names", "", index, nullptr, Text},
        {"xz", ".xz", Xz(index), nullptr},
        {"xz truncated", ".xz", Truncated(Xz(index)),
         ".gz, .bz2 и без сжатия: HTTP 404; .xz: архив не распакован"},
        {"zstd", ".zst", Zstd(index), nullptr},
        {"zstd corrupt", ".zst", Corrupt(Zstd(index)),
         ".gz, .bz2, без сжатия и .xz: HTTP 404; .zst: архив не распакован"},
        {"web pages only", ".zst", "", ".gz, .bz2, без сжатия, .xz и .zst: HTTP 404", Page},
        {"text only, under every archive name", ".zst", index,
         ".gz: ответ не в формате gzip; .bz2: ответ не в формате bzip2; без сжатия: HTTP 404; "
         ".xz: ответ не в формате xz; .zst: ответ не в формате zstd",
         Text},
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string base = "/repo" + std::to_string(n++) + "/Packages";
        std::vector<std::string> expected;
        for (const std::string suffix : {".gz", ".bz2", "", ".xz", ".zst"}) {
            const std::string path = base + suffix;
            expected.push_back("GET " + path + " HTTP/1.0");
            if (c.Answer == Text && !suffix.empty())
                server_.Serve(path, index);
            else if (suffix != c.Suffix || c.Answer == Page)
                server_.ServeErrorPage(path, 404, 300);
            else if (c.Answer == Whole || c.Answer == Text)
                server_.Serve(path, c.Body);
            else if (c.Answer == Chunked)
                server_.ServeChunked(path, c.Body);
            else if (c.Answer == CutShort)
                server_.ServeZeros(path, c.Body.size(), 200);
            if (suffix == c.Suffix)
                break;
        }
        const QString address = Address(base);
        SetStored(address, "previous");
        server_.ClearRequests();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Walk({{address, true}}), c.Reason ? 0 : 1);
        ::testing::internal::GetCapturedStderr();
        const QString& reason = outcomes_.at(0).Outcome.Reason;
        EXPECT_TRUE(c.Reason ? reason.startsWith(address + QStringLiteral(" — ") + c.Reason)
                             : reason.isEmpty())
            << reason.toStdString();
        EXPECT_EQ(server_.RequestLines(), expected);
        EXPECT_EQ(Stored(address),
                  c.Reason ? "previous"
                           : QByteArray::fromStdString(c.Plain.empty() ? index : c.Plain));
        ExpectNoLeftovers();
    }
}

// https stays https for every form; a source whose http requests are sent on
// to the same path under https is asked there at once (and moves there).
TEST_F(RefreshTest, HttpsSourcesAndSourcesRedirectedToHttps) {
    const TTestTls tls;
    TTestHttpServer secure(tls.CertFile(), tls.KeyFile());
    const std::string index = Index("tls");
    secure.ServeErrorPage("/s/Packages.gz", 404, 300);
    secure.Serve("/s/Packages.bz2", Bzip2(index));
    const QString https = QString::fromStdString(secure.Url("/s/./Packages"));
    ASSERT_TRUE(https.startsWith("https://"));
    // The http server sends everything on to the https one.
    for (const char* suffix : {".gz", ".bz2"})
        server_.Redirect(std::string("/s/Packages") + suffix, 301,
                         secure.Url(std::string("/s/Packages") + suffix));
    const QString http = Address("/s/./Packages");

    TRefresh refresh(http_, stop_, Work(), Proc(), view_);
    EXPECT_EQ(refresh.Walk({{https, true}, {http, true}}), 2);
    ASSERT_EQ(refresh.Outcomes().size(), 2u);
    EXPECT_TRUE(refresh.Outcomes()[0].MovedTo.isEmpty());
    EXPECT_EQ(refresh.Outcomes()[1].MovedTo, https);
    EXPECT_EQ(Stored(https), QByteArray::fromStdString(index));
    // Only the first request of the redirected source went over http.
    EXPECT_EQ(server_.RequestLines(), (std::vector<std::string>{"GET /s/Packages.gz HTTP/1.0"}));
    EXPECT_EQ(
        Sorted(secure.RequestLines()),
        (std::vector<std::string>{"GET /s/Packages.bz2 HTTP/1.0", "GET /s/Packages.bz2 HTTP/1.0",
                                  "GET /s/Packages.gz HTTP/1.0", "GET /s/Packages.gz HTTP/1.0"}));
    // http to a TLS-only port, and https to a plain one, fail with a reason.
    const QString wrong =
        QString::fromStdString(secure.Url("/s/./Packages")).replace("https:", "http:");
    const QString plain = Address("/s/./Packages").replace("http:", "https:");
    EXPECT_EQ(refresh.Walk({{wrong, true}, {plain, true}}), 0);
    ASSERT_EQ(refresh.Outcomes().size(), 2u);
    for (const TSourceOutcome& o : refresh.Outcomes())
        EXPECT_TRUE(o.Outcome.Reason.startsWith(o.Address + " — .gz: "))
            << o.Outcome.Reason.toStdString();
    ExpectNoLeftovers();
}

TEST(HttpsAddress, OnlyTheSameHostAndPathUnderHttps) {
    const char* const cases[][4] = {
        // address, asked, answered from, the address to ask from now on
        {"http://h/r/./Packages", "http://h/r/Packages.gz", "https://H/r/Packages.gz",
         "https://h/r/./Packages"},
        {"http://h:80/r/./Packages", "http://h:80/r/Packages.gz", "https://h:8443/r/Packages.gz",
         "https://h:8443/r/./Packages"},
        {"http://h/r/./Packages", "http://h/r/Packages.gz", "https://h/x/Packages.gz", ""},
        {"http://h/r/./Packages", "http://h/r/Packages.gz", "https://cdn/r/Packages.gz", ""},
        {"http://h/r/./Packages", "http://h/r/Packages.gz", "http://h/r/Packages.gz", ""},
        {"https://h/r/./Packages", "https://h/r/Packages.gz", "https://h/r/Packages.gz", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(TRefresh::HttpsAddress(c[0], c[1], c[2]).toStdString(), c[3]) << c[2];
}

// Flat, "/dists" and underscore addresses, each stored under the name its
// address gives ("./" and all); the earlier names of a source are retired,
// its reference copy taking the new name; read-only leftovers block nothing.
TEST_F(RefreshTest, AddressesAndTheNamesTheyAreStoredUnder) {
    const std::string index = Index("flat");
    server_.Serve("/Packages.gz", Gzip(index));
    server_.ServeErrorPage("/dists/stable/main/binary-iphoneos-arm/Packages.gz", 404, 300);
    server_.ServeErrorPage("/dists/stable/main/binary-iphoneos-arm/Packages.bz2", 404, 300);
    server_.Serve("/dists/stable/main/binary-iphoneos-arm/Packages", index);
    server_.Serve("/archive_zhaonan/Packages.gz", Gzip(index));
    const QString flat = Address("/./Packages");
    const QString dists = Address("/dists/stable/main/binary-iphoneos-arm/Packages");
    const QString gone = Address("/gone/Packages");
    const QString underscore = Address("/archive_zhaonan/./Packages");
    const QString host = QStringLiteral("127.0.0.1:") + QString::number(server_.Port());
    const QString flatName = host + QStringLiteral("_._Packages");
    const QString underscoreName = host + QStringLiteral("_archive%5fzhaonan_._Packages");
    // What earlier versions stored for the underscore repository.
    SetStored(host + QStringLiteral("/archive_zhaonan//Packages"), "doubled");
    TestFiles::WriteBytes(Lists() + host + QStringLiteral("_archive%5fzhaonan__Packages"),
                          "reference");
    TestFiles::WriteBytes(Work() + QStringLiteral("download.txt"), "left over");
    SetStored(flat, "previous");
    for (const QString& readOnly : {Work() + QStringLiteral("download.txt"), Proc() + flatName})
        QFile::setPermissions(readOnly, QFile::ReadOwner);
    EXPECT_EQ(Walk({}), 0);
    EXPECT_TRUE(view_.Calls.empty()); // an empty list enters no busy state
    ::testing::internal::CaptureStderr();
    // An unchecked source is reported in its turn but not fetched.
    EXPECT_EQ(Walk({{flat, true},
                    {gone, true},
                    {dists, true},
                    {Address("/off/Packages"), false},
                    {underscore, true}}),
              3);
    const std::string goneReason = gone.toStdString() + " — .gz: HTTP 404";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "orvia: " + goneReason + "\n");
    EXPECT_EQ(Outcomes(),
              (std::vector<std::string>{"0: ok", "1: " + goneReason, "2: ok", "4: ok"}));
    EXPECT_EQ(Sorted(server_.RequestLines()),
              (std::vector<std::string>{
                  "GET /Packages.gz HTTP/1.0", "GET /archive_zhaonan/Packages.gz HTTP/1.0",
                  "GET /dists/stable/main/binary-iphoneos-arm/Packages HTTP/1.0",
                  "GET /dists/stable/main/binary-iphoneos-arm/Packages.bz2 HTTP/1.0",
                  "GET /dists/stable/main/binary-iphoneos-arm/Packages.gz HTTP/1.0",
                  "GET /gone/Packages.gz HTTP/1.0"}));
    QStringList stored = QDir(Proc()).entryList(QDir::Files);
    stored.sort();
    EXPECT_EQ(stored,
              (QStringList{flatName, underscoreName, IndexStore::AddressToIndexName(dists)}));
    for (const QString& name : stored)
        EXPECT_EQ(TestFiles::ReadBytes(Proc() + name), QByteArray::fromStdString(index));
    EXPECT_EQ(QDir(Lists()).entryList(QDir::Files), QStringList{underscoreName});
    // Each further attempt of a source starts the bar at 0; the transfers'
    // own progress reaches the report too.
    EXPECT_EQ(view_.Calls,
              (std::vector<std::string>{"begin", "select 0", "select 1", "select 2", "progress 0",
                                        "progress 0", "select 3", "select 4", "end"}));
    EXPECT_EQ(view_.Last, 100);
    ExpectNoLeftovers();
}

// Stop while the walk waits for the third source, whose answer is held
// (the sixth's too, so the seventh waits behind them for its server), and
// the fourth and fifth (another server's) are already prepared ahead: every
// transfer ends, the queued source is never asked, the first two are
// stored, the rest keep their index, and nothing is left behind.
TEST_F(RefreshTest, StopWhileLaterSourcesArePreparedAhead) {
    std::vector<TSourceEntry> sources;
    for (int i = 0; i < 7; ++i) {
        TTestHttpServer& server = i == 3 || i == 4 ? a_ : server_;
        const std::string base = "/s" + std::to_string(i) + "/Packages";
        sources.push_back({Url(server, base), true});
        SetStored(sources.back().Text, "previous");
        if (i == 2 || i == 5)
            server.ServeHeld(base + ".gz", Gzip(Index("held")), 10);
        else
            server.Serve(base + ".gz", Gzip(Index("s" + std::to_string(i))));
    }
    // The Stop button is pressed in the third source's turn, once the fourth
    // and fifth wait in the store.
    view_.OnItem = [this](int index) {
        for (int i = 0; index == 2 && i < 1000 && Temporaries().size() < 2; ++i)
            QThread::msleep(10);
        if (index == 2) {
            EXPECT_EQ(Temporaries().size(), 2);
            stop_.Set();
        }
    };
    EXPECT_EQ(Walk(sources), 2);
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"0: ok", "1: ok",
                                                    "2: " + sources[2].Text.toStdString() +
                                                        " — .gz: остановлено"}));
    EXPECT_EQ(
        Sorted(a_.RequestLines()),
        (std::vector<std::string>{"GET /s3/Packages.gz HTTP/1.0", "GET /s4/Packages.gz HTTP/1.0"}));
    const std::vector<std::string> asked = server_.RequestLines();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "GET /s6/Packages.gz HTTP/1.0"), 0);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(Stored(sources[i].Text),
                  i < 2 ? QByteArray::fromStdString(Index("s" + std::to_string(i))) : "previous");
    EXPECT_EQ(view_.Calls,
              (std::vector<std::string>{"begin", "select 0", "select 1", "select 2", "end"}));
    ExpectNoLeftovers();
}

// The first source's answer is held until the last source is asked for: it
// can only arrive because the two were fetched side by side (one after the
// other, the held answer would fail after the 1 s timeout). A server that
// never answers costs its own source that one timeout, the others fetched
// meanwhile. The walk still takes them in list order.
TEST_F(RefreshTest, SourcesOverlapAndAreTakenInListOrder) {
    a_.ServeHeld("/Packages.gz", Gzip(Index("a")), 10);
    b_.SetOnRequest([this](const TTestHttpServer::TRequest&) { a_.Release(); });
    b_.Serve("/Packages.gz", Gzip(Index("b")));
    c_.ServeSilent("/Packages.gz");
    http_.Timeout = 1;
    const QString a = Url(a_, "/Packages"), b = Url(b_, "/Packages"), c = Url(c_, "/Packages");
    SetStored(c, "previous");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Walk({{a, true}, {c, true}, {Url(c_, "/off/Packages"), false}, {b, true}}), 2);
    ::testing::internal::GetCapturedStderr();
    const std::vector<std::string> lines = Outcomes();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "0: ok");
    EXPECT_EQ(lines[1].rfind("1: " + c.toStdString() + " — .gz: слишком медленно", 0), 0u)
        << lines[1];
    EXPECT_EQ(lines[2], "3: ok");
    EXPECT_EQ(view_.Calls, (std::vector<std::string>{"begin", "select 0", "select 1", "select 2",
                                                     "select 3", "end"}));
    EXPECT_EQ(view_.Last, 100);
    EXPECT_EQ(Stored(a), QByteArray::fromStdString(Index("a")));
    EXPECT_EQ(Stored(b), QByteArray::fromStdString(Index("b")));
    EXPECT_EQ(Stored(c), "previous");
    EXPECT_EQ(c_.Requests().size(), 1u); // the unchecked source is never asked
    ExpectNoLeftovers();
}

// While the walk waits for a silent first source, the sources after it are
// fetched only until MaxAhead indexes (fetched or under way) wait for their
// turn: a long list cannot fill the disk meanwhile. All arrive in the end.
TEST_F(RefreshTest, FetchesAheadOfTheWalkAreBounded) {
    a_.ServeSilent("/Packages.gz");
    const int later = TRefreshFetcher::MaxAhead + 4;
    const auto source = [&](int i) {
        return Url(i % 2 ? b_ : c_, "/" + std::to_string(i) + "/Packages");
    };
    for (int i = 1; i <= later; ++i)
        (i % 2 ? b_ : c_)
            .Serve("/" + std::to_string(i) + "/Packages.gz", Gzip(Index(std::to_string(i))));
    THTTPRequest request;
    request.Timeout = 1;
    TRefreshFetcher fetcher(request, Work(), Proc(), nullptr);
    fetcher.Add(0, Url(a_, "/Packages"));
    for (int i = 1; i <= later; ++i)
        fetcher.Add(i, source(i));
    EXPECT_FALSE(fetcher.Wait(0, [](int) {}).Outcome);
    // The silent source itself counted among them.
    EXPECT_EQ(b_.Requests().size() + c_.Requests().size(),
              std::size_t(TRefreshFetcher::MaxAhead - 1));
    for (int i = 1; i <= later; ++i) {
        TFetchedIndex& got = fetcher.Wait(i, [](int) {});
        ASSERT_TRUE(got.Outcome && got.Prepared->Commit()) << i << got.Outcome.Reason.toStdString();
        EXPECT_EQ(Stored(source(i)), QByteArray::fromStdString(Index(std::to_string(i))));
    }
}

// Validators of a stored index make the next refresh ask conditionally; a
// 304 keeps the stored file untouched and counts as refreshed. An index
// changed or removed by hand, or validators lost, mean a whole fetch.
TEST_F(RefreshTest, UnchangedIndexesCostOneConditionalRequest) {
    const std::string date = "Tue, 01 Dec 2026 10:00:00 GMT";
    a_.ServeValidated("/Packages.gz", Gzip(Index("a")), "\"a1\"", "");
    b_.ServeValidated("/Packages.gz", Gzip(Index("b")), "", date);
    c_.Serve("/Packages.gz", Gzip(Index("c")));
    const QString a = Url(a_, "/Packages"), b = Url(b_, "/Packages"), c = Url(c_, "/Packages");
    const std::vector<TSourceEntry> sources{{a, true}, {b, true}, {c, true}};
    const auto inode = [this](const QString& address) {
        struct stat st {};
        ::stat(QFile::encodeName(StoredPath(address)).constData(), &st);
        return st.st_ino;
    };
    const auto clear = [this] {
        for (TTestHttpServer* s : {&a_, &b_, &c_})
            s->ClearRequests();
    };
    const std::vector<std::string> whole{"0: ok", "1: ok", "2: ok"};
    EXPECT_EQ(Walk(sources), 3);
    const auto before = std::make_pair(inode(a), inode(b));
    clear();
    EXPECT_EQ(Walk(sources), 3);
    EXPECT_EQ(Outcomes(),
              (std::vector<std::string>{"0: ok без изменений", "1: ok без изменений", "2: ok"}));
    EXPECT_EQ(std::make_pair(inode(a), inode(b)), before); // not rewritten
    EXPECT_EQ(a_.Requests().at(0).Header("If-None-Match"), "\"a1\"");
    EXPECT_EQ(b_.Requests().at(0).Header("If-Modified-Since"), date);
    EXPECT_FALSE(c_.Requests().at(0).HasHeader("If-None-Match"));
    EXPECT_EQ(a_.Requests().at(0).Header("User-Agent"), "Telesphoreo APT-HTTP/1.0.534");

    // By hand: a's index edited, b's removed; then the validators lost.
    TestFiles::WriteBytes(StoredPath(a), "edited");
    QFile::remove(StoredPath(b));
    clear();
    Walk(sources);
    EXPECT_EQ(Outcomes(), whole);
    EXPECT_FALSE(a_.Requests().at(0).HasHeader("If-None-Match"));
    EXPECT_FALSE(b_.Requests().at(0).HasHeader("If-Modified-Since"));
    EXPECT_EQ(Stored(a), QByteArray::fromStdString(Index("a")));
    EXPECT_EQ(Stored(b), QByteArray::fromStdString(Index("b")));
    ASSERT_TRUE(QFile::remove(Proc() + QLatin1String(TValidatorStore::FileName)));
    Walk(sources);
    EXPECT_EQ(Outcomes(), whole);
    // The store lists the indexes and the validators, nothing else.
    EXPECT_EQ(QDir(Proc()).entryList(QDir::Files).size(), 4);
}

} // namespace
