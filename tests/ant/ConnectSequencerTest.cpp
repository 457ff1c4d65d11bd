// The connection sequencer on the recording library: ticks are made by hand so that every
// acknowledgement lands exactly between two of them, as the library's thread would.
#include "FakeAntLib.h"
#include "LogLines.h"

#include "ant/AntComControl.h"
#include "ant/CallbackBuffers.h"
#include "ant/channels/ConnectChannelThread.h"
#include "framework/Exception.h"
#include "framework/Strings.h"
#include "platform/UiThread.h"
#include "../antrequests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class TTestControl : public TAntComControl {
public:
    using TAntComControl::TAntComControl;

protected:
    bool LoadLibrary() override { return true; }
    bool FreeLibrary() override { return true; }
};

struct SequencerFixture : ::testing::Test {
    TFakeAntLib Lib;
    TTestControl Ctl{nullptr};
    TStringList Log;
    TAntDevice *Device = nullptr;
    int Handled = 0;
    int TimeOuts = 0;

    void SetUp() override
    {
        TFakeAntLib::Result = true;
        Ctl.SetLogStrings(&Log);
        Ctl.SetDebugMode(true);
        Ctl.SetDelay(0);
        Ctl.LoadDll();
        Device = Ctl.AntDeviceList()->Add();
        Ctl.OnConnectChannelHandled = [this](TObject *, TConnectChannelThread *) { ++Handled; };
        Ctl.OnConnectChannelTimeOut = [this](TObject *, TConnectChannelThread *) { ++TimeOuts; };
    }
    void TearDown() override { TFakeAntLib::Result = true; }

    TAntChannel *AddChannel(TAntChannelProfile profile, uint8_t number)
    {
        TAntChannel *ch = Ctl.AntChannelList()->Add();
        ch->SetAntChannelProfile(profile);
        ch->SetChannelNumber(number);
        ch->SetDebugMode(true);
        ch->SetLogStrings(&Log);
        return ch;
    }
    // Connects and stops the pacing, so the test makes every tick itself.
    TConnectChannelThread *Connect(TAntChannel *ch)
    {
        Ctl.ConnectChannel(Device, ch);
        auto *seq = static_cast<TConnectChannelThread *>(ch->ConnectChannelThread());
        seq->SetEnabled(false);
        return seq;
    }
    // What the library does when it acknowledges a configuration message of the channel.
    static void Acknowledge(TAntChannel *ch, uint8_t msgId, uint8_t code = 0)
    {
        uint8_t *row = ResponseBuffers().Row(ch->ResponseBufferIndex());
        ASSERT_NE(row, nullptr);
        row[0] = ch->ChannelNumber();
        row[1] = msgId;
        row[2] = code;
        ch->ResponseFunc(ch->ChannelNumber(), 0x40);
    }
    // The configuration calls made so far, without the loading, opening and registrations.
    std::vector<std::string> ConfigCalls() const
    {
        static const std::vector<std::string> others = {
            "ANT_Nap", "ANT_Init", "ANT_ResetSystem", "ANT_LibVersion", "ANT_AssignResponseFunction",
            "ANT_AssignChannelEventFunction"};
        std::vector<std::string> out;
        for (const auto &c : Lib.Calls())
            if (std::find(others.begin(), others.end(), c.Name) == others.end() && c.Name.rfind("ANT_GetDevice", 0) != 0)
                out.push_back(c.Name);
        return out;
    }
    int Count(const std::string &tail) const { return LogLinesEndingWith(Log, tail); }
};

struct TStep {
    const char *Call;
    const char *Line;
    uint8_t Ack;
};
const TStep Sequence[] = {
    {"ANT_SetNetworkKey", "ANT_SetNetworkKey Ch 2,  0  0  0  0  0  0  0  0", 0x46},
    {"ANT_AssignChannel", "ANT_AssignChannel", 0x42},
    {"ANT_SetChannelId", "ANT_SetChannelId", 0x51},
    {"ANT_SetChannelPeriod", "ANT_SetChannelPeriod", 0x43},
    {"ANT_SetTransmitPower", "ANT_SetTransmitPower", 0x47},
    {"ANT_SetChannelSearchTimeout", "ANT_SetChannelSearchTimeout", 0x44},
    {"ANT_SetLowPriorityChannelSearchTimeout", "ANT_SetLowPriorityChannelSearchTimeout", 0x63},
    {"ANT_SetChannelRFFreq", "ANT_SetChannelRFFreq", 0x45},
    {"ANT_OpenChannel", "ANT_OpenChannel", 0x4B},
};

// The step each entry of Sequence is made in.
const TChannelConnectionStep StepOf[] = {
    ccsSetNetworkKey,           ccsAssignChannel,           ccsSetChannelID,
    ccsChannelPeriod,           ccsSetChannelPower,         ccsSetChannelSearchTimeout,
    ccsSetChannelLPSearchTimeout, ccsSetChannelFreq,        ccsOpen,
};

} // namespace

TEST_F(SequencerFixture, AFullSequenceFollowsTheAcknowledgementsToAConnectedChannel)
{
    TAntChannel *ch = AddChannel(acpAntHR, 2);
    ch->SetNetworkKey({0, 0, 0, 0, 0, 0, 0, 0});
    TConnectChannelThread *seq = Connect(ch);
    int stepEvents = 0;
    seq->OnConnectChannelStepEvent = [&](TObject *) { ++stepEvents; };
    EXPECT_EQ(seq->TimeOut(), 30000);
    EXPECT_EQ(ch->ChannelState(), chsConnectRequested);

    // The first tick restarts and binds; the network key waits for the second.
    seq->ConnectStep(nullptr);
    EXPECT_EQ(Count("---- Connecting to aAntChannel 2"), 1);
    EXPECT_EQ(ch->Name(), "ch2");
    EXPECT_EQ(ch->ChannelState(), chsConnecting);
    EXPECT_TRUE(ch->DoResponseFunction());
    EXPECT_TRUE(ch->DoChannelEventFunction());
    EXPECT_EQ(ch->ChannelConnectionStep(), ccsSetNetworkKey);
    EXPECT_TRUE(ConfigCalls().empty());
    EXPECT_GE(ch->ResponseBufferIndex(), 0);
    EXPECT_GE(ch->RxBufferIndex(), 0);

    std::vector<std::string> expected;
    for (const TStep &step : Sequence) {
        seq->ConnectStep(nullptr);
        expected.push_back(step.Call);
        ASSERT_EQ(ConfigCalls(), expected);
        EXPECT_EQ(Count(step.Line), 1) << step.Line;
        EXPECT_TRUE(ch->RequestPending());
        seq->ConnectStep(nullptr); // waiting: nothing is sent again
        ASSERT_EQ(ConfigCalls(), expected);
        Acknowledge(ch, step.Ack);
        EXPECT_FALSE(ch->RequestPending());
    }
    EXPECT_EQ(ch->ChannelConnectionStep(), ccsSetChan);
    EXPECT_FALSE(ch->Connected());

    seq->ConnectStep(nullptr);
    EXPECT_TRUE(ch->Connected());
    EXPECT_EQ(ch->ChannelState(), chsConnected);
    EXPECT_EQ(Handled, 1);
    EXPECT_TRUE(seq->Handled());
    EXPECT_FALSE(seq->Enabled());
    EXPECT_EQ(ch->EventThreadId(), Ctl.MessageThread()->ThreadID());
    EXPECT_EQ(ch->ResponseThreadId(), Ctl.MessageThread()->ThreadID());
    EXPECT_TRUE(PumpUntil([&] { return Ctl.MessageThread()->Running(); })) << "the message thread was started";
    EXPECT_EQ(Count("Channel: 2 Connected True"), 1);
    EXPECT_EQ(Count("ConnectChannelHandledEvent ch 2"), 1);
    EXPECT_EQ(Count("Channel 2 connected"), 1);
    EXPECT_TRUE(Lib.Calls("ANT_SendAcknowledgedData").empty()) << "a heart-rate channel asks for nothing";
    EXPECT_EQ(stepEvents, 2 + 2 * int(std::size(Sequence)));
    EXPECT_EQ(Ctl.AntRequestList()->Count(), 0);
}

// The library may answer on its thread before the call returns: the step must not then be
// left waiting for the answer it already has.
TEST_F(SequencerFixture, AnAnswerThatComesBeforeTheCallReturnsMovesTheSequenceOn)
{
    TAntChannel *ch = AddChannel(acpAntHR, 0);
    TConnectChannelThread *seq = Connect(ch);
    seq->ConnectStep(nullptr);
    Lib.OnCall = [ch](const TFakeAntCall &call) {
        for (const TStep &step : Sequence)
            if (call.Name == step.Call)
                Acknowledge(ch, step.Ack);
    };
    for (size_t i = 0; i < std::size(Sequence); ++i) {
        seq->ConnectStep(nullptr);
        EXPECT_FALSE(ch->RequestPending()) << Sequence[i].Call;
    }
    seq->ConnectStep(nullptr);
    Lib.OnCall = nullptr;
    EXPECT_TRUE(ch->Connected());
    EXPECT_EQ(ConfigCalls().size(), std::size(Sequence));
}

TEST_F(SequencerFixture, AnFeChannelAsksForItsCapabilitiesInTheCompletingTick)
{
    TAntChannel *ch = AddChannel(acpAntFE, 1);
    TConnectChannelThread *seq = Connect(ch);
    seq->ConnectStep(nullptr);
    for (const TStep &step : Sequence) {
        seq->ConnectStep(nullptr);
        Acknowledge(ch, step.Ack);
    }
    EXPECT_TRUE(Lib.Calls("ANT_SendAcknowledgedData").empty());
    seq->ConnectStep(nullptr);
    const auto sends = Lib.Calls("ANT_SendAcknowledgedData");
    ASSERT_EQ(sends.size(), 1u);
    const std::array<uint8_t, 8> request{0x46, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x36, 0x01};
    EXPECT_EQ(sends[0].Data, request);
    EXPECT_EQ(ch->SendPacket(), request);
    EXPECT_EQ(Count("Request FE capabilities (DP 54)"), 1);
    EXPECT_EQ(Ctl.AntRequestList()->Count(), 1) << "the repeat of the last command";
}

TEST_F(SequencerFixture, AFailedCallIsMadeAgainAtTheNextTick)
{
    TAntChannel *ch = AddChannel(acpAntHR, 0);
    TConnectChannelThread *seq = Connect(ch);
    seq->ConnectStep(nullptr);
    seq->ConnectStep(nullptr);
    Acknowledge(ch, 0x46);
    TFakeAntLib::Result = false;
    seq->ConnectStep(nullptr);
    EXPECT_EQ(Count("Error with ANT_AssignChannel"), 1);
    EXPECT_FALSE(ch->RequestPending());
    TFakeAntLib::Result = true;
    seq->ConnectStep(nullptr);
    EXPECT_EQ(Lib.Calls("ANT_AssignChannel").size(), 2u);
    EXPECT_EQ(Count("Error with ANT_AssignChannel"), 1);
    EXPECT_EQ(Count("ANT_AssignChannel"), 2) << "then the success line";
    EXPECT_TRUE(ch->RequestPending());
}

TEST_F(SequencerFixture, AnErrorResponseLeavesTheSequenceWaitingUntilTheTimeOut)
{
    TAntChannel *ch = AddChannel(acpAntHR, 0);
    Ctl.ConnectChannel(Device, ch);
    auto *seq = static_cast<TConnectChannelThread *>(ch->ConnectChannelThread());
    seq->SetEnabled(false);
    seq->ConnectStep(nullptr);
    seq->ConnectStep(nullptr);
    Acknowledge(ch, 0x46, 0x28); // refused
    EXPECT_TRUE(ch->RequestPending());
    EXPECT_EQ(ch->ChannelConnectionStep(), ccsSetNetworkKey);

    const TAntChannelState before = ch->ChannelState();
    // Paced for real now, with a short time-out: it fires once and stops the pacing.
    seq->SetTimeOut(150);
    seq->SetInterval(20);
    seq->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return TimeOuts == 1; }));
    PumpFor(200);
    EXPECT_EQ(TimeOuts, 1);
    EXPECT_TRUE(seq->TimedOut());
    EXPECT_FALSE(seq->Enabled());
    EXPECT_EQ(ch->ChannelState(), before) << "the time-out leaves the channel as it was";
    EXPECT_EQ(Lib.Calls("ANT_SetNetworkKey").size(), 1u);
    EXPECT_EQ(Count("ConnectChannelTimeOutEvent ch 0"), 1);
}

TEST_F(SequencerFixture, ATimeOutOfZeroNeverTimesOut)
{
    TAntChannel *ch = AddChannel(acpAntHR, 0);
    TConnectChannelThread *seq = Connect(ch);
    int ticks = 0;
    seq->SetTimeOut(0);
    seq->SetInterval(10);
    seq->OnConnectChannelStepEvent = [&](TObject *) { ++ticks; };
    seq->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 20; }));
    EXPECT_EQ(TimeOuts, 0);
    EXPECT_FALSE(seq->TimedOut());
    seq->SetEnabled(false);
}

TEST_F(SequencerFixture, TheWaitableTimerRunsTheSequenceInsideEnable)
{
    TAntChannel *ch = AddChannel(acpAntHR, 3);
    TConnectChannelThread *seq = Connect(ch);
    seq->SetConnectChannelThreadType(artWaitableTimer);
    seq->SetInterval(5);
    seq->SetTimeOut(5000);
    // Acknowledges each call right after its tick, as a stick would between two ticks.
    seq->OnConnectChannelStepEvent = [&](TObject *) {
        if (!ch->RequestPending())
            return;
        const TChannelConnectionStep step = ch->ChannelConnectionStep();
        for (size_t i = 0; i < std::size(Sequence); ++i)
            if (StepOf[i] == step)
                Acknowledge(ch, Sequence[i].Ack);
    };
    seq->SetEnabled(true); // returns when the sequence has ended
    EXPECT_TRUE(ch->Connected());
    EXPECT_EQ(Handled, 1);
    EXPECT_FALSE(seq->Enabled());
}

TEST_F(SequencerFixture, ConnectChannelChecksInOrderAndFreesTheEarlierSequencerFirst)
{
    TAntChannel *ch = AddChannel(acpAntHR, 0);
    Connect(ch);
    ASSERT_NE(ch->ConnectChannelThread(), nullptr);

    ch->SetAntChannelProfile(acpUnAssigned);
    EXPECT_THROW(
        try { Ctl.ConnectChannel(Device, ch); } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), "Channel.Profile is Unassigned!!!");
            throw;
        },
        Exception);
    EXPECT_EQ(ch->ConnectChannelThread(), nullptr);

    ch->SetAntChannelProfile(acpAntHR);
    ch->SetConnected(true);
    EXPECT_THROW(
        try { Ctl.ConnectChannel(Device, ch); } catch (const EAntError &e) {
            EXPECT_EQ(e.Message(), "aAntChannel already connected");
            throw;
        },
        EAntError);
    ch->SetConnected(false);

    TFakeAntLib::Result = false; // the device does not open
    TAntDevice *other = Ctl.AntDeviceList()->Add();
    EXPECT_THROW(
        try { Ctl.ConnectChannel(other, ch); } catch (const EAntError &e) {
            EXPECT_EQ(e.Message(), "Cannot connect AntDevice USb key");
            throw;
        },
        EAntError);

    Ctl.UnloadDll();
    EXPECT_THROW(
        try { Ctl.ConnectChannel(Device, ch); } catch (const EAntError &e) {
            EXPECT_EQ(e.Message(), "Ant DLL not loaded");
            throw;
        },
        EAntError);
}

TEST_F(SequencerFixture, AdaptorsAndRowsAreMadeOncePerChannel)
{
    TAntChannel *ch = AddChannel(acpAntHR, 0);
    Connect(ch)->ConnectStep(nullptr);
    const int32_t rx = ch->RxBufferIndex();
    const int32_t resp = ch->ResponseBufferIndex();
    const size_t rows = RxBuffers().Count();
    Connect(ch)->ConnectStep(nullptr); // a second connect request of the same channel
    EXPECT_EQ(ch->RxBufferIndex(), rx);
    EXPECT_EQ(ch->ResponseBufferIndex(), resp);
    EXPECT_EQ(RxBuffers().Count(), rows);
}

TEST_F(SequencerFixture, GlobalModeGivesOnlyTheFirstChannelAResponseRow)
{
    Ctl.SetUseGlobalResponseFunction(true);
    TAntChannel *a = AddChannel(acpAntHR, 0);
    TAntChannel *b = AddChannel(acpAntFE, 1);
    Connect(a)->ConnectStep(nullptr);
    Connect(b)->ConnectStep(nullptr);
    EXPECT_GE(a->ResponseBufferIndex(), 0);
    EXPECT_EQ(b->ResponseBufferIndex(), -1);
    EXPECT_GE(b->RxBufferIndex(), 0);
    const auto registrations = Lib.Calls("ANT_AssignResponseFunction");
    ASSERT_EQ(registrations.size(), 2u) << "each start step registers the global function";
}
