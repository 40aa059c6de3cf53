#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// A real HTTP server for tests and timing programs, on 127.0.0.1 with a port
// the system chooses, running on its own threads inside the calling process.
//
// Each path (the request target without its query) gets one answer, set with
// one of the Serve* / Redirect calls below; a later call for the same path
// replaces it. A path without an answer gets a 404 page of about 100 bytes.
// Every request is recorded (request line, headers, body) in arrival order.
//
//     TTestHttpServer server;
//     server.Serve("/repo/Packages.gz", gzBytes);
//     server.ServeErrorPage("/repo/Packages.bz2", 404, 300);
//     http.URL = server.Url("/repo/Packages.gz");
//     ...
//     EXPECT_EQ(server.RequestLines(),
//               (std::vector<std::string>{"GET /repo/Packages.gz HTTP/1.0"}));
//
// All calls are safe from any thread. The destructor releases held and
// silent answers, then stops the server.
class TTestHttpServer {
public:
    struct TRequest {
        std::string Line;                                // "GET /repo/Packages.gz HTTP/1.0"
        std::multimap<std::string, std::string> Headers; // names lower-cased
        std::string Body;
        int RemotePort = 0; // the client's end: one per connection

        bool HasHeader(const std::string& name) const;
        // The first value of the header (name in any letter case), or "".
        std::string Header(const std::string& name) const;
    };

    TTestHttpServer();
    // The same server over TLS, with this certificate and key (PEM files).
    TTestHttpServer(const std::string& certFile, const std::string& keyFile);
    ~TTestHttpServer();
    TTestHttpServer(const TTestHttpServer&) = delete;
    TTestHttpServer& operator=(const TTestHttpServer&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>" (or "https://") followed by path.
    std::string Url(std::string_view path) const;

    // 200 (or status) with a Content-Length.
    void Serve(const std::string& path, std::string body, int status = 200) {
        SetAnswer(path, {.Status = status, .Body = std::move(body)});
    }
    // 200 with "Transfer-Encoding: chunked", no Content-Length.
    void ServeChunked(const std::string& path, std::string body) {
        SetAnswer(path, {.Kind = TKind::Chunked, .Body = std::move(body)});
    }
    // 200 with neither length nor chunks: the body ends when the server closes.
    void ServeUntilClose(const std::string& path, std::string body) {
        SetAnswer(path, {.Kind = TKind::UntilClose, .Body = std::move(body)});
    }
    // An HTML error page of exactly size bytes (beginning with "<") with its
    // own Content-Length.
    void ServeErrorPage(const std::string& path, int status, std::size_t size) {
        SetAnswer(path,
                  {.Status = status, .Body = ErrorPage(status, size), .ContentType = "text/html"});
    }
    // Sends the body in blocks of block bytes with a pause after each, so that
    // a client can be stopped in the middle.
    void ServePaced(const std::string& path, std::string body, std::size_t block, int pauseMs) {
        SetAnswer(
            path,
            {.Kind = TKind::Paced, .Body = std::move(body), .Block = block, .PauseMs = pauseMs});
    }
    // Sends sent zero bytes and closes: with "Content-Length: announced" (a
    // length that may lie: an answer cut short), or with no length when
    // announced is 0 (a server that sends without end while a client has to
    // stop itself).
    void ServeZeros(const std::string& path, std::uint64_t announced, std::uint64_t sent) {
        SetAnswer(path, {.Kind = TKind::Zeros, .Announced = announced, .Zeros = sent});
    }
    // Sends the headers (with Content-Length) and the first sent bytes, then
    // waits until Release() before sending the rest.
    void ServeHeld(const std::string& path, std::string body, std::size_t sent) {
        sent = std::min(sent, body.size());
        SetAnswer(path, {.Kind = TKind::Held, .Body = std::move(body), .Sent = sent});
    }
    // Reads the request and sends nothing until Release(), then closes.
    void ServeSilent(const std::string& path) { SetAnswer(path, {.Kind = TKind::Silent}); }
    // 200 with the body and its validators (ETag, Last-Modified; each sent
    // when not empty); 304 without a body to a request whose If-None-Match
    // is the ETag, or that has none and whose If-Modified-Since is the
    // Last-Modified, as a server does for a copy that is still the one.
    void ServeValidated(const std::string& path, std::string body, std::string etag,
                        std::string lastModified) {
        SetAnswer(path, {.Kind = TKind::Validated,
                         .Body = std::move(body),
                         .ETag = std::move(etag),
                         .LastModified = std::move(lastModified)});
    }
    // Status (301, 302, ...) with "Location: location" and a short body.
    void Redirect(const std::string& path, int status, const std::string& location) {
        SetAnswer(path, {.Kind = TKind::Redirect, .Status = status, .Location = location});
    }

    // Every answer from now on starts after this many milliseconds, as from
    // a server far away (the requests of that time still overlap).
    void SetAnswerDelay(int ms);

    // Lets held and silent answers go on; answers that start later do not wait.
    void Release();

    std::vector<TRequest> Requests() const;
    // The request lines in arrival order ("GET /a HTTP/1.0").
    std::vector<std::string> RequestLines() const;
    void ClearRequests();
    // Called on a server thread for each request after it was recorded
    // (for instance to press Stop while an answer is held).
    void SetOnRequest(std::function<void(const TRequest&)> onRequest);

    // An HTML page of exactly size bytes, beginning with "<".
    static std::string ErrorPage(int status, std::size_t size);
    // A port on 127.0.0.1 where nothing listens (a server's, just closed).
    static int ClosedPort();

private:
    enum class TKind {
        Plain,
        Chunked,
        UntilClose,
        Paced,
        Held,
        Silent,
        Redirect,
        Zeros,
        Validated
    };
    struct TAnswer {
        TKind Kind = TKind::Plain;
        int Status = 200;
        std::string Body = {};
        std::string ContentType = "application/octet-stream";
        std::size_t Sent = 0;                     // Held: bytes sent before holding
        std::size_t Block = 0;                    // Paced
        int PauseMs = 0;                          // Paced
        std::string Location = {};                // Redirect
        std::uint64_t Announced = 0, Zeros = 0;   // Zeros
        std::string ETag = {}, LastModified = {}; // Validated
    };
    void Start();
    void Handle(const httplib::Request& req, httplib::Response& res);
    void Respond(const std::shared_ptr<const TAnswer>& body, const TRequest& record,
                 httplib::Response& res);
    void RespondInSteps(const std::shared_ptr<const TAnswer>& body, httplib::Response& res);
    static void RespondZeros(const std::shared_ptr<const TAnswer>& body, httplib::Response& res);
    static void RespondValidated(const TAnswer& body, const TRequest& record,
                                 httplib::Response& res);
    void SetAnswer(const std::string& path, TAnswer answer);
    // Waits ms or until the server stops; false when it stops.
    bool Pause(int ms);
    bool WaitForRelease();

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    std::string scheme_ = "http";

    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
    bool stopping_ = false;
    int delayMs_ = 0;
    std::map<std::string, std::shared_ptr<const TAnswer>> answers_;
    std::vector<TRequest> requests_;
    std::function<void(const TRequest&)> onRequest_;
};
