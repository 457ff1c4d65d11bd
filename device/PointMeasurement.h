#pragma once
// The measurement of one calibration point from the moment its level is applied: fed with the
// trainer's speed at each statistics tick, it ends settled once the last 10 s stay within
// ±0.5 km/h of their mean, or not settled at the 60 s limit.
#include <optional>
#include <string>
#include <vector>

struct TPointSample {
    double Seconds = 0; // since the session started
    double SpeedKmh = 0;
};

struct TPointVerdict {
    std::string Name; // "P1".."P3", "PA", "PB"
    int Level = 0;
    double TargetKmh = 0;
    double StartedSeconds = 0; // since the session started
    bool Ended = false;        // settled, the limit reached, or interrupted
    bool Settled = false;
    bool Interrupted = false; // ended by the next point before it settled or reached the limit
    // Over the settling window; for a point that did not settle the last 10 s (all samples
    // when it has fewer). Both 0 while there are no samples.
    double MeanKmh = 0, StdDevKmh = 0;
    // From applied to the end: the limit for a point that ran out of time; while running, up
    // to the last sample.
    double SettleSeconds = 0;
    // Mean minus target; 0 and absent while nothing was measured. No percent for target 0.
    double DeviationKmh = 0;
    std::optional<double> DeviationPercent;
    std::vector<TPointSample> Samples;
};

class TPointMeasurement {
public:
    static constexpr double WindowSeconds = 10, SpreadKmh = 0.5, LimitSeconds = 60;

    TPointMeasurement(std::string Name, int Level, double TargetKmh, double StartedSeconds);

    // True when this sample ended the point. Ignored: samples after the end, before the start
    // or not after the previous one, and speeds that are not finite or negative.
    bool Add(double Seconds, double SpeedKmh);
    // Ends a running point as it stands, not settled (the next point was applied at Seconds).
    void Interrupt(double Seconds);

    const TPointVerdict &Verdict() const { return FVerdict; }

private:
    bool Accepts(double Seconds, double SpeedKmh) const;
    // Mean, spread and deviation of the last window; true when it has settled.
    bool Measure();
    void End(bool Settled, double ElapsedSeconds);

    TPointVerdict FVerdict;
};
