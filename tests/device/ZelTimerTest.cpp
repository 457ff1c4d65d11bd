// The statistics timer: timing of the first tick, hand-off to the user-interface thread,
// robustness against failing handlers and against being stopped or freed at awkward moments.
#include "device/ZelTimer.h"

#include "TestSupport.h"

#include "framework/Exception.h"

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

struct TickLog {
    std::vector<long long> AtMs;
    std::vector<std::thread::id> Threads;
};

void Record(TickLog &log, TestClock::time_point start)
{
    log.AtMs.push_back(MsSince(start));
    log.Threads.push_back(std::this_thread::get_id());
}

} // namespace

TEST(ZelTimer, FirstTickComesOneIntervalAfterEnablingOnTheUiThread)
{
    TZelTimer timer(nullptr);
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_EQ(timer.ThreadPriority(), tpNormal);
    timer.SetInterval(120);
    TickLog log;
    const auto start = TestClock::now();
    timer.OnTimer = [&](TObject *Sender) {
        EXPECT_EQ(Sender, &timer);
        Record(log, start);
    };
    timer.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return log.AtMs.size() >= 3; }));
    timer.SetEnabled(false);

    EXPECT_GE(log.AtMs[0], 115);
    // No catch-up: each tick comes one interval after the previous one was handled.
    EXPECT_GE(log.AtMs[1] - log.AtMs[0], 115);
    EXPECT_GE(log.AtMs[2] - log.AtMs[1], 115);
    for (auto id : log.Threads)
        EXPECT_EQ(id, std::this_thread::get_id());
    // Nominal time counts intervals, measured time what actually passed.
    EXPECT_EQ(timer.ElapsedTime(), 360u);
    EXPECT_GE(timer.MeasuredTime(), 345u);
    EXPECT_GE(timer.TickDelta(), 115u);
}

TEST(ZelTimer, ErrorsInTheHandlerAreDroppedAndTicksGoOn)
{
    TZelTimer timer(nullptr);
    timer.SetInterval(20);
    int calls = 0;
    timer.OnTimer = [&](TObject *) {
        ++calls;
        if (calls == 1)
            throw Exception("first tick fails");
        throw std::runtime_error("so does the second");
    };
    timer.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return calls >= 3; }));
}

TEST(ZelTimer, DisablingInsideItsOwnHandlerStopsTheTicks)
{
    TZelTimer timer(nullptr);
    timer.SetInterval(15);
    int calls = 0;
    timer.OnTimer = [&](TObject *) {
        ++calls;
        timer.SetEnabled(false);
    };
    timer.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    PumpFor(150);
    EXPECT_EQ(calls, 1);

    // Enabled again, it ticks again: holding and releasing the worker stay paired.
    timer.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return calls == 2; }));
}

TEST(ZelTimer, ChangingTheIntervalRestartsTheWait)
{
    TZelTimer timer(nullptr);
    timer.SetInterval(200);
    TickLog log;
    auto start = TestClock::now();
    timer.OnTimer = [&](TObject *) { Record(log, start); };
    timer.SetEnabled(true);
    PumpFor(150);
    ASSERT_TRUE(log.AtMs.empty());
    start = TestClock::now();
    timer.SetInterval(250);
    EXPECT_TRUE(timer.Enabled());
    ASSERT_TRUE(PumpUntil([&] { return !log.AtMs.empty(); }));
    EXPECT_GE(log.AtMs[0], 245);
}

TEST(ZelTimer, ZeroIntervalTicksOnlyWithAllowZero)
{
    TZelTimer timer(nullptr);
    int calls = 0;
    timer.OnTimer = [&](TObject *) { ++calls; };
    timer.SetInterval(0);
    timer.SetEnabled(true);
    PumpFor(100);
    EXPECT_EQ(calls, 0);

    // Given an interval later, the same enabled timer starts ticking.
    timer.SetInterval(10);
    ASSERT_TRUE(PumpUntil([&] { return calls >= 2; }));
    timer.SetEnabled(false);

    calls = 0;
    timer.SetAllowZero(true);
    timer.SetInterval(0);
    timer.SetEnabled(true);
    // Back to back, as fast as this thread hands them out.
    EXPECT_TRUE(PumpUntil([&] { return calls >= 200; }));
    timer.SetEnabled(false);
    PumpFor(30);
    const int settled = calls;
    PumpFor(50);
    EXPECT_EQ(calls, settled);
}

TEST(ZelTimer, FreeingWhileTheWorkerWaitsInAHandOffNeitherHangsNorTicks)
{
    std::atomic<int> calls{0};
    auto *timer = new TZelTimer(nullptr);
    timer->SetInterval(5);
    timer->OnTimer = [&](TObject *) { ++calls; };
    timer->SetEnabled(true);
    // Not processing messages: the worker's tick is queued and it waits for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    delete timer;
    PumpFor(50);
    EXPECT_EQ(calls.load(), 0);
}

TEST(ZelTimer, FreeingFromInsideItsOwnTick)
{
    auto *timer = new TZelTimer(nullptr);
    timer->SetInterval(10);
    int calls = 0;
    timer->OnTimer = [&](TObject *) {
        ++calls;
        delete timer;
        timer = nullptr;
    };
    timer->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return timer == nullptr; }));
    PumpFor(50);
    EXPECT_EQ(calls, 1);
}

TEST(ZelTimer, DirectTickPresetAndMarks)
{
    TZelTimer timer(nullptr);
    int calls = 0;
    timer.OnTimer = [&](TObject *) { ++calls; };
    // Disabled: a direct tick is dropped like a timed one.
    timer.Tick();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(timer.ElapsedTime(), 0u);

    timer.SetInterval(100000);
    timer.SetEnabled(true);
    timer.Tick();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(timer.ElapsedTime(), 100000u);

    timer.SetMark(7);
    timer.Preset(5000);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.ElapsedTime(), 5000u);
    EXPECT_EQ(timer.MeasuredTime(), 5000u);
    EXPECT_EQ(timer.TickDelta(), 0u);
    EXPECT_EQ(timer.StartOffset(), 5000);
    EXPECT_EQ(timer.Mark(), 7);

    timer.ClearMarks();
    EXPECT_EQ(timer.StartOffset(), 0);
    EXPECT_EQ(timer.Mark(), 0);
    timer.Reset();
    EXPECT_EQ(timer.ElapsedTime(), 0u);
    EXPECT_EQ(timer.MeasuredTime(), 0u);
}

TEST(ZelTimer, StaysOffAtDesignTime)
{
    TZelTimer timer(nullptr);
    timer.SetDesigning(true);
    timer.SetEnabled(true);
    EXPECT_FALSE(timer.Enabled());
    timer.SetDesigning(false);
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Enabled());
}
