#include "base/LongOperation.h"

#include "base/Workers.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <atomic>
#include <exception>

void TStopFlag::Set() {
    set_ = true;
    emit raised();
}

namespace LongOperation {

int Percent(std::int64_t total, std::int64_t done) {
    if (total <= 0 || done <= 0)
        return 0;
    if (done >= total)
        return 100;
    __extension__ using Wide = __int128;
    return static_cast<int>(Wide(done) * 100 / Wide(total));
}

namespace {

// The program's one way into the event loop from inside an operation.
void Pump(QEventLoop::ProcessEventsFlags flags) {
    QCoreApplication::processEvents(flags);
}

} // namespace

void WaitUntil(const std::function<bool()>& done) {
    Pump(QEventLoop::AllEvents);
    while (!done())
        Pump(QEventLoop::WaitForMoreEvents);
}

void HandlePendingEvents() {
    Pump(QEventLoop::AllEvents);
}

void RunAndWait(const std::function<void()>& work) {
    std::atomic<bool> finished{false};
    std::exception_ptr failure;
    Workers::TWorker worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        finished.store(true, std::memory_order_release);
        Wake();
    });
    WaitUntil([&] { return finished.load(std::memory_order_acquire); });
    worker.Join();
    if (failure)
        std::rethrow_exception(failure);
}

void Wake() {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
}

} // namespace LongOperation
