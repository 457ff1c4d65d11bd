// The callbacks on a library thread of their own while the user-interface side reads the
// link state and takes the posted rows.
#include "ChannelEventsFixture.h"

#include "ant/ThreadChannelMsg.h"
#include "platform/ThreadMessages.h"

#include <atomic>
#include <thread>

using namespace events;

TEST_F(ChannelEventsFixture, LibraryThreadAndReaderShareTheChannel)
{
    Use(acpAntFE);
    Ch->OnChannelEvent = nullptr; // handlers run on the library thread: keep them out of it
    Ch->OnChannelResponse = nullptr;
    Ch->OnConnected = Ch->OnDisconnected = Ch->OnRxFailGoToSearch = Ch->OnEventRxBroadCastReceived = nullptr;
    Ch->OnChannelDeviceNumber = nullptr;
    TPostedQueue<TChannelMessage> queue;
    ASSERT_TRUE(queue.Register(0x7E5702));
    Ch->SetEventThreadId(0x7E5702);
    Ch->SetResponseThreadId(0x7E5702);

    constexpr int Pages = 500;
    std::atomic<bool> done{false};
    std::thread library([&] {
        for (int i = 0; i < Pages; ++i) {
            Rx[0] = Number;
            Rx[1] = 0x10;
            Rx[2] = static_cast<uint8_t>(i & 0xFF);
            Rx[3] = static_cast<uint8_t>(i >> 8);
            Ch->ChannelEventFunc(Number, i % 50 == 49 ? RxFailGoToSearch : RxBroadcast);
            if (i == 10) {
                Resp[0] = Number;
                Resp[1] = 0x39;
                Resp[2] = 0x30;
                Ch->ResponseFunc(Number, ChannelIdMessage);
            }
        }
        done = true;
    });

    int events = 0, responses = 0, last = -1;
    bool ordered = true;
    while (!done || queue.Count() > 0) {
        (void)Ch->Connected();
        (void)Ch->ChannelState();
        (void)Ch->DeviceNumber();
        TChannelMessage m{};
        if (!queue.WaitMessage(m, 5))
            continue;
        if (m.Kind == MsgChannelResponse) {
            ++responses;
            continue;
        }
        const TAntRxRow &row = m.Row;
        if (m.Code == RxBroadcast) {
            const int heard = row[2] | (row[3] << 8);
            ordered = ordered && heard > last;
            last = heard;
        }
        ++events;
    }
    library.join();
    EXPECT_EQ(events, Pages);
    EXPECT_EQ(responses, 1);
    EXPECT_TRUE(ordered) << "rows reach the reader in the order they were heard";
    EXPECT_EQ(Ch->DeviceNumber(), 0x3039);
    EXPECT_EQ(Ch->EventCount(), Pages);
}
