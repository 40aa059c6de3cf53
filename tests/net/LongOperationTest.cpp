// The shared wait: work runs on another thread while the waiting thread keeps
// handling its events, and the work's result or failure comes back.
#include "base/LongOperation.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

TEST(LongOperation, WorkRunsElsewhereWhileEventsAreHandled) {
    const auto caller = std::this_thread::get_id();
    bool timerFired = false;
    QTimer::singleShot(0, [&] { timerFired = true; });
    const auto worker = LongOperation::RunOffThread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return std::this_thread::get_id();
    });
    EXPECT_NE(worker, caller);
    EXPECT_TRUE(timerFired); // handled during the wait, not after it

    EXPECT_THROW(LongOperation::RunOffThread([]() -> int { throw std::runtime_error("x"); }),
                 std::runtime_error);
}

TEST(LongOperation, StopFlagTellsItsListeners) {
    TStopFlag stop;
    int heard = 0;
    QObject::connect(&stop, &TStopFlag::raised, [&] { ++heard; });
    EXPECT_FALSE(stop.IsSet());
    stop.Set();
    EXPECT_TRUE(stop.IsSet());
    EXPECT_EQ(heard, 1);
    stop.Clear();
    EXPECT_FALSE(stop.IsSet());
}
