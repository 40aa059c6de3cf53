#include "support/TestHttpServer.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>
#include <utility>

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

const char* const BinaryType = "application/octet-stream";

} // namespace

struct TTestHttpServer::Answer {
    enum class Kind {
        Plain,
        Chunked,
        UntilClose,
        Cut,
        Paced,
        Held,
        Silent,
        Redirect,
        Zeros,
        Validated
    };
    Kind kind = Kind::Plain;
    int status = 200;
    std::string body = {};
    std::string contentType = BinaryType;
    std::size_t sent = 0;                     // Cut, Held: bytes sent before cutting / holding
    std::size_t block = 0;                    // Paced
    int pauseMs = 0;                          // Paced
    std::string location = {};                // Redirect
    std::uint64_t announced = 0, zeros = 0;   // Zeros
    std::string etag = {}, lastModified = {}; // Validated
};

bool TTestHttpServer::Request::HasHeader(const std::string& name) const {
    return Headers.count(Lower(name)) > 0;
}

std::string TTestHttpServer::Request::Header(const std::string& name) const {
    const auto it = Headers.find(Lower(name));
    return it == Headers.end() ? std::string() : it->second;
}

std::string TTestHttpServer::ErrorPage(int status, std::size_t size) {
    std::string page = "<html><head><title>" + std::to_string(status) +
                       "</title></head><body><h1>Error " + std::to_string(status) + "</h1>";
    const std::string tail = "</body></html>\n";
    if (page.size() + tail.size() <= size) {
        page.append(size - page.size() - tail.size(), ' ');
        page += tail;
    }
    page.resize(size, ' ');
    if (!page.empty())
        page[0] = '<';
    return page;
}

TTestHttpServer::TTestHttpServer() : server_(std::make_unique<httplib::Server>()) {
    Start();
}

TTestHttpServer::TTestHttpServer(const std::string& certFile, const std::string& keyFile)
    : server_(std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str())),
      scheme_("https") {
    if (!server_->is_valid())
        throw std::runtime_error("TTestHttpServer: certificate or key not usable");
    Start();
}

void TTestHttpServer::Start() {
    server_->set_keep_alive_timeout(1);
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        Request record;
        record.Method = req.method;
        record.Target = req.target;
        record.Version = req.version;
        record.Line = req.method + " " + req.target + " " + req.version;
        for (const auto& [name, value] : req.headers)
            record.Headers.emplace(Lower(name), value);
        record.Body = req.body;

        std::shared_ptr<const Answer> answer;
        std::function<void(const Request&)> onRequest;
        int delayMs = 0;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(record);
            const auto it = answers_.find(req.path);
            if (it != answers_.end())
                answer = it->second;
            onRequest = onRequest_;
            delayMs = delayMs_;
        }
        if (onRequest)
            onRequest(record);
        if (delayMs > 0) {
            std::unique_lock lock(mutex_);
            released_.wait_for(lock, std::chrono::milliseconds(delayMs),
                               [this] { return stopping_; });
        }

        if (!answer) {
            res.status = 404;
            res.set_content(ErrorPage(404, 100), "text/html");
            return;
        }
        res.status = answer->status;
        const std::shared_ptr<const Answer>& body = answer;
        switch (answer->kind) {
        case Answer::Kind::Plain:
            if (answer->body.empty()) { // a provider of length 0 would send no length
                res.set_content(std::string(), answer->contentType);
                break;
            }
            res.set_content_provider(body->body.size(), body->contentType,
                                     [body](size_t offset, size_t length, httplib::DataSink& sink) {
                                         return sink.write(body->body.data() + offset, length);
                                     });
            break;
        case Answer::Kind::Chunked:
        case Answer::Kind::UntilClose: {
            // No length: the body ends with the last chunk, or with the connection.
            auto rest = [body](size_t offset, httplib::DataSink& sink) {
                if (offset < body->body.size())
                    sink.write(body->body.data() + offset, body->body.size() - offset);
                else
                    sink.done();
                return true;
            };
            if (body->kind == Answer::Kind::Chunked)
                res.set_chunked_content_provider(body->contentType, rest);
            else
                res.set_content_provider(body->contentType, rest);
            break;
        }
        case Answer::Kind::Cut:
            res.set_content_provider(body->body.size(), body->contentType,
                                     [body](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset < body->sent)
                                             return sink.write(body->body.data() + offset,
                                                               body->sent - offset);
                                         return false; // closes the connection
                                     });
            break;
        case Answer::Kind::Paced:
            res.set_content_provider(
                body->body.size(), body->contentType,
                [this, body](size_t offset, size_t length, httplib::DataSink& sink) {
                    const size_t n = std::min(length, std::max<size_t>(body->block, 1));
                    if (!sink.write(body->body.data() + offset, n))
                        return false;
                    std::unique_lock lock(mutex_);
                    released_.wait_for(lock, std::chrono::milliseconds(body->pauseMs),
                                       [this] { return stopping_; });
                    return !stopping_;
                });
            break;
        case Answer::Kind::Held:
            res.set_content_provider(
                body->body.size(), body->contentType,
                [this, body](size_t offset, size_t length, httplib::DataSink& sink) {
                    if (offset < body->sent)
                        return sink.write(body->body.data() + offset, body->sent - offset);
                    return WaitForRelease() && sink.write(body->body.data() + offset, length);
                });
            break;
        case Answer::Kind::Silent:
            WaitForRelease();
            res.set_content_provider(body->contentType,
                                     [](size_t, httplib::DataSink&) { return false; });
            break;
        case Answer::Kind::Zeros: {
            auto zeros = [body](size_t offset, httplib::DataSink& sink) {
                static const std::string block(64 * 1024, '\0');
                const std::uint64_t left =
                    body->zeros - std::min<std::uint64_t>(offset, body->zeros);
                return left > 0 &&
                       sink.write(block.data(), std::min<std::uint64_t>(left, block.size()));
            };
            if (body->announced > 0)
                res.set_content_provider(body->announced, body->contentType,
                                         [zeros](size_t offset, size_t, httplib::DataSink& sink) {
                                             return zeros(offset, sink);
                                         });
            else
                res.set_content_provider(body->contentType, zeros);
            break;
        }
        case Answer::Kind::Validated: {
            const bool sameTag =
                !body->etag.empty() && record.Header("If-None-Match") == body->etag;
            const bool sameDate = !record.HasHeader("If-None-Match") &&
                                  !body->lastModified.empty() &&
                                  record.Header("If-Modified-Since") == body->lastModified;
            if (sameTag || sameDate) {
                res.status = 304;
                break;
            }
            if (!body->etag.empty())
                res.set_header("ETag", body->etag);
            if (!body->lastModified.empty())
                res.set_header("Last-Modified", body->lastModified);
            res.set_content(body->body, body->contentType);
            break;
        }
        case Answer::Kind::Redirect:
            res.set_header("Location", body->location);
            res.set_content(ErrorPage(body->status, 200), "text/html");
            break;
        }
    };
    server_->Get(".*", handler);
    server_->Post(".*", handler);

    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0)
        throw std::runtime_error("TTestHttpServer: cannot bind 127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() is ignored until the accept loop runs; wait for it so that a
    // server destroyed at once still ends.
    while (!server_->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TTestHttpServer::~TTestHttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    released_.notify_all();
    server_->stop();
    if (thread_.joinable())
        thread_.join();
}

std::string TTestHttpServer::Url(std::string_view path) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void TTestHttpServer::SetAnswer(const std::string& path, Answer answer) {
    auto shared = std::make_shared<const Answer>(std::move(answer));
    std::lock_guard lock(mutex_);
    answers_[path] = std::move(shared);
}

void TTestHttpServer::Serve(const std::string& path, std::string body, int status) {
    SetAnswer(path, {.status = status, .body = std::move(body)});
}

void TTestHttpServer::ServeChunked(const std::string& path, std::string body) {
    SetAnswer(path, {.kind = Answer::Kind::Chunked, .body = std::move(body)});
}

void TTestHttpServer::ServeUntilClose(const std::string& path, std::string body) {
    SetAnswer(path, {.kind = Answer::Kind::UntilClose, .body = std::move(body)});
}

void TTestHttpServer::ServeErrorPage(const std::string& path, int status, std::size_t size) {
    SetAnswer(path,
              {.status = status, .body = ErrorPage(status, size), .contentType = "text/html"});
}

void TTestHttpServer::ServeCut(const std::string& path, std::string body, std::size_t sent) {
    const std::size_t cut = std::min(sent, body.size());
    SetAnswer(path, {.kind = Answer::Kind::Cut, .body = std::move(body), .sent = cut});
}

void TTestHttpServer::ServePaced(const std::string& path, std::string body, std::size_t block,
                                 int pauseMs) {
    SetAnswer(
        path,
        {.kind = Answer::Kind::Paced, .body = std::move(body), .block = block, .pauseMs = pauseMs});
}

void TTestHttpServer::ServeZeros(const std::string& path, std::uint64_t announced,
                                 std::uint64_t sent) {
    SetAnswer(path, {.kind = Answer::Kind::Zeros, .announced = announced, .zeros = sent});
}

void TTestHttpServer::ServeHeld(const std::string& path, std::string body, std::size_t sent) {
    const std::size_t held = std::min(sent, body.size());
    SetAnswer(path, {.kind = Answer::Kind::Held, .body = std::move(body), .sent = held});
}

void TTestHttpServer::ServeSilent(const std::string& path) {
    SetAnswer(path, {.kind = Answer::Kind::Silent});
}

void TTestHttpServer::ServeValidated(const std::string& path, std::string body, std::string etag,
                                     std::string lastModified) {
    SetAnswer(path, {.kind = Answer::Kind::Validated,
                     .body = std::move(body),
                     .etag = std::move(etag),
                     .lastModified = std::move(lastModified)});
}

void TTestHttpServer::SetAnswerDelay(int ms) {
    std::lock_guard lock(mutex_);
    delayMs_ = ms;
}

void TTestHttpServer::Redirect(const std::string& path, int status, const std::string& location) {
    SetAnswer(path, {.kind = Answer::Kind::Redirect, .status = status, .location = location});
}

bool TTestHttpServer::WaitForRelease() {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return release_ || stopping_; });
    return !stopping_;
}

void TTestHttpServer::Release() {
    {
        std::lock_guard lock(mutex_);
        release_ = true;
    }
    released_.notify_all();
}

std::vector<TTestHttpServer::Request> TTestHttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> TTestHttpServer::RequestLines() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    for (const Request& r : requests_)
        lines.push_back(r.Line);
    return lines;
}

void TTestHttpServer::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void TTestHttpServer::SetOnRequest(std::function<void(const Request&)> onRequest) {
    std::lock_guard lock(mutex_);
    onRequest_ = std::move(onRequest);
}

// ---- TTestTcpListener ----

TTestTcpListener::TTestTcpListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || ::pipe(wakePipe_) != 0)
        throw std::runtime_error("TTestTcpListener: cannot listen on 127.0.0.1");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
}

TTestTcpListener::~TTestTcpListener() {
    const char byte = 0;
    (void)!::write(wakePipe_[1], &byte, 1);
    thread_.join();
    ::close(fd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

void TTestTcpListener::Run() {
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents != 0)
            return;
        const int conn = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0)
            continue;
        std::string first;
        pollfd in{conn, POLLIN, 0};
        if (::poll(&in, 1, 5000) > 0) {
            char buffer[64];
            const ssize_t n = ::read(conn, buffer, sizeof buffer);
            if (n > 0)
                first.assign(buffer, static_cast<size_t>(n));
        }
        ::close(conn);
        std::lock_guard lock(mutex_);
        firstBytes_.push_back(first);
    }
}

int TTestTcpListener::Connections() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(firstBytes_.size());
}

std::vector<std::string> TTestTcpListener::FirstBytes() const {
    std::lock_guard lock(mutex_);
    return firstBytes_;
}
