#include "net/HTTPPool.h"

#include <algorithm>

THTTPPool::THTTPPool(int maxTransfers)
    : maxTransfers_(static_cast<std::size_t>(std::max(maxTransfers, 1))), multi_(curl_multi_init()),
      worker_([this] { Loop(); }) {}

THTTPPool::~THTTPPool() {
    StopAll();
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    if (multi_)
        curl_multi_wakeup(multi_);
    worker_.Join();
    if (multi_)
        curl_multi_cleanup(multi_);
}

void THTTPPool::Add(std::shared_ptr<THTTPTransfer> transfer, TEnded ended) {
    if (!multi_) {
        transfer->Fail(QStringLiteral("не удалось начать передачу"));
        ended(transfer->Result());
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (stopping_.load())
            transfer->Stop();
        queued_.push_back({std::move(transfer), std::move(ended)});
    }
    curl_multi_wakeup(multi_);
}

void THTTPPool::StopAll() {
    stopping_.store(true);
    if (multi_)
        curl_multi_wakeup(multi_);
}

void THTTPPool::StartQueued() {
    while (running_.size() < maxTransfers_) {
        TEntry entry;
        {
            std::lock_guard lock(mutex_);
            if (queued_.empty())
                return;
            entry = std::move(queued_.front());
            queued_.pop_front();
        }
        if (stopping_.load())
            entry.Transfer->Stop();
        entry.Easy = entry.Transfer->Begin(multi_);
        running_.push_back(std::move(entry));
        if (running_.back().Easy)
            curl_multi_add_handle(multi_, running_.back().Easy);
        else
            Finish(running_.size() - 1);
    }
}

// Running entry Index has ended: its result goes to its caller.
void THTTPPool::Finish(std::size_t index) {
    TEntry entry = std::move(running_[index]);
    running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(index));
    entry.Ended(entry.Transfer->Result());
}

void THTTPPool::Loop() {
    if (!multi_)
        return; // Add ends every transfer itself
    for (;;) {
        if (stopping_.load())
            for (const TEntry& entry : running_)
                entry.Transfer->Stop();
        StartQueued();
        {
            std::lock_guard lock(mutex_);
            if (closing_ && queued_.empty() && running_.empty())
                return;
        }
        int active = 0;
        curl_multi_perform(multi_, &active);
        // A transfer that ended frees its place for a queued one at once: the
        // wake-up that announced the queued one may have been used up while
        // every place was taken, and the poll would then sit out its timeout.
        if (FinishEnded() == 0)
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
}

// Hands every ended transfer to its caller (a redirect goes on as a new
// request of the same transfer); returns how many ended.
std::size_t THTTPPool::FinishEnded() {
    std::size_t ended = 0;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
        if (msg->msg != CURLMSG_DONE)
            continue;
        CURL* easy = msg->easy_handle;
        const CURLcode code = msg->data.result;
        curl_multi_remove_handle(multi_, easy);
        for (std::size_t i = 0; i < running_.size(); ++i) {
            if (running_[i].Easy != easy)
                continue;
            running_[i].Easy = running_[i].Transfer->HopDone(code);
            if (running_[i].Easy) {
                curl_multi_add_handle(multi_, running_[i].Easy);
            } else {
                Finish(i);
                ++ended;
            }
            break;
        }
    }
    // A stopped transfer ends now, not when curl next looks at it.
    for (std::size_t i = running_.size(); i-- > 0;) {
        if (!running_[i].Transfer->Stopped())
            continue;
        curl_multi_remove_handle(multi_, running_[i].Easy);
        running_[i].Easy = running_[i].Transfer->HopDone(CURLE_ABORTED_BY_CALLBACK);
        Finish(i);
        ++ended;
    }
    return ended;
}
