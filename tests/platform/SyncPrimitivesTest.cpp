#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/ThreadMessages.h"
#include "tests/platform/TestApp.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------- events

TEST(EventTest, AutoResetReleasesOneWaiterPerSignal)
{
    TEvent event(false, false, "FReadyEvent");
    EXPECT_EQ(event.Name(), "FReadyEvent");
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&] {
            if (event.WaitFor(10000) == wrSignaled)
                ++released;
        });
    std::this_thread::sleep_for(50ms);
    event.SetEvent();
    const auto deadline = Clock::now() + 10s;
    while (released.load() == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(released.load(), 1);
    event.SetEvent();
    for (auto &t : waiters)
        t.join();
    EXPECT_EQ(released.load(), 2);
    // Each signal was consumed by its waiter.
    EXPECT_EQ(event.WaitFor(0), wrTimeout);
}

TEST(EventTest, AutoResetSignalWaitsForTheNextWaiter)
{
    TEvent event(false, true);
    EXPECT_EQ(event.WaitFor(0), wrSignaled);
    EXPECT_EQ(event.WaitFor(0), wrTimeout);
    event.SetEvent();
    event.SetEvent(); // not counted
    EXPECT_EQ(event.WaitFor(INFINITE), wrSignaled);
    EXPECT_EQ(event.WaitFor(20), wrTimeout);
}

TEST(EventTest, ManualResetStaysSetUntilReset)
{
    TEvent event(true, false, "FStartReadMsgEvent");
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (event.WaitFor(INFINITE) == wrSignaled)
                ++released;
        });
    event.SetEvent();
    for (auto &t : waiters)
        t.join();
    EXPECT_EQ(released.load(), 3);
    EXPECT_EQ(event.WaitFor(0), wrSignaled);
    EXPECT_EQ(event.WaitFor(0), wrSignaled);
    event.ResetEvent();
    const auto start = Clock::now();
    EXPECT_EQ(event.WaitFor(40), wrTimeout);
    EXPECT_GE(Clock::now() - start, 40ms);
}

// ---------------------------------------------------------------- threads

class TCountingThread : public TThread {
public:
    explicit TCountingThread(bool suspended) : TThread(suspended) {}
    ~TCountingThread() override { TerminateAndWait(); }
    std::atomic<int> Rounds{0};
    std::atomic<bool> Executed{false};
    bool Fail = false;

protected:
    void Execute() override
    {
        Executed = true;
        if (Fail)
            throw std::runtime_error("worker failed");
        while (!Terminated()) {
            CheckHeld();
            ++Rounds;
            std::this_thread::sleep_for(1ms);
        }
        SetReturnValue(7);
    }
};

int SettledRounds(const TCountingThread &t)
{
    int last = t.Rounds.load();
    for (;;) {
        std::this_thread::sleep_for(100ms);
        int now = t.Rounds.load();
        if (now == last)
            return now;
        last = now;
    }
}

std::atomic<bool> gNeverStartedRan{false};

class TNeverStarted : public TThread {
public:
    TNeverStarted() : TThread(true) {}
    ~TNeverStarted() override { TerminateAndWait(); }

protected:
    void Execute() override { gNeverStartedRan = true; }
};

TEST(ThreadTest, NeverStartedThreadIsReleasedWithoutRunning)
{
    {
        TNeverStarted t;
        EXPECT_TRUE(t.Suspended());
        EXPECT_FALSE(t.Started());
        EXPECT_EQ(t.WaitFor(), 0u); // nothing to wait for
    }
    EXPECT_FALSE(gNeverStartedRan.load());
}

TEST(ThreadTest, HoldReleaseAndTerminate)
{
    TCountingThread t(true);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(t.Executed.load());
    t.Start();
    t.Start(); // a second start does no harm
    while (t.Rounds.load() < 5)
        std::this_thread::sleep_for(1ms);

    t.Suspend();
    EXPECT_TRUE(t.Suspended());
    const int held = SettledRounds(t);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(t.Rounds.load(), held);

    t.Suspend(); // holds are not counted: one resume releases
    t.Resume();
    while (t.Rounds.load() < held + 5)
        std::this_thread::sleep_for(1ms);

    t.Suspend();
    SettledRounds(t);
    t.Terminate(); // a terminated thread is no longer held
    EXPECT_TRUE(t.Terminated());
    EXPECT_EQ(t.WaitFor(), 7u);
    EXPECT_TRUE(t.Finished());
}

TEST(ThreadTest, IdsAreUniqueAndFailuresAreKept)
{
    std::set<uint32_t> ids;
    for (int i = 0; i < 50; ++i) {
        TCountingThread t(true);
        EXPECT_NE(t.ThreadID(), 0u);
        ids.insert(t.ThreadID());
    }
    EXPECT_EQ(ids.size(), 50u);

    TCountingThread failing(true);
    failing.Fail = true;
    failing.Start();
    failing.WaitFor();
    ASSERT_TRUE(failing.FatalException());
    EXPECT_THROW(std::rethrow_exception(failing.FatalException()), std::runtime_error);
}

TEST(ThreadTest, PriorityIsKeptAndAppliedBestEffort)
{
    TCountingThread t(true);
    t.SetPriority(tpIdle);
    t.Start();
    while (t.Rounds.load() < 2)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(t.Priority(), tpIdle);
    t.SetPriority(tpTimeCritical); // may be refused by the OS: no error
    EXPECT_EQ(t.Priority(), tpTimeCritical);
    t.SetPriority(tpNormal);
    t.TerminateAndWait();
    EXPECT_TRUE(t.Finished());
}

class TNameReader : public TThread {
public:
    TNameReader() : TThread(true) {}
    ~TNameReader() override { TerminateAndWait(); }
    std::string Seen;

protected:
    void Execute() override
    {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        Seen = name;
    }
};

TEST(ThreadTest, TheOsSeesTheThreadsNameCutTo15Characters)
{
    TNameReader unnamed;
    unnamed.Start();
    unnamed.WaitFor();
    EXPECT_EQ(unnamed.Seen, "fennick-thread");
    TNameReader named;
    named.SetName("fennick-a-long-worker-name");
    named.Start();
    named.WaitFor();
    EXPECT_EQ(named.Seen, "fennick-a-long-");
    EXPECT_EQ(named.Name(), "fennick-a-long-worker-name");
}

// ---------------------------------------------------------------- thread messages

TEST(ThreadMessagesTest, PostedMessagesArriveInOrder)
{
    TThreadMessageQueue queue;
    EXPECT_FALSE(PostThreadMessage(4242, 1, 0, 0));
    ASSERT_TRUE(queue.Register(4242));
    TThreadMessageQueue other;
    EXPECT_FALSE(other.Register(4242)); // the id is taken

    std::thread poster([] {
        for (int i = 0; i < 200; ++i)
            ASSERT_TRUE(PostThreadMessage(4242, 0x117A, uintptr_t(i), -i));
    });
    for (int i = 0; i < 200; ++i) {
        TThreadMessage m{};
        ASSERT_TRUE(queue.WaitMessage(m, 10000));
        EXPECT_EQ(m.Message, 0x117Au);
        EXPECT_EQ(m.WParam, uintptr_t(i));
        EXPECT_EQ(m.LParam, -i);
    }
    poster.join();
    TThreadMessage m{};
    EXPECT_FALSE(queue.PeekMessage(m));
}

TEST(ThreadMessagesTest, RemoveMessagesPurgesOnlyMatches)
{
    TThreadMessageQueue queue;
    ASSERT_TRUE(queue.Register(4243));
    for (uintptr_t wParam : {1, 2, 1, 3, 1})
        PostThreadMessage(4243, 0x117B, wParam, 0);
    EXPECT_EQ(queue.RemoveMessages([](const TThreadMessage &m) { return m.WParam == 1; }), 3u);
    EXPECT_EQ(queue.Count(), 2u);
    TThreadMessage m{};
    ASSERT_TRUE(queue.PeekMessage(m));
    EXPECT_EQ(m.WParam, 2u);
    ASSERT_TRUE(queue.PeekMessage(m));
    EXPECT_EQ(m.WParam, 3u);
}

TEST(ThreadMessagesTest, WakeUpEndsAWaitAndUnregisteringStopsPosting)
{
    auto queue = std::make_unique<TThreadMessageQueue>();
    ASSERT_TRUE(queue->Register(4244));
    TThreadMessage m{};
    const auto start = Clock::now();
    EXPECT_FALSE(queue->WaitMessage(m, 30));
    EXPECT_GE(Clock::now() - start, 30ms);

    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        TThreadMessage got{};
        EXPECT_FALSE(queue->WaitMessage(got, INFINITE));
        returned = true;
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(returned.load());
    queue->WakeUp();
    waiter.join();
    EXPECT_TRUE(returned.load());

    // A wake-up given while nobody waits ends the next wait.
    queue->WakeUp();
    EXPECT_FALSE(queue->WaitMessage(m, INFINITE));

    queue.reset();
    EXPECT_FALSE(PostThreadMessage(4244, 1, 0, 0));
}

} // namespace
