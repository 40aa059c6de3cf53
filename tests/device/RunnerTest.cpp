// The runner of the long operations and the pieces it shares with them: the
// wait, the stop flag and the percentage.
#include "control/Runner.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using TKind = TRunner::TKind;
using TStrip = TRunner::TStrip;

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

TEST(LongOperation, PercentIsExactForAnySize) {
    const std::int64_t cases[][3] = {{0, 0, 0},
                                     {0, 500, 0},
                                     {-1, 500, 0},
                                     {100, -5, 0},
                                     {100, 99, 99},
                                     {100, 150, 100},
                                     {2147483647, 2147483646, 99},
                                     {2147483647, 21474837, 1},
                                     {2147483647, 21474836, 0},
                                     {4294967296LL, 2147483648LL, 50},
                                     {9000000000000000000LL, 8999999999999999999LL, 99}};
    for (const auto& c : cases)
        EXPECT_EQ(LongOperation::Percent(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

// What may start while another operation runs: the phone takes one copy at a
// time, the lists being filled are not filled twice, and the phone is asked
// nothing while anything runs.
TEST(Runner, WhatMayStartBesideWhat) {
    const TKind all[] = {TKind::Refresh,     TKind::Download,    TKind::SourceCopy, TKind::PhoneAsk,
                         TKind::ListRefresh, TKind::PackageList, TKind::LocalDelete};
    // While the first kind runs, "+" for each kind of all[] that may start.
    const std::pair<TKind, std::string> cases[] = {
        {TKind::Refresh, "+++-+++"},     {TKind::Download, "+++-+++"},
        {TKind::SourceCopy, "++--+--"},  {TKind::PhoneAsk, "++--+--"},
        {TKind::ListRefresh, "++-----"}, {TKind::PackageList, "++-----"},
        {TKind::LocalDelete, "++-----"},
    };
    TRunner runner;
    const auto mayStart = [&] {
        std::string got;
        for (const TKind kind : all)
            got += runner.MayStart(kind) ? '+' : '-';
        return got;
    };
    for (const auto& [running, expected] : cases) {
        SCOPED_TRACE(static_cast<int>(running));
        EXPECT_FALSE(runner.Running());
        EXPECT_EQ(mayStart(), "+++++++");
        const TRunner::TRun run(runner, running);
        EXPECT_EQ(mayStart(), expected);
    }
    EXPECT_FALSE(runner.Running());
    EXPECT_EQ(mayStart(), "+++++++");
}

// One Stop sets the flag and ends the item under way through its raise; the
// next run starts from a cleared flag unless a close holds it.
TEST(Runner, StopAndItsHold) {
    TRunner runner;
    int ended = 0, idle = 0;
    QObject::connect(&runner.StopFlag(), &TStopFlag::raised, [&] { ++ended; });
    QObject::connect(&runner, &TRunner::Idle, [&] { ++idle; });
    {
        const TRunner::TRun outer(runner, TKind::Refresh);
        runner.Stop();
        EXPECT_EQ(ended, 1);
        const TRunner::TRun inner(runner, TKind::Download); // nested: the flag stays
        EXPECT_TRUE(runner.StopRequested());
    }
    EXPECT_EQ(idle, 1);
    {
        const TRunner::TRun next(runner, TKind::Download);
        EXPECT_FALSE(runner.StopRequested());
        runner.StopAndHold();
    }
    const TRunner::TRun afterClose(runner, TKind::SourceCopy);
    EXPECT_TRUE(runner.StopRequested());
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(idle, 2);
}

// The busy state, caption, items and progress of every run reach the window
// through the runner's signals, on the strip of the run's kind.
TEST(Runner, OneProgressPath) {
    TRunner runner;
    std::vector<std::string> seen;
    const auto log = [&](std::string what, int a, int b = -1) {
        seen.push_back(what + " " + std::to_string(a) + (b < 0 ? "" : " " + std::to_string(b)));
    };
    QObject::connect(&runner, &TRunner::StripShown,
                     [&](TStrip strip, bool shown) { log("strip", int(strip), shown); });
    QObject::connect(&runner, &TRunner::CaptionChanged,
                     [&](TRunner::TCaption caption) { log("caption", int(caption)); });
    QObject::connect(&runner, &TRunner::ProgressChanged,
                     [&](TStrip strip, int percent) { log("progress", int(strip), percent); });
    QObject::connect(&runner, &TRunner::ItemStarted,
                     [&](TKind kind, int index) { log("item", int(kind), index); });
    for (const TKind kind : {TKind::Refresh, TKind::Download, TKind::SourceCopy}) {
        TRunner::TRun run(runner, kind);
        run.Busy(true);
        run.ItemStarted(2);
        run.Progress(40);
        run.Busy(false);
    }
    EXPECT_EQ(seen,
              (std::vector<std::string>{
                  // the refresh's caption stays for the reload that follows it
                  "strip 1 1", "caption 1", "item 0 2", "progress 1 40", "strip 1 0", "strip 2 1",
                  "caption 2", "item 1 2", "progress 2 40", "strip 2 0", "caption 0",
                  // the phone copies name their own steps
                  "strip 3 1", "item 2 2", "progress 3 40", "strip 3 0"}));
}

} // namespace
