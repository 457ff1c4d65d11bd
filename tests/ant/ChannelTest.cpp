#include "FakeAntLib.h"

#include "ant/channels/AntChannelList.h"
#include "ant/channels/NetworkKeys.h"
#include "ant/ThreadChannelMsg.h"
#include "framework/Strings.h"
#include "platform/UiThread.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

struct ChannelFixture : ::testing::Test {
    TFakeAntLib Lib;
    TAntChannelList List{nullptr};
    TAntChannel *Ch = List.Add();
    int Settings = 0;
    void SetUp() override
    {
        Ch->OnSettingsChanged = [this](TObject *) { ++Settings; };
    }
};

} // namespace

TEST_F(ChannelFixture, NewChannelHasConstructionValues)
{
    EXPECT_EQ(Ch->ChannelFrequency(), 66);
    EXPECT_EQ(Ch->DeviceType(), 1);
    EXPECT_EQ(Ch->TransmissionType(), 1);
    EXPECT_EQ(Ch->TransmissionPower(), 3);
    EXPECT_EQ(Ch->MessagePeriod(), 8192);
    EXPECT_FALSE(Ch->DoResponseFunction());
    EXPECT_FALSE(Ch->DoChannelEventFunction());
    EXPECT_EQ(Ch->ChannelConnectionStep(), ccsAssignChannel);
    EXPECT_EQ(Ch->AntChannelProfile(), acpUnAssigned);
    EXPECT_EQ(Ch->ProfileData(), nullptr);
    EXPECT_EQ(Ch->RxBufferIndex(), -1);
    EXPECT_EQ(Ch->AntDeviceId(), -1);
    EXPECT_EQ(Ch->WheelDiameter(), 659);
    EXPECT_EQ(Ch->LastResistance(), -1);
    EXPECT_EQ(Ch->LastSlope(), -1000.0f);
    EXPECT_EQ(Ch->RepeatCommandInterval(), 14000);
    EXPECT_EQ(Ch->SendPacket(), TChannelSendPacket{});
}

TEST_F(ChannelFixture, ProfileTableSetsRadioParametersAndRecord)
{
    Ch->SetChannelNumber(2);
    Ch->SetDeviceNumber(4321);
    Ch->SetAntChannelProfile(acpAntFE);
    EXPECT_EQ(Settings, 1);
    EXPECT_EQ(Ch->ChannelType(), 0);
    EXPECT_EQ(Ch->NetNumber(), 0);
    EXPECT_EQ(Ch->DeviceType(), 17);
    EXPECT_EQ(Ch->ChannelFrequency(), 57);
    EXPECT_EQ(Ch->MessagePeriod(), 8192);
    EXPECT_EQ(Ch->TransmissionType(), 0);
    EXPECT_EQ(Ch->TransmissionPower(), 3);
    EXPECT_EQ(Ch->SearchTimeout(), 0);
    EXPECT_EQ(Ch->LowPrioritySearchTimeout(), 255);
    EXPECT_NE(dynamic_cast<TAntProfileFE *>(Ch->ProfileData()), nullptr);
    EXPECT_EQ(Ch->ChannelNumber(), 2) << "never touched by a profile";
    EXPECT_EQ(Ch->DeviceNumber(), 4321) << "never touched by a profile";

    // Same profile again: the record stays and nothing is raised.
    TAntProfileData *record = Ch->ProfileData();
    Ch->SetAntChannelProfile(acpAntFE);
    EXPECT_EQ(Ch->ProfileData(), record);
    EXPECT_EQ(Settings, 1);

    // FE-C to heart rate: new record, transmit power 3 -> 1, its own period.
    Ch->SetAntChannelProfile(acpAntHR);
    EXPECT_EQ(Settings, 2);
    EXPECT_NE(dynamic_cast<TANTProfileDataHR *>(Ch->ProfileData()), nullptr);
    EXPECT_EQ(Ch->TransmissionPower(), 1);
    EXPECT_EQ(Ch->MessagePeriod(), 8070);
    EXPECT_EQ(Ch->DeviceType(), 120);

    // Unassigned frees the record and keeps every radio parameter.
    Ch->SetAntChannelProfile(acpUnAssigned);
    EXPECT_EQ(Settings, 3);
    EXPECT_EQ(Ch->ProfileData(), nullptr);
    EXPECT_EQ(Ch->TransmissionPower(), 1);
    EXPECT_EQ(Ch->MessagePeriod(), 8070);
    EXPECT_EQ(Ch->DeviceType(), 120);
    EXPECT_EQ(Ch->ChannelFrequency(), 57);
    EXPECT_EQ(Ch->LowPrioritySearchTimeout(), 255);
}

TEST_F(ChannelFixture, ProfileRowsThatDifferFromTheirNeighbours)
{
    struct Row {
        TAntChannelProfile P;
        int Type, Net, Dev, Freq, Period, Power, Search, LowSearch;
    };
    const Row rows[] = {
        {acpAntUlmora, 0, 1, 19, 71, 31814, 3, 255, 0},   {acpAntSC, 0, 0, 121, 57, 8060, 3, 0, 255},
        {acpAntCad, 0, 0, 122, 57, 8102, 3, 0, 255},      {acpAntConsole, 1, 1, 18, 70, 16150, 3, 0, 255},
        {acpAntUlmoraPA, 0, 1, 44, 44, 1986, 3, 255, 0},  {acpAntUlmoraPAHS, 0, 1, 44, 44, 1599, 3, 255, 0},
    };
    for (const Row &r : rows) {
        Ch->SetAntChannelProfile(r.P);
        EXPECT_EQ(Ch->ChannelType(), r.Type) << int(r.P);
        EXPECT_EQ(Ch->NetNumber(), r.Net) << int(r.P);
        EXPECT_EQ(Ch->DeviceType(), r.Dev) << int(r.P);
        EXPECT_EQ(Ch->ChannelFrequency(), r.Freq) << int(r.P);
        EXPECT_EQ(Ch->MessagePeriod(), r.Period) << int(r.P);
        EXPECT_EQ(Ch->TransmissionPower(), r.Power) << int(r.P);
        EXPECT_EQ(Ch->SearchTimeout(), r.Search) << int(r.P);
        EXPECT_EQ(Ch->LowPrioritySearchTimeout(), r.LowSearch) << int(r.P);
    }
    Ch->SetAntChannelProfile(acpAntUlmora);
    EXPECT_EQ(Ch->ProfileData(), nullptr);
    Ch->SetAntChannelProfile(acpAntCad);
    EXPECT_NE(dynamic_cast<TAntProfileDataCadence *>(Ch->ProfileData()), nullptr);
    Ch->SetAntChannelProfile(acpAntUlmoraPAHS);
    EXPECT_NE(dynamic_cast<TANTUlmoraPAData *>(Ch->ProfileData()), nullptr);
}

TEST(NetworkKeys, ParsingAndConfiguration)
{
    auto key = ParseNetworkKey("B9A521FBBD72C345");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ((*key)[0], 0xB9);
    EXPECT_EQ((*key)[7], 0x45);
    EXPECT_TRUE(ParseNetworkKey("0xb9:a5:21:fb:bd:72:c3:45").has_value());
    EXPECT_FALSE(ParseNetworkKey("B9A521FBBD72C3").has_value());
    EXPECT_FALSE(ParseNetworkKey("B9A521FBBD72C34500").has_value());
    EXPECT_FALSE(ParseNetworkKey("G9A521FBBD72C345").has_value());
    EXPECT_FALSE(ParseNetworkKey("").has_value());

    setenv("FENNICK_ANTPLUS_NETWORK_KEY", "0102030405060708", 1);
    setenv("FENNICK_PUBLIC_NETWORK_KEY", "1112131415161718", 1);
    EXPECT_EQ(AntPlusNetworkKey(), (TAntNetworkKey{1, 2, 3, 4, 5, 6, 7, 8}));
    TAntChannelList list(nullptr);
    TAntChannel *ch = list.Add();
    ch->SetAntChannelProfile(acpAntFE);
    EXPECT_EQ(ch->NetworkKey(), (TAntNetworkKey{1, 2, 3, 4, 5, 6, 7, 8}));
    ch->SetAntChannelProfile(acpAntConsole);
    EXPECT_EQ(ch->NetworkKey(), (TAntNetworkKey{0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18}));
    // A malformed key is not half used.
    setenv("FENNICK_PUBLIC_NETWORK_KEY", "11121314", 1);
    EXPECT_EQ(PublicNetworkKey(), TAntNetworkKey{});
    unsetenv("FENNICK_ANTPLUS_NETWORK_KEY");
    unsetenv("FENNICK_PUBLIC_NETWORK_KEY");
}

TEST_F(ChannelFixture, SetConnectedRaisesOnceAndClearsLiveValues)
{
    int connected = 0, disconnected = 0;
    Ch->OnConnected = [&](TObject *s) { EXPECT_EQ(s, Ch); ++connected; };
    Ch->OnDisconnected = [&](TObject *) { ++disconnected; };
    Ch->SetAntChannelProfile(acpAntHR);
    auto *hr = static_cast<TANTProfileDataHR *>(Ch->ProfileData());
    hr->SetComputedHeartRate(140);
    hr->SetHeartBeatCount(9);
    hr->SetHeartBeatEventTime(1000);
    hr->SetCumulativeOperatingTime(77);
    hr->SetPreviousHeartBeatEventTime(900);
    hr->SetManufacturerId(15);

    Ch->SetConnected(true);
    Ch->SetConnected(true);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(Ch->ChannelState(), chsConnected);
    Ch->SetBroadcastReceived(true);

    Ch->SetConnected(false);
    Ch->SetConnected(false);
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(Ch->ChannelState(), chsIdle);
    EXPECT_FALSE(Ch->BroadcastReceived());
    EXPECT_EQ(hr->ComputedHeartRate(), 0);
    EXPECT_EQ(hr->HeartBeatCount(), 0);
    EXPECT_EQ(hr->HeartBeatEventTime(), 0);
    EXPECT_EQ(hr->CumulativeOperatingTime(), 0);
    EXPECT_EQ(hr->PreviousHeartBeatEventTime(), 0);
    EXPECT_EQ(hr->ManufacturerId(), 15) << "identification is not a live value";

    Ch->SetAntChannelProfile(acpAntFE);
    auto *fe = static_cast<TAntProfileFE *>(Ch->ProfileData());
    fe->SetSpeed(25.5L);
    fe->SetInstantaneousCadence(90);
    fe->SetAccumulatedPower(1234);
    Ch->SetConnected(true);
    Ch->SetConnected(false);
    EXPECT_EQ(fe->Speed(), 0.0L);
    EXPECT_EQ(fe->InstantaneousCadence(), 0);
    EXPECT_EQ(fe->AccumulatedPower(), 1234);

    Ch->SetAntChannelProfile(acpAntSC);
    auto *sc = static_cast<TANTProfileDataSC *>(Ch->ProfileData());
    sc->SetSpeed(30.0L);
    sc->SetCadence(80);
    sc->SetSpeedRevolutions(5);
    sc->SetCadenceEventTime(6);
    sc->SetWheelCircumference(2096.0L);
    Ch->SetConnected(true);
    Ch->SetConnected(false);
    EXPECT_EQ(sc->Speed(), 0.0L);
    EXPECT_EQ(sc->Cadence(), 0);
    EXPECT_EQ(sc->SpeedRevolutions(), 0);
    EXPECT_EQ(sc->CadenceEventTime(), 0);
    EXPECT_EQ(sc->WheelCircumference(), 2096.0L);
}

TEST_F(ChannelFixture, BufferRowsRestartCountersAndBroadcastFlagRaisesOnChange)
{
    Ch->SetEventCount(12);
    Ch->SetResponseCount(7);
    Ch->SetRxBufferIndex(-1);
    EXPECT_EQ(Ch->EventCount(), 12) << "same row: counter kept";
    Ch->SetRxBufferIndex(3);
    EXPECT_EQ(Ch->EventCount(), 0);
    EXPECT_EQ(Ch->ResponseCount(), 7);
    Ch->SetResponseBufferIndex(4);
    EXPECT_EQ(Ch->ResponseCount(), 0);

    int raised = 0;
    Ch->OnEventRxBroadCastReceived = [&](TObject *) { ++raised; };
    Ch->SetBroadcastReceived(true);
    Ch->SetBroadcastReceived(true);
    EXPECT_EQ(raised, 1);
    Ch->ResetBroadcastReceived();
    EXPECT_EQ(raised, 1);
    Ch->SetBroadcastReceived(true);
    EXPECT_EQ(raised, 2);

    Ch->SetAntChannelProfile(acpAntHR);
    static_cast<TANTProfileDataHR *>(Ch->ProfileData())->SetComputedHeartRate(120);
    int lost = 0;
    Ch->OnHeartConnectionLost = [&](TObject *) {
        EXPECT_EQ(static_cast<TANTProfileDataHR *>(Ch->ProfileData())->ComputedHeartRate(), 0);
        ++lost;
    };
    Ch->TriggerHeartConnectionLost();
    EXPECT_EQ(lost, 1);
}

TEST_F(ChannelFixture, LogWritesOnlyInDebugModeWithATarget)
{
    TStringList log;
    Ch->Log("nothing");
    Ch->SetLogStrings(&log);
    Ch->Log("still nothing");
    EXPECT_EQ(log.Count(), 0);
    Ch->SetDebugMode(true);
    Ch->Log("line");
    Ch->Log("");
    ASSERT_EQ(log.Count(), 2);
    EXPECT_EQ(log[0].substr(log[0].size() - 5), " line");
    EXPECT_EQ(log[1].back(), ' ');
    EXPECT_NE(log[0].find('.'), std::string::npos);
}

TEST_F(ChannelFixture, CallbackRemovalAndExtendedMessages)
{
    Ch->SetChannelNumber(5);
    Ch->SetDelay(40);
    Ch->SetDoChannelEventFunction(true);
    Ch->SetDoResponseFunction(true);
    EXPECT_TRUE(Ch->RemoveChannelEventFunction());
    EXPECT_FALSE(Ch->DoChannelEventFunction());
    EXPECT_TRUE(Ch->RemoveResponseFunction());
    EXPECT_FALSE(Ch->DoResponseFunction());
    Ch->EnableExtendedMessages(true);
    Ch->EnableExtendedMessages(false);
    auto calls = Lib.Calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].Name, "ANT_Nap");
    EXPECT_EQ(calls[0].Args[0], 40);
    EXPECT_EQ(calls[1].Name, "ANT_AssignChannelEventFunction");
    EXPECT_EQ(calls[1].Args, (std::vector<int>{5, 0}));
    EXPECT_EQ(calls[2].Name, "ANT_Nap");
    EXPECT_EQ(calls[3].Name, "ANT_AssignResponseFunction");
    EXPECT_EQ(calls[3].Args, (std::vector<int>{0}));
    EXPECT_EQ(calls[4].Args, (std::vector<int>{1}));
    EXPECT_EQ(calls[5].Args, (std::vector<int>{0}));
}

TEST_F(ChannelFixture, PostedEventsComeBackInOrderWithTheirRows)
{
    constexpr uint8_t Broadcast = 0x9A, Acknowledged = 0x9B;
    TThreadChannelMsg thread(nullptr);
    std::vector<std::pair<uint8_t, TAntRxRow>> events;
    std::vector<uint8_t> responses;
    thread.OnChannelEvent = [&](TAntChannel *c, uint8_t ev, const TAntRxRow &row) {
        EXPECT_EQ(c, Ch);
        events.emplace_back(ev, row);
    };
    thread.OnChannelResponse = [&](TAntChannel *c, uint8_t id) {
        EXPECT_EQ(c, Ch);
        responses.push_back(id);
    };
    TAntRxRow a{}, b{};
    a[1] = 1;
    b[1] = 2;
    EXPECT_FALSE(Ch->PostReceivedEvent(Broadcast, a)) << "no thread to post to";
    EXPECT_FALSE(Ch->PostResponse(0x40));
    Ch->SetEventThreadId(thread.ThreadID());
    EXPECT_FALSE(Ch->PostResponse(0x40)) << "responses go to their own thread id";
    Ch->SetResponseThreadId(thread.ThreadID());
    ASSERT_TRUE(Ch->PostReceivedEvent(Broadcast, a));
    ASSERT_TRUE(Ch->PostResponse(0x40));
    ASSERT_TRUE(Ch->PostReceivedEvent(Acknowledged, b));
    EXPECT_EQ(thread.QueuedCount(), 3u);

    thread.Start();
    WaitForWorker([&] {
        ProcessMessages();
        return events.size() == 2 && responses.size() == 1;
    });
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].first, Broadcast);
    EXPECT_EQ(events[0].second, a);
    EXPECT_EQ(events[1].first, Acknowledged);
    EXPECT_EQ(events[1].second, b);
    EXPECT_EQ(responses, std::vector<uint8_t>{0x40});
}
