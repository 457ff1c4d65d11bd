#include "device/CalibrationSession.h"

#include <cmath>
#include <utility>

double TCalibrationSession::Now(double Seconds) const
{
    // A press cannot be ignored like a tick: one with a time going backwards happens now.
    double latest = 0;
    if (!FSpeeds.empty())
        latest = FSpeeds.back().Seconds;
    if (!FTargets.empty() && FTargets.back().Seconds > latest)
        latest = FTargets.back().Seconds;
    return std::isfinite(Seconds) && Seconds > latest ? Seconds : latest;
}

std::optional<TPointVerdict> TCalibrationSession::Apply(std::string Name, int Level, double TargetKmh,
                                                        double Seconds)
{
    const double now = Now(Seconds);
    std::optional<TPointVerdict> interrupted;
    if (!FPoints.empty() && !FPoints.back().Verdict().Ended) {
        FPoints.back().Interrupt(now);
        interrupted = FPoints.back().Verdict();
    }
    FPoints.emplace_back(std::move(Name), Level, TargetKmh, now);
    FTargets.push_back({now, TargetKmh});
    return interrupted;
}

std::optional<TPointVerdict> TCalibrationSession::Finish(double Seconds)
{
    if (FPoints.empty() || FPoints.back().Verdict().Ended)
        return std::nullopt;
    FPoints.back().Interrupt(Now(Seconds));
    return FPoints.back().Verdict();
}

std::optional<TPointVerdict> TCalibrationSession::Tick(double Seconds, double SpeedKmh)
{
    if (!std::isfinite(Seconds) || !std::isfinite(SpeedKmh) || SpeedKmh < 0)
        return std::nullopt;
    if (!FSpeeds.empty() && Seconds <= FSpeeds.back().Seconds)
        return std::nullopt;
    FSpeeds.push_back({Seconds, SpeedKmh});
    if (!FPoints.empty() && FPoints.back().Add(Seconds, SpeedKmh))
        return FPoints.back().Verdict();
    return std::nullopt;
}

std::vector<TPointVerdict> TCalibrationSession::Verdicts() const
{
    std::vector<TPointVerdict> verdicts;
    verdicts.reserve(FPoints.size());
    for (const TPointMeasurement &point : FPoints)
        verdicts.push_back(point.Verdict());
    return verdicts;
}
