// SPDX-License-Identifier: MIT
// Work on a helper thread while the caller keeps processing events, and the event pump's policies.
#include "support/BesideEvents.h"

#include "support/EventPump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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

// --- The event pump's two policies ---

namespace {

// Counts the passes of a zero-interval timer: each pass of the event loop fires it once.
struct TimerPasses
{
    TimerPasses()
    {
        timer.setInterval(0);
        QObject::connect(&timer, &QTimer::timeout, [this] { ++fired; });
        timer.start();
    }
    QTimer timer;
    int fired = 0;
};

} // namespace

TEST(EventPump, EveryCallProcessesEventsAtEveryCall)
{
    TimerPasses passes;
    EventPump pump(EventPolicy::EveryCall);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(pump());
    EXPECT_EQ(pump.passes(), 5);
    EXPECT_GE(passes.fired, 4); // the timer's first pass may need one call to be armed
    const int before = passes.fired;
    ProcessPendingEvents();
    EXPECT_GT(passes.fired, before);
}

// Called thousands of times a second from inside a statement, the busy policy goes through the
// event loop only once its interval has passed.
TEST(EventPump, ConnectionBusyProcessesEventsAtMostOncePerInterval)
{
    TimerPasses passes;
    EventPump pump(EventPolicy::ConnectionBusy, std::chrono::milliseconds(60));
    int calls = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300) {
        (void)pump();
        ++calls;
    }
    EXPECT_GT(calls, 1000);
    EXPECT_GE(pump.passes(), 3);
    EXPECT_LE(pump.passes(), 5); // 300 ms at one pass per 60 ms at the most
    EXPECT_GE(passes.fired, pump.passes() - 1);

    // Without an interval it passes at every call.
    EventPump eager(EventPolicy::ConnectionBusy, std::chrono::milliseconds(0));
    EXPECT_TRUE(eager());
    EXPECT_TRUE(eager());
}

// Only the application's thread has the window's events: a pump called elsewhere does nothing.
TEST(EventPump, OffTheApplicationsThreadNothingIsProcessed)
{
    TimerPasses passes;
    bool processed = true;
    std::thread other([&] {
        EventPump every(EventPolicy::EveryCall);
        EventPump busy(EventPolicy::ConnectionBusy, std::chrono::milliseconds(0));
        processed = every() || busy();
        ProcessPendingEvents();
    });
    other.join();
    EXPECT_FALSE(processed);
    EXPECT_EQ(passes.fired, 0);
}

// A job given no pump of its own processes events the EveryCall way; one given a pump uses it.
TEST(EventPump, AJobsOwnPumpComesFirst)
{
    int own = 0;
    PumpOrDefault([&] { ++own; })();
    EXPECT_EQ(own, 1);
    TimerPasses passes;
    const std::function<void()> fallback = PumpOrDefault({});
    ASSERT_TRUE(fallback);
    fallback();
    fallback();
    EXPECT_GE(passes.fired, 1);
}
