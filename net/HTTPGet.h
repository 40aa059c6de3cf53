#pragma once

#include "base/Outcome.h"
#include "base/Workers.h"
#include "net/HTTPGetRules.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

class TStopFlag;
class THTTPTransfer;
struct THTTPRequest;

// Certificates are checked against the system's store, or the file or folder
// named by CURL_CA_BUNDLE / SSL_CERT_FILE / SSL_CERT_DIR as the curl tool
// reads them.
//
// Fetches one URL on a worker thread (a THTTPTransfer) into a file, reporting
// progress and the outcome as signals delivered on the thread that owns the
// component (the window's).
//
// For each started transfer: zero or more OnProgress, then exactly one of
// OnDoneFile / OnError. OnDoneFile comes exactly when the body arrived whole
// and its length equals the Content-Length (0 when the answer has none), so
// an error page with its own length is a success: callers judge the file
// (LastStatus tells them what the server answered). OnError carries the
// reason in words a person can read, and LastError keeps it: "HTTP 404" is
// never one of them, but "соединение отклонено", "сертификат сервера не
// проверен", "ответ больше предела в 1048576 байт" or "слишком медленно: ..."
// are.
//
// A body longer than MaxSize fails as soon as it passes it (an announced
// length over it fails before anything is written), and so does a transfer
// slower than MinSpeed bytes a second over Timeout seconds.
//
// The target file holds the whole body or nothing: the body is written under
// a temporary name beside it and renamed over FileName when the body arrived
// complete (also for an answer without a length, whose outcome is still an
// error). A transfer that fails, is stopped or is cut short after the answer
// began leaves no file at FileName; one that fails before (no connection, no
// length with BinaryData) leaves FileName untouched.
class THTTPGet : public QObject {
    Q_OBJECT
public:
    explicit THTTPGet(QObject* owner = nullptr);
    // Stops a running transfer and waits for its worker: no event of it can
    // reach the destroyed component.
    ~THTTPGet() override;

    // ---- properties, taken when Start is called ----
    QString AcceptTypes = QStringLiteral("*/*");                    // the Accept header
    QString Agent = QStringLiteral("Telesphoreo APT-HTTP/1.0.534"); // User-Agent; none when empty
    bool BinaryData = false; // an answer without Content-Length fails before anything is written
    QString URL;             // "http://host[:port]/path" (or https)
    bool UseCache = false;   // false: "Pragma: no-cache" and "Cache-Control: no-cache"
    QString FileName;        // target file of the body
    QString UserName;        // basic authentication when not empty
    QString Password;
    QString PostQuery; // not empty: a form POST with this body
    QString Referer;
    bool WaitThread = false; // Start returns only after the transfer has ended
    // Seconds over which a transfer must average MinSpeed bytes a second (a
    // server that sends nothing for this long fails like a broken connection).
    int Timeout = 60;
    int MinSpeed = HTTPGetRules::DefaultMinSpeed;
    // The largest body accepted; 0 or less: the default cap.
    std::int64_t MaxSize = HTTPGetRules::DefaultMaxSize;

    // The properties as one transfer's request (for callers that run their
    // transfers themselves, several at once).
    THTTPRequest Request() const;

    // Begins a transfer; does nothing while one is running.
    void Start();
    // Ends the running transfer at once (also a read under way); its outcome is
    // failure. Returns without waiting; does nothing when idle.
    void Stop();

    bool Running() const { return transfer_ != nullptr; }
    // Why the last transfer failed (empty after success and before the first).
    const QString& LastError() const { return lastError_; }
    // The status of the last transfer's final answer; 0 when none arrived.
    long LastStatus() const { return lastStatus_; }
    // The address the last transfer asked last, after the redirects it
    // followed.
    const QString& LastUrl() const { return lastUrl_; }

    // The waiting pattern of every caller: Start, then handle events until the
    // transfer has ended. A raise of Stop (when given) stops the transfer; a
    // flag already set starts nothing (a failure "остановлено").
    TOutcome StartAndWait(TStopFlag* stop = nullptr);

signals:
    void OnProgress(THTTPGet* Sender, qint64 TotalSize, qint64 Readed);
    void OnDoneFile(THTTPGet* Sender, const QString& FileName, qint64 FileSize);
    void OnError(THTTPGet* Sender, const QString& Reason);

private:
    struct TRun;
    void DeliverProgress(const std::shared_ptr<TRun>& run);
    void Complete(const std::shared_ptr<TRun>& run);

    std::shared_ptr<TRun> transfer_;
    Workers::TWorker worker_;
    qint64 lastDelivered_ = -1;
    QString lastError_;
    long lastStatus_ = 0;
    QString lastUrl_;
};
