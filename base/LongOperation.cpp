#include "base/LongOperation.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <atomic>
#include <exception>
#include <thread>

void TStopFlag::Set() {
    set_ = true;
    emit raised();
}

namespace LongOperation {

void WaitUntil(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void RunAndWait(const std::function<void()>& work) {
    std::atomic<bool> finished{false};
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        finished.store(true, std::memory_order_release);
        Wake();
    });
    WaitUntil([&] { return finished.load(std::memory_order_acquire); });
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

void Wake() {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
}

} // namespace LongOperation
