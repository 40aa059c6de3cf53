#include "base/TerminationSignals.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <csignal>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(TTerminationSignals, EachSignalArrivesOnTheEventLoopInsteadOfEndingTheProcess) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    TTerminationSignals termination;
    ASSERT_TRUE(termination.Install());
    std::vector<int> received;
    QObject::connect(&termination, &TTerminationSignals::terminationRequested,
                     [&received](int sig) { received.push_back(sig); });

    // Without the handlers any of these would end the test process.
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ASSERT_EQ(std::raise(sig), 0);
    QElapsedTimer timer;
    timer.start();
    while (received.size() < 3 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
}

} // namespace
