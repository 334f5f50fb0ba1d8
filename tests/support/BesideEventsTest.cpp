// SPDX-License-Identifier: MIT
// Work on a helper thread while the caller keeps processing events.
#include "support/BesideEvents.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using namespace sjql;

TEST(RunBesideEvents, TheCallerKeepsProcessingEventsUntilTheWorkIsDone)
{
    int ticks = 0;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    const std::thread::id caller = std::this_thread::get_id();
    std::thread::id worker;
    const int result = RunBesideEvents(
        [&] {
            worker = std::this_thread::get_id();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return 42;
        },
        [] { QCoreApplication::processEvents(); });
    EXPECT_EQ(result, 42);
    EXPECT_NE(worker, caller);
    EXPECT_GE(ticks, 3); // every 20 ms during 200 ms, with room for a slow machine
}

TEST(RunBesideEvents, AnExceptionOfTheWorkReachesTheCaller)
{
    int pumps = 0;
    EXPECT_THROW(RunBesideEvents(
                     []() -> bool {
                         std::this_thread::sleep_for(std::chrono::milliseconds(50));
                         throw std::runtime_error("disk gone");
                     },
                     [&] { ++pumps; }),
                 std::runtime_error);
    EXPECT_GE(pumps, 1);
}

TEST(RunBesideEvents, WithoutAPumpTheWorkRunsRightHere)
{
    const std::thread::id caller = std::this_thread::get_id();
    EXPECT_TRUE(RunBesideEvents([&] { return std::this_thread::get_id() == caller; }, {}));
}
