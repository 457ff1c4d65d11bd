// The controller's message thread carries posted events, with the row each was heard with,
// to the decoders on this (the user-interface) thread.
#include "FakeAntLib.h"

#include "ant/AntComControl.h"
#include "ant/profiles/PageNumbers.h"
#include "platform/ThreadMessages.h"
#include "platform/UiThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(MessageThreadDispatch, PostedPagesAreDecodedInOrderWithTheirOwnRows)
{
    TFakeAntLib lib;
    TAntComControl ctl(nullptr);
    TAntChannel *hr = ctl.AntChannelList()->Add();
    hr->SetAntChannelProfile(acpAntHR);
    std::vector<int> heard;
    ctl.OnChannelMessage = [&](TObject *, TAntChannel *ch, uint8_t) {
        heard.push_back(static_cast<TANTProfileDataHR *>(ch->ProfileData())->ComputedHeartRate());
    };
    TThreadChannelMsg *thread = ctl.MessageThread();
    ASSERT_NE(thread, nullptr);
    TAntRxRow unused{};
    EXPECT_FALSE(hr->PostReceivedEvent(EVENT_RX_BROADCAST, unused)) << "no thread id yet";
    EXPECT_EQ(thread->QueuedCount(), 0u);
    hr->SetEventThreadId(thread->ThreadID());
    thread->Start();

    // The library's thread: each event posts with its row copy.
    constexpr int Pages = 200;
    std::thread library([&] {
        for (int i = 0; i < Pages; ++i) {
            TAntRxRow row{};
            row[8] = static_cast<uint8_t>(i);
            ASSERT_TRUE(hr->PostReceivedEvent(EVENT_RX_BROADCAST, row));
        }
    });
    std::atomic<bool> posted{false};
    std::thread waiter([&] {
        library.join();
        posted = true;
    });
    WaitForWorker([&] {
        ProcessMessages();
        return posted.load() && static_cast<int>(heard.size()) == Pages;
    });
    waiter.join();
    ASSERT_EQ(static_cast<int>(heard.size()), Pages);
    for (int i = 0; i < Pages; ++i)
        EXPECT_EQ(heard[i], i);
    EXPECT_EQ(thread->QueuedCount(), 0u);
}

TEST(MessageThreadDispatch, DeletedChannelReceivesNothingMore)
{
    TFakeAntLib lib;
    TAntComControl ctl(nullptr);
    TAntChannel *hr = ctl.AntChannelList()->Add();
    hr->SetAntChannelProfile(acpAntHR);
    TThreadChannelMsg *thread = ctl.MessageThread();
    hr->SetEventThreadId(thread->ThreadID());
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(hr->PostReceivedEvent(EVENT_RX_BROADCAST, TAntRxRow{}));

    // A thread id nobody listens to: the post fails and nothing is queued anywhere.
    TAntChannel *other = ctl.AntChannelList()->Add();
    other->SetEventThreadId(0xFFFFFFF0u);
    EXPECT_FALSE(other->PostReceivedEvent(EVENT_RX_BROADCAST, TAntRxRow{}));
    EXPECT_EQ(thread->QueuedCount(), 20u);
    int delivered = 0;
    ctl.OnChannelMessage = [&](TObject *, TAntChannel *, uint8_t) { ++delivered; };
    ctl.DeleteChannel(hr);
    thread->Start();
    PumpDelay(100);
    EXPECT_EQ(delivered, 0);
}

TEST(MessageThreadDispatch, LibraryThreadClearsLiveValuesWhileTheyAreDecoded)
{
    TFakeAntLib lib;
    TAntComControl ctl(nullptr);
    TAntChannel *fe = ctl.AntChannelList()->Add();
    fe->SetAntChannelProfile(acpAntFE);
    auto *record = static_cast<TAntProfileFE *>(fe->ProfileData());
    std::atomic<bool> stop{false};
    // A channel closed and found again, over and over, on the library's thread.
    std::thread library([&] {
        while (!stop.load()) {
            fe->SetConnected(true);
            fe->SetConnected(false);
        }
    });
    TAntRxRow speedPage{};
    speedPage[1] = FePageGeneral;
    speedPage[5] = 0x10;
    speedPage[6] = 0x27;
    TAntRxRow trainerPage{};
    trainerPage[1] = FePageTrainerData;
    trainerPage[3] = 90;
    long double seen = 0;
    for (int i = 0; i < 2000; ++i) {
        ctl.DoChannelMessage(&ctl, fe, EVENT_RX_BROADCAST, speedPage);
        ctl.DoChannelMessage(&ctl, fe, EVENT_RX_BROADCAST, trainerPage);
        seen += record->Speed() + record->InstantaneousCadence();
    }
    stop = true;
    library.join();
    fe->SetConnected(true);
    fe->SetConnected(false);
    EXPECT_EQ(record->Speed(), 0.0L);
    EXPECT_EQ(record->InstantaneousCadence(), 0);
    EXPECT_GE(seen, 0.0L);
}
