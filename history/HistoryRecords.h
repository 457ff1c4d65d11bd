#pragma once
// The records of the calibration history, free of Qt and of the application's own types: the
// application maps its points and trainer calibrations onto them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One speed reading while a point was held; Seconds from the start of the session.
struct THistorySample {
    double Seconds = 0;
    double SpeedKmh = 0;
};

struct THistoryPoint {
    std::string Name; // "P1", "PA", ...
    int Level = 0;
    double TargetKmh = 0;
    double StartedSeconds = 0;
    bool Settled = false;
    double MeanKmh = 0, StdDevKmh = 0, SettleSeconds = 0, DeviationKmh = 0;
    std::optional<double> DeviationPercent; // none when the target is 0
    std::vector<THistorySample> Samples;
};

struct THistorySession {
    int64_t Id = 0;
    int64_t StartedMs = 0; // Unix ms, UTC
    std::optional<int64_t> EndedMs;
    std::string TrainerIdentity; // from FE-C pages 80/81; "" when unknown
    int DeviceNumber = 0;
    double UnitType = 0;
    std::string SettingsFile;
    std::string AppVersion;
    std::vector<THistoryPoint> Points;
};

struct THistoryTrainerCalibration {
    int64_t Id = 0;
    int64_t TimeMs = 0; // Unix ms, UTC
    std::string TrainerIdentity;
    int DeviceNumber = 0;
    std::string Kinds;   // "zero offset", "spin-down", "zero offset and spin-down"
    std::string Outcome; // "succeeded", "failed", "not answered", "timed out", "cancelled", ...
    std::optional<int> SpinDownMs, ZeroOffset;
    std::optional<double> TemperatureC;
    std::string EndText;
};
