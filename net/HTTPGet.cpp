#include "net/HTTPGet.h"

#include "base/LongOperation.h"
#include "net/HTTPTransfer.h"

namespace {

std::string Bytes(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

// One started transfer and what its worker hands over. Progress is
// coalesced: while one hand-off waits on the window's thread no other is
// posted, and the window reads the latest count when it runs. The worker
// never waits for the window.
struct THTTPGet::TRun {
    explicit TRun(THTTPRequest request) : Transfer(std::move(request)) {}
    THTTPTransfer Transfer;
    std::atomic<bool> ProgressPending{false};
    THTTPResult Result; // written by the worker before it posts the completion
};

THTTPGet::THTTPGet(QObject* owner) : QObject(owner) {}

THTTPGet::~THTTPGet() {
    Stop();
    worker_.Join();
    // Posted progress and completion events die with the object.
}

THTTPRequest THTTPGet::Request() const {
    THTTPRequest request;
    request.URL = URL;
    request.FileName = FileName;
    request.AcceptTypes = Bytes(AcceptTypes);
    request.Agent = Bytes(Agent);
    request.UserName = Bytes(UserName);
    request.Password = Bytes(Password);
    request.PostQuery = Bytes(PostQuery);
    request.Referer = Bytes(Referer);
    request.BinaryData = BinaryData;
    request.UseCache = UseCache;
    request.Timeout = Timeout;
    request.MinSpeed = MinSpeed;
    request.MaxSize = MaxSize;
    return request;
}

void THTTPGet::Start() {
    if (transfer_)
        return;
    auto run = std::make_shared<TRun>(Request());
    run->Transfer.OnProgress = [this, weak = std::weak_ptr<TRun>(run)] {
        const auto run = weak.lock();
        if (!run || run->ProgressPending.exchange(true))
            return;
        QMetaObject::invokeMethod(
            this, [this, run] { DeliverProgress(run); }, Qt::QueuedConnection);
    };
    transfer_ = run;
    lastDelivered_ = -1;
    worker_ = Workers::TWorker([this, run] {
        run->Result = run->Transfer.Run();
        QMetaObject::invokeMethod(
            this, [this, run] { Complete(run); }, Qt::QueuedConnection);
    });
    if (WaitThread)
        LongOperation::WaitUntil([this] { return transfer_ == nullptr; });
}

void THTTPGet::Stop() {
    if (transfer_)
        transfer_->Transfer.Stop();
}

void THTTPGet::DeliverProgress(const std::shared_ptr<TRun>& run) {
    run->ProgressPending.store(false);
    const qint64 readed = run->Transfer.Readed();
    if (run != transfer_ || readed == lastDelivered_)
        return;
    lastDelivered_ = readed;
    emit OnProgress(this, run->Transfer.TotalSize(), readed);
}

void THTTPGet::Complete(const std::shared_ptr<TRun>& run) {
    if (run != transfer_)
        return;
    worker_.Join();
    // The last progress before the outcome carries the final count.
    const qint64 readed = run->Transfer.Readed();
    if (readed > 0 && readed != lastDelivered_) {
        lastDelivered_ = readed;
        emit OnProgress(this, run->Transfer.TotalSize(), readed);
    }
    const THTTPResult& result = run->Result;
    // A Stop that came after the worker's end still makes the outcome a
    // failure: the caller asked for it.
    const bool ok = result.Outcome && !run->Transfer.Stopped();
    lastError_ = ok                        ? QString()
                 : run->Transfer.Stopped() ? QStringLiteral("остановлено")
                                           : result.Outcome.Reason;
    lastStatus_ = result.Status;
    lastUrl_ = result.FinalUrl;
    transfer_.reset();
    if (ok)
        emit OnDoneFile(this, run->Transfer.FileName(), result.Size);
    else
        emit OnError(this, lastError_);
}

TOutcome THTTPGet::StartAndWait(TStopFlag* stop) {
    if (transfer_)
        return TOutcome::Failure(QStringLiteral("передача уже идёт"));
    if (stop && stop->IsSet())
        return TOutcome::Failure(QStringLiteral("остановлено"));
    QMetaObject::Connection stopConnection;
    if (stop)
        stopConnection = QObject::connect(stop, &TStopFlag::raised, this, &THTTPGet::Stop);
    bool ended = false;
    const auto done = QObject::connect(this, &THTTPGet::OnDoneFile, this, [&] { ended = true; });
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
    return lastError_.isEmpty() ? TOutcome::Success() : TOutcome::Failure(lastError_);
}
