// The binding against the real library and its virtual stick: the library's reader thread
// calls the closures, which land in the channel with the rows the library wrote.
#include "ant/AntComControl.h"
#include "ant/CallbackBuffers.h"
#include "ant/binding/AntLib.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct TDelivery {
    bool Response;
    uint8_t Code;
    std::vector<uint8_t> Row;
    std::thread::id Thread;
};

// Keeps each delivery with a copy of the row taken inside the callback.
class TRecordingChannel : public TAntChannel {
public:
    using TAntChannel::TAntChannel;
    bool ResponseFunc(uint8_t, uint8_t ucResponseMsgID) override
    {
        const uint8_t *row = ResponseBuffers().Row(ResponseBufferIndex());
        Note({true, ucResponseMsgID, {row, row + ResponseRowSize}, std::this_thread::get_id()});
        return true;
    }
    bool ChannelEventFunc(uint8_t, uint8_t ucEvent) override
    {
        const uint8_t *row = RxBuffers().Row(RxBufferIndex());
        Note({false, ucEvent, {row, row + RxRowSize}, std::this_thread::get_id()});
        return true;
    }

    // Waits up to 5 s for a delivery whose code and leading row bytes match.
    bool WaitFor(bool Response, uint8_t Code, const std::vector<uint8_t> &Head, TDelivery *Found = nullptr)
    {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, std::chrono::seconds(5), [&] {
            for (const auto &d : FDeliveries)
                if (d.Response == Response && d.Code == Code &&
                    std::equal(Head.begin(), Head.end(), d.Row.begin())) {
                    if (Found)
                        *Found = d;
                    return true;
                }
            return false;
        });
    }

private:
    void Note(TDelivery d)
    {
        {
            std::lock_guard lock(FMutex);
            FDeliveries.push_back(std::move(d));
        }
        FChanged.notify_all();
    }
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<TDelivery> FDeliveries;
};

int VirtualStickIndex()
{
    uint8_t product[256], serial[256];
    for (int n = 0; n < 32; ++n) {
        if (!TAntLib::ANT_GetDeviceUSBInfo(uint8_t(n), product, serial))
            return -1;
        if (std::strcmp(reinterpret_cast<char *>(product), "Fennick virtual ANT stick") == 0)
            return n;
    }
    return -1;
}

} // namespace

TEST(CallbackBindingVirtualStick, ResponsesAndEventsArriveThroughTheClosuresOnTheLibrarysThread)
{
    ::unsetenv("FENNICK_ANT_SERIAL");
    ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
    ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
    ASSERT_TRUE(LoadAntLib());
    const int stick = VirtualStickIndex();
    ASSERT_GE(stick, 0);

    {
        TAntComControl ctl(nullptr);
        ctl.SetDelay(0);
        auto *ch = new TRecordingChannel(ctl.AntChannelList()->AntChannelItems());
        ch->SetAntChannelProfile(acpAntFE);
        ch->SetChannelNumber(0);
        ch->SetDelay(0);
        ctl.AssignResponseCallback(ch);
        ctl.AssignChannelEventCallback(ch);
        ctl.RegisterResponseFunction(ch);
        ctl.RegisterChannelEventFunction(ch);

        ASSERT_TRUE(TAntLib::ANT_Init(uint8_t(stick), 57600));
        EXPECT_TRUE(TAntLib::ANT_ResetSystem());
        TDelivery startup;
        ASSERT_TRUE(ch->WaitFor(true, 0x6F, {}, &startup));
        EXPECT_NE(startup.Thread, std::this_thread::get_id());

        // Each configuration call is acknowledged with channel, message id and RESPONSE_NO_ERROR.
        const struct {
            bool (TAntComControl::*Call)(TAntChannel *);
            std::vector<uint8_t> Ack;
        } steps[] = {
            {&TAntComControl::SetNetworkKey, {0, 0x46, 0}},
            {&TAntComControl::AssignChannel, {0, 0x42, 0}},
            {&TAntComControl::SetChannelId, {0, 0x51, 0}},
            {&TAntComControl::SetChannelPeriod, {0, 0x43, 0}},
            {&TAntComControl::SetTransmitPower, {0, 0x47, 0}},
            {&TAntComControl::SetChannelSearchTimeout, {0, 0x44, 0}},
            {&TAntComControl::SetLowPriorityChannelSearchTimeout, {0, 0x63, 0}},
            {&TAntComControl::SetChannelRFFreq, {0, 0x45, 0}},
            {&TAntComControl::OpenChannel, {0, 0x4B, 0}},
        };
        for (const auto &step : steps) {
            ASSERT_TRUE((ctl.*step.Call)(ch));
            EXPECT_TRUE(ch->WaitFor(true, 0x40, step.Ack)) << int(step.Ack[1]);
        }

        // The wildcard channel finds the scenario's trainer and its pages reach the event row.
        TDelivery page;
        ASSERT_TRUE(ch->WaitFor(false, EVENT_RX_BROADCAST, {0}, &page));
        EXPECT_NE(page.Thread, std::this_thread::get_id());

        TAntLib::ANT_CloseChannel(0);
        ctl.RemoveAllChannelEventFunctions();
        ctl.RemoveAllResponseFunctions();
        EXPECT_EQ(ch->CallBackChannelEventFunc(), nullptr);
        EXPECT_EQ(ch->CallBackResponseFunc(), nullptr);
        TAntLib::ANT_Close();
    }
    EXPECT_TRUE(UnloadAntLib());
    ::unsetenv("FENNICK_VIRTUAL_TRAINER");
    ::unsetenv("FENNICK_ANT_LIBRARY");
}
