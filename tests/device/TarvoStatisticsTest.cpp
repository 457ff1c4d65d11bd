#include "TarvoStatsFixture.h"

namespace {

using Doubles = std::vector<double>;
using Ints = std::vector<int>;
using Strings = std::vector<std::string>;

struct TarvoStatistics : TarvoStatsFixture {
    struct Alarm {
        int32_t PercentDelta;
        bool IsHigherLimit;
    };
    std::vector<Alarm> Alarms;

    void SetUp() override
    {
        TarvoStatsFixture::SetUp();
        Device.SetHighPowerReduceCoefficient(1.0);
        Device.OnStats = [this](TObject *) { Note("Stats"); };
        Device.OnCourseFinished = [this](TObject *) { Note("CourseFinished"); };
        Device.OnHeartConnectionLost = [this](TObject *) { Note("HeartConnectionLost"); };
        Device.OnVersionChange = [this](TObject *) { Note("VersionChange"); };
        Device.OnAlarmHeart = [this](TObject *, int32_t PercentDelta, bool isHigherLimit, bool, bool &) {
            Alarms.push_back({PercentDelta, isHigherLimit});
        };
    }
    void HeartRateOf(uint8_t Bpm)
    {
        Device.SetHeartEnabled(true);
        Device.SetHrArrayLength(1);
        Heart().SetComputedHeartRate(Bpm);
    }
};

} // namespace

TEST_F(TarvoStatistics, SpeedFillsUpOverThreeTicks)
{
    StartRiding(30);
    Doubles speeds;
    for (int i = 0; i < 4; ++i) {
        Tick();
        speeds.push_back(Device.Speed());
    }
    EXPECT_EQ(speeds, (Doubles{10, 20, 30, 30}));
    EXPECT_EQ(Device.MaxSpeed(), 30.0);
    EXPECT_EQ(Raised(), (Strings{"Stats", "Stats", "Stats", "Stats"}));
}

TEST_F(TarvoStatistics, MilesConvertTheTrainerSpeed)
{
    Device.SetUOM(umMiles);
    StartRiding(16.09L);
    Tick();
    EXPECT_NEAR(static_cast<double>(Device.TrainerSpeed()), 10.0, 1e-12);
    EXPECT_NEAR(Device.Speed(), 10.0 / 3, 1e-12);
}

TEST_F(TarvoStatistics, DistanceGrowsBySpeedTimesInterval)
{
    Device.SetSpeedArrayLength(1);
    StartRiding(36);
    Tick();
    EXPECT_NEAR(Device.Distance(), 0.01, 1e-12);
    Tick();
    EXPECT_NEAR(Device.Distance(), 0.02, 1e-12);
    Device.SetTimerStatsInterval(500);
    Tick();
    EXPECT_NEAR(Device.Distance(), 0.025, 1e-12);
    EXPECT_EQ(Device.AverageSpeed(), 0.0) << "no time has elapsed on the timer";
    Device.StatsTimer()->Preset(2500);
    Tick();
    EXPECT_NEAR(Device.AverageSpeed(), 0.03 * 3600 / 2.5, 1e-9);
}

TEST_F(TarvoStatistics, CadenceAveragesAndRounds)
{
    StartRiding(20);
    Fe().SetInstantaneousCadence(91);
    Tick();
    EXPECT_EQ(Device.Cadence(), 91) << "window of one: the last cadence";
    Fe().SetInstantaneousCadence(80);
    Tick();
    EXPECT_EQ(Device.Cadence(), 80);
    EXPECT_EQ(Device.MaxCadence(), 91);
    EXPECT_EQ(Device.AverageCadence(), 86) << "85.5 to the even neighbour";

    Device.SetCadenceArrayLength(2);
    Fe().SetInstantaneousCadence(85);
    Tick(); // window 85 80
    EXPECT_EQ(Device.Cadence(), 82) << "82.5 to the even neighbour";
}

TEST_F(TarvoStatistics, CaloriesWithAndWithoutRiderWeight)
{
    // 0.1242 per tick without weight: 0.4968 after four ticks, 0.621 after five.
    Device.SetSpeedArrayLength(1);
    StartRiding(30);
    Tick(4);
    EXPECT_EQ(Device.Calories(), 0);
    Tick();
    EXPECT_EQ(Device.Calories(), 1);

    // 0.1647 per tick at 75 kg: 0.4941 after three, 0.6588 after four.
    Device.Stop();
    Device.SetRiderWeight(75);
    StartRiding(30);
    Tick(3);
    EXPECT_EQ(Device.Calories(), 0);
    Tick();
    EXPECT_EQ(Device.Calories(), 1);
}

TEST_F(TarvoStatistics, AHeartRateBelow35IsShownButNeitherAveragedNorAlarmed)
{
    StartRiding(20);
    HeartRateOf(120);
    Tick();
    EXPECT_EQ(Device.AverageHeartRate(), 120);
    Device.SetHeartLowerLimit(50);
    HeartRateOf(34);
    Tick();
    EXPECT_EQ(Device.HeartRate(), 34);
    EXPECT_EQ(Device.AverageHeartRate(), 120);
    EXPECT_TRUE(Alarms.empty());
}

TEST_F(TarvoStatistics, HeartRateAlarmAboveTheMaximum)
{
    Device.SetHeartMaxLimit(180);
    Device.SetHeartLowerLimit(50);
    StartRiding(20);
    HeartRateOf(190);
    Tick();
    ASSERT_EQ(Alarms.size(), 1u);
    EXPECT_EQ(Alarms[0].PercentDelta, 6);
    EXPECT_FALSE(Alarms[0].IsHigherLimit) << "190 is below AlarmHeartHighLimit 210";
    EXPECT_TRUE(Sent().empty());
    Tick();
    EXPECT_EQ(Alarms.size(), 2u) << "raised on every tick outside the limits";

    Device.SetTarvoResistance(90);
    Device.SetPower(150);
    Lib.Clear();
    HeartRateOf(220);
    Tick();
    ASSERT_EQ(Alarms.size(), 3u);
    EXPECT_EQ(Alarms[2].PercentDelta, 22);
    EXPECT_TRUE(Alarms[2].IsHigherLimit);
    // Everything off, in this order, with the coefficient left out.
    const std::vector<Page> off = Sent();
    ASSERT_EQ(off.size(), 3u);
    EXPECT_EQ(off[0][0], FePageTargetPower);
    EXPECT_EQ(off[0][6] | off[0][7] << 8, 0);
    EXPECT_EQ(off[1], (Page{FePageBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0}));
    EXPECT_EQ(off[2][0], FePageTrackResistance);
    EXPECT_EQ(off[2][5] | off[2][6] << 8, 20000) << "slope 0";
    EXPECT_EQ(Device.TarvoResistance(), 90);
    EXPECT_EQ(Device.MaxHeartRate(), 220);
    EXPECT_EQ(Device.AverageHeartRate(), 200) << "(190 + 190 + 220) / 3";
}

TEST_F(TarvoStatistics, HeartRateAlarmBelowTheLowerLimitAndWithoutOne)
{
    Device.SetHeartLowerLimit(50);
    StartRiding(20);
    HeartRateOf(40);
    Tick();
    ASSERT_EQ(Alarms.size(), 1u);
    EXPECT_EQ(Alarms[0].PercentDelta, 20);
    EXPECT_FALSE(Alarms[0].IsHigherLimit);

    Device.SetHeartLowerLimit(0);
    Device.SetHeartMaxLimit(180);
    HeartRateOf(190);
    Tick();
    ASSERT_EQ(Alarms.size(), 2u);
    EXPECT_EQ(Alarms[1].PercentDelta, 0) << "no lower limit, no share";
}

TEST_F(TarvoStatistics, HeartRateIsAveragedOverItsWindow)
{
    StartRiding(20);
    HeartRateOf(100);
    Device.SetHrArrayLength(2);
    Tick(); // window 100 0
    EXPECT_EQ(Device.HeartRate(), 50);
    Heart().SetComputedHeartRate(121);
    Tick(); // window 121 100
    EXPECT_EQ(Device.HeartRate(), 110) << "110.5 to the even neighbour";
    EXPECT_EQ(Device.AverageHeartRate(), 80);
}

TEST_F(TarvoStatistics, HeartDisabledClearsTheHeartValues)
{
    StartRiding(20);
    HeartRateOf(100);
    Tick();
    Device.SetHeartEnabled(false);
    Tick();
    EXPECT_EQ(Device.HeartRate(), 0);
    EXPECT_EQ(Device.AverageHeartRate(), 0);
}

TEST_F(TarvoStatistics, ASilentStrapIsLostOnEveryTickAndItsReadingCleared)
{
    StartRiding(20);
    Heart().SetComputedHeartRate(99);
    HR->SetChannelState(chsConnectionLost);
    Tick(2);
    EXPECT_EQ(Raised(), (Strings{"HeartConnectionLost", "Stats", "HeartConnectionLost", "Stats"}));
    EXPECT_EQ(Heart().ComputedHeartRate(), 0);
}

TEST_F(TarvoStatistics, ReachingTheDistanceToPerformEndsTheRideInTheSameTick)
{
    Device.SetSpeedArrayLength(1);
    Device.SetDistanceToPerform(0.015);
    StartRiding(36);
    Tick();
    EXPECT_FALSE(Device.Finished());
    Tick();
    EXPECT_TRUE(Device.Finished());
    EXPECT_TRUE(Device.Arrived());
    EXPECT_EQ(Device.CompetitorState(), 6);
    EXPECT_EQ(Device.Speed(), 0.0);
    EXPECT_FALSE(Device.TimerStatsEnabled());
    EXPECT_EQ(Raised(), (Strings{"Stats", "CourseFinished", "Stats"}));
}

TEST_F(TarvoStatistics, StopThenStartClearsAllButMaxSpeed)
{
    Device.SetSpeedArrayLength(1);
    StartRiding(30);
    Fe().SetInstantaneousCadence(90);
    HeartRateOf(130);
    Tick(5);
    Device.SetPower(180);
    Device.Stop();
    EXPECT_EQ(Device.CompetitorState(), 6);
    EXPECT_EQ(Device.Speed(), 0.0);
    EXPECT_GT(Device.Distance(), 0.0) << "readable until the next Start";
    Lib.Clear();

    Device.Start();
    Device.SetTimerStatsEnabled(false);
    EXPECT_EQ(Device.CompetitorState(), 4);
    EXPECT_EQ(Device.Distance(), 0.0);
    EXPECT_EQ(Device.Calories(), 0);
    EXPECT_EQ(Device.Cadence(), 0);
    EXPECT_EQ(Device.AverageCadence(), 0);
    EXPECT_EQ(Device.MaxCadence(), 0);
    EXPECT_EQ(Device.HeartRate(), 0);
    EXPECT_EQ(Device.MaxHeartRate(), 0);
    EXPECT_EQ(Device.AverageHeartRate(), 0);
    EXPECT_EQ(Device.Power(), 0);
    EXPECT_EQ(Device.Marker(), -1);
    EXPECT_EQ(Device.MaxSpeed(), 30.0);
    EXPECT_EQ(PowersSent(), (Ints{0})) << "a target power of 0 offered";

    // The averages start empty again.
    Fe().SetInstantaneousCadence(60);
    Device.SetCadenceArrayLength(2);
    Tick();
    EXPECT_EQ(Device.Cadence(), 30);
}

TEST_F(TarvoStatistics, PauseHoldsTheTicksAndTheTrainerDistance)
{
    StartRiding(30);
    Tick();
    Device.Pause();
    EXPECT_EQ(Device.CompetitorState(), 5);
    EXPECT_FALSE(Device.TimerStatsEnabled());
    EXPECT_EQ(Trainer->DistanceState(), dsPause);
    const double distance = Device.Distance();
    Tick();
    EXPECT_EQ(Device.Distance(), distance);
    Device.Start();
    Device.SetTimerStatsEnabled(false);
    EXPECT_EQ(Device.Distance(), distance) << "resuming is no reset";
}

TEST_F(TarvoStatistics, WhenNotConnectedTicksOnlyRaiseOnStats)
{
    StartRiding(30);
    Device.Disconnect();
    ClearRaised();
    Tick(2);
    EXPECT_EQ(Device.Speed(), 0.0);
    EXPECT_EQ(Raised(), (Strings{"Stats", "Stats"}));
}

TEST_F(TarvoStatistics, TheLastTrainerReadingHoldsWhileTheTrainerSearches)
{
    StartRiding(30);
    Tick(3);
    Trainer->SetChannelState(chsConnectionLost);
    Tick(2);
    EXPECT_EQ(Device.Speed(), 30.0);
}

TEST_F(TarvoStatistics, DiameterAndWeightReachTheTrainer)
{
    Device.SetDiameter(700.5);
    EXPECT_EQ(Trainer->WheelDiameter(), 700) << "ties to the even neighbour";
    Device.SetDiameter(700.5);
    EXPECT_EQ(SentOf(FePageUserConfiguration).size(), 2u) << "the diameter is always assigned";
    Device.SetRiderWeight(75);
    EXPECT_EQ(Device.RiderWeight(), 75);
    EXPECT_EQ(Trainer->UserWeight(), 75);
    EXPECT_EQ(SentOf(FePageUserConfiguration).size(), 3u);
}

TEST_F(TarvoStatistics, UnitTypeSetsTheVersionSilently)
{
    Device.SetUnitType(13);
    EXPECT_EQ(Device.UnitType(), 13.0);
    EXPECT_EQ(Device.TarvoVersion(), 13.0);
    EXPECT_TRUE(Raised().empty());
    Device.SetTarvoVersion(14);
    Device.SetTarvoVersion(14);
    EXPECT_EQ(Raised(), (Strings{"VersionChange"}));
}
