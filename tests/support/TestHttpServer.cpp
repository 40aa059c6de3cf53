#include "support/TestHttpServer.h"

#include <httplib.h>

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

} // namespace

bool TTestHttpServer::TRequest::HasHeader(const std::string& name) const {
    return Headers.count(Lower(name)) > 0;
}

std::string TTestHttpServer::TRequest::Header(const std::string& name) const {
    const auto it = Headers.find(Lower(name));
    return it == Headers.end() ? std::string() : it->second;
}

std::string TTestHttpServer::ErrorPage(int status, std::size_t size) {
    std::string page = "<html><body><h1>Error " + std::to_string(status) + "</h1>";
    page.resize(size, ' ');
    if (!page.empty())
        page[0] = '<';
    return page;
}

int TTestHttpServer::ClosedPort() {
    return TTestHttpServer().Port();
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
    server_->set_tcp_nodelay(true);
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        Handle(req, res);
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

void TTestHttpServer::Handle(const httplib::Request& req, httplib::Response& res) {
    TRequest record;
    record.Line = req.method + " " + req.target + " " + req.version;
    for (const auto& [name, value] : req.headers)
        record.Headers.emplace(Lower(name), value);
    record.Body = req.body;
    record.RemotePort = req.remote_port;

    std::shared_ptr<const TAnswer> answer;
    std::function<void(const TRequest&)> onRequest;
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
    if (delayMs > 0)
        Pause(delayMs);
    if (!answer) {
        res.status = 404;
        res.set_content(ErrorPage(404, 100), "text/html");
        return;
    }
    res.status = answer->Status;
    Respond(answer, record, res);
}

void TTestHttpServer::Respond(const std::shared_ptr<const TAnswer>& body, const TRequest& record,
                              httplib::Response& res) {
    using enum TKind;
    switch (body->Kind) {
    case Plain:
        if (body->Body.empty()) { // a provider of length 0 would send no length
            res.set_content(std::string(), body->ContentType);
            break;
        }
        res.set_content_provider(body->Body.size(), body->ContentType,
                                 [body](size_t offset, size_t length, httplib::DataSink& sink) {
                                     return sink.write(body->Body.data() + offset, length);
                                 });
        break;
    case Chunked:
    case UntilClose: {
        // No length: the body ends with the last chunk, or with the connection.
        auto rest = [body](size_t offset, httplib::DataSink& sink) {
            if (offset < body->Body.size())
                sink.write(body->Body.data() + offset, body->Body.size() - offset);
            else
                sink.done();
            return true;
        };
        if (body->Kind == Chunked)
            res.set_chunked_content_provider(body->ContentType, rest);
        else
            res.set_content_provider(body->ContentType, rest);
        break;
    }
    case Paced:
    case Held:
        RespondInSteps(body, res);
        break;
    case Silent:
        WaitForRelease();
        res.set_content_provider(body->ContentType,
                                 [](size_t, httplib::DataSink&) { return false; });
        break;
    case Zeros:
        RespondZeros(body, res);
        break;
    case Validated:
        RespondValidated(*body, record, res);
        break;
    case Redirect:
        res.set_header("Location", body->Location);
        res.set_content(ErrorPage(body->Status, 200), "text/html");
        break;
    }
}

// Bodies with a length that come in parts: paced or held.
void TTestHttpServer::RespondInSteps(const std::shared_ptr<const TAnswer>& body,
                                     httplib::Response& res) {
    res.set_content_provider(
        body->Body.size(), body->ContentType,
        [this, body](size_t offset, size_t length, httplib::DataSink& sink) {
            const char* at = body->Body.data() + offset;
            if (body->Kind == TKind::Paced)
                return sink.write(at, std::min(length, std::max<size_t>(body->Block, 1))) &&
                       Pause(body->PauseMs);
            if (offset < body->Sent) // Held: the first bytes at once, the rest on release
                return sink.write(at, body->Sent - offset);
            return WaitForRelease() && sink.write(at, length);
        });
}

void TTestHttpServer::RespondZeros(const std::shared_ptr<const TAnswer>& body,
                                   httplib::Response& res) {
    auto zeros = [body](size_t offset, httplib::DataSink& sink) {
        static const std::string block(64 * 1024, '\0');
        const std::uint64_t left = body->Zeros - std::min<std::uint64_t>(offset, body->Zeros);
        return left > 0 && sink.write(block.data(), std::min<std::uint64_t>(left, block.size()));
    };
    if (body->Announced > 0)
        res.set_content_provider(body->Announced, body->ContentType,
                                 [zeros](size_t offset, size_t, httplib::DataSink& sink) {
                                     return zeros(offset, sink);
                                 });
    else
        res.set_content_provider(body->ContentType, zeros);
}

void TTestHttpServer::RespondValidated(const TAnswer& body, const TRequest& record,
                                       httplib::Response& res) {
    const bool sameTag = !body.ETag.empty() && record.Header("If-None-Match") == body.ETag;
    const bool sameDate = !record.HasHeader("If-None-Match") && !body.LastModified.empty() &&
                          record.Header("If-Modified-Since") == body.LastModified;
    if (sameTag || sameDate) {
        res.status = 304;
        return;
    }
    if (!body.ETag.empty())
        res.set_header("ETag", body.ETag);
    if (!body.LastModified.empty())
        res.set_header("Last-Modified", body.LastModified);
    res.set_content(body.Body, body.ContentType);
}

bool TTestHttpServer::Pause(int ms) {
    std::unique_lock lock(mutex_);
    released_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
    return !stopping_;
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

void TTestHttpServer::SetAnswer(const std::string& path, TAnswer answer) {
    auto shared = std::make_shared<const TAnswer>(std::move(answer));
    std::lock_guard lock(mutex_);
    answers_[path] = std::move(shared);
}

void TTestHttpServer::SetAnswerDelay(int ms) {
    std::lock_guard lock(mutex_);
    delayMs_ = ms;
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

std::vector<TTestHttpServer::TRequest> TTestHttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> TTestHttpServer::RequestLines() const {
    std::vector<std::string> lines;
    for (const TRequest& r : Requests())
        lines.push_back(r.Line);
    return lines;
}

void TTestHttpServer::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void TTestHttpServer::SetOnRequest(std::function<void(const TRequest&)> onRequest) {
    std::lock_guard lock(mutex_);
    onRequest_ = std::move(onRequest);
}
