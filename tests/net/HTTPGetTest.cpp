#include "net/HTTPGet.h"
#include "base/LongOperation.h"
#include "support/Files.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using TStrings = std::vector<std::string>;

std::string Bytes(std::size_t size, char seed = 'a') {
    std::string s(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(seed + i % 23);
    return s;
}

// Records the events of one component in the order they arrive.
struct TEventLog {
    explicit TEventLog(THTTPGet& http) {
        QObject::connect(&http, &THTTPGet::OnProgress, &http,
                         [this](THTTPGet*, qint64 total, qint64 readed) {
                             Progress.emplace_back(total, readed);
                             Events.push_back("progress");
                             if (OnProgress)
                                 OnProgress();
                         });
        QObject::connect(&http, &THTTPGet::OnDoneFile, &http,
                         [this](THTTPGet*, const QString& file, qint64 size) {
                             Events.push_back("done");
                             DoneFile = file;
                             DoneSize = size;
                         });
        QObject::connect(&http, &THTTPGet::OnError, &http, [this](THTTPGet*, const QString& why) {
            Events.push_back("error");
            Reason = why;
        });
    }
    // The outcome events ("done" / "error"): one is right.
    TStrings Outcomes() const {
        TStrings outcomes;
        std::copy_if(Events.begin(), Events.end(), std::back_inserter(outcomes),
                     [](auto& e) { return e != "progress"; });
        return outcomes;
    }
    TStrings Events;
    std::vector<std::pair<qint64, qint64>> Progress;
    QString DoneFile;
    QString Reason; // of the error event
    qint64 DoneSize = -1;
    std::function<void()> OnProgress;
};

class HTTPGetTest : public ::testing::Test {
protected:
    QString Target() const { return dir_.path() + QStringLiteral("/download.txt.gz"); }
    QByteArray TargetBytes() const { return TestFiles::ReadBytes(Target()); }

    // Fetches path from the server into Target() and waits for the outcome.
    void Fetch(const std::string& path) {
        log_.Events.clear();
        log_.Progress.clear();
        http_.URL = QString::fromStdString(server_.Url(path));
        http_.FileName = Target();
        http_.Start();
        LongOperation::WaitUntil([this] { return !log_.Outcomes().empty(); });
        Settle();
    }
    // Lets late events (there must be none) arrive.
    static void Settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    QTemporaryDir dir_;
    TTestHttpServer server_;
    THTTPGet http_;
    TEventLog log_{http_};
};

TEST(HTTPGetRulesTest, AddressesAndRedirects) {
    EXPECT_EQ(HTTPGetRules::RequestUrl("http://repo.example.org/Packages.gz"),
              "http://repo.example.org/Packages.gz");
    EXPECT_EQ(HTTPGetRules::RequestUrl("https://repo.example.org/P"), "https://repo.example.org/P");
    EXPECT_EQ(HTTPGetRules::RequestUrl("repo.example.org:8080/P"),
              "http://repo.example.org:8080/P");
    EXPECT_EQ(HTTPGetRules::RequestUrl("ftp://repo.example.org/P"), "");
    EXPECT_EQ(HTTPGetRules::RequestUrl("file:///etc/passwd"), "");
    EXPECT_EQ(HTTPGetRules::RequestUrl(""), "");

    // (Each redirect status is followed in AtMostTenRedirects.)
    for (long status : {200L, 300L, 304L, 305L, 306L, 404L})
        EXPECT_FALSE(HTTPGetRules::IsRedirectStatus(status)) << status;

    EXPECT_TRUE(HTTPGetRules::RedirectAllowed("http://a/x", "http://b/y"));
    EXPECT_TRUE(HTTPGetRules::RedirectAllowed("http://a/x", "https://b/y"));
    EXPECT_FALSE(HTTPGetRules::RedirectAllowed("https://a/x", "http://a/x"));
    EXPECT_FALSE(HTTPGetRules::RedirectAllowed("HTTPS://a/x", "http://a/x"));
    EXPECT_FALSE(HTTPGetRules::RedirectAllowed("http://a/x", "file:///etc/passwd"));
    EXPECT_FALSE(HTTPGetRules::RedirectAllowed("http://a/x", "ftp://a/x"));
}

// Heads as servers send them, each fed line by line: what is read from them
// and where the head ends.
TEST(HTTPGetRulesTest, AnswerHeads) {
    using HTTPGetRules::THeadLine;
    struct TCase {
        std::string Head; // its lines, each with its line end
        THeadLine Last;
        long Status;
        std::int64_t Length;
        bool Location;
    };
    const THeadLine End = THeadLine::End;
    const TCase cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n\r\n", End, 200, 1234, false},
        {"HTTP/1.0 302 Found\nLOCATION: /x\ncontent-length:\t0 \r\n\n", End, 302, 0, true},
        {"HTTP/1.1 100 Continue\r\n\r\n", THeadLine::Interim, 100, -1, false},
        // The interim head's fields do not carry over into the answer's.
        {"HTTP/1.1 100 Continue\r\nContent-Length: 5\r\n\r\nHTTP/1.1 200 OK\r\n\r\n", End, 200, -1,
         false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n", End, 200, -1, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", End, 200, -1, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", End, 200, -1, false},
        {"HTTP/1.1 200 OK\r\nX-Content-Length: 7\r\nLocations: /y\r\n\r\n", End, 200, -1, false},
        // A status that is not three digits is none (no sign, no short codes).
        {"HTTP/1.1 -30 x\r\n\r\n", End, 0, -1, false},
        {"HTTP/1.1 1\r\n\r\n", End, 0, -1, false},
        {"HTTP/1.1\r\n\r\n", End, 0, -1, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Head);
        HTTPGetRules::TAnswerHead head;
        THeadLine read = THeadLine::Field;
        for (std::size_t at = 0, next; at < c.Head.size(); at = next) {
            EXPECT_NE(read, End) << "ended before " << at;
            next = c.Head.find('\n', at) + 1;
            read = HTTPGetRules::ReadHeadLine(head, c.Head.substr(at, next - at));
        }
        EXPECT_EQ(read, c.Last);
        EXPECT_EQ(head.Status, c.Status);
        EXPECT_EQ(head.Length, c.Length);
        EXPECT_EQ(head.Location, c.Location);
    }
    // Validators are kept as sent, unless they could not be sent back.
    HTTPGetRules::TAnswerHead head;
    for (const char* line :
         {"HTTP/1.1 200 OK\r\n", "ETag:  \"5f-a\"\r\n", "last-modified: Tue, 01 Dec 2026\r\n"})
        HTTPGetRules::ReadHeadLine(head, line);
    EXPECT_EQ(head.ETag, "\"5f-a\"");
    EXPECT_EQ(head.LastModified, "Tue, 01 Dec 2026");
    HTTPGetRules::ReadHeadLine(head, "ETag: \"a\rb\"\r\n");
    HTTPGetRules::ReadHeadLine(head, "Last-Modified: " + std::string(300, 'x') + "\r\n");
    EXPECT_EQ(head.ETag, "");
    EXPECT_EQ(head.LastModified, "");
}

// The request as the component shapes it by default, then with every
// property set.
TEST_F(HTTPGetTest, PropertiesShapeTheRequest) {
    server_.Serve("/repo/Packages.gz", Bytes(10));
    Fetch("/repo/Packages.gz");
    EXPECT_EQ(log_.Outcomes(), TStrings{"done"});
    server_.Serve("/form", Bytes(10));
    http_.Agent.clear();
    http_.AcceptTypes = QStringLiteral("text/plain");
    http_.UseCache = true;
    http_.Referer = QStringLiteral("http://from.example/");
    http_.UserName = QStringLiteral("user");
    http_.Password = QStringLiteral("secret");
    http_.PostQuery = QStringLiteral("a=1&b=2");
    Fetch("/form");
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto& d = requests[0];
    EXPECT_EQ(d.Line, "GET /repo/Packages.gz HTTP/1.0");
    EXPECT_EQ(d.Header("Host"), "127.0.0.1:" + std::to_string(server_.Port()));
    EXPECT_EQ(d.Header("User-Agent"), "Telesphoreo APT-HTTP/1.0.534");
    EXPECT_EQ(d.Header("Accept"), "*/*");
    EXPECT_EQ(d.Header("Pragma"), "no-cache");
    EXPECT_EQ(d.Header("Cache-Control"), "no-cache");
    for (const char* absent :
         {"Referer", "Authorization", "Content-Type", "If-None-Match", "If-Modified-Since"})
        EXPECT_FALSE(d.HasHeader(absent)) << absent;
    const auto& r = requests[1];
    EXPECT_EQ(r.Line, "POST /form HTTP/1.0");
    EXPECT_FALSE(r.HasHeader("User-Agent"));
    EXPECT_EQ(r.Header("Accept"), "text/plain");
    EXPECT_FALSE(r.HasHeader("Pragma"));
    EXPECT_FALSE(r.HasHeader("Cache-Control"));
    EXPECT_EQ(r.Header("Referer"), "http://from.example/");
    EXPECT_EQ(r.Header("Authorization"), "Basic dXNlcjpzZWNyZXQ="); // user:secret
    EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.Body, "a=1&b=2");
}

// What each kind of answer leaves at the target, which event it raises and
// why it failed. A silent, stalled or trickling server fails after the
// timeout; a body over the cap fails as soon as it passes it.
TEST_F(HTTPGetTest, OutcomeAndTargetByAnswer) {
    const std::string body = Bytes(5000);
    const QByteArray old("previous target");
    const QByteArray missing("<missing>");
    const QString noLength = QStringLiteral("ответ без длины");
    const QString overCap = QStringLiteral("ответ больше предела в 65536 байт");
    const QString tooSlow = QStringLiteral("слишком медленно: меньше 1024 байт/с за 1 с");
    using TServe = std::function<void(TTestHttpServer&, const std::string& path)>;
    struct TCase {
        const char* Name;
        bool BinaryData;
        QByteArray Target; // expected content afterwards
        QString Reason;    // the start of LastError; empty: the done event
        TServe Serve;
    };
    const QByteArray whole = QByteArray::fromStdString(body);
    const QByteArray page = QByteArray::fromStdString(TTestHttpServer::ErrorPage(404, 300));
    const TCase cases[] = {
        {"with length", true, whole, {}, [&](auto& s, auto& p) { s.Serve(p, body); }},
        {"error page with its length",
         true,
         page,
         {},
         [](auto& s, auto& p) { s.ServeErrorPage(p, 404, 300); }},
        {"empty with length 0", true, "", {}, [](auto& s, auto& p) { s.Serve(p, ""); }},
        {"chunked, text", false, whole, noLength,
         [&](auto& s, auto& p) { s.ServeChunked(p, body); }},
        {"until close, binary", true, old, noLength,
         [&](auto& s, auto& p) { s.ServeUntilClose(p, body); }},
        {"until close, text", false, whole, noLength,
         [&](auto& s, auto& p) { s.ServeUntilClose(p, body); }},
        {"stalled body", false, missing, tooSlow,
         [&](auto& s, auto& p) { s.ServeHeld(p, body, 1); }},
        {"trickle", false, missing, tooSlow,
         [&](auto& s, auto& p) { s.ServePaced(p, Bytes(60000), 16, 20); }},
        {"redirect to file:", false, old, QStringLiteral("перенаправление на недопустимый адрес"),
         [](auto& s, auto& p) { s.Redirect(p, 302, "file:///etc/hostname"); }},
        {"silent server", false, old, tooSlow, [](auto& s, auto& p) { s.ServeSilent(p); }},
        // (A chunked binary answer, a cut one and an announced length over
        // the cap are the refresh's and the download's cases.) One that
        // sends without a length is cut off at the cap.
        {"no length, over the cap", false, missing, overCap,
         [](auto& s, auto& p) { s.ServeZeros(p, 0, 256 << 20); }},
    };
    http_.Timeout = 1;
    http_.MaxSize = 65536;
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = "/case" + std::to_string(n++);
        c.Serve(server_, path);
        TestFiles::WriteBytes(Target(), old);
        http_.BinaryData = c.BinaryData;
        Fetch(path);
        EXPECT_EQ(log_.Outcomes(), TStrings{c.Reason.isEmpty() ? "done" : "error"});
        EXPECT_EQ(TargetBytes(), c.Target);
        EXPECT_TRUE(http_.LastError().startsWith(c.Reason) &&
                    http_.LastError().isEmpty() == c.Reason.isEmpty())
            << http_.LastError().toStdString();
        EXPECT_EQ(log_.Reason, http_.LastError());
        // Nothing but the target in the folder: no temporary file is left.
        EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).size(),
                  c.Target == missing ? 0 : 1);
    }
    EXPECT_EQ(http_.LastStatus(), 200);
}

TEST_F(HTTPGetTest, NoServerIsAnErrorAndLeavesTheTargetAlone) {
    TestFiles::WriteBytes(Target(), "old");
    http_.URL = QStringLiteral("http://127.0.0.1:%1/P").arg(TTestHttpServer::ClosedPort());
    http_.FileName = Target();
    EXPECT_EQ(http_.StartAndWait().Reason, QStringLiteral("соединение отклонено"));
    EXPECT_EQ(log_.Events, TStrings{"error"});
    EXPECT_EQ(http_.LastStatus(), 0);
    EXPECT_EQ(TargetBytes(), "old");
}

TEST_F(HTTPGetTest, ProgressEndsWithTheFinalCount) {
    const std::string body = Bytes(3 * 1024 * 1024);
    server_.ServePaced("/big", body, 64 * 1024, 1);
    Fetch("/big");
    ASSERT_EQ(log_.Outcomes(), TStrings{"done"});
    ASSERT_FALSE(log_.Progress.empty());
    EXPECT_EQ(log_.Events.back(), "done");
    EXPECT_EQ(log_.Progress.back(), std::make_pair(qint64(body.size()), qint64(body.size())));
    for (std::size_t i = 1; i < log_.Progress.size(); ++i)
        EXPECT_LT(log_.Progress[i - 1].second, log_.Progress[i].second);
    EXPECT_EQ(log_.DoneSize, qint64(body.size()));
    EXPECT_EQ(log_.DoneFile, Target());
    EXPECT_EQ(TargetBytes().size(), qsizetype(body.size()));
}

TEST_F(HTTPGetTest, PostBecomesGetOnlyFor301To303) {
    server_.Redirect("/p303", 303, "/done");
    server_.Redirect("/p307", 307, "/done");
    server_.Serve("/done", "ok");
    http_.PostQuery = QStringLiteral("x=1");
    Fetch("/p303");
    Fetch("/p307");
    EXPECT_EQ(server_.RequestLines(),
              (std::vector<std::string>{"POST /p303 HTTP/1.0", "GET /done HTTP/1.0",
                                        "POST /p307 HTTP/1.0", "POST /done HTTP/1.0"}));
    EXPECT_EQ(server_.Requests().back().Body, "x=1");
}

// Every redirect status is followed, ten times at most.
TEST_F(HTTPGetTest, AtMostTenRedirects) {
    const int statuses[] = {301, 302, 303, 307, 308};
    for (int i = 0; i < 11; ++i)
        server_.Redirect("/r" + std::to_string(i), statuses[i % 5], "/r" + std::to_string(i + 1));
    server_.Serve("/r10", "ten hops");
    server_.Serve("/r11", "eleven hops");
    Fetch("/r0");
    EXPECT_EQ(log_.Outcomes(), TStrings{"done"});
    EXPECT_EQ(TargetBytes(), "ten hops");
    EXPECT_EQ(server_.Requests().size(), 11u);

    server_.ClearRequests();
    TestFiles::WriteBytes(Target(), "old");
    server_.Redirect("/r10", 302, "/r11");
    Fetch("/r0");
    EXPECT_EQ(log_.Outcomes(), TStrings{"error"});
    EXPECT_EQ(server_.Requests().size(), 11u); // the eleventh redirect is not followed
    EXPECT_EQ(TargetBytes(), "old");
}

TEST_F(HTTPGetTest, CredentialsStayWithTheirAddress) {
    TTestHttpServer other;
    other.Serve("/file", "elsewhere");
    server_.Redirect("/file", 302, other.Url("/file"));
    http_.UserName = QStringLiteral("user");
    http_.Password = QStringLiteral("secret");
    Fetch("/file");
    EXPECT_TRUE(server_.Requests().at(0).HasHeader("Authorization"));
    ASSERT_EQ(other.Requests().size(), 1u);
    EXPECT_FALSE(other.Requests()[0].HasHeader("Authorization"));
    EXPECT_EQ(TargetBytes(), "elsewhere");
}

TEST_F(HTTPGetTest, StartTwiceStartsOneTransfer) {
    server_.Serve("/once", Bytes(100));
    http_.URL = QString::fromStdString(server_.Url("/once"));
    http_.FileName = Target();
    http_.Start();
    http_.Start();
    LongOperation::WaitUntil([this] { return !log_.Outcomes().empty(); });
    Settle();
    EXPECT_EQ(server_.Requests().size(), 1u);
    EXPECT_FALSE(http_.Running());
    http_.Stop(); // while idle: no second outcome
    Settle();
    EXPECT_EQ(log_.Outcomes().size(), 1u);

    // WaitThread: Start itself returns after the transfer.
    http_.WaitThread = true;
    http_.Start();
    EXPECT_FALSE(http_.Running());
    EXPECT_EQ(server_.Requests().size(), 2u);
    EXPECT_EQ(log_.Outcomes().size(), 2u);
}

// The server sends the first bytes and then nothing until released: the
// transfer can only end because Stop broke off the read under way, pressed
// directly or through the stop flag.
TEST_F(HTTPGetTest, StopEndsAReadUnderWay) {
    server_.ServeHeld("/held", Bytes(100000), 1000);
    log_.OnProgress = [this] { http_.Stop(); };
    Fetch("/held");
    EXPECT_EQ(log_.Outcomes(), TStrings{"error"});
    EXPECT_EQ(log_.Reason, QStringLiteral("остановлено"));
    EXPECT_EQ(TargetBytes(), "<missing>");
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);

    TStopFlag stop;
    log_.OnProgress = [&stop] { stop.Set(); };
    EXPECT_EQ(http_.StartAndWait(&stop).Reason, QStringLiteral("остановлено"));
    // A flag already set starts nothing.
    server_.ClearRequests();
    EXPECT_FALSE(http_.StartAndWait(&stop));
    EXPECT_TRUE(server_.Requests().empty());
}

TEST(HTTPGetLifetimeTest, DestroyedComponentGetsNoEvents) {
    TTestHttpServer server;
    QTemporaryDir dir;
    server.ServeHeld("/held", Bytes(100000), 1000);
    int events = 0;
    bool progressed = false;
    {
        THTTPGet http;
        QObject::connect(&http, &THTTPGet::OnProgress, [&] { progressed = true; });
        QObject::connect(&http, &THTTPGet::OnError, [&] { ++events; });
        QObject::connect(&http, &THTTPGet::OnDoneFile, [&] { ++events; });
        http.URL = QString::fromStdString(server.Url("/held"));
        http.FileName = dir.path() + QStringLiteral("/f");
        http.Start();
        LongOperation::WaitUntil([&] { return progressed; });
    } // destroyed mid-transfer
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(events, 0);
    EXPECT_FALSE(QFileInfo::exists(dir.path() + QStringLiteral("/f")));
}

} // namespace
