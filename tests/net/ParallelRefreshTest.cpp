#include "base/LongOperation.h"
#include "net/HTTPGet.h"
#include "sources/IndexStore.h"
#include "sources/Refresh.h"
#include "sources/RefreshFetch.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string Index(const std::string& tag) {
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "Package: " + tag + ".p" + std::to_string(i * 7919 % 1000) + "\nVersion: 1." +
                std::to_string(i) + "\n\n";
    return text;
}

struct SilentReport : TOperationReport {
    void Busy(bool) override {}
    void ItemStarted(int index) override { items.push_back(index); }
    void Progress(int percent) override { last = percent; }
    std::vector<int> items;
    int last = -1;
};

// Several servers stand for several repository hosts, fetched side by side.
class ParallelRefreshTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(Proc())); }
    QString Work() const { return dir_.path() + QStringLiteral("/"); }
    QString Proc() const { return Work() + QStringLiteral("proc/"); }
    static QString Address(const TTestHttpServer& server, const std::string& path) {
        return QString::fromStdString(server.Url(path));
    }
    QString StoredPath(const QString& address) const {
        return Proc() + IndexStore::AddressToIndexName(address);
    }
    QByteArray Stored(const QString& address) const {
        return TestFiles::ReadBytes(StoredPath(address));
    }
    std::vector<std::string> Walk(const std::vector<TSourceEntry>& sources, int* stored = nullptr) {
        TRefresh refresh(http_, stop_, Work(), Proc(), report_);
        const int n = refresh.Walk(sources);
        if (stored)
            *stored = n;
        std::vector<std::string> lines;
        for (const TSourceOutcome& o : refresh.Outcomes())
            lines.push_back(std::to_string(o.Entry) + ": " + (o.Outcome ? "ok " : "") +
                            o.Outcome.reason.toStdString());
        return lines;
    }

    QTemporaryDir dir_;
    TTestHttpServer a_, b_, c_;
    THTTPGet http_;
    TStopFlag stop_;
    SilentReport report_;
};

// The first source's answer is held until the last source is asked for: it
// can only arrive because the two were fetched side by side (one after the
// other, the held answer would fail after the 1 s timeout). A server that
// never answers costs its own source that one timeout, the others fetched
// meanwhile. The walk still takes them in list order.
TEST_F(ParallelRefreshTest, SourcesOverlapAndAreTakenInListOrder) {
    a_.ServeHeld("/Packages.gz", TestArchives::Gzip(Index("a")), 10);
    b_.SetOnRequest([this](const TTestHttpServer::TRequest&) { a_.Release(); });
    b_.Serve("/Packages.gz", TestArchives::Gzip(Index("b")));
    c_.ServeSilent("/Packages.gz");
    http_.Timeout = 1;
    const QString a = Address(a_, "/Packages"), b = Address(b_, "/Packages"),
                  c = Address(c_, "/Packages");
    TestFiles::WriteBytes(StoredPath(c), "previous");
    ::testing::internal::CaptureStderr();
    const auto outcomes =
        Walk({{a, true}, {c, true}, {Address(c_, "/off/Packages"), false}, {b, true}});
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[0], "0: ok ");
    EXPECT_EQ(outcomes[1].rfind("1: " + c.toStdString() + " — .gz: слишком медленно", 0), 0u)
        << outcomes[1];
    EXPECT_EQ(outcomes[2], "3: ok ");
    EXPECT_EQ(report_.items, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(report_.last, 100);
    EXPECT_EQ(Stored(a), QByteArray::fromStdString(Index("a")));
    EXPECT_EQ(Stored(b), QByteArray::fromStdString(Index("b")));
    EXPECT_EQ(Stored(c), "previous");
    EXPECT_EQ(c_.Requests().size(), 1u); // the unchecked source is never asked
    // Nothing is left in the working folder but the store.
    EXPECT_EQ(QDir(Work()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("proc")});
}

// Stop while two transfers to one server are held: both end as stopped, and
// the source queued behind them is never asked for.
TEST_F(ParallelRefreshTest, StopEndsEveryTransfer) {
    a_.ServeHeld("/one/Packages.gz", TestArchives::Gzip(Index("1")), 10);
    a_.ServeHeld("/two/Packages.gz", TestArchives::Gzip(Index("2")), 10);
    a_.Serve("/three/Packages.gz", TestArchives::Gzip(Index("3")));
    TRefreshFetcher fetcher(THTTPRequest(), Work(), Proc(), nullptr);
    std::atomic<int> asked{0};
    a_.SetOnRequest([&](const TTestHttpServer::TRequest&) {
        if (++asked == 2)
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [&fetcher] { fetcher.StopAll(); },
                Qt::QueuedConnection);
    });
    const char* const paths[] = {"/one/Packages", "/two/Packages", "/three/Packages"};
    for (int i = 0; i < 3; ++i)
        fetcher.Add(i, Address(a_, paths[i]));
    for (int i = 0; i < 3; ++i) {
        const TFetchedIndex& got = fetcher.Wait(i, [](int) {});
        EXPECT_EQ(got.Outcome.reason,
                  Address(a_, paths[i]) + QStringLiteral(" — .gz: остановлено"));
    }
    EXPECT_EQ(a_.Requests().size(), 2u);
}

// While the walk waits for a slow first source, the sources after it are
// fetched only until MaxAhead indexes (fetched or under way) wait for their
// turn: a long list cannot fill the disk meanwhile. All arrive in the end.
TEST_F(ParallelRefreshTest, FetchesAheadOfTheWalkAreBounded) {
    a_.ServeSilent("/Packages.gz");
    const int later = TRefreshFetcher::MaxAhead + 4;
    for (int i = 1; i <= later; ++i)
        (i % 2 ? b_ : c_)
            .Serve("/" + std::to_string(i) + "/Packages.gz",
                   TestArchives::Gzip(Index(std::to_string(i))));
    THTTPRequest request;
    request.Timeout = 1;
    TRefreshFetcher fetcher(request, Work(), Proc(), nullptr);
    fetcher.Add(0, Address(a_, "/Packages"));
    for (int i = 1; i <= later; ++i)
        fetcher.Add(i, Address(i % 2 ? b_ : c_, "/" + std::to_string(i) + "/Packages"));
    EXPECT_FALSE(fetcher.Wait(0, [](int) {}).Outcome);
    // The silent source itself counted among them.
    EXPECT_EQ(b_.Requests().size() + c_.Requests().size(),
              std::size_t(TRefreshFetcher::MaxAhead - 1));
    for (int i = 1; i <= later; ++i) {
        TFetchedIndex& got = fetcher.Wait(i, [](int) {});
        ASSERT_TRUE(got.Outcome && got.Prepared->Commit()) << i << got.Outcome.reason.toStdString();
        EXPECT_EQ(Stored(Address(i % 2 ? b_ : c_, "/" + std::to_string(i) + "/Packages")),
                  QByteArray::fromStdString(Index(std::to_string(i))));
    }
}

// Validators of a stored index make the next refresh ask conditionally; a
// 304 keeps the stored file untouched and counts as refreshed. An index
// changed or removed by hand, or validators lost, mean a whole fetch.
TEST_F(ParallelRefreshTest, UnchangedIndexesCostOneConditionalRequest) {
    const std::string date = "Tue, 01 Dec 2026 10:00:00 GMT";
    a_.ServeValidated("/Packages.gz", TestArchives::Gzip(Index("a")), "\"a1\"", "");
    b_.ServeValidated("/Packages.gz", TestArchives::Gzip(Index("b")), "", date);
    c_.Serve("/Packages.gz", TestArchives::Gzip(Index("c")));
    const QString a = Address(a_, "/Packages"), b = Address(b_, "/Packages"),
                  c = Address(c_, "/Packages");
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
    int stored = 0;
    Walk(sources);
    const auto before = std::make_pair(inode(a), inode(b));
    clear();
    EXPECT_EQ(Walk(sources, &stored),
              (std::vector<std::string>{"0: ok без изменений", "1: ok без изменений", "2: ok "}));
    EXPECT_EQ(stored, 3);
    EXPECT_EQ(std::make_pair(inode(a), inode(b)), before); // not rewritten
    EXPECT_EQ(a_.Requests().at(0).Header("If-None-Match"), "\"a1\"");
    EXPECT_EQ(b_.Requests().at(0).Header("If-Modified-Since"), date);
    EXPECT_FALSE(c_.Requests().at(0).HasHeader("If-None-Match"));
    EXPECT_EQ(a_.Requests().at(0).Header("User-Agent"), "Telesphoreo APT-HTTP/1.0.534");

    // By hand: a's index edited, b's removed; then the validators lost.
    TestFiles::WriteBytes(StoredPath(a), "edited");
    QFile::remove(StoredPath(b));
    clear();
    EXPECT_EQ(Walk(sources), (std::vector<std::string>{"0: ok ", "1: ok ", "2: ok "}));
    EXPECT_FALSE(a_.Requests().at(0).HasHeader("If-None-Match"));
    EXPECT_FALSE(b_.Requests().at(0).HasHeader("If-Modified-Since"));
    EXPECT_EQ(Stored(a), QByteArray::fromStdString(Index("a")));
    EXPECT_EQ(Stored(b), QByteArray::fromStdString(Index("b")));
    ASSERT_TRUE(QFile::remove(Proc() + QLatin1String(TValidatorStore::FileName)));
    EXPECT_EQ(Walk(sources), (std::vector<std::string>{"0: ok ", "1: ok ", "2: ok "}));
    // The store lists the indexes and the validators, nothing else.
    EXPECT_EQ(QDir(Proc()).entryList(QDir::Files).size(), 4);
}

} // namespace
