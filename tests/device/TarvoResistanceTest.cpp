#include "TarvoStatsFixture.h"

namespace {

using Ints = std::vector<int>;

struct TarvoResistance : TarvoStatsFixture {
    void SetUp() override
    {
        TarvoStatsFixture::SetUp();
        Device.SetHighPowerReduceCoefficient(1.0);
    }
    // One running tick with the trainer at Kmh, the reduction recomputed from it.
    void TickAt(long double Kmh)
    {
        Fe().SetSpeed(Kmh);
        Tick();
    }
};

} // namespace

TEST_F(TarvoResistance, ALevelIsSentOnlyWhenItChanges)
{
    Device.SetTarvoResistance(107);
    Device.SetTarvoResistance(107);
    Device.SetTarvoResistance(0);
    EXPECT_EQ(LevelsSent(), (Ints{107, 0}));
    EXPECT_EQ(Device.TarvoResistance(), 0);
}

TEST_F(TarvoResistance, EveryModeButAntUlmoraSendsTheLevel)
{
    Device.SetResistanceMode(rmAntUlmora);
    Device.SetTarvoResistance(50);
    EXPECT_EQ(Device.TarvoResistance(), 50);
    EXPECT_TRUE(Sent().empty());

    int level = 60;
    for (TResistanceMode mode : {rmAsWatts, rmAsPercent, rmAsSlope, rmNotDefined}) {
        Device.SetResistanceMode(mode);
        Device.SetTarvoResistance(level++);
    }
    EXPECT_EQ(LevelsSent(), (Ints{60, 61, 62, 63}));
}

TEST_F(TarvoResistance, OnlyTheLowEightBitsOfALevelAreSent)
{
    Device.SetTarvoResistance(300);
    EXPECT_EQ(LevelsSent(), (Ints{44}));
    EXPECT_EQ(Device.TarvoResistance(), 300);
    Device.SetTarvoResistance(-1);
    EXPECT_EQ(LevelsSent(), (Ints{44, 200})) << "255 is held at the trainer's 200";
}

TEST_F(TarvoResistance, ANewDeviceScalesByItsZeroCoefficient)
{
    TTarvoDeviceAntP fresh(nullptr);
    TAntChannel *trainer = fresh.AddChannel(acpAntFE);
    trainer->SetChannelNumber(Trainer->ChannelNumber());
    fresh.SetTarvoResistance(107);
    EXPECT_EQ(LevelsSent(), (Ints{0}));
}

TEST_F(TarvoResistance, TheReductionFollowsTheTrainerSpeed)
{
    Device.SetHighPowerReduceEnable(true);
    Device.SetHighPowerReduceStartSpeed(30);
    Device.SetHighPowerReduceCoefficientMinimum(0.25);
    StartRiding(0);

    TickAt(15);
    EXPECT_DOUBLE_EQ(Device.HighPowerReduceCoefficient(), 0.625);
    Device.SetPower(250);
    Device.SetTarvoResistance(100);
    EXPECT_EQ(PowersSent(), (Ints{156})) << "156.25 rounded";
    EXPECT_EQ(LevelsSent(), (Ints{62})) << "62.5 rounded to the even neighbour";

    TickAt(29.9);
    EXPECT_DOUBLE_EQ(Device.HighPowerReduceCoefficient(), 0.9975);
    for (long double kmh : {30.0L, 48.0L}) {
        TickAt(kmh);
        EXPECT_EQ(Device.HighPowerReduceCoefficient(), 1.0);
    }
    // The speed that counts is the trainer's, not the three-tick average shown.
    EXPECT_LT(Device.Speed(), 48.0);
}

TEST_F(TarvoResistance, WithoutTheReductionOrAStartSpeedTheCoefficientIsOne)
{
    Device.SetHighPowerReduceCoefficient(0.3);
    StartRiding(12);
    Tick();
    EXPECT_EQ(Device.HighPowerReduceCoefficient(), 1.0) << "reduction off";

    Device.SetHighPowerReduceEnable(true);
    Device.SetHighPowerReduceCoefficientMinimum(0.25);
    for (long double kmh : {0.0L, 0.5L, 40.0L}) {
        Device.SetHighPowerReduceCoefficient(0.3);
        TickAt(kmh);
        EXPECT_EQ(Device.HighPowerReduceCoefficient(), 1.0) << static_cast<double>(kmh);
    }
}

TEST_F(TarvoResistance, TheCoefficientKeepsItsValueWhileNotRunning)
{
    Device.SetHighPowerReduceCoefficient(0.5);
    Tick(); // connected, not started
    EXPECT_EQ(Device.HighPowerReduceCoefficient(), 0.5);
}

TEST_F(TarvoResistance, InitialResistanceGoesOutUnscaledAndOnlyWhenConnected)
{
    Device.SetHighPowerReduceCoefficient(0.0);
    Device.SetResistanceMode(rmAntUlmora);
    Device.SetInitialResistance(80);
    EXPECT_EQ(LevelsSent(), (Ints{80}));

    Trainer->SetConnected(false);
    Device.SetInitialResistance(90);
    EXPECT_EQ(Device.InitialResistance(), 90);
    EXPECT_EQ(LevelsSent(), (Ints{80}));
}

TEST_F(TarvoResistance, PowerIsOfferedEvenWhenUnchanged)
{
    Device.SetPower(120);
    Device.SetPower(120);
    EXPECT_EQ(PowersSent(), (Ints{120, 120}));
    EXPECT_EQ(Device.Power(), 120);
    Device.SetPower(70000);
    EXPECT_EQ(PowersSent().back(), (70000 & 0xFFFF)) << "the low 16 bits";
}

TEST_F(TarvoResistance, SlopeGoesToTheTrainerUnchanged)
{
    Device.SetHighPowerReduceCoefficient(0.0);
    Device.SendTargetSlope(-1.5);
    ASSERT_EQ(SentOf(FePageTrackResistance).size(), 1u);
    EXPECT_EQ(SentOf(FePageTrackResistance)[0][5], 0x8A);
    EXPECT_EQ(SentOf(FePageTrackResistance)[0][6], 0x4D);
}

TEST_F(TarvoResistance, CalibrationOffsetIsTheTrainers)
{
    Device.SetCalibrationOffset(99);
    Fe().SetZeroOffset(1234);
    EXPECT_EQ(Device.CalibrationOffset(), 1234);

    TTarvoDeviceAntP bare(nullptr);
    bare.SetCalibrationOffset(99);
    EXPECT_EQ(bare.CalibrationOffset(), 0);
}

TEST_F(TarvoResistance, WithoutATrainerChannelValuesAreOnlyStored)
{
    TTarvoDeviceAntP bare(nullptr);
    bare.SetHighPowerReduceCoefficient(1.0);
    bare.SetTarvoResistance(107);
    bare.SetPower(200);
    bare.SendTargetSlope(3.0);
    bare.SetInitialResistance(40);
    EXPECT_EQ(bare.TarvoResistance(), 107);
    EXPECT_EQ(bare.Power(), 200);
    EXPECT_EQ(bare.InitialResistance(), 40);
    EXPECT_TRUE(Lib.Calls("ANT_SendAcknowledgedData").empty());
}

TEST_F(TarvoResistance, ModelPowerInBothUnits)
{
    Device.SetRiderWeight(75);
    EXPECT_NEAR(Device.ModelPower(30, 0), 142.35, 1e-9);
    EXPECT_EQ(Device.ModelPower(2, 0), 0.0);
    EXPECT_NEAR(Device.ModelPower(30, 1), 142.35 + 30 * 0.027 * 85, 1e-9);
    Device.SetUOM(umMiles);
    EXPECT_NEAR(Device.ModelPower(30, 0), 441.0, 1e-9);
    EXPECT_NEAR(Device.ModelPower(30, 1), 441.0 + 30 * 0.02 * 97, 1e-9);
}

TEST_F(TarvoResistance, TheVirtualSpeedOnTheFlatChangesNoMeasurement)
{
    Device.SetVirtualSpeedEnabled(true);
    Device.SetSpeedArrayLength(1);
    StartRiding(25);
    Tick(3);
    EXPECT_EQ(Device.VirtualSpeed(), 0.0);
    EXPECT_EQ(Device.VirtualDistance(), 0.0);
    EXPECT_DOUBLE_EQ(Device.Speed(), 25.0);
}
