#include "net/HTTPGet.h"

#include "base/LongOperation.h"
#include "base/SafeFiles.h"
#include "base/Workers.h"

#include <QFile>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

// ---------------------------------------------------------------------------
// Rules

namespace HTTPGetRules {

namespace {
bool StartsWithNoCase(const QString& text, const char* prefix) {
    return text.startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
}
} // namespace

QString RequestUrl(const QString& url) {
    if (StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://"))
        return url;
    if (url.contains(QLatin1String("://")) || url.isEmpty())
        return QString();
    return QStringLiteral("http://") + url;
}

bool IsRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QString StatusText(long status) {
    return QStringLiteral("HTTP %1").arg(status);
}

bool RedirectAllowed(const QString& fromUrl, const QString& toUrl) {
    const bool toHttps = StartsWithNoCase(toUrl, "https://");
    if (!toHttps && !StartsWithNoCase(toUrl, "http://"))
        return false;
    return toHttps || !StartsWithNoCase(fromUrl, "https://");
}

} // namespace HTTPGetRules

// ---------------------------------------------------------------------------
// State shared by the component and its worker. The stop request and the
// counters are written by the worker and read by the window's thread.

struct THTTPGetShared {
    std::atomic<bool> stop{false};
    std::atomic<bool> outcome{false};
    std::atomic<bool> progressPending{false};
    std::atomic<std::int64_t> totalSize{0};
    std::atomic<std::int64_t> readed{0};
    QString fileName;
    // Written by the worker before it hands over its completion.
    QString reason;
    long status = 0;
    QString finalUrl; // the address of the last answer, after redirects

    // The worker's multi handle while it runs, so that Stop can wake its wait.
    std::mutex multiMutex;
    CURLM* multi = nullptr;
};

namespace {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Bytes(const QString& text) {
    return text.toUtf8().toStdString();
}

// Content-Length value: decimal digits only, without overflow; -1 otherwise.
std::int64_t ParseLength(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
        value.remove_suffix(1);
    if (value.empty() || value.size() > 18)
        return -1;
    std::int64_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

QString TooLargeText(std::int64_t cap) {
    return QStringLiteral("ответ больше предела в %1 байт").arg(cap);
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

bool HeaderIs(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':')
        return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != name[i])
            return false;
    return true;
}

QString Origin(const QString& url) {
    const QUrl u(url);
    return u.scheme().toLower() + QLatin1String("://") + u.host().toLower() + QLatin1Char(':') +
           QString::number(u.port(
               u.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80));
}

} // namespace

namespace HTTPGetRules {

THeadLine ReadHeadLine(TAnswerHead& head, std::string_view line) {
    if (line.substr(0, 5) == "HTTP/") {
        head = TAnswerHead();
        const size_t space = line.find(' ');
        const std::string_view code =
            space == std::string_view::npos ? std::string_view() : line.substr(space + 1, 3);
        if (code.size() == 3 &&
            std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }))
            head.status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
        return THeadLine::Field;
    }
    if (HeaderIs(line, "content-length"))
        head.length = ParseLength(line.substr(15));
    else if (HeaderIs(line, "location"))
        head.location = true;
    if (line != "\r\n" && line != "\n")
        return THeadLine::Field;
    return head.status / 100 == 1 ? THeadLine::Interim : THeadLine::End;
}

} // namespace HTTPGetRules

// ---------------------------------------------------------------------------
// Worker

class THTTPGetThread {
public:
    THTTPGetThread(THTTPGet& owner, std::shared_ptr<THTTPGetShared> shared)
        : owner_(&owner), shared_(std::move(shared)), acceptTypes_(Bytes(owner.AcceptTypes)),
          agent_(Bytes(owner.Agent)), url_(owner.URL), userName_(Bytes(owner.UserName)),
          password_(Bytes(owner.Password)), postQuery_(Bytes(owner.PostQuery)),
          referer_(Bytes(owner.Referer)), binaryData_(owner.BinaryData), useCache_(owner.UseCache),
          timeout_(owner.Timeout > 0 ? owner.Timeout : 60),
          minSpeed_(owner.MinSpeed > 0 ? owner.MinSpeed : 1),
          maxSize_(owner.MaxSize > 0 ? owner.MaxSize : HTTPGetRules::DefaultMaxSize) {}

    ~THTTPGetThread() { Join(); }

    void Begin() {
        thread_ = Workers::TWorker([this] {
            bool outcome = false;
            try {
                outcome = Run();
            } catch (...) {
                outcome = false;
                failure_ = QStringLiteral("внутренняя ошибка");
            }
            if (shared_->stop.load()) {
                outcome = false;
                failure_ = QStringLiteral("остановлено");
            }
            shared_->outcome.store(outcome);
            shared_->reason = outcome ? QString() : failure_;
            shared_->status = hop_.headersDone ? hop_.status : 0;
            QMetaObject::invokeMethod(
                owner_, [owner = owner_, shared = shared_] { owner->Complete(shared); },
                Qt::QueuedConnection);
        });
    }

    void Join() { thread_.Join(); }

private:
    // One answer of the chain of redirects.
    struct Hop : HTTPGetRules::TAnswerHead {
        bool headersDone = false;
        bool redirect = false; // its body is not ours
    };

    bool Run();
    bool Transfer(CURL* easy, CURLM* multi, QString url);
    CURLcode Perform(CURL* easy, CURLM* multi);
    // Fails the transfer with Reason (the first one given stays).
    bool Fail(QString reason) {
        if (failure_.isEmpty())
            failure_ = std::move(reason);
        return false;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        return static_cast<THTTPGetThread*>(self)->Header(std::string_view(data, size * count))
                   ? size * count
                   : 0;
    }
    static size_t OnWrite(char* data, size_t size, size_t count, void* self) {
        return static_cast<THTTPGetThread*>(self)->Body(data, size * count) ? size * count : 0;
    }
    static int OnTransferInfo(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<THTTPGetThread*>(self)->shared_->stop.load() ? 1 : 0;
    }

    bool Header(std::string_view line);
    bool Body(const char* data, size_t size);
    void PostProgress();

    THTTPGet* owner_;
    std::shared_ptr<THTTPGetShared> shared_;
    std::string acceptTypes_, agent_;
    QString url_;
    std::string userName_, password_, postQuery_, referer_;
    bool binaryData_, useCache_;
    int timeout_;
    int minSpeed_;
    std::int64_t maxSize_;
    Workers::TWorker thread_;
    QString failure_;
    char curlError_[CURL_ERROR_SIZE] = {};

    Hop hop_;
    bool answered_ = false; // the final answer's headers arrived (the target was replaced)
    std::optional<SafeFiles::TAtomicFile> file_;
};

bool THTTPGetThread::Header(std::string_view line) {
    if (HTTPGetRules::ReadHeadLine(hop_, line) != HTTPGetRules::THeadLine::End)
        return true;
    hop_.headersDone = true;
    if (HTTPGetRules::IsRedirectStatus(hop_.status) && hop_.location) {
        hop_.redirect = true;
        return true;
    }
    // Refused before anything is written: the target stays untouched.
    if (hop_.length < 0 && binaryData_)
        return Fail(QStringLiteral("ответ без длины (нет Content-Length)"));
    if (hop_.length > maxSize_)
        return Fail(TooLargeText(maxSize_));
    if (shared_->stop.load())
        return false;
    answered_ = true;
    shared_->totalSize.store(hop_.length < 0 ? 0 : hop_.length);
    file_.emplace(shared_->fileName);
    // The component's targets are scratch files that are checked and copied
    // again (through a flushed atomic replace) before anything keeps them;
    // waiting here for the disk would only slow every transfer down.
    file_->SkipFlush();
    return file_->Open() ||
           Fail(QStringLiteral("не удалось создать файл: %1").arg(file_->ErrorString()));
}

bool THTTPGetThread::Body(const char* data, size_t size) {
    if (hop_.redirect)
        return true;
    if (!file_ || shared_->stop.load())
        return false;
    // An answer that lied about its length, or had none, stops at the cap.
    if (std::int64_t(size) > maxSize_ - shared_->readed.load())
        return Fail(TooLargeText(maxSize_));
    if (!file_->Write(data, size))
        return Fail(QStringLiteral("не удалось записать файл: %1").arg(file_->ErrorString()));
    shared_->readed.fetch_add(static_cast<std::int64_t>(size));
    PostProgress();
    return true;
}

// Progress is coalesced: while one hand-off waits on the window's thread no
// other is posted, and the window reads the latest count when it runs. The
// worker never waits for the window.
void THTTPGetThread::PostProgress() {
    if (shared_->progressPending.exchange(true))
        return;
    QMetaObject::invokeMethod(
        owner_, [owner = owner_, shared = shared_] { owner->DeliverProgress(shared); },
        Qt::QueuedConnection);
}

CURLcode THTTPGetThread::Perform(CURL* easy, CURLM* multi) {
    curl_multi_add_handle(multi, easy);
    CURLcode result = CURLE_OK;
    int running = 1;
    while (running > 0) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (shared_->stop.load()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (running > 0)
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &queued))
        if (msg->msg == CURLMSG_DONE && result == CURLE_OK)
            result = msg->data.result;
    curl_multi_remove_handle(multi, easy);
    return result;
}

bool THTTPGetThread::Run() {
    const QString url = HTTPGetRules::RequestUrl(url_);
    if (url.isEmpty())
        return Fail(QStringLiteral("адрес не http:// и не https://"));
    if (shared_->stop.load())
        return false;

    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!easy || !multi) {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        return Fail(QStringLiteral("не удалось начать передачу"));
    }
    {
        std::lock_guard lock(shared_->multiMutex);
        shared_->multi = multi;
    }

    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, ("Accept: " + acceptTypes_).c_str());
    if (!useCache_) {
        headers = curl_slist_append(headers, "Pragma: no-cache");
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
    }
    headers = curl_slist_append(headers, "Expect:");

    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // One request per connection, as HTTP/1.0 has it: a redirect never
    // meets a connection that the server is closing.
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    // The certificate store the curl tool is told about (a company's own
    // authority, a store kept elsewhere) is the one trusted here too.
    for (const char* variable : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        const char* file = std::getenv(variable);
        if (file && *file) {
            curl_easy_setopt(easy, CURLOPT_CAINFO, file);
            break;
        }
    }
    if (const char* dir = std::getenv("SSL_CERT_DIR"); dir && *dir)
        curl_easy_setopt(easy, CURLOPT_CAPATH, dir);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT,
                     static_cast<long>(HTTPGetRules::ConnectTimeoutSeconds));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(minSpeed_));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(timeout_));
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, curlError_);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 128L * 1024L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &THTTPGetThread::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &THTTPGetThread::OnWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &THTTPGetThread::OnTransferInfo);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    if (!agent_.empty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, agent_.c_str());
    if (!referer_.empty())
        curl_easy_setopt(easy, CURLOPT_REFERER, referer_.c_str());

    const bool ok = Transfer(easy, multi, url);

    {
        std::lock_guard lock(shared_->multiMutex);
        shared_->multi = nullptr;
    }
    curl_slist_free_all(headers);
    curl_multi_cleanup(multi);
    curl_easy_cleanup(easy);
    return ok;
}

// The request and the redirects it meets, until the final answer's body is
// in place or the transfer failed.
bool THTTPGetThread::Transfer(CURL* easy, CURLM* multi, QString url) {
    const QString firstOrigin = Origin(url);
    bool post = !postQuery_.empty();
    bool ok = false;
    bool committed = false;
    for (int redirects = 0;; ++redirects) {
        const std::string urlBytes = url.toUtf8().toStdString();
        curl_easy_setopt(easy, CURLOPT_URL, urlBytes.c_str());
        if (post) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(postQuery_.size()));
            curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, postQuery_.c_str());
        } else {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        }
        // Credentials go only to the address they were given for, never to
        // where a redirect points.
        const bool sameOrigin = Origin(url) == firstOrigin;
        if (!userName_.empty() && sameOrigin) {
            curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
            curl_easy_setopt(easy, CURLOPT_USERNAME, userName_.c_str());
            curl_easy_setopt(easy, CURLOPT_PASSWORD, password_.c_str());
        } else {
            curl_easy_setopt(easy, CURLOPT_USERNAME, nullptr);
            curl_easy_setopt(easy, CURLOPT_PASSWORD, nullptr);
        }

        hop_ = Hop();
        curlError_[0] = '\0';
        const CURLcode result = Perform(easy, multi);
        if (shared_->stop.load())
            break;
        if (result != CURLE_OK) {
            Fail(CurlReason(result, easy, curlError_, minSpeed_, timeout_));
            break;
        }
        if (!hop_.headersDone) {
            Fail(QStringLiteral("сервер не прислал ответа"));
            break;
        }
        if (!hop_.redirect) {
            // The body arrived whole: put it in place. The outcome follows
            // the length rule even so.
            committed = file_ && file_->Commit();
            if (!committed)
                Fail(QStringLiteral("не удалось записать файл: %1")
                         .arg(file_ ? file_->ErrorString() : QString()));
            const std::int64_t readed = shared_->readed.load();
            const std::int64_t total = shared_->totalSize.load();
            ok = committed && readed == total;
            if (committed && !ok)
                Fail(hop_.length < 0
                         ? QStringLiteral("ответ без длины (нет Content-Length)")
                         : QStringLiteral("ответ оборван: %1 байт из %2").arg(readed).arg(total));
            file_.reset();
            break;
        }
        char* next = nullptr;
        curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &next);
        const QString nextUrl = next ? QString::fromUtf8(next) : QString();
        if (redirects >= HTTPGetRules::MaxRedirects) {
            Fail(QStringLiteral("больше %1 перенаправлений").arg(HTTPGetRules::MaxRedirects));
            break;
        }
        if (nextUrl.isEmpty() || !HTTPGetRules::RedirectAllowed(url, nextUrl)) {
            Fail(QStringLiteral("перенаправление на недопустимый адрес %1").arg(nextUrl));
            break;
        }
        if (hop_.status == 301 || hop_.status == 302 || hop_.status == 303)
            post = false;
        url = nextUrl;
    }
    shared_->finalUrl = url;

    if (file_) {
        file_->Abort();
        file_.reset();
    }
    // The answer had begun to replace the target: a transfer whose body did
    // not arrive whole leaves none rather than an old or partial one.
    if (answered_ && !committed)
        QFile::remove(shared_->fileName);
    return ok;
}

// ---------------------------------------------------------------------------
// Component

THTTPGet::THTTPGet(QObject* owner) : QObject(owner) {
    GlobalInit();
}

THTTPGet::~THTTPGet() {
    Stop();
    if (worker_)
        worker_->Join();
    // Posted progress and completion events die with the object.
}

void THTTPGet::Start() {
    if (worker_)
        return;
    shared_ = std::make_shared<THTTPGetShared>();
    shared_->fileName = FileName;
    lastDelivered_ = -1;
    worker_ = std::make_unique<THTTPGetThread>(*this, shared_);
    worker_->Begin();
    if (WaitThread)
        LongOperation::WaitUntil([this] { return worker_ == nullptr; });
}

void THTTPGet::Stop() {
    if (!worker_ || !shared_)
        return;
    std::lock_guard lock(shared_->multiMutex);
    shared_->stop.store(true);
    shared_->outcome.store(false);
    if (shared_->multi)
        curl_multi_wakeup(shared_->multi);
}

void THTTPGet::DeliverProgress(const std::shared_ptr<THTTPGetShared>& shared) {
    shared->progressPending.store(false);
    const qint64 readed = shared->readed.load();
    if (readed == lastDelivered_)
        return;
    lastDelivered_ = readed;
    emit OnProgress(this, shared->totalSize.load(), readed);
}

void THTTPGet::Complete(const std::shared_ptr<THTTPGetShared>& shared) {
    if (shared != shared_)
        return;
    worker_->Join();
    // The last progress before the outcome carries the final count.
    const qint64 readed = shared->readed.load();
    if (readed > 0 && readed != lastDelivered_) {
        lastDelivered_ = readed;
        emit OnProgress(this, shared->totalSize.load(), readed);
    }
    lastOutcome_ = shared->outcome.load() && !shared->stop.load();
    lastError_ = lastOutcome_               ? QString()
                 : shared->reason.isEmpty() ? QStringLiteral("остановлено")
                                            : shared->reason;
    lastStatus_ = shared->status;
    lastUrl_ = shared->finalUrl;
    const QString fileName = shared->fileName;
    const qint64 total = shared->totalSize.load();
    worker_.reset();
    shared_.reset();
    if (lastOutcome_)
        emit OnDoneFile(this, fileName, total);
    else
        emit OnError(this);
}

bool THTTPGet::StartAndWait(TStopFlag* stop) {
    if (worker_ || (stop && stop->IsSet()))
        return false;
    QMetaObject::Connection stopConnection;
    if (stop)
        stopConnection = QObject::connect(stop, &TStopFlag::raised, this, &THTTPGet::Stop);
    bool ended = false;
    bool outcome = false;
    const auto done = QObject::connect(this, &THTTPGet::OnDoneFile, this, [&] {
        ended = true;
        outcome = true;
    });
    const auto failed = QObject::connect(this, &THTTPGet::OnError, this, [&] { ended = true; });
    const bool wait = WaitThread;
    WaitThread = false;
    Start();
    WaitThread = wait;
    LongOperation::WaitUntil([&] { return ended; });
    QObject::disconnect(done);
    QObject::disconnect(failed);
    if (stopConnection)
        QObject::disconnect(stopConnection);
    return outcome;
}
