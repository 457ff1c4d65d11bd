// The controller's callback binding on the recording library: what is made once per channel,
// what is handed to the library, and how global mode routes responses.
#include "FakeAntLib.h"
#include "LogLines.h"

#include "ant/AntComControl.h"
#include "ant/CallbackBuffers.h"
#include "ant/channels/NetworkKeys.h"
#include "framework/Strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct TCall {
    bool Response;
    int Channel;
    int Code;
    std::thread::id Thread;
};

// Records what the adaptors deliver instead of handling it.
class TProbeChannel : public TAntChannel {
public:
    using TAntChannel::TAntChannel;
    bool ResponseFunc(uint8_t ucANTChannel, uint8_t ucResponseMsgID) override
    {
        Note(true, ucANTChannel, ucResponseMsgID);
        return true;
    }
    bool ChannelEventFunc(uint8_t ucANTChannel, uint8_t ucEvent) override
    {
        Note(false, ucANTChannel, ucEvent);
        return true;
    }
    std::vector<TCall> Calls() const
    {
        std::lock_guard lock(FMutex);
        return FCalls;
    }

private:
    void Note(bool Response, int Channel, int Code)
    {
        std::lock_guard lock(FMutex);
        FCalls.push_back({Response, Channel, Code, std::this_thread::get_id()});
    }
    mutable std::mutex FMutex;
    std::vector<TCall> FCalls;
};

struct BindingFixture : ::testing::Test {
    TFakeAntLib Lib;
    TAntComControl Ctl{nullptr};
    TStringList Log;
    void SetUp() override
    {
        Ctl.SetLogStrings(&Log);
        Ctl.SetDebugMode(true);
    }
    TProbeChannel *AddChannel(uint8_t number)
    {
        auto *ch = new TProbeChannel(Ctl.AntChannelList()->AntChannelItems());
        ch->SetChannelNumber(number);
        ch->SetDelay(0);
        return ch;
    }
    TFakeAntCall LastCall(const std::string &name) const
    {
        auto calls = Lib.Calls(name);
        return calls.empty() ? TFakeAntCall{} : calls.back();
    }
    int Logged(const std::string &tail) const { return LogLinesEndingWith(Log, tail); }
};

// Calls an entry point as the library does: from a thread of its own.
bool CallFromOtherThread(ANT_EVENT_FUNC entry, uint8_t a, uint8_t b)
{
    bool result = false;
    std::thread([&] { result = entry(a, b); }).join();
    return result;
}

} // namespace

TEST_F(BindingFixture, AdaptorsAndRowsAreMadeOncePerChannel)
{
    TProbeChannel *ch = AddChannel(1);
    ch->SetEventCount(7);
    ch->SetResponseCount(3);
    const size_t responseRows = ResponseBuffers().Count();
    const size_t rxRows = RxBuffers().Count();

    Ctl.AssignResponseCallback(ch);
    Ctl.AssignChannelEventCallback(ch);
    TCallbackAdaptor *response = ch->CallBackResponseFunc();
    TCallbackAdaptor *event = ch->CallBackChannelEventFunc();
    ASSERT_NE(response, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_NE(response->EntryPoint(), event->EntryPoint());
    EXPECT_EQ(ch->ResponseBufferIndex(), int32_t(responseRows));
    EXPECT_EQ(ch->RxBufferIndex(), int32_t(rxRows));
    EXPECT_EQ(ch->EventCount(), 0);
    EXPECT_EQ(ch->ResponseCount(), 0);
    EXPECT_EQ(Logged(" Set aAntChannel.CallBackResponseFunc"), 1);
    EXPECT_EQ(Logged(" Set ANT_AssignChannelEventFunction"), 1);

    ch->SetEventCount(4);
    Ctl.AssignResponseCallback(ch);
    Ctl.AssignChannelEventCallback(ch);
    EXPECT_EQ(ch->CallBackResponseFunc(), response);
    EXPECT_EQ(ch->CallBackChannelEventFunc(), event);
    EXPECT_EQ(ResponseBuffers().Count(), responseRows + 1);
    EXPECT_EQ(RxBuffers().Count(), rxRows + 1);
    EXPECT_EQ(ch->EventCount(), 4);
    EXPECT_EQ(Log.Count(), 2);
    EXPECT_TRUE(Lib.Calls().empty());
}

TEST_F(BindingFixture, RegisteredEntryPointsReachTheChannelWithItsRows)
{
    TProbeChannel *a = AddChannel(2);
    TProbeChannel *b = AddChannel(5);
    for (TAntChannel *ch : {static_cast<TAntChannel *>(a), static_cast<TAntChannel *>(b)}) {
        Ctl.AssignResponseCallback(ch);
        Ctl.AssignChannelEventCallback(ch);
    }
    EXPECT_TRUE(Ctl.RegisterResponseFunction(a));
    EXPECT_TRUE(Ctl.RegisterChannelEventFunction(a));
    EXPECT_TRUE(Ctl.RegisterChannelEventFunction(b));

    const TFakeAntCall response = LastCall("ANT_AssignResponseFunction");
    EXPECT_EQ(response.Callback, a->CallBackResponseFunc()->EntryPoint());
    EXPECT_EQ(response.Buffer, ResponseBuffers().Row(a->ResponseBufferIndex()));
    auto events = Lib.Calls("ANT_AssignChannelEventFunction");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].Args, (std::vector<int>{2, 1}));
    EXPECT_EQ(events[0].Buffer, RxBuffers().Row(a->RxBufferIndex()));
    EXPECT_EQ(events[1].Args, (std::vector<int>{5, 1}));
    EXPECT_EQ(events[1].Callback, b->CallBackChannelEventFunc()->EntryPoint());

    EXPECT_TRUE(CallFromOtherThread(response.Callback, 2, 0x40));
    EXPECT_TRUE(CallFromOtherThread(events[1].Callback, 5, 0x9A));
    ASSERT_EQ(a->Calls().size(), 1u);
    EXPECT_TRUE(a->Calls()[0].Response);
    EXPECT_EQ(a->Calls()[0].Code, 0x40);
    EXPECT_NE(a->Calls()[0].Thread, std::this_thread::get_id());
    ASSERT_EQ(b->Calls().size(), 1u);
    EXPECT_FALSE(b->Calls()[0].Response);
    EXPECT_EQ(b->Calls()[0].Channel, 5);
    EXPECT_EQ(b->Calls()[0].Code, 0x9A);
}

TEST_F(BindingFixture, RemovalFreesTheAdaptorsAndKeepsTheRows)
{
    TProbeChannel *ch = AddChannel(3);
    Ctl.AssignResponseCallback(ch);
    Ctl.AssignChannelEventCallback(ch);
    const int32_t rx = ch->RxBufferIndex();
    const int32_t resp = ch->ResponseBufferIndex();
    EXPECT_TRUE(ch->RemoveChannelEventFunction());
    EXPECT_TRUE(ch->RemoveResponseFunction());
    EXPECT_EQ(ch->CallBackChannelEventFunc(), nullptr);
    EXPECT_EQ(ch->CallBackResponseFunc(), nullptr);
    EXPECT_EQ(ch->RxBufferIndex(), rx);
    EXPECT_EQ(ch->ResponseBufferIndex(), resp);
    EXPECT_EQ(LastCall("ANT_AssignChannelEventFunction").Callback, nullptr);
    EXPECT_EQ(LastCall("ANT_AssignResponseFunction").Callback, nullptr);

    // The next connection binds again.
    Ctl.AssignChannelEventCallback(ch);
    Ctl.RegisterChannelEventFunction(ch);
    EXPECT_TRUE(CallFromOtherThread(LastCall("ANT_AssignChannelEventFunction").Callback, 3, 0x01));
    EXPECT_EQ(ch->Calls().size(), 1u);
    EXPECT_EQ(Logged(" Set ANT_AssignChannelEventFunction"), 2);
}

TEST_F(BindingFixture, AChannelFreedWithAdaptorsDetachesThemFirst)
{
    TProbeChannel *ch = AddChannel(4);
    Ctl.AssignResponseCallback(ch);
    Ctl.AssignChannelEventCallback(ch);
    Ctl.AntChannelList()->Delete(0);
    auto events = Lib.Calls("ANT_AssignChannelEventFunction");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Args, (std::vector<int>{4, 0}));
    ASSERT_EQ(Lib.Calls("ANT_AssignResponseFunction").size(), 1u);
    EXPECT_EQ(LastCall("ANT_AssignResponseFunction").Callback, nullptr);

    // A channel that never bound asks nothing of the library when it goes.
    Lib.Clear();
    AddChannel(1);
    Ctl.AntChannelList()->Delete(0);
    EXPECT_TRUE(Lib.Calls().empty());
}

TEST_F(BindingFixture, RegisterAllRegistersTheReadyChannelsAndOpensEveryGate)
{
    TProbeChannel *ready1 = AddChannel(0);
    TProbeChannel *notReady = AddChannel(1);
    TProbeChannel *ready2 = AddChannel(2);
    Ctl.AssignChannelEventCallback(ready1);
    Ctl.AssignChannelEventCallback(ready2);
    Ctl.RegisterAllChannelEventFunctions();
    auto events = Lib.Calls("ANT_AssignChannelEventFunction");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].Args, (std::vector<int>{0, 1}));
    EXPECT_EQ(events[1].Args, (std::vector<int>{2, 1}));
    EXPECT_TRUE(ready1->DoChannelEventFunction());
    EXPECT_TRUE(notReady->DoChannelEventFunction());
    EXPECT_TRUE(ready2->DoChannelEventFunction());
}

struct GlobalModeFixture : BindingFixture {
    TProbeChannel *First = nullptr;
    TProbeChannel *Second = nullptr;
    ANT_EVENT_FUNC Entry = nullptr;
    void SetUp() override
    {
        BindingFixture::SetUp();
        Ctl.SetUseGlobalResponseFunction(true);
        First = AddChannel(0);
        Second = AddChannel(1);
        Ctl.AssignResponseCallback(First);
        Ctl.AssignResponseCallback(Second);
        Ctl.RegisterResponseFunction(Second);
        Entry = LastCall("ANT_AssignResponseFunction").Callback;
    }
    // What the library does: write the global buffer, then call.
    bool Deliver(uint8_t channel, uint8_t id, std::vector<uint8_t> bytes)
    {
        bytes.resize(ResponseRowSize);
        std::memcpy(GlobalResponseBuffer(), bytes.data(), ResponseRowSize);
        return CallFromOtherThread(Entry, channel, id);
    }
    static std::vector<uint8_t> Bytes(const uint8_t *p) { return {p, p + ResponseRowSize}; }
};

TEST_F(GlobalModeFixture, OnlyTheFirstChannelGetsARowAndAllShareTheControllersAdaptor)
{
    EXPECT_EQ(Logged(" Set CallBackResponseFunc (FUseGlobalResponseFunction)"), 1);
    EXPECT_EQ(Log.Count(), 1);
    EXPECT_GE(First->ResponseBufferIndex(), 0);
    EXPECT_EQ(Second->ResponseBufferIndex(), -1);
    EXPECT_EQ(First->CallBackResponseFunc(), nullptr);
    EXPECT_EQ(Second->CallBackResponseFunc(), nullptr);
    ASSERT_NE(Ctl.CallBackResponseFunc(), nullptr);
    EXPECT_EQ(Entry, Ctl.CallBackResponseFunc()->EntryPoint());
    EXPECT_EQ(LastCall("ANT_AssignResponseFunction").Buffer, GlobalResponseBuffer());
}

TEST_F(GlobalModeFixture, GlobalRespFuncCopiesTheResponseAndCallsTheChannel)
{
    const std::vector<uint8_t> ack{0x00, 0x46, 0x00, 0, 0, 0, 0, 0, 0, 0xAB};
    EXPECT_TRUE(Deliver(0, 0x40, ack));
    EXPECT_EQ(Bytes(ResponseBuffers().Row(First->ResponseBufferIndex())), ack);
    EXPECT_EQ(Bytes(First->LastResponse()), ack);
    ASSERT_EQ(First->Calls().size(), 1u);
    EXPECT_EQ(First->Calls()[0].Code, 0x40);
    EXPECT_EQ(Logged(" GlobalRespFunc ucANTChannel: 0 ucResponseMsgID: 64 Buffer:  00 46 00 00 00 00 00 00 00 AB"), 1);

    // The second channel has no row: only its own copy is written.
    const std::vector<uint8_t> other{0x01, 0x42, 0x00};
    EXPECT_TRUE(Deliver(1, 0x40, other));
    std::vector<uint8_t> padded = other;
    padded.resize(ResponseRowSize);
    EXPECT_EQ(Bytes(Second->LastResponse()), padded);
    EXPECT_EQ(Bytes(ResponseBuffers().Row(First->ResponseBufferIndex())), ack);
    EXPECT_EQ(Second->Calls().size(), 1u);
    EXPECT_EQ(First->Calls().size(), 1u);
}

// Real channels this time: the second one has no row of its own and must still follow the
// answers the controller hands it.
TEST_F(BindingFixture, InGlobalModeEachChannelHandlesItsAnswerFromItsOwnCopy)
{
    Ctl.SetUseGlobalResponseFunction(true);
    std::vector<TAntChannel *> channels;
    for (uint8_t number : {0, 1}) {
        TAntChannel *ch = Ctl.AntChannelList()->Add();
        ch->SetChannelNumber(number);
        ch->SetDelay(0);
        ch->SetLogStrings(&Log);
        ch->SetDebugMode(true);
        Ctl.AssignResponseCallback(ch);
        Ctl.RegisterResponseFunction(ch);
        ch->SetDoResponseFunction(true);
        ch->SetChannelConnectionStep(ccsAssignChannel);
        ch->SetRequestPending(true);
        channels.push_back(ch);
    }
    ASSERT_EQ(channels[1]->ResponseBufferIndex(), -1);
    const ANT_EVENT_FUNC entry = LastCall("ANT_AssignResponseFunction").Callback;
    for (uint8_t number : {1, 0}) {
        const uint8_t ack[ResponseRowSize] = {number, 0x42, 0x00};
        std::memcpy(GlobalResponseBuffer(), ack, ResponseRowSize);
        EXPECT_TRUE(CallFromOtherThread(entry, number, 0x40));
    }
    for (TAntChannel *ch : channels) {
        EXPECT_EQ(ch->ResponseCount(), 1) << int(ch->ChannelNumber());
        EXPECT_EQ(ch->ChannelConnectionStep(), ccsSetChannelID) << int(ch->ChannelNumber());
        EXPECT_FALSE(ch->RequestPending()) << int(ch->ChannelNumber());
    }
    EXPECT_EQ(Logged(" ResponseFunc 01 40 : 01 42 00 00 00 00 00 00 00 00"), 1);
    EXPECT_EQ(Logged("call dropped"), 0);
}

TEST_F(GlobalModeFixture, AChannelNumberBeyondTheListTouchesNothing)
{
    const int lines = Log.Count();
    EXPECT_TRUE(Deliver(2, 0x40, {0x02, 0x42, 0x00}));
    EXPECT_TRUE(Deliver(255, 0x40, {0xFF}));
    EXPECT_EQ(Log.Count(), lines);
    EXPECT_TRUE(First->Calls().empty());
    EXPECT_TRUE(Second->Calls().empty());
    EXPECT_EQ(Bytes(First->LastResponse()), std::vector<uint8_t>(ResponseRowSize, 0));
}

TEST_F(GlobalModeFixture, TheControllerDetachesItsAdaptorWhenDestroyed)
{
    Lib.Clear();
    {
        TAntComControl other(nullptr);
        other.SetUseGlobalResponseFunction(true);
        other.AssignResponseCallback(other.AntChannelList()->Add());
    }
    auto calls = Lib.Calls("ANT_AssignResponseFunction");
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].Callback, nullptr);
    EXPECT_EQ(calls[0].Buffer, GlobalResponseBuffer());
}

TEST_F(BindingFixture, ConfigurationCallsPassTheChannelsProperties)
{
    TProbeChannel *ch = AddChannel(3);
    ch->SetAntChannelProfile(acpAntFE);
    ch->SetDeviceNumber(4321);
    ch->SetSearchTimeout(12);
    ch->SetLowPrioritySearchTimeout(34);
    ch->SetNetNumber(1);
    ch->SetTransmissionType(5);
    ch->SetChannelType(0x10);

    EXPECT_TRUE(Ctl.SetNetworkKey(ch));
    EXPECT_TRUE(Ctl.AssignChannel(ch));
    EXPECT_TRUE(Ctl.SetChannelId(ch));
    EXPECT_TRUE(Ctl.SetChannelPeriod(ch));
    EXPECT_TRUE(Ctl.SetChannelRFFreq(ch));
    EXPECT_TRUE(Ctl.SetTransmitPower(ch));
    EXPECT_TRUE(Ctl.SetChannelSearchTimeout(ch));
    EXPECT_TRUE(Ctl.SetLowPriorityChannelSearchTimeout(ch));
    EXPECT_TRUE(Ctl.OpenChannel(ch));

    auto calls = Lib.Calls();
    ASSERT_EQ(calls.size(), 9u);
    const TAntNetworkKey key = ch->NetworkKey();
    EXPECT_EQ(calls[0].Name, "ANT_SetNetworkKey");
    EXPECT_EQ(calls[0].Args, (std::vector<int>{1}));
    EXPECT_TRUE(std::equal(key.begin(), key.end(), calls[0].Data.begin()));
    EXPECT_EQ(calls[1].Args, (std::vector<int>{3, 0x10, 1}));
    EXPECT_EQ(calls[2].Name, "ANT_SetChannelId");
    EXPECT_EQ(calls[2].Args, (std::vector<int>{3, 4321, 17, 5}));
    EXPECT_EQ(calls[3].Args, (std::vector<int>{3, 8192}));
    EXPECT_EQ(calls[4].Args, (std::vector<int>{3, 57}));
    EXPECT_EQ(calls[5].Name, "ANT_SetTransmitPower");
    EXPECT_EQ(calls[5].Args, (std::vector<int>{3}));
    EXPECT_EQ(calls[6].Args, (std::vector<int>{3, 12}));
    EXPECT_EQ(calls[7].Name, "ANT_SetLowPriorityChannelSearchTimeout");
    EXPECT_EQ(calls[7].Args, (std::vector<int>{3, 34}));
    EXPECT_EQ(calls[8].Name, "ANT_OpenChannel");
    EXPECT_EQ(calls[8].Args, (std::vector<int>{3}));

    // The library's answer is passed on; without a channel nothing is asked.
    TFakeAntLib::Result = false;
    EXPECT_FALSE(Ctl.SetChannelId(ch));
    EXPECT_FALSE(Ctl.OpenChannel(ch));
    Lib.Clear();
    EXPECT_FALSE(Ctl.SetNetworkKey(nullptr));
    EXPECT_FALSE(Ctl.OpenChannel(nullptr));
    EXPECT_TRUE(Lib.Calls().empty());
}
