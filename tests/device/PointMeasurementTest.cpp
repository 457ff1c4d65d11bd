#include "device/PointMeasurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace {

// One sample a second from the start; the elapsed second whose sample ended the point, or -1.
int Ride(TPointMeasurement &Point, int Seconds, const std::function<double(int)> &Speed)
{
    for (int t = 0; t <= Seconds; ++t)
        if (Point.Add(Point.Verdict().StartedSeconds + t, Speed(t)))
            return t;
    return -1;
}

} // namespace

TEST(PointMeasurement, SettlesOnTheLastTenSecondsOnly)
{
    TPointMeasurement p("P2", 61, 30, 100.5);
    // 29.6, then ±0.2 in turn.
    EXPECT_EQ(Ride(p, 30, [](int t) { return t == 0 ? 29.6 : t % 2 ? 29.8 : 29.4; }), 10);
    const TPointVerdict &v = p.Verdict();
    EXPECT_TRUE(v.Settled && !v.Interrupted);
    EXPECT_EQ(v.SettleSeconds, 10);
    EXPECT_NEAR(v.StdDevKmh, std::sqrt(10 * 0.04 / 11), 1e-9);
    EXPECT_NEAR(v.DeviationPercent.value(), -0.4 / 30 * 100, 1e-9);
    EXPECT_FALSE(p.Add(111.5, 0));
    EXPECT_NEAR(v.MeanKmh, 29.6, 1e-9) << "a sample after the end is ignored";

    // The rise from the previous level and a dropout delay settling and stay out of the mean.
    TPointMeasurement rising("P1", 40, 30, 0), dropout("P1", 40, 30, 0), ticks("P1", 40, 30, 0);
    EXPECT_EQ(Ride(rising, 60, [](int t) { return t < 5 ? 20.0 + t : 30.0; }), 15);
    EXPECT_EQ(rising.Verdict().MeanKmh, 30);
    EXPECT_EQ(Ride(dropout, 60, [](int t) { return t == 5 ? 0.0 : 30.0; }), 16);
    EXPECT_EQ(dropout.Verdict().StdDevKmh, 0);
    // Uneven ticks: the window reaches back to a sample at least 10 s old.
    for (int i = 0; i < 10; ++i)
        ticks.Add(i * 1.1, 30);
    EXPECT_TRUE(ticks.Add(11.0, 30));
}

TEST(PointMeasurement, SpreadDriftAndGapsEndNotSettledAtTheLimit)
{
    TPointMeasurement calm("PA", 20, 25, 0), oscillating("PA", 20, 25, 0), drift("P3", 90, 40, 5);
    EXPECT_EQ(Ride(calm, 60, [](int t) { return t % 2 ? 25.4 : 24.6; }), 10);
    EXPECT_EQ(Ride(oscillating, 60, [](int t) { return t % 2 ? 25.7 : 24.3; }), 60);
    EXPECT_FALSE(oscillating.Verdict().Settled);

    EXPECT_EQ(Ride(drift, 70, [](int t) { return 25 + 0.2 * t; }), 60);
    const TPointVerdict &v = drift.Verdict();
    EXPECT_TRUE(v.Ended && !v.Settled && !v.Interrupted);
    EXPECT_EQ(v.SettleSeconds, TPointMeasurement::LimitSeconds);
    EXPECT_NEAR(v.DeviationKmh, 25 + 0.2 * 55 - 40, 1e-9) << "mean of the last 10 s";

    // A tick late after a gap lies past the limit: it ends the point without counting.
    TPointMeasurement gap("P3", 90, 40, 0);
    EXPECT_FALSE(gap.Add(50, 40));
    EXPECT_TRUE(gap.Add(75, 40));
    EXPECT_EQ(gap.Verdict().Samples.size(), 1u);
}

TEST(PointMeasurement, BadSamplesAreLeftOut)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    TPointMeasurement p("PB", 30, 0, 10);
    EXPECT_FALSE(p.Add(9, 30)) << "before the point was applied";
    for (int t = 0; t < 10; ++t) {
        EXPECT_FALSE(p.Add(10 + t, 30));
        for (auto [seconds, speed] : {std::pair{10.0 + t, 31.0}, {9.5 + t, 30.0}, {10.5 + t, nan},
                                      {10.5 + t, inf}, {10.5 + t, -30.0}, {nan, 30.0}, {inf, 30.0}})
            EXPECT_FALSE(p.Add(seconds, speed)) << seconds << " " << speed;
    }
    EXPECT_TRUE(p.Add(20, 30));
    EXPECT_EQ(p.Verdict().Samples.size(), 11u);
    EXPECT_EQ(p.Verdict().DeviationKmh, 30) << "target 0";
    EXPECT_FALSE(p.Verdict().DeviationPercent.has_value());
}
