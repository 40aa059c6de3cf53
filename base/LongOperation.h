#pragma once

#include <QObject>

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// The pieces every long operation (refresh, download, phone copy) shares: the
// one stop flag, and the wait that keeps the window alive while a worker does
// the slow part.
//
// The stop flag belongs to the window; operations test it between their items.
// The piece doing the current item (a transfer, say) listens to raised() so
// that a Stop press ends that item at once rather than after it.
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

namespace LongOperation {

// Handles the window's events until done() holds. While nothing happens the
// thread sleeps in the event loop: an idle wait costs no CPU. done() is
// checked after every batch of events, so whatever makes it true must arrive
// as an event (a queued signal, a timer, Wake()).
void WaitUntil(const std::function<bool()>& done);

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
