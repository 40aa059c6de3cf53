#pragma once

#include "base/Workers.h"
#include "net/HTTPTransfer.h"

#include <curl/curl.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Runs several transfers at once on one worker thread, over one curl multi
// handle: its connection cache lets a transfer reuse the connection an
// earlier one left open to the same server (requests with KeepAlive), the way
// the curl tool's parallel mode does.
//
// Transfers start in the order they were added, at most MaxTransfers at a
// time. Each added transfer ends exactly once: Ended is called on the pool's
// thread with its result (a transfer stopped before it started ends as
// stopped, without a request).
class THTTPPool {
public:
    using TEnded = std::function<void(const THTTPResult&)>;

    explicit THTTPPool(int maxTransfers);
    // Stops every transfer and waits for the pool's thread.
    ~THTTPPool();
    THTTPPool(const THTTPPool&) = delete;
    THTTPPool& operator=(const THTTPPool&) = delete;

    // From the thread that made the pool.
    void Add(std::shared_ptr<THTTPTransfer> transfer, TEnded ended);
    // Ends every transfer, queued or running, at once; from any thread.
    void StopAll();

private:
    struct TEntry {
        std::shared_ptr<THTTPTransfer> Transfer;
        TEnded Ended;
        CURL* Easy = nullptr;
    };
    void Loop();
    void StartQueued();
    void Finish(std::size_t index);
    std::size_t FinishEnded();

    const std::size_t maxTransfers_;
    CURLM* multi_;
    std::mutex mutex_; // guards queued_ and closing_
    std::deque<TEntry> queued_;
    bool closing_ = false;
    std::atomic<bool> stopping_{false};
    std::vector<TEntry> running_; // the pool's thread only
    Workers::TWorker worker_;     // last: started when everything else is in place
};
