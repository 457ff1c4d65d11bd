#include "device/PointSummary.h"

#include <gtest/gtest.h>

TEST(PointSummary, SaysHowThePointEndedWithRoundedFigures)
{
    TPointVerdict v{.Name = "P2", .Level = 61, .TargetKmh = 30, .Ended = true, .Settled = true, .MeanKmh = 29.6,
                    .StdDevKmh = 0.2, .SettleSeconds = 14.02, .DeviationKmh = -0.4, .DeviationPercent = -1.33,
                    .Samples = {{}}};
    EXPECT_EQ(PointSummaryLine(v), "Point P2 settled after 14 s: level 61, target 30.0 km/h, mean 29.6 ± 0.2 km/h, "
                                   "deviation -0.4 km/h (-1.3 %)");
    v.Settled = false, v.SettleSeconds = 60, v.DeviationKmh = 1.26, v.DeviationPercent = -0.04;
    EXPECT_EQ(PointSummaryLine(v), "Point P2 not settled within 60 s: level 61, target 30.0 km/h, mean 29.6 ± 0.2 "
                                   "km/h, deviation +1.3 km/h (0.0 %)");
    v.Interrupted = true, v.SettleSeconds = 2.4, v.TargetKmh = 0, v.DeviationPercent.reset(), v.Samples.clear();
    EXPECT_EQ(PointSummaryLine(v), "Point P2 not settled, interrupted after 2 s: level 61, target 0.0 km/h, "
                                   "no speed measured");
}
