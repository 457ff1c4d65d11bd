#include "device/CalibrationSession.h"

#include <gtest/gtest.h>

#include <limits>

TEST(CalibrationSession, ANewPointEndsTheRunningOneAndStartsFresh)
{
    TCalibrationSession s;
    s.Apply("P1", 40, 20, 0);
    for (int t = 0; t < 8; ++t)
        EXPECT_FALSE(s.Tick(t, t < 5 ? 0 : 18).has_value());
    const auto p1 = s.Apply("P2", 61, 30, 7.5);
    ASSERT_TRUE(p1.has_value());
    EXPECT_TRUE(p1->Name == "P1" && p1->Interrupted && !p1->Settled);
    EXPECT_EQ(p1->SettleSeconds, 7.5);

    std::vector<TPointVerdict> ended;
    for (int t = 8; t < 30; ++t)
        if (auto v = s.Tick(t, 30))
            ended.push_back(*v);
    ASSERT_EQ(ended.size(), 1u) << "a point ends once";
    EXPECT_EQ(ended[0].SettleSeconds, 10.5);
    EXPECT_EQ(ended[0].MeanKmh, 30) << "nothing of P1's speeds";

    // Pressed again after it settled: nothing to interrupt, a second measurement of P2.
    EXPECT_FALSE(s.Apply("P2", 61, 30, 40).has_value());
    s.Tick(41, 29);
    const auto verdicts = s.Verdicts();
    ASSERT_EQ(verdicts.size(), 3u);
    EXPECT_EQ(verdicts[0].Samples.size(), 8u);
    EXPECT_TRUE(verdicts[1].Settled);
    EXPECT_TRUE(verdicts[2].Name == "P2" && !verdicts[2].Ended && verdicts[2].MeanKmh == 29);
}

TEST(CalibrationSession, SpeedsAndTargetsForTheChart)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    TCalibrationSession s;
    s.Tick(0, 10); // before the first point: still on the chart
    s.Apply("PA", 20, 25, 0.5);
    for (auto [seconds, speed] : {std::pair{1.0, 24.0}, {nan, 24.0}, {2.0, nan}, {0.8, 24.0}, {2.0, 0.0}})
        s.Tick(seconds, speed);
    s.Apply("PB", 60, 35, 1.5); // the tick at 2 came first: the press counts from there
    s.Apply("PA", 20, 25, nan);
    std::vector<std::pair<double, double>> speeds, targets;
    for (const TPointSample &p : s.Speeds())
        speeds.emplace_back(p.Seconds, p.SpeedKmh);
    for (const TTargetStep &step : s.Targets())
        targets.emplace_back(step.Seconds, step.TargetKmh);
    EXPECT_EQ(speeds, (std::vector<std::pair<double, double>>{{0, 10}, {1, 24}, {2, 0}}));
    EXPECT_EQ(targets, (std::vector<std::pair<double, double>>{{0.5, 25}, {2, 35}, {2, 25}}));
    EXPECT_EQ(s.Verdicts().at(1).StartedSeconds, 2);
}
