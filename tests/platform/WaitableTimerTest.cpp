#include "platform/Event.h"
#include "platform/WaitableTimer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(WaitableTimer, ExpiresPeriodicallyAndMissedPeriodsCollapse)
{
    TWaitableTimer timer;
    ASSERT_TRUE(timer.Arm(20));
    const auto start = Clock::now();
    EXPECT_EQ(timer.Wait(INFINITE), TWaitableTimer::wtExpired);
    EXPECT_GE(MsSince(start), 15);
    std::this_thread::sleep_for(std::chrono::milliseconds(70)); // three periods missed
    EXPECT_EQ(timer.Wait(0), TWaitableTimer::wtExpired);
    EXPECT_EQ(timer.Wait(0), TWaitableTimer::wtTimeout) << "the missed periods were one expiry";
}

TEST(WaitableTimer, RefusesNonPositivePeriodsAndLimitsTheWait)
{
    TWaitableTimer timer;
    EXPECT_FALSE(timer.Arm(0));
    EXPECT_FALSE(timer.Arm(-5));
    ASSERT_TRUE(timer.Arm(10000));
    const auto start = Clock::now();
    EXPECT_EQ(timer.Wait(30), TWaitableTimer::wtTimeout);
    EXPECT_LT(MsSince(start), 5000);
}

TEST(WaitableTimer, CancelFromAnotherThreadEndsTheWaitAndEveryLaterOne)
{
    TWaitableTimer timer;
    ASSERT_TRUE(timer.Arm(60000));
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        timer.Cancel();
    });
    const auto start = Clock::now();
    EXPECT_EQ(timer.Wait(INFINITE), TWaitableTimer::wtCancelled);
    EXPECT_LT(MsSince(start), 5000);
    canceller.join();
    EXPECT_EQ(timer.Wait(INFINITE), TWaitableTimer::wtCancelled);
}
} // namespace
