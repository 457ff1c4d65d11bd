#include "FakeAntLib.h"
#include "LogLines.h"

#include "ant/AntComControl.h"
#include "ant/profiles/PageNumbers.h"
#include "framework/Strings.h"
#include "platform/UiThread.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TAntRxRow Row(std::initializer_list<int> payload, uint8_t channel = 0)
{
    TAntRxRow row{};
    row[0] = channel;
    size_t i = 1;
    for (int b : payload)
        row[i++] = static_cast<uint8_t>(b);
    return row;
}

struct DecoderFixture : ::testing::Test {
    TFakeAntLib Lib;
    TAntComControl Ctl{nullptr};
    TStringList Log;
    void SetUp() override
    {
        Ctl.SetLogStrings(&Log);
        Ctl.SetDebugMode(true);
    }
    TAntChannel *AddChannel(TAntChannelProfile profile)
    {
        TAntChannel *ch = Ctl.AntChannelList()->Add();
        ch->SetAntChannelProfile(profile);
        return ch;
    }
    void Feed(TAntChannel *ch, std::initializer_list<int> payload, uint8_t ev = EVENT_RX_BROADCAST)
    {
        Ctl.DoChannelMessage(&Ctl, ch, ev, Row(payload));
    }
    int LogCount(const std::string &tail) const { return LogLinesEndingWith(Log, tail); }
};

} // namespace

TEST_F(DecoderFixture, HeartRatePagesAndToggleBit)
{
    TAntChannel *ch = AddChannel(acpAntHR);
    auto *hr = static_cast<TANTProfileDataHR *>(ch->ProfileData());
    Feed(ch, {0x84, 0xAA, 0x34, 0x12, 0x00, 0x04, 7, 72});
    EXPECT_EQ(hr->PreviousHeartBeatEventTime(), 0x1234) << "0x84 is page 4 with the toggle set";
    EXPECT_EQ(hr->HeartBeatEventTime(), 0x0400);
    EXPECT_EQ(hr->HeartBeatCount(), 7);
    EXPECT_EQ(hr->ComputedHeartRate(), 72);

    Feed(ch, {0x01, 0x01, 0x02, 0x03, 0, 0, 8, 73});
    EXPECT_EQ(hr->CumulativeOperatingTime(), 0x030201);
    Feed(ch, {0x82, 0x0F, 0x34, 0x12, 0, 0, 9, 74});
    EXPECT_EQ(hr->ManufacturerId(), 15);
    EXPECT_EQ(hr->SerialNumber(), 0x1234);
    Feed(ch, {0x03, 5, 6, 7, 0, 0, 10, 75});
    EXPECT_EQ(hr->HardwareVersion(), 5);
    EXPECT_EQ(hr->SoftwareVersion(), 6);
    EXPECT_EQ(hr->ModelNumber(), 7);
    Feed(ch, {0x00, 0, 0, 0, 0, 0, 11, 76}, EVENT_RX_ACKNOWLEDGED);
    EXPECT_EQ(hr->ComputedHeartRate(), 76);
    Feed(ch, {0x00, 0, 0, 0, 0, 0, 12, 99}, 0x03);
    EXPECT_EQ(hr->ComputedHeartRate(), 76) << "only received data is decoded";
    EXPECT_EQ(hr->CumulativeOperatingTime(), 0x030201) << "other pages leave it";
}

TEST_F(DecoderFixture, SpeedAndCadenceComputation)
{
    TAntChannel *ch = AddChannel(acpAntSC);
    auto *sc = static_cast<TANTProfileDataSC *>(ch->ProfileData());
    sc->SetWheelCircumference(2096.0L);
    Feed(ch, {0x00, 0x04, 10, 0, 0x00, 0x08, 100, 0});
    // One crank revolution in 512 ticks: 120 rpm; one wheel turn in 1024 ticks: 7.5456 km/h.
    Feed(ch, {0x00, 0x06, 11, 0, 0x00, 0x0C, 101, 0});
    EXPECT_EQ(sc->Cadence(), 120);
    EXPECT_NEAR(static_cast<double>(sc->Speed()), 7.5456, 1e-9);
    EXPECT_EQ(sc->PreviousSpeedRevolutions(), 101);

    // 60 * 1024 / 700 = 87.77 -> 88.
    Feed(ch, {0xBC, 0x08, 12, 0, 0x00, 0x0C, 101, 0});
    EXPECT_EQ(sc->Cadence(), 88);
    EXPECT_NEAR(static_cast<double>(sc->Speed()), 7.5456, 1e-9) << "no new revolution keeps the speed";

    // Revolution counter rolled over: negative step gives 0.
    Feed(ch, {0xBC, 0x08, 12, 0, 0x00, 0x10, 0, 0});
    EXPECT_EQ(sc->Speed(), 0.0L);
    // Very slow: below 0.4 km/h is 0.
    Feed(ch, {0xBC, 0x08, 12, 0, 0x00, 0xFF, 1, 0});
    EXPECT_EQ(sc->Speed(), 0.0L);
}

TEST_F(DecoderFixture, CadenceStallsAtTheFortyFirstQuietPage)
{
    TAntChannel *ch = AddChannel(acpAntSC);
    auto *sc = static_cast<TANTProfileDataSC *>(ch->ProfileData());
    Feed(ch, {0x00, 0x04, 10, 0, 0, 0, 0, 0});
    Feed(ch, {0x00, 0x08, 11, 0, 0, 0, 0, 0});
    ASSERT_EQ(sc->Cadence(), 60);
    for (int i = 1; i <= 40; ++i)
        Feed(ch, {0x00, 0x08, 11, 0, 0, 0, 0, 0});
    EXPECT_EQ(sc->Cadence(), 60) << "40 quiet pages keep the cadence";
    Feed(ch, {0x00, 0x08, 11, 0, 0, 0, 0, 0});
    EXPECT_EQ(sc->Cadence(), 0);

    // A new cadence value resets the counter.
    Feed(ch, {0x00, 0x0C, 12, 0, 0, 0, 0, 0});
    EXPECT_EQ(sc->Cadence(), 60);
    EXPECT_EQ(Ctl.CadenceStallCount(), 0);
    for (int i = 1; i <= 40; ++i)
        Feed(ch, {0x00, 0x0C, 12, 0, 0, 0, 0, 0});
    EXPECT_EQ(sc->Cadence(), 60);

    // A new event time without a new revolution is neither a stall nor a value.
    Feed(ch, {0x00, 0x0D, 12, 0, 0, 0, 0, 0});
    EXPECT_EQ(Ctl.CadenceStallCount(), 40);
}

TEST_F(DecoderFixture, StallCounterIsSharedByTheCadenceDecoders)
{
    TAntChannel *sc = AddChannel(acpAntSC);
    TAntChannel *cad = AddChannel(acpAntCad);
    Feed(sc, {0x00, 0x04, 10, 0, 0, 0, 0, 0});
    Feed(sc, {0x00, 0x08, 11, 0, 0, 0, 0, 0});
    Feed(cad, {0x00, 0, 0, 0, 0x00, 0x04, 10, 0});
    Feed(cad, {0x00, 0, 0, 0, 0x00, 0x08, 11, 0});
    auto *scRec = static_cast<TANTProfileDataSC *>(sc->ProfileData());
    auto *cadRec = static_cast<TAntProfileDataCadence *>(cad->ProfileData());
    ASSERT_EQ(scRec->Cadence(), 60);
    ASSERT_EQ(cadRec->Cadence(), 60);
    for (int i = 0; i < 20; ++i) {
        Feed(sc, {0x00, 0x08, 11, 0, 0, 0, 0, 0});
        Feed(cad, {0x00, 0, 0, 0, 0x00, 0x08, 11, 0});
    }
    EXPECT_EQ(Ctl.CadenceStallCount(), 40);
    Feed(sc, {0x00, 0x08, 11, 0, 0, 0, 0, 0});
    EXPECT_EQ(scRec->Cadence(), 0) << "the 21st quiet page of one sensor";
    Feed(cad, {0x00, 0, 0, 0, 0x00, 0x08, 11, 0});
    EXPECT_EQ(cadRec->Cadence(), 0);
}

TEST_F(DecoderFixture, CadenceSensorPages)
{
    TAntChannel *ch = AddChannel(acpAntCad);
    auto *cad = static_cast<TAntProfileDataCadence *>(ch->ProfileData());
    Feed(ch, {0x81, 1, 2, 3, 0x00, 0x04, 5, 0});
    EXPECT_EQ(cad->CumulativeOperatingTime(), 0x030201);
    EXPECT_EQ(cad->PreviousCadenceEventTime(), 0x0400);
    EXPECT_EQ(cad->PreviousCadenceRevolutions(), 5);
    Feed(ch, {0x02, 9, 0x22, 0x11, 0x00, 0x04, 5, 0});
    EXPECT_EQ(cad->ManufacturerId(), 9);
    EXPECT_EQ(cad->SerialNumber(), 0x1122);
    Feed(ch, {0x83, 4, 5, 6, 0x00, 0x04, 5, 0});
    EXPECT_EQ(cad->HardwareVersion(), 4);
    EXPECT_EQ(cad->SoftwareVersion(), 5);
    EXPECT_EQ(cad->ModelNumber(), 6);
}

TEST_F(DecoderFixture, FitnessEquipmentGeneralData)
{
    TAntChannel *ch = AddChannel(acpAntFE);
    auto *fe = static_cast<TAntProfileFE *>(ch->ProfileData());
    ch->SetDistanceState(dsRunning);
    // Trainer (25), elapsed 250, distance 100, 10.000 m/s, HR 120, source 2, distance on, virtual.
    Feed(ch, {FePageGeneral, 25, 250, 100, 0x10, 0x27, 120, 0x0E});
    EXPECT_EQ(fe->EquipmentType(), 8);
    EXPECT_NEAR(static_cast<double>(fe->Speed()), 36.0, 1e-9);
    EXPECT_EQ(fe->HeartRate(), 120);
    EXPECT_EQ(fe->HeartRateSource(), 2);
    EXPECT_TRUE(fe->DistanceEnabled());
    EXPECT_TRUE(fe->VirtualSpeed());
    double elapsed = fe->ElapsedTime();
    double distance = fe->Distance();

    Feed(ch, {FePageGeneral, 25, 2, 110, 0, 0, 0, 0x04});
    EXPECT_DOUBLE_EQ(fe->ElapsedTime() - elapsed, 2.0) << "250 -> 2 rolls over: 8 quarter seconds";
    EXPECT_DOUBLE_EQ(fe->Distance() - distance, 10.0);

    ch->SetDistanceState(dsPause);
    Feed(ch, {FePageGeneral, 25, 6, 150, 0, 0, 0, 0x04});
    EXPECT_DOUBLE_EQ(fe->Distance() - distance, 10.0) << "paused: nothing added";
    EXPECT_EQ(fe->PreviousDistanceRaw(), 150);
    ch->SetDistanceState(dsRunning);
    Feed(ch, {FePageGeneral, 25, 10, 5, 0, 0, 0, 0x04});
    EXPECT_DOUBLE_EQ(fe->Distance() - distance, 10.0 + 111.0) << "150 -> 5 rolls over; no jump from the pause";

    Feed(ch, {FePageGeneral, 25, 14, 20, 0, 0, 0, 0x00});
    EXPECT_DOUBLE_EQ(fe->Distance() - distance, 121.0) << "trainer reports no distance";
    Feed(ch, {FePageGeneral, 18, 14, 20, 0, 0, 0, 0x00});
    EXPECT_EQ(fe->EquipmentType(), 0);
}

TEST_F(DecoderFixture, FitnessEquipmentSettingsTrainerDataAndState)
{
    TAntChannel *ch = AddChannel(acpAntFE);
    ch->SetChannelNumber(4);
    ch->SetConnected(true);
    ch->SetWheelDiameter(700);
    ch->AcknowledgedCompleted(); // the trainer took the diameter
    Lib.Clear();
    auto *fe = static_cast<TAntProfileFE *>(ch->ProfileData());

    Feed(ch, {FePageGeneralSettings, 0xFF, 0xFF, 210, 0x9C, 0xFF, 100, 0x20});
    EXPECT_NEAR(static_cast<double>(fe->CycleLength()), 2.10, 1e-12);
    EXPECT_NEAR(static_cast<double>(fe->Incline()), -1.0, 1e-12);
    EXPECT_NEAR(static_cast<double>(fe->ResistanceLevel()), 50.0, 1e-12);
    EXPECT_EQ(fe->FeState(), 2);

    Feed(ch, {FePageTrainerData, 7, 90, 0x34, 0x12, 0xFF, 0x0F, 0x30});
    EXPECT_EQ(fe->UpdateEventCount(), 7);
    EXPECT_EQ(fe->InstantaneousCadence(), 90);
    EXPECT_EQ(fe->AccumulatedPower(), 0x1234);
    EXPECT_EQ(fe->InstantaneousPower(), 4095) << "invalid value stored as received";
    EXPECT_EQ(fe->FeState(), 3);
    EXPECT_TRUE(Lib.Calls("ANT_SendAcknowledgedData").empty());

    Feed(ch, {FePageTrainerData, 8, 90, 0, 0, 0x2C, 0x41, 0xB1});
    EXPECT_EQ(fe->FeState(), 3) << "0xB0: lap toggle set, state unchanged";
    EXPECT_EQ(fe->InstantaneousPower(), 0x12C);
    EXPECT_EQ(fe->TargetPowerStatus(), 1);
    auto sent = Lib.Calls("ANT_SendAcknowledgedData");
    ASSERT_EQ(sent.size(), 1u) << "user configuration requested";
    EXPECT_EQ(sent[0].Args[0], 4);
    EXPECT_EQ(sent[0].Data, (std::array<uint8_t, 8>{FePageUserConfiguration, 0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 70, 0x00}));
    EXPECT_EQ(ch->SendPacket(), sent[0].Data);
    EXPECT_EQ(LogCount("DP25 User Configuration Requested"), 1);
    EXPECT_EQ(LogCount("DP55 Send User Configuration  - Diam:700"), 1);

    Feed(ch, {FePageTrainerData, 9, 0, 0, 0, 0, 0, 0x50});
    EXPECT_EQ(fe->FeState(), 3) << "state 5 is not a state";
    Feed(ch, {FePageTrainerData, 9, 0, 0, 0, 0, 0, 0x40});
    EXPECT_EQ(fe->FeState(), 4);
}

TEST_F(DecoderFixture, FitnessEquipmentCapabilitiesAndIdentification)
{
    TAntChannel *ch = AddChannel(acpAntFE);
    auto *fe = static_cast<TAntProfileFE *>(ch->ProfileData());
    Feed(ch, {FePageCapabilities, 0xFF, 0xFF, 0xFF, 0xFF, 0xE8, 0x03, 0x07});
    EXPECT_EQ(fe->MaximumResistance(), 1000);
    EXPECT_TRUE(fe->BasicResistanceSupported());
    EXPECT_TRUE(fe->TargetPowerSupported());
    EXPECT_TRUE(fe->SimulationSupported());
    ASSERT_GE(Log.Count(), 3);
    int n = Log.Count();
    EXPECT_NE(Log[n - 3].find("DP_FE_CAPABILITIES - Power supported"), std::string::npos);
    EXPECT_NE(Log[n - 2].find("DP_FE_CAPABILITIES - Basic Res supported"), std::string::npos);
    EXPECT_NE(Log[n - 1].find("DP_FE_CAPABILITIES - Simulation supported"), std::string::npos);
    Feed(ch, {FePageCapabilities, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x02});
    EXPECT_FALSE(fe->BasicResistanceSupported());
    EXPECT_EQ(LogCount("DP_FE_CAPABILITIES - Power supported"), 2);
    EXPECT_EQ(LogCount("DP_FE_CAPABILITIES - Basic Res supported"), 1);

    Feed(ch, {CommonPageManufacturerInfo, 0xFF, 0xFF, 3, 0x59, 0x01, 0x34, 0x12});
    EXPECT_EQ(fe->HardwareVersion(), 3);
    EXPECT_EQ(fe->ManufacturerId(), 0x0159);
    EXPECT_EQ(fe->ModelNumber(), 0x34) << "only the low byte of the model number";
    Feed(ch, {CommonPageProductInfo, 0xFF, 2, 31, 0x78, 0x56, 0x34, 0x92});
    EXPECT_EQ(fe->SoftwareRevisionSupplemental(), 2);
    EXPECT_EQ(fe->SoftwareRevision(), 31);
    EXPECT_EQ(static_cast<uint32_t>(fe->SerialNumber()), 0x92345678u);
}

TEST_F(DecoderFixture, FitnessEquipmentCalibrationPages)
{
    TAntChannel *ch = AddChannel(acpAntFE);
    auto *fe = static_cast<TAntProfileFE *>(ch->ProfileData());
    std::vector<TAntCalibrationStatus> raised;
    ch->OnCalibrationStatus = [&](TObject *s, TAntCalibrationStatus st) {
        EXPECT_EQ(s, ch);
        raised.push_back(st);
    };
    Feed(ch, {FePageCalibrationProgress, 0, 0x40, 0, 0, 0, 0, 0});
    Feed(ch, {FePageCalibrationProgress, 0, 0x80, 0, 0, 0, 0, 0});
    EXPECT_EQ(fe->CalibrationStatus(), acsSpeedOk);
    Feed(ch, {FePageCalibrationProgress, 0, 0xC0, 0, 0, 0, 0, 0});
    EXPECT_EQ(fe->CalibrationStatus(), acsSpeedOk) << "condition 3 changes nothing";
    Feed(ch, {FePageCalibrationResponse, 0x40, 0, 0, 0x10, 0x02, 0, 0});
    EXPECT_EQ(fe->ZeroOffset(), 0x0210);
    Feed(ch, {FePageCalibrationResponse, 0x80, 0, 0, 0, 0, 0, 0});
    Feed(ch, {FePageCalibrationResponse, 0x00, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(raised, (std::vector<TAntCalibrationStatus>{acsSpeedTooLow, acsSpeedOk, acsZeroOffsetDone,
                                                          acsCalibrationFailed}));
    EXPECT_EQ(fe->CalibrationStatus(), acsCalibrationFailed);
    EXPECT_EQ(fe->ZeroOffset(), 0x0210);
}

TEST_F(DecoderFixture, ConsoleKeysLatchAndKeepAlive)
{
    TAntChannel *ch = AddChannel(acpAntConsole);
    ch->SetChannelNumber(2);
    ch->SetConnected(true);
    ch->SetEventCount(1);
    std::vector<TConsoleKey> keys;
    ch->OnConsoleKeyDown = [&](TObject *, TConsoleKey k) { keys.push_back(k); };

    Feed(ch, {5, 1, 0, 0, 0, 0, 0, 0});
    Feed(ch, {5, 1, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(keys, (std::vector<TConsoleKey>{ckPlus})) << "a held key raises once";
    Feed(ch, {5, 0, 0, 0, 0, 0, 0, 0});
    Feed(ch, {5, 1, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_EQ(LogCount("Console Plus (low level)"), 2);

    keys.clear();
    Feed(ch, {5, 0, 0, 0, 0, 0, 0, 0});
    Feed(ch, {6, 1, 1, 1, 1, 0, 0, 0});
    EXPECT_EQ(keys, (std::vector<TConsoleKey>{ckMinus, ckEnter, ckTab})) << "no Plus outside page 5";
    EXPECT_FALSE(Ctl.KeyLatch(ckPlus));
    EXPECT_TRUE(Ctl.KeyLatch(ckTab));
    EXPECT_TRUE(Lib.Calls("ANT_SendBroadcastData").empty());

    ch->SetEventCount(100);
    Feed(ch, {6, 0, 0, 0, 0, 0, 0, 0});
    auto kal = Lib.Calls("ANT_SendBroadcastData");
    ASSERT_EQ(kal.size(), 1u);
    EXPECT_EQ(kal[0].Args[0], 2);
    EXPECT_EQ(kal[0].Data, (std::array<uint8_t, 8>{0x0A, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(LogCount("Sent KAL to console"), 1);

    // Not connected: the key event has been raised before the keep-alive fails.
    ch->SetConnected(false);
    keys.clear();
    try {
        Feed(ch, {6, 0, 1, 0, 0, 0, 0, 0});
        FAIL() << "keep-alive on a closed channel must raise";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "Channel not connected (TAntComControl.SendBroadcastData).");
    }
    EXPECT_EQ(keys, (std::vector<TConsoleKey>{ckMinus}));
}

TEST_F(DecoderFixture, PedalPagesFillOneRecordPerSeries)
{
    TAntChannel *ch = AddChannel(acpAntUlmoraPA);
    auto *pa = static_cast<TANTUlmoraPAData *>(ch->ProfileData());
    std::vector<int> done;
    ch->OnPADataReceived = [&](TObject *, int32_t i) { done.push_back(i); };

    Feed(ch, {3, 0, 0x11, 0x01, 0, 0, 0, 0});
    EXPECT_TRUE(pa->PedalRecords.empty()) << "no record before a packet 1";
    Feed(ch, {1, 0x5A, 0x23, 0xF1, 0x45, 0x02, 0x67, 0x03});
    ASSERT_EQ(pa->PedalRecords.size(), 1u);
    EXPECT_EQ(pa->PedalRecords[0].StartByte, 0x5A);
    EXPECT_EQ(pa->PedalRecords[0].Samples[0], 0x123) << "high nibble of byte 3 unused in packet 1";
    EXPECT_EQ(pa->PedalRecords[0].Samples[1], 0x245);
    EXPECT_EQ(pa->PedalRecords[0].Samples[2], 0x367);
    // Speed 0x1F4 = 500 -> 5.00 m/s = 18 km/h.
    Feed(ch, {2, 0xF4, 0x01, 0x10, 0, 0, 0, 0});
    EXPECT_NEAR(static_cast<double>(pa->PedalRecords[0].Speed), 18.0, 1e-9);
    EXPECT_EQ(pa->PedalRecords[0].Samples[3], 0x001);
    EXPECT_EQ(pa->PedalRecords[0].Samples[6], 0x00FF) << "missing packet 3 leaves 0x00FF";
    Feed(ch, {0, 1, 1, 1, 1, 1, 1, 1});
    Feed(ch, {9, 1, 1, 1, 1, 1, 1, 1});
    EXPECT_EQ(pa->PedalRecords[0].Samples[6], 0x00FF);
    Feed(ch, {8, 0, 0xFF, 0x0F, 0, 0, 1, 0});
    EXPECT_EQ(pa->PedalRecords[0].Samples[21], 0xFFF);
    EXPECT_EQ(pa->PedalRecords[0].Samples[23], 1);
    EXPECT_EQ(done, (std::vector<int>{0}));
    EXPECT_EQ(LogCount("- Latest PA packet (close) - Latest packet index = 0"), 1);
    EXPECT_EQ(LogCount("- Debug PA packet n\u00B02"), 1);

    Feed(ch, {1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(pa->PedalRecords.size(), 2u);
    EXPECT_EQ(pa->CurrentIndex(), 1);
}

TEST_F(DecoderFixture, DispatchRaisesForEveryEventAndTakesTheCarriedRow)
{
    std::vector<int> events;
    Ctl.OnChannelMessage = [&](TObject *s, TAntChannel *, uint8_t ev) {
        EXPECT_EQ(s, &Ctl);
        events.push_back(ev);
    };
    TAntChannel *none = AddChannel(acpUnAssigned);
    TAntChannel *hr = AddChannel(acpAntHR);
    Ctl.DoChannelMessage(&Ctl, none, EVENT_RX_BROADCAST, Row({0, 0, 0, 0, 0, 0, 0, 60}));
    Ctl.DoChannelMessage(&Ctl, hr, 0x05, Row({0, 0, 0, 0, 0, 0, 0, 60}));

    // Through the message thread: the row that travelled with each event is decoded, not
    // the newest one.
    std::vector<int> rates;
    Ctl.OnChannelMessage = [&](TObject *s, TAntChannel *ch, uint8_t ev) {
        EXPECT_EQ(s, &Ctl);
        events.push_back(ev);
        rates.push_back(static_cast<TANTProfileDataHR *>(ch->ProfileData())->ComputedHeartRate());
    };
    TThreadChannelMsg *thread = Ctl.MessageThread();
    hr->SetEventThreadId(thread->ThreadID());
    ASSERT_TRUE(hr->PostReceivedEvent(EVENT_RX_BROADCAST, Row({0, 0, 0, 0, 0, 0, 0, 61})));
    ASSERT_TRUE(hr->PostReceivedEvent(EVENT_RX_BROADCAST, Row({0, 0, 0, 0, 0, 0, 0, 62})));
    thread->Start();
    WaitForWorker([&] {
        ProcessMessages();
        return rates.size() == 2;
    });
    EXPECT_EQ(rates, (std::vector<int>{61, 62}));
    EXPECT_EQ(events, (std::vector<int>{0x9A, 0x05, 0x9A, 0x9A}));

    std::vector<int> responses;
    Ctl.OnResponseMessage = [&](TObject *, TAntChannel *c, uint8_t id) {
        EXPECT_EQ(c, hr);
        responses.push_back(id);
    };
    Ctl.DoResponseMessage(hr, 0x40);
    EXPECT_EQ(responses, (std::vector<int>{0x40}));
}

TEST_F(DecoderFixture, WithLoggingOffEventsAndSendsStillHappen)
{
    Ctl.SetDebugMode(false);
    TAntChannel *pedal = AddChannel(acpAntUlmoraPA);
    std::vector<int> done;
    pedal->OnPADataReceived = [&](TObject *, int32_t i) { done.push_back(i); };
    Feed(pedal, {PedalPacketFirst, 0, 0, 0, 0, 0, 0, 0});
    Feed(pedal, {PedalPacketLast, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(done, (std::vector<int>{0}));

    TAntChannel *console = AddChannel(acpAntConsole);
    console->SetConnected(true);
    console->SetEventCount(50);
    std::vector<TConsoleKey> keys;
    console->OnConsoleKeyDown = [&](TObject *, TConsoleKey k) { keys.push_back(k); };
    Feed(console, {ConsolePageKeys, 1, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(keys, (std::vector<TConsoleKey>{ckPlus}));
    EXPECT_EQ(Lib.Calls("ANT_SendBroadcastData").size(), 1u);
    EXPECT_EQ(Log.Count(), 0);
}
