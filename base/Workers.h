#pragma once

#include <functional>
#include <thread>

// Every worker thread of the program starts here: one place knows how work
// leaves the calling thread and comes back, and no worker outlives its owner.
namespace Workers {

// The number of threads worth splitting a job into: the processor's cores,
// at least one.
unsigned Cores();

// Runs part(0) .. part(count - 1) at once, part(count - 1) on the calling
// thread, and returns when every part has ended. The first exception a part
// threw is rethrown then. A part whose thread the system cannot start runs
// on the calling thread, before the parts after it start: a part may wait
// only for work that it or the parts before it have taken.
void RunInParallel(unsigned count, const std::function<void(unsigned part)>& part);

// One thread doing one piece of work. It is joined by Join(), by assigning
// another worker, or when the object goes.
class TWorker {
public:
    TWorker() = default;
    explicit TWorker(std::function<void()> work);
    TWorker(TWorker&& other) noexcept = default;
    TWorker& operator=(TWorker&& other) noexcept;
    TWorker(const TWorker&) = delete;
    TWorker& operator=(const TWorker&) = delete;
    ~TWorker();

    // Starts Work on a thread of its own, or runs it on the calling thread
    // when the system has no thread to give: slower, never lost.
    static TWorker StartOrRunHere(std::function<void()> work);

    bool Running() const { return thread_.joinable(); }
    void Join();

private:
    std::thread thread_;
};

} // namespace Workers
