#include "device/TrainerModels.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace TrainerModels;

TEST(TrainerModels, RiderPowerInBothUnits)
{
    // Factor 0 leaves out the weight term, so the weight given does not matter.
    EXPECT_NEAR(RiderPower(30, 0, ModelWeight(75, umKm), umKm), 142.35, 1e-9);
    EXPECT_NEAR(RiderPower(30, 0, ModelWeight(75, umMiles), umMiles), 441.0, 1e-9);
    EXPECT_NEAR(RiderPower(30, 1, 85, umKm), 142.35 + 30 * 0.027 * 85, 1e-9);
    // The formula goes negative at low speed: held at 0.
    EXPECT_EQ(RiderPower(2, 0, 10, umKm), 0.0);
    EXPECT_EQ(RiderPower(0, 1, 85, umKm), 0.0);
    EXPECT_EQ(RiderPower(-5, 1, 85, umMiles), 0.0);
}

TEST(TrainerModels, WeightCountsTheBikeByUnit)
{
    EXPECT_EQ(ModelWeight(0, umKm), 10.0);
    EXPECT_EQ(ModelWeight(75, umKm), 85.0);
    EXPECT_EQ(ModelWeight(75, umMiles), 97.0);
}

TEST(TrainerModels, HighPowerReductionRisesLinearlyToOne)
{
    EXPECT_DOUBLE_EQ(HighPowerReduction(0, 30, 0.25), 0.25);
    EXPECT_DOUBLE_EQ(HighPowerReduction(15, 30, 0.25), 0.625);
    EXPECT_DOUBLE_EQ(HighPowerReduction(29.9, 30, 0.25), 0.9975);
    EXPECT_EQ(HighPowerReduction(30, 30, 0.25), 1.0);
    EXPECT_EQ(HighPowerReduction(55, 30, 0.25), 1.0);
    for (double v : {0.0, 0.5, 40.0})
        EXPECT_EQ(HighPowerReduction(v, 0, 0.25), 1.0) << v;
}

TEST(TrainerModels, HighPowerReductionNeverFallsBelowItsMinimum)
{
    // A virtual speed above the trainer's makes the difference negative.
    EXPECT_DOUBLE_EQ(HighPowerReduction(-40, 30, 0.25), 0.25);
    EXPECT_EQ(HighPowerReduction(-1, 0, 0.25), 1.0) << "no division by a zero start speed";
}

TEST(TrainerModels, CaloriesPerTick)
{
    EXPECT_NEAR(TickCalories(30, ModelWeight(0, umKm), 0, umKm), 0.1242, 1e-12);
    EXPECT_NEAR(TickCalories(30, ModelWeight(75, umKm), 0, umKm), 0.1647, 1e-12);
    EXPECT_NEAR(TickCalories(20, ModelWeight(75, umMiles), 0, umMiles), 1.83e-5 * 8000 + 1.3e-5 * 20 * 97, 1e-12);
    EXPECT_NEAR(TickCalories(30, 10, 2, umKm), 0.1242 + 0.12, 1e-12);
    // Riding down steeply enough would give energy back: counted as none.
    EXPECT_EQ(TickCalories(30, 10, -10, umKm), 0.0);
    EXPECT_EQ(TickCalories(0, 85, 0, umKm), 0.0);
}

TEST(TrainerModels, HeartAlarmPercentDelta)
{
    EXPECT_EQ(HeartAlarmPercentDelta(190, 180, 50), 6);  // 5.56 above the maximum
    EXPECT_EQ(HeartAlarmPercentDelta(180, 180, 50), 0);  // at the maximum
    EXPECT_EQ(HeartAlarmPercentDelta(40, 180, 50), 20);  // below the lower limit
    EXPECT_EQ(HeartAlarmPercentDelta(190, 180, 0), 0);   // no lower limit, no share
    EXPECT_EQ(HeartAlarmPercentDelta(189, 180, 50), 5);  // 5.0
    EXPECT_EQ(HeartAlarmPercentDelta(45, 180, 60), 25);
    EXPECT_EQ(HeartAlarmPercentDelta(90, 0, 50), 0) << "no maximum to measure against";
}

TEST(TrainerModels, VirtualSpeedOnTheFlatFromRestStaysAtRest)
{
    TVirtualSpeedInput in;
    in.TrainerSpeed = 30;
    in.Tolerance = 2;
    in.Weight = 85;
    const TVirtualSpeedStep s = StepVirtualSpeed(in);
    EXPECT_EQ(s.Speed, 0.0);
    EXPECT_NEAR(s.FlatForce, 142.35 / 30, 1e-12);
    EXPECT_DOUBLE_EQ(s.VirtualForce, s.FlatForce);
    EXPECT_EQ(s.NetForce, 0.0);
}

TEST(TrainerModels, VirtualSpeedDecaysOnTheFlatAndGrowsDownhill)
{
    TVirtualSpeedInput in;
    in.Previous = 5;
    in.TrainerSpeed = 30;
    in.Tolerance = 2;
    in.Weight = 85;
    const double mass = 85 / 9.8;
    const double virtualForce = RiderPower(35, 0, 85, umKm) / 35;
    EXPECT_NEAR(StepVirtualSpeed(in).Speed, 5 - virtualForce * 2.5 / mass, 1e-12);

    in.Previous = 1.5; // within the tolerance
    EXPECT_EQ(StepVirtualSpeed(in).Speed, 0.0);

    in.Previous = 0;
    in.Slope = -4;
    in.Attenuation = 50;
    const TVirtualSpeedStep down = StepVirtualSpeed(in);
    EXPECT_DOUBLE_EQ(down.SlopeForce, 85 * 4 * 50 / 100.0);
    EXPECT_NEAR(down.Speed, down.NetForce / mass, 1e-12);
    EXPECT_GT(down.Speed, 0.0);
}

TEST(TrainerModels, VirtualSpeedIsNeverNegativeNorUndefinedAtRest)
{
    TVirtualSpeedInput in;
    in.Previous = 2.5;
    in.TrainerSpeed = 0;
    in.Tolerance = 2;
    in.Weight = 10;
    in.Slope = 3;
    const TVirtualSpeedStep s = StepVirtualSpeed(in);
    EXPECT_EQ(s.FlatForce, 0.0) << "0 W over 0 km/h is no force, not NaN";
    EXPECT_GE(s.Speed, 0.0);
    EXPECT_FALSE(std::isnan(s.Speed));
}
