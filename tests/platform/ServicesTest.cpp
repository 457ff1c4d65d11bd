// Debugger output, beep, the UI thread of a program without an application object, and
// the tick count start taken from the environment.
#include "platform/Beep.h"
#include "platform/DebugOutput.h"
#include "platform/TickCount.h"
#include "platform/UiThread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(DebugOutputTest, LinesGoToStderrWithPrefixOrToTheSink)
{
    testing::internal::CaptureStderr();
    OutputDebugString("ANT_Init not found");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "fennick: ANT_Init not found\n");

    std::vector<std::string> lines; // the sink runs under the output lock
    SetDebugOutputSink([&](const std::string &l) { lines.push_back(l); });
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([w] {
            for (int i = 0; i < 100; ++i)
                OutputDebugString("w" + std::to_string(w));
        });
    for (auto &t : writers)
        t.join();
    SetDebugOutputSink(nullptr);
    EXPECT_EQ(lines.size(), 400u);
}

TEST(BeepTest, SinkOrTerminalBellWithoutGui)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    testing::internal::CaptureStderr();
    MessageBeep();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\a");

    int beeps = 0;
    SetBeepSink([&] { ++beeps; });
    MessageBeep();
    MessageBeep();
    SetBeepSink(nullptr);
    EXPECT_EQ(beeps, 2);
}

TEST(UiThreadWithoutAppTest, MainThreadIsTheUiThreadAndRunsHandOffsWhilePumping)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_TRUE(IsUiThread());
    std::atomic<bool> workerIsUi{true}, ranOnUi{false}, done{false};
    std::thread worker([&] {
        workerIsUi = IsUiThread();
        RunOnUiThread([&] { ranOnUi = IsUiThread(); });
        done = true;
    });
    while (!done.load())
        PumpDelay(5);
    worker.join();
    EXPECT_FALSE(workerIsUi);
    EXPECT_TRUE(ranOnUi);
}

} // namespace

namespace {

TEST(TickCountEnvironmentTest, StartComesFromTheEnvironment)
{
    // The test is registered with FENNICK_TICK_START=2147483648, far from a count that
    // starts at 0.
    const uint32_t sinceStart = GetTickCount() - 2147483648u;
    EXPECT_LT(sinceStart, 60000u);
}

} // namespace
