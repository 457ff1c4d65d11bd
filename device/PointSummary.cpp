#include "device/PointSummary.h"

#include <charconv>
#include <cmath>

namespace {

// std::to_chars ignores the C locale, which the Qt application takes from the environment.
std::string Fixed(double Value, int Decimals, bool Signed = false)
{
    const double scale = std::pow(10.0, Decimals);
    double rounded = std::round(Value * scale) / scale;
    if (rounded == 0)
        rounded = 0; // no "-0.0"
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, rounded, std::chars_format::fixed, Decimals);
    if (error != std::errc())
        return "?";
    std::string result(text, end);
    return Signed && rounded > 0 ? "+" + result : result;
}

std::string Outcome(const TPointVerdict &Verdict)
{
    const std::string seconds = Fixed(Verdict.SettleSeconds, 0) + " s";
    if (!Verdict.Ended)
        return "still measuring after " + seconds;
    if (Verdict.Settled)
        return "settled after " + seconds;
    if (Verdict.Interrupted)
        return "not settled, interrupted after " + seconds;
    return "not settled within " + seconds;
}

std::string Measured(const TPointVerdict &Verdict)
{
    if (Verdict.Samples.empty())
        return "no speed measured";
    std::string line = "mean " + Fixed(Verdict.MeanKmh, 1) + " ± " + Fixed(Verdict.StdDevKmh, 1) + " km/h";
    line += ", deviation " + Fixed(Verdict.DeviationKmh, 1, true) + " km/h";
    if (Verdict.DeviationPercent)
        line += " (" + Fixed(*Verdict.DeviationPercent, 1, true) + " %)";
    return line;
}

} // namespace

std::string PointSummaryLine(const TPointVerdict &Verdict)
{
    return "Point " + Verdict.Name + " " + Outcome(Verdict) + ": level " + std::to_string(Verdict.Level) +
           ", target " + Fixed(Verdict.TargetKmh, 1) + " km/h, " + Measured(Verdict);
}
