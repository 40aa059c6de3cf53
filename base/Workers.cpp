#include "base/Workers.h"

#include <exception>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

namespace Workers {

unsigned Cores() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

void RunInParallel(unsigned count, const std::function<void(unsigned part)>& part) {
    if (count == 0)
        return;
    std::exception_ptr first;
    std::mutex lock;
    auto guarded = [&](unsigned i) {
        try {
            part(i);
        } catch (...) {
            const std::lock_guard<std::mutex> hold(lock);
            if (!first)
                first = std::current_exception();
        }
    };
    {
        std::vector<TWorker> others;
        others.reserve(count - 1);
        for (unsigned i = 0; i + 1 < count; ++i)
            others.push_back(TWorker::StartOrRunHere([&guarded, i] { guarded(i); }));
        guarded(count - 1);
    } // the workers are joined here
    if (first)
        std::rethrow_exception(first);
}

TWorker::TWorker(std::function<void()> work) : thread_(std::move(work)) {}

TWorker TWorker::StartOrRunHere(std::function<void()> work) {
    try {
        return TWorker(work);
    } catch (const std::system_error&) {
        work();
        return TWorker();
    }
}

TWorker& TWorker::operator=(TWorker&& other) noexcept {
    if (this != &other) {
        Join();
        thread_ = std::move(other.thread_);
    }
    return *this;
}

TWorker::~TWorker() {
    Join();
}

void TWorker::Join() {
    if (thread_.joinable())
        thread_.join();
}

} // namespace Workers
