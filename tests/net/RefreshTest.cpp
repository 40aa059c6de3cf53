#include "sources/Refresh.h"
#include "base/LongOperation.h"
#include "base/SafeFiles.h"
#include "net/HTTPGet.h"
#include "sources/IndexStore.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/TestHttpServer.h"
#include "support/TestTls.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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
struct TRecordingReport : TOperationReport {
    void Busy(bool on) override { calls.push_back(on ? "begin" : "end"); }
    void ItemStarted(int index) override {
        calls.push_back("select " + std::to_string(index));
        if (onItem)
            onItem(index);
    }
    void Progress(int percent) override {
        if (percent == 0)
            calls.push_back("progress 0");
        last = percent;
    }
    std::vector<std::string> calls;
    int last = -1;
    std::function<void(int)> onItem;
};

class RefreshTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(Work() + QStringLiteral("proc")));
        TestFiles::WriteBytes(Work() + QStringLiteral("orvia.ini"), "[Settings]\n");
    }
    QString Work() const { return dir_.path() + QStringLiteral("/"); }
    QString Proc() const { return Work() + QStringLiteral("proc/"); }
    QString Address(const std::string& path) const {
        return QString::fromStdString(server_.Url(path));
    }
    QByteArray Stored(const QString& address) const {
        return TestFiles::ReadBytes(Proc() + IndexStore::AddressToIndexName(address));
    }
    void SetStored(const QString& address, const QByteArray& bytes) const {
        TestFiles::WriteBytes(Proc() + IndexStore::AddressToIndexName(address), bytes);
    }
    // The working folder holds nothing but what the test put there.
    void ExpectNoLeftovers() const {
        EXPECT_EQ(QDir(Work()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  (QStringList{QStringLiteral("orvia.ini"), QStringLiteral("proc")}));
        EXPECT_EQ(TestFiles::ReadBytes(Work() + QStringLiteral("orvia.ini")), "[Settings]\n");
    }
    int Walk(const std::vector<TSourceEntry>& sources) {
        TRefresh refresh(http_, stop_, Work(), Proc(), view_);
        const int stored = refresh.Walk(sources);
        outcomes_ = refresh.Outcomes();
        return stored;
    }
    // "entry: ok" or "entry: reason" for each source the walk tried.
    std::vector<std::string> Outcomes() const {
        std::vector<std::string> lines;
        for (const TSourceOutcome& o : outcomes_)
            lines.push_back(std::to_string(o.Entry) + ": " +
                            (o.Outcome ? std::string("ok") : o.Outcome.reason.toStdString()));
        return lines;
    }

    QTemporaryDir dir_;
    TTestHttpServer server_;
    THTTPGet http_;
    TStopFlag stop_;
    TRecordingReport view_;
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
// order tried, answers with a 404 page of 300 bytes.
TEST_F(RefreshTest, AttemptsAndStoredIndex) {
    const std::string index = Index("new");
    enum How { Whole, Chunked, CutShort, Absent, Page };
    struct TCase {
        const char* name;
        std::string suffix, body;
        const char* reason; // nullptr: stored; else how the reason begins after the address
        How how = Whole;
    };
    const TCase cases[] = {
        {"gzip", ".gz", Gzip(index), nullptr},
        {"gzip named Packages", ".gz", Gzip(index, "Packages"), nullptr},
        {"gzip with a path as its name", ".gz", Gzip(index, "../../evil"), nullptr},
        {"gzip named after another file", ".gz", Gzip(index, "orvia.ini"),
         ".gz: недопустимое имя файла в архиве"},
        {"gzip corrupt", ".gz", Corrupt(Gzip(index)), ".gz: архив повреждён или оборван"},
        {"gzip truncated", ".gz", Truncated(Gzip(index)), ".gz: ответ короче 128 байт"},
        {"gzip without a length", ".gz", Gzip(index), ".gz: ответ без длины", Chunked},
        {"no answer for gzip (404 of 100 bytes)", ".gz", "", ".gz: HTTP 404", Absent},
        {"bzip2", ".bz2", Bzip2(index), nullptr},
        {"bzip2 corrupt", ".bz2", Corrupt(Bzip2(index)),
         ".gz: HTTP 404; .bz2: архив не распакован"},
        {"plain", "", index, nullptr},
        {"plain cut short", "", index, ".gz и .bz2: HTTP 404; без сжатия: соединение прервано",
         CutShort},
        {"xz", ".xz", Xz(index), nullptr},
        {"xz truncated", ".xz", Truncated(Xz(index)),
         ".gz, .bz2 и без сжатия: HTTP 404; .xz: архив не распакован"},
        {"zstd", ".zst", Zstd(index), nullptr},
        {"zstd corrupt", ".zst", Corrupt(Zstd(index)),
         ".gz, .bz2, без сжатия и .xz: HTTP 404; .zst: архив не распакован"},
        {"web pages only", ".zst", "", ".gz, .bz2, без сжатия, .xz и .zst: HTTP 404", Page},
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base = "/repo" + std::to_string(n++) + "/Packages";
        std::vector<std::string> expected;
        for (const std::string suffix : {".gz", ".bz2", "", ".xz", ".zst"}) {
            const std::string path = base + suffix;
            expected.push_back("GET " + path + " HTTP/1.0");
            if (suffix != c.suffix || c.how == Page)
                server_.ServeErrorPage(path, 404, 300);
            else if (c.how == Whole)
                server_.Serve(path, c.body);
            else if (c.how == Chunked)
                server_.ServeChunked(path, c.body);
            else if (c.how == CutShort)
                server_.ServeCut(path, c.body, 200);
            if (suffix == c.suffix)
                break;
        }
        const QString address = Address(base);
        SetStored(address, "previous");
        server_.ClearRequests();
        TRefresh refresh(http_, stop_, Work(), Proc(), view_);
        const TOutcome got = refresh.GetRepo(address);
        EXPECT_EQ(got.ok, c.reason == nullptr);
        if (c.reason) {
            EXPECT_TRUE(got.reason.startsWith(address + QStringLiteral(" — ") +
                                              QString::fromUtf8(c.reason)))
                << got.reason.toStdString();
        }
        EXPECT_TRUE(!got || refresh.StoreIndex(address));
        EXPECT_EQ(server_.RequestLines(), expected);
        EXPECT_EQ(Stored(address), c.reason ? "previous" : QByteArray::fromStdString(index));
        ExpectNoLeftovers();
    }
}

// A ".gz" (or ".bz2", ".xz", ".zst") answer that does not begin with its
// format's signature is no archive: the next form is tried, as after a web
// page, and the reason says what each form met.
TEST_F(RefreshTest, AnswersNotInTheFormatAskedForLetTheNextFormBeTried) {
    const std::string index = Index("plain");
    // The broken repository: a plain-text "Packages.gz" beside a valid "Packages".
    server_.Serve("/broken/Packages.gz", index);
    server_.ServeErrorPage("/broken/Packages.bz2", 404, 300);
    server_.Serve("/broken/Packages", index);
    TRefresh refresh(http_, stop_, Work(), Proc(), view_);
    EXPECT_EQ(refresh.Walk({{Address("/broken/Packages"), true}}), 1);
    EXPECT_EQ(Stored(Address("/broken/Packages")), QByteArray::fromStdString(index));
    EXPECT_EQ(server_.RequestLines().size(), 3u);

    for (const char* suffix : {".gz", ".bz2", ".xz", ".zst"})
        server_.Serve(std::string("/text/Packages") + suffix, index);
    server_.ServeErrorPage("/text/Packages", 404, 300);
    const QString address = Address("/text/Packages");
    SetStored(address, "previous");
    EXPECT_EQ(refresh.Walk({{address, true}}), 0);
    ASSERT_EQ(refresh.Outcomes().size(), 1u);
    EXPECT_EQ(refresh.Outcomes()[0].Outcome.reason,
              address + QStringLiteral(" — .gz: ответ не в формате gzip; .bz2: ответ не в "
                                       "формате bzip2; без сжатия: HTTP 404; .xz: ответ не в "
                                       "формате xz; .zst: ответ не в формате zstd"));
    EXPECT_EQ(Stored(address), "previous");
    ExpectNoLeftovers();
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
        EXPECT_TRUE(o.Outcome.reason.startsWith(o.Address + " — .gz: "))
            << o.Outcome.reason.toStdString();
    ExpectNoLeftovers();
}

TEST(HttpsAddress, OnlyTheSameHostAndPathUnderHttps) {
    const auto moved = [](const char* address, const char* asked, const char* answered) {
        return TRefresh::HttpsAddress(address, asked, answered).toStdString();
    };
    EXPECT_EQ(moved("http://h/r/./Packages", "http://h/r/Packages.gz", "https://H/r/Packages.gz"),
              "https://h/r/./Packages");
    EXPECT_EQ(moved("http://h:80/r/./Packages", "http://h:80/r/Packages.gz",
                    "https://h:8443/r/Packages.gz"),
              "https://h:8443/r/./Packages");
    EXPECT_EQ(moved("http://h/r/./Packages", "http://h/r/Packages.gz", "https://h/x/Packages.gz"),
              "");
    EXPECT_EQ(moved("http://h/r/./Packages", "http://h/r/Packages.gz", "https://cdn/r/Packages.gz"),
              "");
    EXPECT_EQ(moved("http://h/r/./Packages", "http://h/r/Packages.gz", "http://h/r/Packages.gz"),
              "");
    EXPECT_EQ(moved("https://h/r/./Packages", "https://h/r/Packages.gz", "https://h/r/Packages.gz"),
              "");
}

TEST_F(RefreshTest, FlatAndDistsAddresses) {
    const std::string index = Index("flat");
    server_.Serve("/Packages.gz", Gzip(index));
    server_.ServeErrorPage("/dists/stable/main/binary-iphoneos-arm/Packages.gz", 404, 300);
    server_.ServeErrorPage("/dists/stable/main/binary-iphoneos-arm/Packages.bz2", 404, 300);
    server_.Serve("/dists/stable/main/binary-iphoneos-arm/Packages", index);
    const QString flat = Address("/./Packages");
    const QString dists = Address("/dists/stable/main/binary-iphoneos-arm/Packages");
    const QString gone = Address("/gone/Packages");
    EXPECT_EQ(Walk({}), 0);
    EXPECT_TRUE(view_.calls.empty()); // an empty list enters no busy state
    ::testing::internal::CaptureStderr();
    // An unchecked source is reported in its turn but not fetched.
    EXPECT_EQ(Walk({{flat, true}, {gone, true}, {dists, true}, {Address("/off/Packages"), false}}),
              2);
    const std::string goneReason = gone.toStdString() + " — .gz: HTTP 404";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "orvia: " + goneReason + "\n");
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"0: ok", "1: " + goneReason, "2: ok"}));
    EXPECT_EQ(Sorted(server_.RequestLines()),
              (std::vector<std::string>{
                  "GET /Packages.gz HTTP/1.0",
                  "GET /dists/stable/main/binary-iphoneos-arm/Packages HTTP/1.0",
                  "GET /dists/stable/main/binary-iphoneos-arm/Packages.bz2 HTTP/1.0",
                  "GET /dists/stable/main/binary-iphoneos-arm/Packages.gz HTTP/1.0",
                  "GET /gone/Packages.gz HTTP/1.0"}));
    // The flat source is stored under the name its address gives, "./" and all.
    const QString port = QString::number(server_.Port());
    EXPECT_EQ(TestFiles::ReadBytes(Proc() + QStringLiteral("127.0.0.1:") + port +
                                   QStringLiteral("_._Packages")),
              QByteArray::fromStdString(index));
    EXPECT_EQ(Stored(dists), QByteArray::fromStdString(index));
    // Each further attempt of a source starts the bar at 0; the transfers'
    // own progress reaches the report too.
    EXPECT_EQ(view_.calls,
              (std::vector<std::string>{"begin", "select 0", "select 1", "select 2", "progress 0",
                                        "progress 0", "select 3", "end"}));
    EXPECT_EQ(view_.last, 100);
    ExpectNoLeftovers();
}

TEST_F(RefreshTest, UnderscoreKeptAndEarlierNamesOfTheSourceRetired) {
    const std::string index = Index("u");
    server_.Serve("/archive_zhaonan/Packages.gz", Gzip(index));
    const QString host = QStringLiteral("127.0.0.1:") + QString::number(server_.Port());
    // What earlier versions stored for the same repository.
    SetStored(host + QStringLiteral("/archive_zhaonan//Packages"), "doubled");
    ASSERT_TRUE(QDir().mkpath(Work() + QStringLiteral("lists")));
    TestFiles::WriteBytes(Work() + QStringLiteral("lists/") + host +
                              QStringLiteral("_archive%5fzhaonan__Packages"),
                          "reference");
    TRefresh refresh(http_, stop_, Work(), Proc(), view_, Work() + QStringLiteral("lists/"));
    EXPECT_EQ(refresh.Walk({{Address("/archive_zhaonan/./Packages"), true}}), 1);
    EXPECT_EQ(server_.RequestLines(),
              (std::vector<std::string>{"GET /archive_zhaonan/Packages.gz HTTP/1.0"}));
    const QString name = host + QStringLiteral("_archive%5fzhaonan_._Packages");
    EXPECT_EQ(QDir(Proc()).entryList(QDir::Files), QStringList{name});
    EXPECT_EQ(TestFiles::ReadBytes(Proc() + name), QByteArray::fromStdString(index));
    EXPECT_EQ(QDir(Work() + QStringLiteral("lists")).entryList(QDir::Files), QStringList{name});
    EXPECT_EQ(IndexStore::IndexNameToAddress(name), Address("/archive_zhaonan/./Packages"));
}

TEST_F(RefreshTest, StopDuringTheThirdSource) {
    std::vector<TSourceEntry> sources;
    for (int i = 0; i < 5; ++i) {
        const std::string base = "/s" + std::to_string(i) + "/Packages";
        sources.push_back({Address(base), true});
        SetStored(sources.back().Text, "previous");
        if (i == 2)
            server_.ServeHeld(base + ".gz", Gzip(Index("s2")), 10);
        else
            server_.Serve(base + ".gz", Gzip(Index("s" + std::to_string(i))));
    }
    // The Stop button is pressed when the walk reaches the third source,
    // whose answer is held.
    view_.onItem = [this](int index) {
        if (index == 2)
            stop_.Set();
    };
    EXPECT_EQ(Walk(sources), 2);
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"0: ok", "1: ok",
                                                    "2: " + sources[2].Text.toStdString() +
                                                        " — .gz: остановлено"}));
    // Later sources may have been asked meanwhile, each once; none is kept.
    std::vector<std::string> lines = Sorted(server_.RequestLines());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::unique(lines.begin(), lines.end()), lines.end());
    EXPECT_EQ(lines[0], "GET /s0/Packages.gz HTTP/1.0");
    EXPECT_EQ(lines[1], "GET /s1/Packages.gz HTTP/1.0");
    EXPECT_EQ(Stored(sources[0].Text), QByteArray::fromStdString(Index("s0")));
    EXPECT_EQ(Stored(sources[1].Text), QByteArray::fromStdString(Index("s1")));
    for (int i = 2; i < 5; ++i)
        EXPECT_EQ(Stored(sources[i].Text), "previous");
    EXPECT_EQ(view_.calls,
              (std::vector<std::string>{"begin", "select 0", "select 1", "select 2", "end"}));
    ExpectNoLeftovers();
}

// An index with more stanzas than an index may have is refused at the
// refresh, with the reason, and the previous one stays; one at the limit is
// stored (so that the load never skips what the refresh stored).
TEST_F(RefreshTest, IndexBeyondTheStanzaLimitIsRefused) {
    auto tiny = [](std::uint64_t count) {
        std::string text;
        for (std::uint64_t i = 0; i < count; ++i)
            text += "Package: p\r\n\n";
        return text;
    };
    const std::uint64_t most = SafeFiles::MaxIndexStanzas;
    server_.Serve("/at/Packages.gz", Gzip(tiny(most)));
    server_.Serve("/over/Packages.gz", Gzip(tiny(most + 1)));
    const QString at = Address("/at/Packages"), over = Address("/over/Packages");
    SetStored(at, "previous");
    SetStored(over, "previous");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Walk({{at, true}, {over, true}}), 1);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{
                              "0: ok", "1: " + over.toStdString() + " — в индексе больше " +
                                           std::to_string(most) + " пакетов"}));
    EXPECT_EQ(Stored(at).size(), qsizetype(tiny(most).size()));
    EXPECT_EQ(Stored(over), "previous");
    ExpectNoLeftovers();
}

TEST_F(RefreshTest, ReadOnlyFilesDoNotBlockTheRefresh) {
    const std::string index = Index("ro");
    server_.Serve("/ro/Packages.gz", Gzip(index));
    const QString address = Address("/ro/Packages");
    const QString leftover = Work() + QStringLiteral("download.txt");
    const QString stored = Proc() + IndexStore::AddressToIndexName(address);
    TestFiles::WriteBytes(leftover, "left over from an interrupted refresh");
    TestFiles::WriteBytes(stored, "previous");
    QFile::setPermissions(leftover, QFile::ReadOwner);
    QFile::setPermissions(stored, QFile::ReadOwner);
    EXPECT_EQ(Walk({{address, true}}), 1);
    EXPECT_EQ(TestFiles::ReadBytes(stored), QByteArray::fromStdString(index));
    ExpectNoLeftovers();
}

} // namespace
