#include "FakeAntLib.h"
#include "LogLines.h"

#include "ant/channels/AntChannelList.h"
#include "ant/channels/TrainerCommands.h"
#include "ant/profiles/PageNumbers.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using Bytes = std::array<uint8_t, 8>;

struct TrainerFixture : ::testing::Test {
    TFakeAntLib Lib;
    TAntChannelList List{nullptr};
    TAntChannel *Ch = List.Add();
    TStringList Log;
    void SetUp() override
    {
        Ch->SetChannelNumber(3);
        Ch->SetAntChannelProfile(acpAntFE);
        Ch->SetLogStrings(&Log);
        Ch->SetDebugMode(true);
    }
    std::vector<Bytes> Sent() const
    {
        std::vector<Bytes> out;
        for (const auto &c : Lib.Calls("ANT_SendAcknowledgedData")) {
            EXPECT_EQ(c.Args[0], 3);
            out.push_back(c.Data);
        }
        return out;
    }
    bool Logged(const std::string &tail) const { return LogLinesEndingWith(Log, tail) > 0; }
    // The trainer took the page in flight: the next one may go.
    void Acked() { Ch->AcknowledgedCompleted(); }
    void MakeActive()
    {
        Ch->SetConnected(true);
        Ch->SetChannelState(chsActive);
    }
};

} // namespace

TEST(TrainerPages, BuiltByteForByte)
{
    EXPECT_EQ(BuildBasicResistancePage(40), (Bytes{FePageBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 40}));
    EXPECT_EQ(BuildBasicResistancePage(250), (Bytes{FePageBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 200}));
    EXPECT_EQ(BuildTargetPowerPage(250), (Bytes{FePageTargetPower, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xE8, 0x03}));
    EXPECT_EQ(BuildTrackResistancePage(0.0), (Bytes{FePageTrackResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0x4E, 0xFF}));
    EXPECT_EQ(BuildTrackResistancePage(-1.5), (Bytes{FePageTrackResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0x8A, 0x4D, 0xFF}));
    EXPECT_EQ(BuildTrackResistancePage(2.5), (Bytes{FePageTrackResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0x1A, 0x4F, 0xFF}));
    EXPECT_EQ(BuildTrackResistancePage(-0.005),
              (Bytes{FePageTrackResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F, 0x4E, 0xFF}))
        << "19999.5 truncated toward zero";
    EXPECT_EQ(BuildUserConfigurationPage(75, 659, true),
              (Bytes{FePageUserConfiguration, 0x4C, 0x1D, 0xFF, 0xF9, 0xFF, 0x41, 0x00}));
    EXPECT_EQ(BuildUserConfigurationPage(75, 659, false),
              (Bytes{FePageUserConfiguration, 0xFF, 0xFF, 0xFF, 0xF9, 0xFF, 0x41, 0x00}));
    EXPECT_EQ(BuildUserConfigurationPage(0, 2560, true),
              (Bytes{FePageUserConfiguration, 0x00, 0x00, 0xFF, 0xF0, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(BuildUserConfigurationPage(0, 700, true)[4], 0xF0);
    EXPECT_EQ(BuildRequestCapabilitiesPage(),
              (Bytes{CommonPageRequest, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, FePageCapabilities, 0x01}));
}

TEST(TrainerPages, CalibrationRequestAndCancel)
{
    EXPECT_EQ(BuildCalibrationRequestPage(true, false), 
              (Bytes{0x01, 0x40, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(BuildCalibrationRequestPage(false, true), 
              (Bytes{0x01, 0x80, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(BuildCalibrationRequestPage(true, true), 
              (Bytes{0x01, 0xC0, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(BuildCalibrationCancelPage(), (Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(TrainerPages, OutOfRangeValuesAreHeldInsteadOfWrapped)
{
    // 656 kg would wrap to 0.64 kg; 0xFFFF means "not given".
    EXPECT_EQ(BuildUserConfigurationPage(656, 659, true)[1], 0xFE);
    EXPECT_EQ(BuildUserConfigurationPage(656, 659, true)[2], 0xFF);
    EXPECT_EQ(BuildUserConfigurationPage(-3, 659, true)[1], 0x00);
    EXPECT_EQ(BuildUserConfigurationPage(-3, 659, true)[2], 0x00);
    EXPECT_EQ(BuildUserConfigurationPage(75, -659, true)[4], 0xF0);
    EXPECT_EQ(BuildUserConfigurationPage(75, -659, true)[6], 0x00);
    // 16384 W would wrap to 0 W.
    EXPECT_EQ(BuildTargetPowerPage(16384)[6], 0xFF);
    EXPECT_EQ(BuildTargetPowerPage(16384)[7], 0xFF);
    // A descent past -200 % must not become a climb; NaN and huge grades stay in range.
    EXPECT_EQ(BuildTrackResistancePage(-300.0)[5], 0x00);
    EXPECT_EQ(BuildTrackResistancePage(-300.0)[6], 0x00);
    EXPECT_EQ(BuildTrackResistancePage(1e300)[5], 0xFE);
    EXPECT_EQ(BuildTrackResistancePage(1e300)[6], 0xFF);
    EXPECT_EQ(BuildTrackResistancePage(std::nan(""))[6], 0x00);
}

TEST_F(TrainerFixture, SendResistanceRemembersAndSendsEvenWhenNotConnected)
{
    Ch->SendResistance(250);
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], (Bytes{FePageBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 200}));
    EXPECT_EQ(Ch->SendPacket(), Sent()[0]);
    EXPECT_EQ(Ch->LastResistance(), 200);
    EXPECT_EQ(Ch->LastTargetPower(), -1);
    EXPECT_EQ(Ch->LastSlope(), -1000.0f);
    EXPECT_TRUE(Logged("SendResistance [ 30 FF FF FF FF FF FF C8]"));
    EXPECT_TRUE(Logged("ANT_SendAcknowledgedData - SendResistance [200]"));

    TAntChannel *hr = List.Add();
    hr->SetAntChannelProfile(acpAntHR);
    hr->SendResistance(10);
    EXPECT_EQ(Sent().size(), 1u) << "only an FE-C channel sends resistance";
    EXPECT_EQ(hr->LastResistance(), -1);
}

TEST_F(TrainerFixture, PowerAndSlopeNeedAConnectedChannel)
{
    Ch->SendResistance(20);
    Acked();
    Ch->SendPower(250);
    Ch->SendSlope(1.0);
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Ch->LastResistance(), 20) << "nothing changes, the memory included";

    Ch->SetConnected(true);
    Ch->SendPower(250);
    Acked();
    EXPECT_EQ(Sent().back(), (Bytes{FePageTargetPower, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xE8, 0x03}));
    EXPECT_EQ(Ch->LastTargetPower(), 250);
    EXPECT_EQ(Ch->LastResistance(), -1);
    EXPECT_TRUE(Logged("ANT_SendAcknowledgedData - Send Power [250w]"));

    SetFormatSettingsOverride(TFormatSettings{',', "hh:nn:ss"});
    Ch->SendSlope(-1.5);
    SetFormatSettingsOverride(std::nullopt);
    EXPECT_EQ(Sent().back(), (Bytes{FePageTrackResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0x8A, 0x4D, 0xFF}));
    EXPECT_EQ(Ch->LastSlope(), -1.5f);
    EXPECT_EQ(Ch->LastTargetPower(), -1);
    EXPECT_TRUE(Logged("ANT_SendAcknowledgedData - Send slope [-1,5%]"));
}

TEST_F(TrainerFixture, RepeatSendsOnlyTheLastCommandWhileActive)
{
    Ch->SetConnected(true);
    Ch->SendPower(150);
    Acked();
    Ch->SendResistance(40);
    Acked();
    Lib.Clear();
    Ch->repeatLastCommand();
    EXPECT_EQ(Sent().size(), 0u) << "connected but not active";
    Ch->SetChannelState(chsActive);
    Ch->repeatLastCommand();
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], (Bytes{FePageBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 40}));
    Acked();

    Ch->SendSlope(0.0);
    Acked();
    Lib.Clear();
    Ch->repeatLastCommand();
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0][0], 0x33);
    Acked();

    Ch->SetChannelState(chsConnectionLost);
    Lib.Clear();
    Ch->repeatLastCommand();
    EXPECT_EQ(Sent().size(), 0u);

    Ch->SetChannelState(chsActive);
    Ch->StopDistance();
    Ch->repeatLastCommand();
    EXPECT_EQ(Sent().size(), 0u) << "stopping ends the repetition";
    Ch->SendPower(100);
    Ch->PauseDistance();
    Lib.Clear();
    Ch->repeatLastCommand();
    EXPECT_EQ(Sent().size(), 0u);
}

TEST_F(TrainerFixture, UserConfigurationFromTheSetters)
{
    Ch->SetUserWeight(75);
    Acked();
    ASSERT_EQ(Sent().size(), 1u) << "weight sends also when not connected";
    EXPECT_EQ(Sent()[0], (Bytes{FePageUserConfiguration, 0x4C, 0x1D, 0xFF, 0xF9, 0xFF, 0x41, 0x00}));
    EXPECT_TRUE(Logged("DP55 Send User Configuration - Diam:659"));
    Ch->SetWheelDiameter(700);
    EXPECT_EQ(Sent().size(), 1u) << "diameter sends only when connected";
    EXPECT_EQ(Ch->WheelDiameter(), 700);
    Ch->SetConnected(true);
    Ch->SetWheelDiameter(700);
    ASSERT_EQ(Sent().size(), 2u) << "stored and sent without comparing";
    EXPECT_EQ(Sent()[1], (Bytes{FePageUserConfiguration, 0x4C, 0x1D, 0xFF, 0xF0, 0xFF, 70, 0x00}));
}

TEST_F(TrainerFixture, DistanceStatesAndReset)
{
    auto *fe = static_cast<TAntProfileFE *>(Ch->ProfileData());
    fe->SetElapsedTimeRaw(10);
    fe->SetDistanceRaw(33);
    fe->SetDistance(500.0);
    fe->SetElapsedTime(100.0);
    Ch->SetConnected(true);
    Ch->SendResistance(20);
    Acked();

    Ch->PauseDistance();
    EXPECT_EQ(Ch->DistanceState(), dsPause);
    Ch->StartDistance();
    EXPECT_EQ(Ch->DistanceState(), dsRunning);
    EXPECT_EQ(fe->Distance(), 500.0) << "starting from pause keeps the distance";
    EXPECT_EQ(Sent().back()[0], 0x37) << "start sends the user configuration";

    Acked();
    Ch->StopDistance();
    Ch->SendResistance(30);
    Acked();
    Ch->StartDistance();
    EXPECT_EQ(fe->Distance(), 0.0);
    EXPECT_EQ(fe->ElapsedTime(), 0.0);
    EXPECT_EQ(fe->PreviousElapsedTimeRaw(), 10);
    EXPECT_EQ(fe->PreviousDistanceRaw(), 33);
    EXPECT_EQ(fe->DistanceAtReset(), 33.0);
    EXPECT_EQ(fe->ElapsedTimeAtReset(), 2.5);
    EXPECT_EQ(Ch->LastResistance(), -1) << "reset clears the command memory";
    EXPECT_TRUE(Logged("Reset Data"));

    TAntChannel *hr = List.Add();
    hr->SetAntChannelProfile(acpAntHR);
    hr->ResetData();
    EXPECT_EQ(hr->DistanceState(), dsStop) << "reset only acts on an FE-C channel";
}

TEST_F(TrainerFixture, CalibrationRequestGoesOutAcknowledgedThroughTheHold)
{
    EXPECT_FALSE(Ch->SendCalibrationRequest(false, true)) << "not connected";
    EXPECT_TRUE(Sent().empty());
    TAntChannel *hr = List.Add();
    hr->SetAntChannelProfile(acpAntHR);
    hr->SetConnected(true);
    EXPECT_FALSE(hr->SendCalibrationRequest(false, true)) << "only an FE-C channel";

    MakeActive();
    Ch->SendResistance(40);
    EXPECT_TRUE(Ch->SendCalibrationRequest(false, true));
    ASSERT_EQ(Sent().size(), 1u) << "held while page 48 waits for its verdict";
    Acked();
    ASSERT_EQ(Sent().size(), 2u);
    EXPECT_EQ(Sent()[1], (Bytes{0x01, 0x80, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Lib.Calls("ANT_SendBroadcastData").size(), 0u);
    EXPECT_TRUE(Logged("Send calibration request [ 01 80 00 FF FF FF FF FF]"));

    // A failed transfer sends the request again, like any acknowledged page.
    EXPECT_TRUE(Ch->AcknowledgedFailed());
    EXPECT_EQ(Sent().back(), (Bytes{0x01, 0x80, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    Acked();

    EXPECT_TRUE(Ch->SendCalibrationCancel());
    EXPECT_EQ(Sent().back(), (Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    Acked();
    EXPECT_TRUE(Logged("Send calibration cancel [ 01 00 00 FF FF FF FF FF]"));

    // The request is no command to repeat; the level stays the one repeated.
    EXPECT_EQ(Ch->LastResistance(), 40);
    Lib.Clear();
    Ch->repeatLastCommand();
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0][0], FePageBasicResistance);
}
