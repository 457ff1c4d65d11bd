#include "FakeAntLib.h"
#include "LogLines.h"

#include "ant/AntComControl.h"
#include "ant/profiles/PageNumbers.h"
#include "framework/Strings.h"
#include "platform/UiThread.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ControlFixture : ::testing::Test {
    TFakeAntLib Lib;
    TAntComControl Ctl{nullptr};
    TStringList Log;
    void SetUp() override
    {
        Ctl.SetLogStrings(&Log);
        Ctl.SetDebugMode(true);
    }
    TAntChannel *AddChannel(TAntChannelProfile profile, uint8_t number)
    {
        TAntChannel *ch = Ctl.AntChannelList()->Add();
        ch->SetAntChannelProfile(profile);
        ch->SetChannelNumber(number);
        return ch;
    }
    std::vector<std::string> CallNames() const
    {
        std::vector<std::string> out;
        for (const auto &c : Lib.Calls())
            out.push_back(c.Name);
        return out;
    }
    bool Logged(const std::string &tail) const { return LogLinesEndingWith(Log, tail) > 0; }
};

} // namespace

TEST_F(ControlFixture, ConstructionAndLog)
{
    EXPECT_EQ(Ctl.Delay(), 100);
    EXPECT_EQ(Ctl.AntDllState(), dllUnloaded);
    EXPECT_FALSE(Ctl.DllLoaded());
    EXPECT_FALSE(Ctl.UseGlobalResponseFunction());
    ASSERT_NE(Ctl.MessageThread(), nullptr);
    EXPECT_FALSE(Ctl.MessageThread()->Running());
    EXPECT_EQ(Ctl.AntChannelList()->Owner(), &Ctl);
    EXPECT_NE(FindProperty(Ctl, "AntChannelList"), nullptr);

    Ctl.LogSeparator();
    Ctl.Log("");
    ASSERT_EQ(Log.Count(), 2);
    EXPECT_EQ(Log[0].substr(Log[0].find(' ') + 1), std::string(77, '-'));
    EXPECT_EQ(Log[1].back(), ' ');
    Ctl.SetDebugMode(false);
    Ctl.Log("hidden");
    Ctl.SetDebugMode(true);
    Ctl.SetLogStrings(nullptr);
    Ctl.Log("hidden");
    EXPECT_EQ(Log.Count(), 2);

    std::vector<bool> busy;
    Ctl.OnAntBusyState = [&](TObject *, bool b) { busy.push_back(b); };
    Ctl.SetBusy(true);
    Ctl.SetBusy(true);
    Ctl.SetBusy(false);
    EXPECT_EQ(busy, (std::vector<bool>{true, false}));
}

TEST(ComControlDesign, NoMessageThreadWhileDesigning)
{
    TComponent designer(nullptr);
    designer.SetDesigning(true);
    auto *ctl = new TAntComControl(&designer);
    EXPECT_EQ(ctl->MessageThread(), nullptr);
    EXPECT_EQ(ctl->Owner(), &designer);
}

TEST_F(ControlFixture, SendOperationsCheckTheChannel)
{
    TAntChannel *ch = AddChannel(acpAntFE, 6);
    const TChannelSendPacket page{1, 2, 3, 4, 5, 6, 7, 8};
    auto expectMessage = [](auto call, const std::string &msg) {
        try {
            call();
            ADD_FAILURE() << "no exception for " << msg;
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), msg);
        }
    };
    expectMessage([&] { Ctl.SendAcknowledgedData(nullptr, page); },
                  "Channel not assigned (TAntComControl.SendAcknowledgedData).");
    expectMessage([&] { Ctl.SendAcknowledgedData(ch, page); },
                  "Channel not connected (TAntComControl.SendAcknowledgedData).");
    expectMessage([&] { Ctl.SendBroadcastData(nullptr, page); },
                  "Channel not assigned (TAntComControl.SendBroadcastData).");
    expectMessage([&] { Ctl.SendBroadcastData(ch, page); },
                  "Channel not connected (TAntComControl.SendBroadcastData).");
    EXPECT_TRUE(Lib.Calls().empty());

    ch->SetConnected(true);
    TFakeAntLib::Result = false; // the library's result is not examined
    Ctl.SendAcknowledgedData(ch, page);
    Ctl.SendBroadcastData(ch, page);
    auto calls = Lib.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].Name, "ANT_SendAcknowledgedData");
    EXPECT_EQ(calls[1].Name, "ANT_SendBroadcastData");
    EXPECT_EQ(calls[1].Args[0], 6);
    EXPECT_EQ(calls[1].Data, page);

    // Controller form of page 55, FE-C only.
    ch->AcknowledgedCompleted();
    ch->SetWheelDiameter(659);
    ch->AcknowledgedCompleted();
    Lib.Clear();
    Ctl.SendUserConfiguration(ch);
    ASSERT_EQ(Lib.Calls().size(), 1u);
    EXPECT_EQ(Lib.Calls()[0].Data,
              (std::array<uint8_t, 8>{FePageUserConfiguration, 0xFF, 0xFF, 0xFF, 0xF9, 0xFF, 0x41, 0x00}));
    EXPECT_TRUE(Logged("DP55 Send User Configuration  - Diam:659"));
    TAntChannel *hr = AddChannel(acpAntHR, 1);
    hr->SetConnected(true);
    Ctl.SendUserConfiguration(hr);
    EXPECT_EQ(Lib.Calls().size(), 1u);
}

TEST_F(ControlFixture, ConnectedFitnessChannelGetsARepeatRequest)
{
    TAntChannel *fe = AddChannel(acpAntFE, 1);
    TAntChannel *hr = AddChannel(acpAntHR, 0);
    fe->SetRepeatCommandInterval(5000);
    std::vector<TAntChannel *> connected;
    Ctl.OnChannelConnected = [&](TObject *, TAntChannel *c) { connected.push_back(c); };
    Ctl.DoChannelConnected(hr);
    EXPECT_EQ(Ctl.AntRequestList()->Count(), 0);
    Ctl.DoChannelConnected(fe);
    ASSERT_EQ(Ctl.AntRequestList()->Count(), 1);
    TAntRequest *request = Ctl.AntRequestList()->AntRequests(0);
    EXPECT_EQ(request->Channel(), fe);
    EXPECT_EQ(request->Interval(), 5000);
    EXPECT_EQ(request->TimeOut(), 0);
    EXPECT_EQ(request->AntRequestType(), artThreaded);
    EXPECT_TRUE(request->Enabled());
    EXPECT_EQ(connected, (std::vector<TAntChannel *>{hr, fe}));

    // The tick repeats only while the channel is connected.
    fe->SendResistance(40);
    fe->AcknowledgedCompleted();
    Lib.Clear();
    Ctl.RepeatCommandTimer(request);
    EXPECT_TRUE(Lib.Calls().empty());
    EXPECT_FALSE(Logged("Call repeatLastCommand"));
    fe->SetConnected(true);
    fe->SetChannelState(chsActive);
    Ctl.RepeatCommandTimer(request);
    EXPECT_TRUE(Logged("Call repeatLastCommand"));
    ASSERT_EQ(Lib.Calls("ANT_SendAcknowledgedData").size(), 1u);
    EXPECT_EQ(Lib.Calls("ANT_SendAcknowledgedData")[0].Data[7], 40);
}

TEST_F(ControlFixture, CloseChannelRemovesOnlyItsOwnRequests)
{
    EXPECT_EQ(Ctl.CloseChannel(nullptr), 0);
    EXPECT_TRUE(Lib.Calls().empty());

    TAntChannel *fe1 = AddChannel(acpAntFE, 1);
    TAntChannel *fe2 = AddChannel(acpAntFE, 2);
    Ctl.DoChannelConnected(fe1);
    Ctl.DoChannelConnected(fe2);
    fe1->SetConnected(true);
    fe1->SetDoChannelEventFunction(true);
    fe1->SetDoResponseFunction(true);
    fe1->SetEventThreadId(77);
    std::vector<std::string> order;
    int disconnected = 0;
    fe1->OnDisconnected = [&](TObject *) { ++disconnected; };
    Ctl.OnChannelClosing = [&](TObject *, TAntChannel *c) {
        EXPECT_EQ(c, fe1);
        EXPECT_EQ(Ctl.AntRequestList()->Count(), 1) << "requests go before closing is raised";
        order.push_back("closing");
    };
    Ctl.OnChannelClosed = [&](TObject *, TAntChannel *c) {
        EXPECT_FALSE(c->Connected());
        order.push_back("closed");
    };
    Lib.Clear();
    EXPECT_EQ(Ctl.CloseChannel(fe1), 1);
    EXPECT_EQ(order, (std::vector<std::string>{"closing", "closed"}));
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"ANT_CloseChannel", "ANT_Nap", "ANT_UnAssignChannel"}));
    EXPECT_EQ(Lib.Calls("ANT_Nap")[0].Args[0], 100);
    ASSERT_EQ(Ctl.AntRequestList()->Count(), 1);
    EXPECT_EQ(Ctl.AntRequestList()->AntRequests(0)->Channel(), fe2);
    EXPECT_FALSE(fe1->Connected());
    EXPECT_FALSE(fe1->DoChannelEventFunction());
    EXPECT_FALSE(fe1->DoResponseFunction());
    EXPECT_EQ(fe1->EventThreadId(), 0u);
    EXPECT_EQ(fe1->ChannelState(), chsIdle);
    EXPECT_EQ(disconnected, 1);
    EXPECT_TRUE(Logged("FAntRequestList.AntRequests[0]"));
    EXPECT_TRUE(Logged("Channel 1 closed proc CloseChannel"));

    Ctl.OnChannelClosing = nullptr;
    TFakeAntLib::Result = false;
    EXPECT_EQ(Ctl.CloseChannel(fe2), 0) << "the result of ANT_UnAssignChannel";
}

TEST_F(ControlFixture, DeleteChannelLeavesNothingPointingAtIt)
{
    TAntChannel *fe = AddChannel(acpAntFE, 1);
    TAntChannel *hr = AddChannel(acpAntHR, 0);
    Ctl.DoChannelConnected(fe);
    // The library closed the channel on its own: not connected, request still there.
    fe->SetConnected(true);
    fe->SetConnected(false);
    std::vector<TAntChannel *> deleting;
    Ctl.OnChannelDeleting = [&](TObject *, TAntChannel *c) { deleting.push_back(c); };
    Lib.Clear();
    Ctl.DeleteChannel(fe);
    EXPECT_EQ(deleting, (std::vector<TAntChannel *>{fe}));
    EXPECT_EQ(Ctl.AntRequestList()->Count(), 0);
    ASSERT_EQ(Ctl.AntChannelList()->Count(), 1);
    EXPECT_EQ(Ctl.AntChannelList()->Items(0), hr);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"ANT_Nap", "ANT_AssignChannelEventFunction", "ANT_Nap",
                                                      "ANT_AssignResponseFunction"}));

    hr->SetConnected(true);
    Lib.Clear();
    Ctl.DeleteChannel(hr);
    EXPECT_EQ(Ctl.AntChannelList()->Count(), 0);
    EXPECT_EQ(Lib.Calls()[0].Name, "ANT_CloseChannel") << "a connected channel is closed first";
}
