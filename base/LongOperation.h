#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// The pieces every long operation (refresh, download, phone copy) shares: the
// one stop flag, what an operation reports while it runs, the wait that keeps
// the window alive while a worker does the slow part, and the percentage.
//
// The stop flag belongs to whoever runs the operations; operations test it
// between their items. The piece doing the current item (a transfer, say)
// listens to raised() so that a Stop press ends that item at once rather than
// after it.
class TStopFlag : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool IsSet() const { return set_; }
    void Set();
    void Clear() { set_ = false; }

signals:
    void raised();

private:
    bool set_ = false;
};

// What a long operation tells whoever runs it while it works. Its result, one
// outcome with a reason per item, is the operation's own return value.
class TOperationReport {
public:
    virtual ~TOperationReport() = default;
    // The operation found work and shows its busy state (true), or is done
    // with it (false). An operation with nothing to do never calls it.
    virtual void Busy(bool on) = 0;
    // The operation turns to its item Index (its place in the operation's
    // list).
    virtual void ItemStarted(int index) { (void)index; }
    // The progress of the operation, or of its current item, 0 to 100.
    virtual void Progress(int percent) = 0;
};

namespace LongOperation {

// Percent of a job for a progress bar: Done * 100 / Total rounded down; 0
// when Total or Done is 0 or less, never above 100. Exact for any sizes a
// file can have (no overflow near 2^31 or 2^63).
int Percent(std::int64_t total, std::int64_t done);

// Handles the window's events until done() holds. The events already pending
// are handled even when done() holds at once, so that a Stop press that came
// meanwhile is seen before the caller goes on, however quick the work was.
// While nothing happens the thread sleeps in the event loop: an idle wait
// costs no CPU. done() is checked after every batch of events, so whatever
// makes it true must arrive as an event (a queued signal, a timer, Wake()).
void WaitUntil(const std::function<bool()>& done);

// Handles the events that are pending now (a paint, a Stop press) without
// waiting for more.
void HandlePendingEvents();

// Wakes a WaitUntil of the window's thread from any thread.
void Wake();

// Runs work on a worker thread and waits for it as WaitUntil does; rethrows
// what it threw.
void RunAndWait(const std::function<void()>& work);

// The same for work that gives a result. One call, one worker: calls made in
// a row keep their order.
template <typename F> auto RunOffThread(F&& work) -> std::invoke_result_t<F> {
    using R = std::invoke_result_t<F>;
    if constexpr (std::is_void_v<R>) {
        RunAndWait(work);
    } else {
        std::optional<R> result;
        RunAndWait([&] { result.emplace(work()); });
        return std::move(*result);
    }
}

} // namespace LongOperation
