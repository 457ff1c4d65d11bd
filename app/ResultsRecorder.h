#pragma once
// Keeps the results of a calibration session: a measurement of each point applied, sampled at
// every statistics tick, and the trainer's own calibrations; writes them to the history file
// as they end. Lives as long as the calibration window, whether a results window is open or not.
#include "device/CalibrationSession.h"
#include "device/PointSummary.h"
#include "history/HistoryStore.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TDeviceEventBridge;
class TLogLines;
class TTarvoDeviceAntP;

class TResultsRecorder : public QObject {
    Q_OBJECT

public:
    TResultsRecorder(TTarvoDeviceAntP &Device, TDeviceEventBridge &Events, TLogLines &Log, QObject *Parent);
    // Writes the end of the session; the device may be gone already.
    ~TResultsRecorder() override;

    // The history file from now on. A file that cannot be used is named on standard error and
    // in the debug log; the calibration goes on without a history.
    void OpenHistory(const std::string &Path);
    THistoryStore *History() const { return FHistory.get(); }
    // Why the history file could not be used; empty when it is open or none was asked for.
    const std::string &HistoryError() const { return FHistoryError; }

    // Milliseconds of a steady clock; tests run a session on a clock of their own.
    void SetClock(std::function<int64_t()> SteadyMs) { FSteadyMs = std::move(SteadyMs); }

    // The calibration window applied a point (P1..P3, PA, PB).
    void PointApplied(const std::string &Name, int Level, double TargetKmh);
    const TCalibrationSession &Session() const { return FSession; }
    // Seconds since the session's first point; 0 before.
    double Seconds() const;
    // When the session's first point was applied (Unix ms); 0 before.
    int64_t StartedMs() const { return FStarted ? FStartedMs : 0; }
    // The trainer as its pages 80/81 name it; "" before they are heard.
    std::string TrainerIdentity() const;
    // Ends the session in the history (its end time); later points start a new one.
    void EndSession();

signals:
    // A sample or a point changed this session's results.
    void SessionChanged();
    // A row was written to the history file.
    void HistoryChanged();

private:
    void Sample();
    void TrainerCalibrationChanged();
    void PointEnded(const TPointVerdict &Verdict);
    bool BeginStoredSession();
    void Log(const std::string &Line);
    void HistoryFailed(const std::string &What);

    TTarvoDeviceAntP *FDevice;
    TLogLines &FLog;
    TCalibrationSession FSession;
    std::function<int64_t()> FSteadyMs;
    int64_t FStartSteadyMs = 0;
    bool FStarted = false;
    int64_t FStartedMs = 0;
    std::unique_ptr<THistoryStore> FHistory;
    std::string FHistoryError;
    int64_t FStoredSession = 0;
    // The trainer calibration was running at the last look.
    bool FCalibrationRunning = false;
};

// The history's record of a point, from its verdict.
THistoryPoint HistoryPointOf(const TPointVerdict &Verdict);
