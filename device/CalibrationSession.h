#pragma once
// The points measured in one calibration session, in the order they were applied, and the
// session's whole speed series with the targets as steps, for a chart of speed over time.
#include "device/PointMeasurement.h"

#include <optional>
#include <string>
#include <vector>

struct TTargetStep {
    double Seconds = 0; // since the session started; the target holds until the next step
    double TargetKmh = 0;
};

class TCalibrationSession {
public:
    // Starts a new measurement of the point, also of one pressed again. A point still running
    // ends as it stands, not settled, and is kept: its verdict is returned.
    std::optional<TPointVerdict> Apply(std::string Name, int Level, double TargetKmh, double Seconds);
    // Feeds the running point; returns its verdict when this tick ended it. Times going
    // backwards and speeds that are not finite or negative are left out everywhere.
    std::optional<TPointVerdict> Tick(double Seconds, double SpeedKmh);

    // The session ends: a point still running ends as it stands (interrupted); its verdict.
    std::optional<TPointVerdict> Finish(double Seconds);

    std::vector<TPointVerdict> Verdicts() const; // the running point included
    const std::vector<TPointSample> &Speeds() const { return FSpeeds; }
    const std::vector<TTargetStep> &Targets() const { return FTargets; }

private:
    double Now(double Seconds) const;

    std::vector<TPointMeasurement> FPoints;
    std::vector<TPointSample> FSpeeds;
    std::vector<TTargetStep> FTargets;
};
