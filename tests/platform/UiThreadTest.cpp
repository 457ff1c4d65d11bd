#include "platform/Thread.h"
#include "platform/TickCount.h"
#include "platform/UiThread.h"
#include "tests/platform/TestApp.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Tick counts are whole milliseconds, so a wait of n ticks can be up to 1 ms shorter in
// real time; callers compare against n - 1.
long long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class UiThreadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TestApp(); }
    void TearDown() override
    {
        SetTickCountStart(0);
        ProcessMessages();
    }
};

TEST_F(UiThreadTest, HandOffRunsOnUiThreadAndBlocksUntilDone)
{
    ASSERT_TRUE(IsUiThread());
    const auto uiId = std::this_thread::get_id();
    std::atomic<bool> ranOnUi{false}, finished{false}, sawFinished{false}, workerOffUi{true};
    std::thread worker([&] {
        workerOffUi = !IsUiThread();
        RunOnUiThread([&] {
            ranOnUi = std::this_thread::get_id() == uiId && IsUiThread();
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            finished = true;
        });
        sawFinished = finished.load();
    });
    WaitForWorker([&] { return sawFinished.load() || finished.load(); });
    worker.join();
    EXPECT_TRUE(workerOffUi);
    EXPECT_TRUE(ranOnUi);
    EXPECT_TRUE(sawFinished);

    // On the UI thread itself the call runs at once.
    bool direct = false;
    RunOnUiThread([&] { direct = true; });
    EXPECT_TRUE(direct);
}

TEST_F(UiThreadTest, ExceptionOfHandedOffCallReachesTheWorker)
{
    std::string caught;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            RunOnUiThread([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error &e) {
            caught = e.what();
        }
        done = true;
    });
    WaitForWorker([&] { return done.load(); });
    worker.join();
    EXPECT_EQ(caught, "handler failed");
}

TEST_F(UiThreadTest, CallsFromManyWorkersRunOneAtATimeInOrderPerWorker)
{
    constexpr int kWorkers = 4, kCalls = 50;
    std::vector<std::vector<int>> seen(kWorkers); // written on the UI thread only
    int running = 0, maxRunning = 0;
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < kCalls; ++i)
                RunOnUiThread([&, w, i] {
                    maxRunning = std::max(maxRunning, ++running);
                    seen[w].push_back(i);
                    --running;
                });
            ++finished;
        });
    WaitForWorker([&] { return finished.load() == kWorkers; });
    for (auto &t : workers)
        t.join();
    EXPECT_EQ(maxRunning, 1);
    for (int w = 0; w < kWorkers; ++w) {
        ASSERT_EQ(seen[w].size(), size_t(kCalls));
        for (int i = 0; i < kCalls; ++i)
            EXPECT_EQ(seen[w][i], i);
    }
}

TEST_F(UiThreadTest, PostedCallsNeverBlockAndRunInPostingOrder)
{
    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 20; ++i)
            PostToUiThread([&order, i] { order.push_back(i); });
        PostToUiThread([] { throw std::runtime_error("dropped"); });
        PostToUiThread([&order] { order.push_back(99); });
    });
    poster.join(); // the UI thread does not process meanwhile: posting must not wait for it
    EXPECT_TRUE(order.empty());
    ProcessMessages();
    ASSERT_EQ(order.size(), 21u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_EQ(order.back(), 99); // a throwing call does not stop the ones behind it
}

TEST_F(UiThreadTest, TheQtEventLoopRunsHandOffs)
{
    std::atomic<bool> ran{false};
    std::thread worker([&] {
        RunOnUiThread([&] { ran = true; });
        RunOnUiThread([] { QCoreApplication::quit(); });
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(20000);
    const int rc = QCoreApplication::exec();
    worker.join();
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(ran);
}

TEST_F(UiThreadTest, CancellableHandOffRunsDropsErrorsAndRunsDirectlyOnTheUiThread)
{
    TUiHandOff handOff;
    std::atomic<bool> ranOnUi{false}, done{false}, result{false};
    std::thread worker([&] {
        result = handOff.Run([&] { ranOnUi = IsUiThread(); });
        // An error of the call stays on the UI side: the worker just learns it ran.
        result = result && handOff.Run([] { throw std::runtime_error("dropped"); });
        done = true;
    });
    WaitForWorker([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(ranOnUi);
    EXPECT_TRUE(result);

    bool direct = false;
    EXPECT_TRUE(handOff.Run([&] { direct = true; }));
    EXPECT_TRUE(direct);
    EXPECT_TRUE(handOff.Run([] { throw std::runtime_error("dropped"); }));
}

TEST_F(UiThreadTest, CancellingReleasesTheWaitingWorkerAndItsCallNeverRuns)
{
    auto handOff = std::make_unique<TUiHandOff>();
    std::atomic<bool> ran{false}, returned{false}, result{true};
    std::thread worker([&] {
        result = handOff->Run([&] { ran = true; });
        returned = true;
    });
    // The UI thread does not process: the worker stays blocked until the cancel.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(returned.load());
    handOff->Cancel();
    worker.join();
    EXPECT_FALSE(result);
    EXPECT_TRUE(handOff->Cancelled());
    // The queued call outlives its hand-off object and still must not run.
    handOff.reset();
    ProcessMessages();
    EXPECT_FALSE(ran);

    TUiHandOff cancelled;
    cancelled.Cancel();
    bool later = false;
    EXPECT_FALSE(cancelled.Run([&] { later = true; }));
    std::thread another([&] { result = cancelled.Run([&] { later = true; }); });
    another.join();
    ProcessMessages();
    EXPECT_FALSE(result);
    EXPECT_FALSE(later);
}

TEST_F(UiThreadTest, CancellingWhileTheCallRunsReleasesTheWorkerAtOnce)
{
    TUiHandOff handOff;
    std::atomic<bool> entered{false}, result{true}, returned{false};
    bool gaveUp = false;
    std::thread worker([&] {
        result = handOff.Run([&] {
            entered = true;
            // Cancelled from inside the call, as an owner freeing itself in its own tick.
            handOff.Cancel();
            const auto deadline = Clock::now() + std::chrono::seconds(5);
            while (!returned.load() && !(gaveUp = Clock::now() > deadline))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        returned = true;
    });
    WaitForWorker([&] { return entered.load(); });
    worker.join();
    EXPECT_FALSE(gaveUp) << "the worker waited for the call to end";
    EXPECT_FALSE(result);
}

class TSyncWorker : public TThread {
public:
    TSyncWorker() : TThread(true) {}
    ~TSyncWorker() override { TerminateAndWait(); }
    std::atomic<int> Calls{0};

protected:
    void Execute() override
    {
        while (!Terminated()) {
            Synchronize([this] { ++Calls; });
            std::this_thread::yield();
        }
    }
};

TEST_F(UiThreadTest, WaitingForAWorkerBlockedInAHandOffDoesNotDeadLock)
{
    TSyncWorker worker;
    worker.Start();
    // Let the worker get stuck in a hand-off: the UI thread is not processing.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(worker.Calls.load(), 0);
    worker.Terminate();
    worker.WaitFor();
    EXPECT_TRUE(worker.Finished());
    EXPECT_GE(worker.Calls.load(), 1);
}

TEST_F(UiThreadTest, PumpDelayRunsQueuedCallsAndWaitsItsTime)
{
    std::atomic<bool> handled{false};
    std::thread worker([&] { RunOnUiThread([&] { handled = true; }); });
    const auto start = Clock::now();
    PumpDelay(100);
    const long long elapsed = MsSince(start);
    worker.join();
    EXPECT_TRUE(handled);
    EXPECT_GE(elapsed, 100 - 1);
}

TEST_F(UiThreadTest, PumpingOffTheUiThreadNeverRunsUiCalls)
{
    std::atomic<bool> ranOffUi{false}, done{false};
    std::thread blocked([&] {
        RunOnUiThread([&] { ranOffUi = !IsUiThread(); });
        done = true;
    });
    std::thread pumper([] {
        PumpDelay(40);
        PumpMessages(40);
        ProcessMessages();
    });
    pumper.join();
    EXPECT_FALSE(done.load());
    WaitForWorker([&] { return done.load(); });
    blocked.join();
    EXPECT_FALSE(ranOffUi);
}

TEST_F(UiThreadTest, WaitsAcrossTheTickCountWrap)
{
    // start + ms overflows 32 bits: the delay must still last its time ...
    SetTickCountStart(0xFFFFFFFFu - 20);
    auto start = Clock::now();
    PumpDelay(60);
    EXPECT_GE(MsSince(start), 60 - 1);

    // ... and must end even when start + ms is the very last tick value.
    SetTickCountStart(0xFFFFFFFFu - 40);
    start = Clock::now();
    PumpDelay(40);
    EXPECT_GE(MsSince(start), 40 - 1);

    // PumpMessages ends early when the tick count wraps below its start.
    SetTickCountStart(0xFFFFFFFFu - 30);
    start = Clock::now();
    PumpMessages(60000);
    const long long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 25);
    EXPECT_LT(elapsed, 30000);

    SetTickCountStart(1000);
    start = Clock::now();
    PumpMessages(50);
    EXPECT_GE(MsSince(start), 50 - 1);
}

TEST(TickCountTest, WrapsAtTwoToTheThirtyTwo)
{
    SetTickCountStart(0xFFFFFFF0u);
    const uint32_t before = GetTickCount();
    EXPECT_GE(before, 0xFFFFFFF0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    const uint32_t after = GetTickCount();
    EXPECT_LT(after, 0x1000u); // wrapped
    const uint32_t delta = after - before;
    EXPECT_GE(delta, 40u);
    EXPECT_LT(delta, 10000u);
    SetTickCountStart(0);
}

} // namespace
