#include "history/HistoryCsv.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

enum TColumn {
    Record, Time, Ended, Trainer, DeviceNumber, SessionId, UnitType, SettingsFile, AppVersion,
    Point, Level, TargetKmh, PointStartedS, Settled, MeanKmh, StdDevKmh, SettleS, DeviationKmh,
    DeviationPercent, SampleCount, CalibrationId, Kinds, Outcome, SpinDownMs, ZeroOffset,
    TemperatureC, EndText, ColumnCount
};

constexpr std::array<const char *, ColumnCount> Header = {
    "record", "time_utc", "ended_utc", "trainer", "device_number", "session_id", "unit_type",
    "settings_file", "app_version", "point", "level", "target_kmh", "point_started_s", "settled",
    "mean_kmh", "stddev_kmh", "settle_s", "deviation_kmh", "deviation_percent", "samples",
    "calibration_id", "calibration_kinds", "outcome", "spin_down_ms", "zero_offset",
    "temperature_c", "end_text"};

using TRow = std::array<std::string, ColumnCount>;

// Shortest text that reads back as the same double, never with a decimal comma.
std::string Number(double Value)
{
    std::array<char, 32> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), Value);
    return std::string(text.data(), result.ptr);
}

std::string Number(const std::optional<double> &Value) { return Value ? Number(*Value) : ""; }
std::string Number(const std::optional<int> &Value) { return Value ? std::to_string(*Value) : ""; }

// 2024-05-01T10:20:30.123Z
std::string IsoUtc(int64_t UnixMs)
{
    const int64_t ms = ((UnixMs % 1000) + 1000) % 1000;
    const std::time_t seconds = std::time_t((UnixMs - ms) / 1000);
    std::tm utc{};
    if (::gmtime_r(&seconds, &utc) == nullptr)
        return "";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, int(ms));
    return text;
}

std::string Field(const std::string &Value)
{
    if (Value.find_first_of(",\"\r\n") == std::string::npos)
        return Value;
    std::string quoted = "\"";
    for (char c : Value) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

template <typename TFields> void WriteRow(const TFields &Fields, std::ostream &Out)
{
    for (size_t i = 0; i < Fields.size(); ++i)
        Out << (i == 0 ? "" : ",") << Field(Fields[i]);
    Out << "\r\n";
}

TRow SessionRow(const THistorySession &Session)
{
    TRow row;
    row[Record] = "session";
    row[Time] = IsoUtc(Session.StartedMs);
    row[Ended] = Session.EndedMs ? IsoUtc(*Session.EndedMs) : "";
    row[Trainer] = Session.TrainerIdentity;
    row[DeviceNumber] = std::to_string(Session.DeviceNumber);
    row[SessionId] = std::to_string(Session.Id);
    row[UnitType] = Number(Session.UnitType);
    row[SettingsFile] = Session.SettingsFile;
    row[AppVersion] = Session.AppVersion;
    return row;
}

TRow PointRow(const THistorySession &Session, const THistoryPoint &Point)
{
    TRow row = SessionRow(Session);
    row[Record] = "point";
    row[TColumn::Point] = Point.Name;
    row[Level] = std::to_string(Point.Level);
    row[TargetKmh] = Number(Point.TargetKmh);
    row[PointStartedS] = Number(Point.StartedSeconds);
    row[Settled] = Point.Settled ? "yes" : "no";
    row[MeanKmh] = Number(Point.MeanKmh);
    row[StdDevKmh] = Number(Point.StdDevKmh);
    row[SettleS] = Number(Point.SettleSeconds);
    row[DeviationKmh] = Number(Point.DeviationKmh);
    row[DeviationPercent] = Number(Point.DeviationPercent);
    row[SampleCount] = std::to_string(Point.Samples.size());
    return row;
}

TRow CalibrationRow(const THistoryTrainerCalibration &Calibration)
{
    TRow row;
    row[Record] = "trainer calibration";
    row[Time] = IsoUtc(Calibration.TimeMs);
    row[Trainer] = Calibration.TrainerIdentity;
    row[DeviceNumber] = std::to_string(Calibration.DeviceNumber);
    row[CalibrationId] = std::to_string(Calibration.Id);
    row[Kinds] = Calibration.Kinds;
    row[Outcome] = Calibration.Outcome;
    row[SpinDownMs] = Number(Calibration.SpinDownMs);
    row[ZeroOffset] = Number(Calibration.ZeroOffset);
    row[TemperatureC] = Number(Calibration.TemperatureC);
    row[EndText] = Calibration.EndText;
    return row;
}

} // namespace

void WriteHistoryCsv(const std::vector<THistorySession> &Sessions,
                     const std::vector<THistoryTrainerCalibration> &Calibrations, std::ostream &Out)
{
    WriteRow(Header, Out);
    for (const THistorySession &session : Sessions) {
        // A session stopped before its first point is still a run to see.
        if (session.Points.empty())
            WriteRow(SessionRow(session), Out);
        for (const THistoryPoint &point : session.Points)
            WriteRow(PointRow(session, point), Out);
    }
    for (const THistoryTrainerCalibration &calibration : Calibrations)
        WriteRow(CalibrationRow(calibration), Out);
}
