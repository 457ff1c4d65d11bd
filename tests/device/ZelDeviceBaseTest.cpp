// The device base: starting values, the modulo-2^32 tolerance check, the design-time heart
// alarm clamps, assignment, ride-state events, the statistics tick and streaming defaults.
#include "device/ZelDeviceBaseClasses.h"

#include "TestSupport.h"

#include "framework/Exception.h"
#include "framework/Streams.h"
#include "persist/PersistentStreamer.h"
#include "platform/Beep.h"

#include <string>
#include <thread>
#include <vector>

namespace {

// Records the order in which the measurement setters are called and counts DoStats.
class TRecordingDevice : public TZelCustomDevice {
public:
    using TZelCustomDevice::TZelCustomDevice;
    std::vector<std::string> Calls;
    int Stats = 0;
    std::thread::id StatsThread;

    void SetSpeed(double Value) override
    {
        Calls.push_back("Speed");
        TZelCustomDevice::SetSpeed(Value);
    }
    void SetDistance(double Value) override
    {
        Calls.push_back("Distance");
        TZelCustomDevice::SetDistance(Value);
    }
    void SetHeartRate(int32_t Value) override
    {
        Calls.push_back("HeartRate");
        TZelCustomDevice::SetHeartRate(Value);
    }
    void SetCadence(int32_t Value) override
    {
        Calls.push_back("Cadence");
        TZelCustomDevice::SetCadence(Value);
    }
    void DoStats() override
    {
        ++Stats;
        StatsThread = std::this_thread::get_id();
        TZelCustomDevice::DoStats();
    }
};

class BeepCounter {
public:
    BeepCounter()
    {
        SetBeepSink([this] { ++Count; });
    }
    ~BeepCounter() { SetBeepSink(nullptr); }
    int Count = 0;
};

} // namespace

TEST(ZelDevice, ANewDeviceStartsWithItsDocumentedValues)
{
    TZelCustomDevice device(nullptr);
    EXPECT_EQ(device.RiderId(), -1);
    EXPECT_EQ(device.RiderName(), "");
    EXPECT_EQ(device.HeartMaxLimit(), 220);
    EXPECT_EQ(device.HeartUpperLimit(), 0);
    EXPECT_EQ(device.HeartLowerLimit(), 0);
    EXPECT_DOUBLE_EQ(device.BikeWeight(), 10.0);
    EXPECT_EQ(device.TimeToleranceMs(), 100u);
    EXPECT_EQ(device.AlarmHeartHighLimit(), 210);
    EXPECT_EQ(device.AlarmHeartLowLimit(), 35);
    EXPECT_EQ(device.AlarmHeartMaxLimit(), 220);
    EXPECT_EQ(device.UOM(), umKm);
    EXPECT_FALSE(device.Connected());
    EXPECT_EQ(device.CompetitorState(), 0);
    EXPECT_EQ(device.Marker(), 0);
    EXPECT_DOUBLE_EQ(device.Speed(), 0.0);
    EXPECT_FALSE(device.TimerStatsEnabled());
    EXPECT_EQ(device.TimerStatsInterval(), 1000u);
    EXPECT_EQ(device.TimerStatsThreadPriority(), tpNormal);
    EXPECT_EQ(device.DeviceKind(), 0);
    ASSERT_NE(device.Photo(), nullptr);
    EXPECT_TRUE(device.Photo()->Empty());
}

TEST(ZelDevice, TimeToleranceIsMeasuredModulo2To32)
{
    TZelCustomDevice device(nullptr);
    EXPECT_TRUE(device.WithinTimeTolerance(5, 0xFFFFFFFBu)); // wraps to 10
    EXPECT_TRUE(device.WithinTimeTolerance(1100, 1000));     // exactly the tolerance
    EXPECT_FALSE(device.WithinTimeTolerance(1101, 1000));
    // An "earlier" that lies after now is far in the past, not negative.
    EXPECT_FALSE(device.WithinTimeTolerance(1000, 1001));
    device.SetTimeToleranceMs(0);
    EXPECT_TRUE(device.WithinTimeTolerance(77, 77));
    EXPECT_FALSE(device.WithinTimeTolerance(78, 77));
}

TEST(ZelDevice, HeartAlarmLimitsAreClampedWithABeepOnlyAtDesignTime)
{
    BeepCounter beeps;
    TZelCustomDevice device(nullptr);
    device.SetAlarmHeartHighLimit(250);
    device.SetAlarmHeartLowLimit(20);
    device.SetAlarmHeartMaxLimit(300);
    EXPECT_EQ(device.AlarmHeartHighLimit(), 250);
    EXPECT_EQ(device.AlarmHeartLowLimit(), 20);
    EXPECT_EQ(device.AlarmHeartMaxLimit(), 300);
    EXPECT_EQ(beeps.Count, 0);

    TZelCustomDevice designed(nullptr);
    designed.SetDesigning(true);
    designed.SetAlarmHeartHighLimit(180);
    EXPECT_EQ(designed.AlarmHeartHighLimit(), 180);
    EXPECT_EQ(beeps.Count, 0);
    designed.SetAlarmHeartHighLimit(250);
    EXPECT_EQ(designed.AlarmHeartHighLimit(), 210);
    designed.SetAlarmHeartLowLimit(20);
    EXPECT_EQ(designed.AlarmHeartLowLimit(), 35);
    designed.SetAlarmHeartMaxLimit(221);
    EXPECT_EQ(designed.AlarmHeartMaxLimit(), 220);
    EXPECT_EQ(beeps.Count, 3);
    // The bounds themselves are accepted without a beep.
    designed.SetAlarmHeartLowLimit(35);
    designed.SetAlarmHeartMaxLimit(220);
    EXPECT_EQ(beeps.Count, 3);
}

TEST(ZelDevice, AssignCopiesOnlyTheRiderNameFromAnotherDevice)
{
    TZelCustomDevice source(nullptr);
    source.SetRiderName("Ada");
    source.SetRiderId(42);
    source.SetRiderWeight(61);
    source.SetTimeToleranceMs(7);
    TRecordingDevice target(nullptr);
    target.Assign(&source);
    EXPECT_EQ(target.RiderName(), "Ada");
    EXPECT_EQ(target.RiderId(), -1);
    EXPECT_EQ(target.RiderWeight(), 0);
    EXPECT_EQ(target.TimeToleranceMs(), 100u);

    TPicture picture;
    try {
        target.Assign(&picture);
        FAIL() << "no error";
    } catch (const EConvertError &e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TPicture to a TZelCustomDevice");
    }
    EXPECT_THROW(target.Assign(nullptr), EConvertError);
    EXPECT_EQ(target.RiderName(), "Ada");
}

TEST(ZelDevice, CompetitorStateChangesRaiseOldAndNew)
{
    TZelCustomDevice device(nullptr);
    std::vector<std::pair<int, int>> changes;
    device.OnCompetitorStateChanged = [&](TObject *Sender, TCompetitorState Old, TCompetitorState New) {
        EXPECT_EQ(Sender, &device);
        changes.emplace_back(Old, New);
    };
    device.SetCompetitorState(4);
    device.SetCompetitorState(4);
    device.SetCompetitorState(5);
    device.SetCompetitorState(6);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0], std::make_pair(0, 4));
    EXPECT_EQ(changes[1], std::make_pair(4, 5));
    EXPECT_EQ(changes[2], std::make_pair(5, 6));
    EXPECT_EQ(device.CompetitorState(), 6);
}

TEST(ZelDevice, ConnectDisconnectAndNotifications)
{
    TZelCustomDevice device(nullptr);
    std::vector<std::string> events;
    // Unassigned events are simply skipped.
    EXPECT_TRUE(device.Connect());
    EXPECT_TRUE(device.Connected());
    device.OnConnected = [&](TObject *) { events.push_back(device.Connected() ? "connected" : "wrong"); };
    device.OnDisconnected = [&](TObject *) { events.push_back(device.Connected() ? "wrong" : "disconnected"); };
    device.OnBeforeStop = [&](TObject *, bool &CanContinue) {
        events.push_back(CanContinue ? "stop?yes" : "stop?no");
        CanContinue = false;
    };
    device.Connect();
    device.Disconnect();
    bool canContinue = true;
    device.DoBeforeStop(canContinue);
    EXPECT_FALSE(canContinue);
    EXPECT_EQ(events, (std::vector<std::string>{"connected", "disconnected", "stop?yes"}));
    EXPECT_FALSE(device.Connected());
}

TEST(ZelDevice, SetValuesGoesThroughTheVirtualSettersInOrder)
{
    TRecordingDevice device(nullptr);
    device.SetValues(140, 90, 31.5, 1200.0, 5000);
    EXPECT_EQ(device.Calls, (std::vector<std::string>{"Speed", "Distance", "HeartRate", "Cadence"}));
    EXPECT_DOUBLE_EQ(device.Speed(), 31.5);
    EXPECT_DOUBLE_EQ(device.Distance(), 1200.0);
    EXPECT_EQ(device.HeartRate(), 140);
    EXPECT_EQ(device.Cadence(), 90);
}

TEST(ZelDevice, StatsTickRunsTheMostDerivedDoStatsOnTheUiThread)
{
    auto *device = new TRecordingDevice(nullptr);
    int onStats = 0;
    device->OnStats = [&](TObject *Sender) {
        EXPECT_EQ(Sender, device);
        ++onStats;
    };
    device->SetTimerStatsInterval(25);
    device->SetTimerStatsEnabled(true);
    EXPECT_TRUE(device->TimerStatsEnabled());
    ASSERT_TRUE(PumpUntil([&] { return device->Stats >= 2; }));
    EXPECT_EQ(onStats, device->Stats);
    EXPECT_EQ(device->StatsThread, std::this_thread::get_id());
    // Freed while its timer runs: nothing ticks into the freed device.
    delete device;
    PumpFor(80);
}

TEST(ZelDevice, PhotoIsCopiedNotShared)
{
    TZelCustomDevice device(nullptr);
    TPicture picture;
    picture.SetData({0xFF, 0xD8, 0xFF});
    device.SetPhoto(&picture);
    picture.SetData({1});
    EXPECT_EQ(device.Photo()->Data(), (std::vector<uint8_t>{0xFF, 0xD8, 0xFF}));
    device.SetPhoto(nullptr);
    EXPECT_TRUE(device.Photo()->Empty());
}

TEST(ZelDevice, StreamingDefaultsDifferFromConstructedValues)
{
    TZelCustomDevice device(nullptr);
    const TPropInfo *tolerance = FindProperty(device, "TimeToleranceMs");
    ASSERT_NE(tolerance, nullptr);
    EXPECT_TRUE(IsPropertyStored(device, *tolerance)); // 100 is not the declared 50
    device.SetTimeToleranceMs(50);
    EXPECT_FALSE(IsPropertyStored(device, *tolerance));
    const TPropInfo *riderId = FindProperty(device, "RiderId");
    ASSERT_NE(riderId, nullptr);
    EXPECT_FALSE(IsPropertyStored(device, *riderId));

    device.SetRiderName("Bea");
    device.SetRiderId(9);
    device.SetUOM(umMiles);
    device.SetAlarmHeartHighLimit(190);
    TPicture picture;
    picture.SetData({0x00, 0x7F, 0xAB});
    device.SetPhoto(&picture);
    TMemoryStream stream;
    TPersistentWriter(stream, psfText).WriteObject(&device);
    const std::string text = stream.DataString();
    EXPECT_EQ(text.find("TimeToleranceMs"), std::string::npos);

    stream.SetPosition(0);
    TZelCustomDevice loaded(nullptr);
    TPersistentReader(stream, psfText).ReadObject(&loaded);
    EXPECT_EQ(loaded.RiderName(), "Bea");
    EXPECT_EQ(loaded.RiderId(), 9);
    EXPECT_EQ(loaded.UOM(), umMiles);
    EXPECT_EQ(loaded.AlarmHeartHighLimit(), 190);
    // A saved 50 was left out and so comes back as the constructed 100.
    EXPECT_EQ(loaded.TimeToleranceMs(), 100u);
    EXPECT_EQ(loaded.Photo()->Data(), (std::vector<uint8_t>{0x00, 0x7F, 0xAB}));
}

TEST(ZelDevice, MalformedPhotoDataIsAReadError)
{
    TZelCustomDevice device(nullptr);
    TPicture picture;
    picture.SetData({0xAB, 0xCD});
    device.SetPhoto(&picture);
    TMemoryStream stream;
    TPersistentWriter(stream, psfText).WriteObject(&device);
    const std::string good = stream.DataString();
    ASSERT_NE(good.find("ABCD"), std::string::npos);

    for (const char *bad : {"ABC", "ABCG", "AB D"}) {
        std::string text = good;
        text.replace(text.find("ABCD"), 4, bad);
        TMemoryStream input;
        input.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
        input.SetPosition(0);
        TZelCustomDevice loaded(nullptr);
        try {
            TPersistentReader(input, psfText).ReadObject(&loaded);
            ADD_FAILURE() << "no error for " << bad;
        } catch (const EReadError &e) {
            EXPECT_EQ(e.Message(), "Invalid picture data") << bad;
        }
        EXPECT_TRUE(loaded.Photo()->Empty()) << bad;
    }
    // Lower-case digits read as well.
    std::string text = good;
    text.replace(text.find("ABCD"), 4, "abcd");
    TMemoryStream input;
    input.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    input.SetPosition(0);
    TZelCustomDevice loaded(nullptr);
    TPersistentReader(input, psfText).ReadObject(&loaded);
    EXPECT_EQ(loaded.Photo()->Data(), (std::vector<uint8_t>{0xAB, 0xCD}));
}

TEST(ZelDevice, ResetRiderClearsTheRider)
{
    TZelCustomDevice device(nullptr);
    device.SetRiderName("Cy");
    device.SetRiderId(3);
    device.SetUOM(umMiles);
    device.SetUserFlag(true);
    device.SetSpeed(20);
    device.Connect();
    device.ResetRider();
    EXPECT_EQ(device.RiderName(), "");
    EXPECT_EQ(device.RiderId(), -1);
    EXPECT_EQ(device.UOM(), umKm);
    EXPECT_FALSE(device.UserFlag());
    EXPECT_DOUBLE_EQ(device.Speed(), 0.0);
    EXPECT_FALSE(device.Connected());
}
