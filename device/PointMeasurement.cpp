#include "device/PointMeasurement.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Tick times are sums of floating seconds: ten seconds between two ticks may come out a hair
// short of 10.
constexpr double Epsilon = 1e-6;

struct TWindowStats {
    bool CoversWindow = false; // reaches back at least WindowSeconds
    double Mean = 0, StdDev = 0, MaxDeviation = 0;
};

// The newest samples back to the last one at or before WindowSeconds ago, so that uneven
// ticks never shorten the window; all samples while they span less.
TWindowStats LastWindow(const std::vector<TPointSample> &Samples)
{
    TWindowStats stats;
    if (Samples.empty())
        return stats;
    const double from = Samples.back().Seconds - TPointMeasurement::WindowSeconds + Epsilon;
    auto first = Samples.begin();
    for (auto it = Samples.begin(); it != Samples.end() && it->Seconds <= from; ++it)
        first = it, stats.CoversWindow = true;
    const auto count = static_cast<double>(Samples.end() - first);
    double sum = 0;
    for (auto it = first; it != Samples.end(); ++it)
        sum += it->SpeedKmh;
    stats.Mean = sum / count;
    double squares = 0;
    for (auto it = first; it != Samples.end(); ++it) {
        const double d = it->SpeedKmh - stats.Mean;
        squares += d * d;
        stats.MaxDeviation = std::max(stats.MaxDeviation, std::abs(d));
    }
    stats.StdDev = std::sqrt(squares / count);
    return stats;
}

} // namespace

TPointMeasurement::TPointMeasurement(std::string Name, int Level, double TargetKmh, double StartedSeconds)
{
    FVerdict.Name = std::move(Name);
    FVerdict.Level = Level;
    FVerdict.TargetKmh = TargetKmh;
    FVerdict.StartedSeconds = StartedSeconds;
}

bool TPointMeasurement::Accepts(double Seconds, double SpeedKmh) const
{
    if (FVerdict.Ended || !std::isfinite(Seconds) || !std::isfinite(SpeedKmh) || SpeedKmh < 0)
        return false;
    if (!(Seconds >= FVerdict.StartedSeconds))
        return false;
    return FVerdict.Samples.empty() || Seconds > FVerdict.Samples.back().Seconds;
}

bool TPointMeasurement::Add(double Seconds, double SpeedKmh)
{
    if (!Accepts(Seconds, SpeedKmh))
        return false;
    const double elapsed = Seconds - FVerdict.StartedSeconds;
    if (elapsed > LimitSeconds + Epsilon) {
        // A tick late after a gap: the point ran out of time before it, on what it had.
        End(false, LimitSeconds);
        return true;
    }
    FVerdict.Samples.push_back({Seconds, SpeedKmh});
    if (Measure())
        End(true, elapsed);
    else if (elapsed >= LimitSeconds - Epsilon)
        End(false, LimitSeconds);
    else
        FVerdict.SettleSeconds = elapsed;
    return FVerdict.Ended;
}

void TPointMeasurement::Interrupt(double Seconds)
{
    if (FVerdict.Ended)
        return;
    const double last = FVerdict.Samples.empty() ? 0 : FVerdict.SettleSeconds;
    double elapsed = Seconds - FVerdict.StartedSeconds;
    if (!std::isfinite(elapsed) || elapsed < last)
        elapsed = last;
    FVerdict.Interrupted = true;
    End(false, std::min(elapsed, LimitSeconds));
}

bool TPointMeasurement::Measure()
{
    const TWindowStats window = LastWindow(FVerdict.Samples);
    FVerdict.MeanKmh = window.Mean;
    FVerdict.StdDevKmh = window.StdDev;
    FVerdict.DeviationKmh = FVerdict.MeanKmh - FVerdict.TargetKmh;
    FVerdict.DeviationPercent.reset();
    if (FVerdict.TargetKmh != 0)
        FVerdict.DeviationPercent = FVerdict.DeviationKmh / FVerdict.TargetKmh * 100;
    return window.CoversWindow && window.MaxDeviation < SpreadKmh;
}

void TPointMeasurement::End(bool Settled, double ElapsedSeconds)
{
    FVerdict.Ended = true;
    FVerdict.Settled = Settled;
    FVerdict.SettleSeconds = ElapsedSeconds;
}
