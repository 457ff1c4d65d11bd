// The channel message thread: ordered one-at-a-time delivery on the user-interface thread,
// nothing delivered for a purged channel, no wake-ups while idle, safe shutdown.
#include "ant/ThreadChannelMsg.h"

#include "ant/channels/AntChannelList.h"

#include "TestSupport.h"

#include "framework/Exception.h"
#include "platform/DebugOutput.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Delivery {
    TChannelMessageKind Kind;
    TAntChannel *Channel;
    uint8_t Code;
    TAntRxRow Row;
};

struct Recorder {
    std::vector<Delivery> Got;
    std::vector<std::thread::id> Threads;
    int Busy = 0;
    int Overlaps = 0;

    void Attach(TThreadChannelMsg &thread)
    {
        thread.OnChannelEvent = [this](TAntChannel *Channel, uint8_t Code, const TAntRxRow &Row) {
            Add(MsgChannelEvent, Channel, Code, Row);
        };
        thread.OnChannelResponse = [this](TAntChannel *Channel, uint8_t Code) {
            Add(MsgChannelResponse, Channel, Code, TAntRxRow{});
        };
    }
    void Add(TChannelMessageKind kind, TAntChannel *channel, uint8_t code, const TAntRxRow &row)
    {
        if (Busy++ > 0)
            ++Overlaps;
        Got.push_back({kind, channel, code, row});
        Threads.push_back(std::this_thread::get_id());
        // A handler that processes messages must not get the next message nested inside it.
        ProcessMessages();
        --Busy;
    }
};

// Two channels that post; nothing else of them is used.
TAntChannel *TestChannel(int Index)
{
    static TAntChannelList list(nullptr);
    static TAntChannel *const channels[2] = {list.Add(), list.Add()};
    return channels[Index];
}
TAntChannel *const A = TestChannel(0);
TAntChannel *const B = TestChannel(1);

// The row carries the code and the kind, so a row delivered with another item shows.
TAntRxRow RowFor(TChannelMessageKind kind, uint8_t code)
{
    TAntRxRow row{};
    row[1] = code;
    row[2] = static_cast<uint8_t>(kind & 0xFF);
    return row;
}

bool Post(const TThreadChannelMsg &thread, TChannelMessageKind kind, TAntChannel *channel, uint8_t code)
{
    return PostChannelMessage(thread.ThreadID(), TChannelMessage{channel, kind, code, RowFor(kind, code)});
}

} // namespace

TEST(ThreadChannelMsg, DeliversEveryPostedMessageOnceInOrderOnTheUiThread)
{
    TThreadChannelMsg thread(nullptr);
    Recorder rec;
    rec.Attach(thread);
    EXPECT_NE(thread.ThreadID(), 0u);
    EXPECT_FALSE(thread.Running());
    EXPECT_EQ(thread.ReadyEvent().Name(), "FReadyEvent");
    EXPECT_EQ(thread.StartReadMsgEvent().Name(), "FStartReadMsgEvent");

    // Posted before Start: kept, delivered once the loop runs.
    ASSERT_TRUE(Post(thread, MsgChannelEvent, A, 1));
    PumpFor(30);
    EXPECT_TRUE(rec.Got.empty());

    thread.Start();
    thread.Start();
    EXPECT_EQ(thread.ReadyEvent().WaitFor(2000), wrSignaled);

    constexpr int kPerPoster = 300;
    std::thread poster([&] {
        for (int i = 0; i < kPerPoster; ++i) {
            const TChannelMessageKind kind = i % 3 == 0 ? MsgChannelResponse : MsgChannelEvent;
            Post(thread, kind, i % 2 ? A : B, static_cast<uint8_t>(i & 0xFF));
            if (i == 100)
                Post(thread, static_cast<TChannelMessageKind>(9999), A, 0); // not a channel message: dropped
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return rec.Got.size() == kPerPoster + 1; }));
    poster.join();
    PumpFor(30);
    ASSERT_EQ(rec.Got.size(), kPerPoster + 1u);
    EXPECT_TRUE(thread.Running());
    EXPECT_EQ(rec.Got[0].Code, 1);
    for (int i = 0; i < kPerPoster; ++i) {
        const Delivery &d = rec.Got[i + 1];
        EXPECT_EQ(d.Kind, i % 3 == 0 ? MsgChannelResponse : MsgChannelEvent) << i;
        EXPECT_EQ(d.Channel, i % 2 ? A : B) << i;
        EXPECT_EQ(d.Code, static_cast<uint8_t>(i & 0xFF)) << i;
        if (d.Kind == MsgChannelEvent) {
            EXPECT_EQ(d.Row, RowFor(MsgChannelEvent, d.Code)) << "the row travels with its event " << i;
        }
    }
    for (auto id : rec.Threads)
        EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_EQ(rec.Overlaps, 0);
}

TEST(ThreadChannelMsg, NothingIsDeliveredForAPurgedChannel)
{
    TThreadChannelMsg thread(nullptr);
    Recorder rec;
    rec.Attach(thread);
    thread.Start();
    // Not processing messages: the first message is taken and waits to be handed over,
    // the rest stay queued.
    Post(thread, MsgChannelEvent, A, 1);
    for (int i = 0; i < 20; ++i) {
        Post(thread, MsgChannelEvent, B, i);
        Post(thread, MsgChannelResponse, A, i);
    }
    const auto start = TestClock::now();
    while (thread.QueuedCount() != 40 && MsSince(start) < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(thread.QueuedCount(), 40u);

    thread.PurgeChannel(A);
    ASSERT_TRUE(PumpUntil([&] { return rec.Got.size() == 20; }));
    PumpFor(50);
    ASSERT_EQ(rec.Got.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(rec.Got[i].Channel, B);
        EXPECT_EQ(rec.Got[i].Code, i);
    }

    // A channel at the same address posting after the purge is a new channel: delivered.
    Post(thread, MsgChannelEvent, A, 77);
    ASSERT_TRUE(PumpUntil([&] { return rec.Got.size() == 21; }));
    EXPECT_EQ(rec.Got[20].Channel, A);
    EXPECT_EQ(rec.Got[20].Code, 77);
}

// A stick that sends faster than the user-interface thread takes its messages (here: one that
// is not taken at all for a while) must not grow the queue without end. The oldest received
// rows go; answers and channel events stay, and the loss is told once, with its count.
TEST(ThreadChannelMsg, AFloodKeepsTheQueueBoundedDroppingTheOldestRowsOnly)
{
    TThreadChannelMsg thread(nullptr);
    Recorder rec;
    rec.Attach(thread);
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    thread.OnRowsDropped = [&](uint64_t Dropped, uint64_t Total) { reports.emplace_back(Dropped, Total); };
    thread.Start();
    Post(thread, MsgChannelEvent, A, 0x9A); // taken at once; waits for the hand-over
    const auto start = TestClock::now();
    while (thread.QueuedCount() != 0 && MsSince(start) < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    constexpr uint8_t RxBroadcast = 0x9A, RxFail = 0x02;
    const size_t limit = TThreadChannelMsg::QueueLimit, extra = 1000;
    Post(thread, MsgChannelResponse, A, 0x4F);
    Post(thread, MsgChannelEvent, B, RxFail);
    for (size_t i = 0; i < limit + extra; ++i) {
        TAntRxRow row = RowFor(MsgChannelEvent, RxBroadcast);
        row[3] = uint8_t(i & 0xFF);
        row[4] = uint8_t(i >> 8);
        PostChannelMessage(thread.ThreadID(), TChannelMessage{B, MsgChannelEvent, RxBroadcast, row});
    }
    EXPECT_EQ(thread.QueuedCount(), limit);
    EXPECT_EQ(thread.DroppedCount(), extra + 2);

    ASSERT_TRUE(PumpUntil([&] { return rec.Got.size() == 1 + limit && !reports.empty(); }));
    EXPECT_EQ(rec.Got[1].Kind, MsgChannelResponse);
    EXPECT_EQ(rec.Got[2].Code, RxFail);
    const size_t firstKept = extra + 2; // of the rows, in posting order
    EXPECT_EQ(rec.Got[3].Row[3] | rec.Got[3].Row[4] << 8, int(firstKept));
    EXPECT_EQ(rec.Got.back().Row[3] | rec.Got.back().Row[4] << 8, int(limit + extra - 1));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], std::make_pair(uint64_t(extra + 2), uint64_t(extra + 2)));

    // Nothing but answers queued: the bound holds all the same, the oldest going first.
    rec.Got.clear();
    thread.OnRowsDropped = {};
    Post(thread, MsgChannelEvent, A, 0x9A);
    while (thread.QueuedCount() != 0 && MsSince(start) < 4000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (size_t i = 0; i < limit + 10; ++i)
        Post(thread, MsgChannelResponse, A, uint8_t(i));
    EXPECT_EQ(thread.QueuedCount(), limit);
    ASSERT_TRUE(PumpUntil([&] { return rec.Got.size() == 1 + limit; }));
    EXPECT_EQ(rec.Got[1].Code, uint8_t(10));
}

TEST(ThreadChannelMsg, PurgingFromInsideAHandlerDropsTheRest)
{
    TThreadChannelMsg thread(nullptr);
    std::vector<int> got;
    bool posted = false;
    thread.OnChannelEvent = [&](TAntChannel *Channel, uint8_t Code, const TAntRxRow &) {
        got.push_back(Code);
        if (Code == 0) {
            while (thread.QueuedCount() < 5)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            thread.PurgeChannel(Channel);
        }
    };
    thread.Start();
    std::thread poster([&] {
        for (int i = 0; i < 6; ++i)
            Post(thread, MsgChannelEvent, A, i);
        posted = true;
    });
    poster.join();
    ASSERT_TRUE(posted);
    ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }));
    PumpFor(60);
    EXPECT_EQ(got, std::vector<int>{0});
}

TEST(ThreadChannelMsg, IdleThreadDoesNotWakeUp)
{
    TThreadChannelMsg thread(nullptr);
    Recorder rec;
    rec.Attach(thread);
    thread.Start();
    for (int i = 0; i < 3; ++i)
        Post(thread, MsgChannelEvent, A, i);
    ASSERT_TRUE(PumpUntil([&] { return rec.Got.size() == 3; }));
    PumpFor(20);
    const uint64_t woke = thread.WakeUps();
    EXPECT_LE(woke, 3u);
    PumpFor(300);
    EXPECT_EQ(thread.WakeUps(), woke);
}

TEST(ThreadChannelMsg, HandlerErrorsAreReportedAndTheNextMessageStillComes)
{
    std::mutex linesMutex;
    std::vector<std::string> lines;
    SetDebugOutputSink([&](const std::string &line) {
        std::lock_guard<std::mutex> lock(linesMutex);
        lines.push_back(line);
    });
    TThreadChannelMsg thread(nullptr);
    std::vector<int> got;
    thread.OnChannelEvent = [&](TAntChannel *, uint8_t Code, const TAntRxRow &) {
        got.push_back(Code);
        if (Code == 1)
            throw Exception("Error: ChannelBufferAddress undefined");
    };
    thread.Start();
    Post(thread, MsgChannelEvent, A, 1);
    Post(thread, MsgChannelEvent, A, 2);
    // No response handler assigned: dropped quietly.
    Post(thread, MsgChannelResponse, A, 3);
    Post(thread, MsgChannelEvent, A, 4);
    EXPECT_TRUE(PumpUntil([&] { return got.size() == 3; }));
    EXPECT_EQ(got, (std::vector<int>{1, 2, 4}));
    SetDebugOutputSink(nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Error: ChannelBufferAddress undefined"), std::string::npos);
}

TEST(ThreadChannelMsg, ShutsDownCleanlyInEveryState)
{
    // Never started.
    { TThreadChannelMsg idle(nullptr); }

    // A message waiting to be handed over while the thread is freed: never delivered.
    int late = 0;
    {
        TThreadChannelMsg thread(nullptr);
        thread.OnChannelEvent = [&](TAntChannel *, uint8_t, const TAntRxRow &) { ++late; };
        thread.Start();
        Post(thread, MsgChannelEvent, A, 1);
        Post(thread, MsgChannelEvent, A, 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    PumpFor(30);
    EXPECT_EQ(late, 0);

    // Freed by its own handler.
    auto *thread = new TThreadChannelMsg(nullptr);
    uint32_t id = thread->ThreadID();
    int calls = 0;
    thread->OnChannelEvent = [&](TAntChannel *, uint8_t, const TAntRxRow &) {
        ++calls;
        delete thread;
        thread = nullptr;
    };
    thread->Start();
    Post(*thread, MsgChannelEvent, A, 1);
    Post(*thread, MsgChannelEvent, A, 2);
    ASSERT_TRUE(PumpUntil([&] { return thread == nullptr; }));
    PumpFor(30);
    EXPECT_EQ(calls, 1);
    // Its queue is gone with it.
    EXPECT_FALSE(PostChannelMessage(id, TChannelMessage{A, MsgChannelEvent, 0, {}}));
}
