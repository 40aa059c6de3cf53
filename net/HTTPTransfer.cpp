#include "net/HTTPTransfer.h"

#include <QFile>
#include <QUrl>

#include <curl/curl.h>

#include <cerrno>
#include <cstdlib>

namespace {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QString TooLargeText(std::int64_t cap) {
    return QStringLiteral("ответ больше предела в %1 байт").arg(cap);
}

QString NoLengthText() {
    return QStringLiteral("ответ без длины (нет Content-Length)");
}

// Why curl ended a transfer, in words a person can read. The easy handle
// still holds the details of that transfer.
QString CurlReason(CURLcode code, CURL* easy, const char* detail, int minSpeed, int seconds) {
    long osErrno = 0;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
    const QString more = detail && *detail ? QString::fromUtf8(detail) : QString();
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("сервер не найден (%1)").arg(more);
    case CURLE_COULDNT_RESOLVE_PROXY:
        return QStringLiteral("прокси-сервер не найден (%1)").arg(more);
    case CURLE_COULDNT_CONNECT:
        if (osErrno == ECONNREFUSED)
            return QStringLiteral("соединение отклонено");
        return QStringLiteral("нет соединения: %1")
            .arg(osErrno != 0 ? SafeFiles::ErrnoText(int(osErrno)) : more);
    case CURLE_OPERATION_TIMEDOUT: {
        double connected = 0;
        curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME, &connected);
        if (connected <= 0)
            return QStringLiteral("время ожидания соединения истекло (%1 с)")
                .arg(HTTPGetRules::ConnectTimeoutSeconds);
        return QStringLiteral("слишком медленно: меньше %1 байт/с за %2 с")
            .arg(minSpeed)
            .arg(seconds);
    }
    case CURLE_PEER_FAILED_VERIFICATION:
        return QStringLiteral("сертификат сервера не проверен (%1)").arg(more);
    case CURLE_SSL_CONNECT_ERROR:
        return QStringLiteral("ошибка TLS (%1)").arg(more);
    case CURLE_GOT_NOTHING:
        return QStringLiteral("сервер закрыл соединение, не ответив");
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return QStringLiteral("соединение прервано (%1)").arg(more);
    default:
        return more.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : more;
    }
}

QString Origin(const QString& url) {
    const QUrl u(url);
    return u.scheme().toLower() + QLatin1String("://") + u.host().toLower() + QLatin1Char(':') +
           QString::number(u.port(
               u.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80));
}

curl_slist* RequestHeaders(const THTTPRequest& r) {
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, ("Accept: " + r.AcceptTypes).c_str());
    if (!r.UseCache) {
        headers = curl_slist_append(headers, "Pragma: no-cache");
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
    }
    if (!r.IfNoneMatch.empty())
        headers = curl_slist_append(headers, ("If-None-Match: " + r.IfNoneMatch).c_str());
    if (!r.IfModifiedSince.empty())
        headers = curl_slist_append(headers, ("If-Modified-Since: " + r.IfModifiedSince).c_str());
    return curl_slist_append(headers, "Expect:");
}

} // namespace

// The easy handle of one transfer, and what it was given.
struct THTTPTransfer::TCurl {
    CURL* Easy = curl_easy_init();
    curl_slist* Headers = nullptr;
    char Error[CURL_ERROR_SIZE] = {};

    ~TCurl() {
        curl_slist_free_all(Headers);
        curl_easy_cleanup(Easy);
    }
    void Configure(THTTPTransfer& owner);
};

namespace {

int OnTransferInfo(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<THTTPTransfer*>(self)->Stopped() ? 1 : 0;
}

} // namespace

void THTTPTransfer::TCurl::Configure(THTTPTransfer& owner) {
    const THTTPRequest& r = owner.request_;
    Headers = RequestHeaders(r);
    curl_easy_setopt(Easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(
        Easy, CURLOPT_HTTP_VERSION,
        static_cast<long>(r.KeepAlive ? CURL_HTTP_VERSION_1_1 : CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(Easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(Easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(Easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // Without keep-alive, one request per connection, as HTTP/1.0 has it: a
    // redirect never meets a connection that the server is closing. With it,
    // the multi handle keeps the connection for the next request (curl asks
    // again on a fresh one when a kept connection turns out closed).
    curl_easy_setopt(Easy, CURLOPT_FORBID_REUSE, r.KeepAlive ? 0L : 1L);
    curl_easy_setopt(Easy, CURLOPT_HTTPHEADER, Headers);
    curl_easy_setopt(Easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(Easy, CURLOPT_SSL_VERIFYHOST, 2L);
    // The certificate store the curl tool is told about (a company's own
    // authority, a store kept elsewhere) is the one trusted here too.
    for (const char* variable : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        const char* file = std::getenv(variable);
        if (file && *file) {
            curl_easy_setopt(Easy, CURLOPT_CAINFO, file);
            break;
        }
    }
    if (const char* dir = std::getenv("SSL_CERT_DIR"); dir && *dir)
        curl_easy_setopt(Easy, CURLOPT_CAPATH, dir);
    curl_easy_setopt(Easy, CURLOPT_CONNECTTIMEOUT,
                     static_cast<long>(HTTPGetRules::ConnectTimeoutSeconds));
    curl_easy_setopt(Easy, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(r.MinSpeed));
    curl_easy_setopt(Easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(r.Timeout));
    curl_easy_setopt(Easy, CURLOPT_ERRORBUFFER, Error);
    curl_easy_setopt(Easy, CURLOPT_BUFFERSIZE, 128L * 1024L);
    curl_easy_setopt(Easy, CURLOPT_HEADERFUNCTION, &THTTPTransfer::OnHeader);
    curl_easy_setopt(Easy, CURLOPT_HEADERDATA, &owner);
    curl_easy_setopt(Easy, CURLOPT_WRITEFUNCTION, &THTTPTransfer::OnWrite);
    curl_easy_setopt(Easy, CURLOPT_WRITEDATA, &owner);
    curl_easy_setopt(Easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(Easy, CURLOPT_XFERINFOFUNCTION, &OnTransferInfo);
    curl_easy_setopt(Easy, CURLOPT_XFERINFODATA, &owner);
    if (!r.Agent.empty())
        curl_easy_setopt(Easy, CURLOPT_USERAGENT, r.Agent.c_str());
    if (!r.Referer.empty())
        curl_easy_setopt(Easy, CURLOPT_REFERER, r.Referer.c_str());
}

THTTPTransfer::THTTPTransfer(THTTPRequest request) : request_(std::move(request)) {
    GlobalInit();
    if (request_.Timeout <= 0)
        request_.Timeout = 60;
    if (request_.MinSpeed <= 0)
        request_.MinSpeed = 1;
    if (request_.MaxSize <= 0)
        request_.MaxSize = HTTPGetRules::DefaultMaxSize;
}

bool THTTPTransfer::Fail(QString reason) {
    if (failure_.isEmpty())
        failure_ = std::move(reason);
    return false;
}

THTTPTransfer::~THTTPTransfer() = default;

void THTTPTransfer::Stop() {
    std::lock_guard lock(activeMutex_);
    stop_.store(true);
    if (activeMulti_)
        curl_multi_wakeup(activeMulti_);
}

bool THTTPTransfer::Header(std::string_view line) {
    if (HTTPGetRules::ReadHeadLine(hop_, line) != HTTPGetRules::THeadLine::End)
        return true;
    hop_.HeadersDone = true;
    if (HTTPGetRules::IsRedirectStatus(hop_.Status) && hop_.Location) {
        hop_.Redirect = true;
        return true;
    }
    // Nothing to write: the copy the caller holds is still the one.
    if (NotModified())
        return true;
    // Refused before anything is written: the target stays untouched.
    if (hop_.Length < 0 && request_.BinaryData)
        return Fail(NoLengthText());
    if (hop_.Length > request_.MaxSize)
        return Fail(TooLargeText(request_.MaxSize));
    if (stop_.load())
        return false;
    answered_ = true;
    totalSize_.store(hop_.Length < 0 ? 0 : hop_.Length);
    file_.emplace(request_.FileName);
    // Most targets are scratch files that are checked and copied again
    // (through a flushed atomic replace) before anything keeps them; waiting
    // here for the disk would only slow those transfers down.
    file_->SkipFlush();
    return file_->Open() ||
           Fail(QStringLiteral("не удалось создать файл: %1").arg(file_->ErrorString()));
}

bool THTTPTransfer::Body(const char* data, std::size_t size) {
    if (hop_.Redirect || NotModified())
        return true;
    if (!file_ || stop_.load())
        return false;
    // An answer that lied about its length, or had none, stops at the cap.
    if (std::int64_t(size) > request_.MaxSize - readed_.load())
        return Fail(TooLargeText(request_.MaxSize));
    if (!file_->Write(data, size))
        return Fail(QStringLiteral("не удалось записать файл: %1").arg(file_->ErrorString()));
    readed_.fetch_add(static_cast<std::int64_t>(size));
    if (OnProgress)
        OnProgress();
    return true;
}

std::size_t THTTPTransfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    return static_cast<THTTPTransfer*>(self)->Header(std::string_view(data, size * count))
               ? size * count
               : 0;
}

std::size_t THTTPTransfer::OnWrite(char* data, std::size_t size, std::size_t count, void* self) {
    return static_cast<THTTPTransfer*>(self)->Body(data, size * count) ? size * count : 0;
}

THTTPResult THTTPTransfer::Run() {
    CURLM* multi = curl_multi_init();
    if (!multi)
        Fail(QStringLiteral("не удалось начать передачу"));
    for (CURL* easy = multi ? Begin(multi) : nullptr; easy;) {
        curl_multi_add_handle(multi, easy);
        CURLcode code = CURLE_OK;
        int running = 1;
        while (running > 0) {
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                code = CURLE_FAILED_INIT;
                break;
            }
            if (stop_.load()) {
                code = CURLE_ABORTED_BY_CALLBACK;
                break;
            }
            if (running > 0)
                curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued))
            if (msg->msg == CURLMSG_DONE && code == CURLE_OK)
                code = msg->data.result;
        curl_multi_remove_handle(multi, easy);
        easy = HopDone(code);
    }
    THTTPResult result = Result();
    curl_multi_cleanup(multi);
    return result;
}

CURL* THTTPTransfer::Begin(CURLM* multi) {
    QString url = HTTPGetRules::RequestUrl(request_.URL);
    if (url.isEmpty()) {
        Fail(QStringLiteral("адрес не http:// и не https://"));
        return nullptr;
    }
    if (stop_.load())
        return nullptr;
    url_ = std::move(url);
    curl_ = std::make_unique<TCurl>();
    if (!curl_->Easy) {
        curl_.reset();
        Fail(QStringLiteral("не удалось начать передачу"));
        return nullptr;
    }
    curl_->Configure(*this);
    firstOrigin_ = Origin(url_);
    post_ = !request_.PostQuery.empty();
    {
        std::lock_guard lock(activeMutex_);
        activeMulti_ = multi;
    }
    SetUpHop();
    return curl_->Easy;
}

// The request to url_ of the chain.
void THTTPTransfer::SetUpHop() {
    CURL* easy = curl_->Easy;
    const std::string urlBytes = url_.toUtf8().toStdString();
    curl_easy_setopt(easy, CURLOPT_URL, urlBytes.c_str());
    if (post_) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(request_.PostQuery.size()));
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, request_.PostQuery.c_str());
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    // Credentials go only to the address they were given for, never to
    // where a redirect points.
    const bool credentials = !request_.UserName.empty() && Origin(url_) == firstOrigin_;
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_USERNAME, credentials ? request_.UserName.c_str() : nullptr);
    curl_easy_setopt(easy, CURLOPT_PASSWORD, credentials ? request_.Password.c_str() : nullptr);
    hop_ = THop();
    curl_->Error[0] = '\0';
}

// How one request of the chain ended: false when curl or the callbacks ended
// it early (the reason is then recorded).
bool THTTPTransfer::HopEnded(CURLcode code) {
    if (stop_.load())
        return false;
    if (code != CURLE_OK)
        return Fail(
            CurlReason(code, curl_->Easy, curl_->Error, request_.MinSpeed, request_.Timeout));
    return hop_.HeadersDone || Fail(QStringLiteral("сервер не прислал ответа"));
}

// The request and the redirects it meets, until the final answer's body is
// in place or the transfer failed.
CURL* THTTPTransfer::HopDone(CURLcode code) {
    if (HopEnded(code)) {
        if (!hop_.Redirect) {
            ok_ = EndOfBody();
        } else if (NextHop()) {
            if (hop_.Status == 301 || hop_.Status == 302 || hop_.Status == 303)
                post_ = false;
            SetUpHop();
            return curl_->Easy;
        }
    }
    End();
    return nullptr;
}

void THTTPTransfer::End() {
    {
        std::lock_guard lock(activeMutex_);
        activeMulti_ = nullptr;
    }
    if (file_) {
        file_->Abort();
        file_.reset();
    }
    // The answer had begun to replace the target: a transfer whose body did
    // not arrive whole leaves none rather than an old or partial one.
    if (answered_ && !committed_)
        QFile::remove(request_.FileName);
}

THTTPResult THTTPTransfer::Result() {
    bool ok = ok_;
    if (stop_.load()) {
        ok = false;
        failure_ = QStringLiteral("остановлено");
    }
    THTTPResult result;
    result.Outcome = ok ? TOutcome::Success() : TOutcome::Failure(failure_);
    result.Status = hop_.HeadersDone ? hop_.Status : 0;
    result.FinalUrl = url_;
    result.Size = totalSize_.load();
    result.ETag = hop_.ETag;
    result.LastModified = hop_.LastModified;
    return result;
}

// The final answer has ended: its body is put in place, and the outcome
// follows the length rule even so.
bool THTTPTransfer::EndOfBody() {
    if (NotModified())
        return true;
    committed_ = file_ && file_->Commit();
    if (!committed_)
        return Fail(QStringLiteral("не удалось записать файл: %1")
                        .arg(file_ ? file_->ErrorString() : QString()));
    file_.reset();
    const std::int64_t readed = readed_.load();
    const std::int64_t total = totalSize_.load();
    if (readed == total)
        return true;
    return Fail(hop_.Length < 0
                    ? NoLengthText()
                    : QStringLiteral("ответ оборван: %1 байт из %2").arg(readed).arg(total));
}

// Where a redirect points, when it may be followed; false fails the transfer.
bool THTTPTransfer::NextHop() {
    char* next = nullptr;
    curl_easy_getinfo(curl_->Easy, CURLINFO_REDIRECT_URL, &next);
    const QString nextUrl = next ? QString::fromUtf8(next) : QString();
    if (redirects_++ >= HTTPGetRules::MaxRedirects)
        return Fail(QStringLiteral("больше %1 перенаправлений").arg(HTTPGetRules::MaxRedirects));
    if (nextUrl.isEmpty() || !HTTPGetRules::RedirectAllowed(url_, nextUrl))
        return Fail(QStringLiteral("перенаправление на недопустимый адрес %1").arg(nextUrl));
    url_ = nextUrl;
    return true;
}
