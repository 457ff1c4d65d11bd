#include "app/ResultsRecorder.h"

#include "app/DeviceEventBridge.h"
#include "app/CalibrationSettings.h"
#include "app/LogLines.h"
#include "device/TarvoDeviceAntP.h"
#include "framework/SysUtils.h"
#include "platform/Registry.h"

#include <QDateTime>

#include <chrono>
#include <iostream>

namespace {

int64_t NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

int64_t SteadyNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char *OutcomeText(TTrainerCalibrationState State)
{
    switch (State) {
    case tcsSucceeded: return "succeeded";
    case tcsFailed: return "failed";
    case tcsNotAnswered: return "not answered";
    case tcsTimedOut: return "timed out";
    case tcsCancelled: return "cancelled";
    default: return "unknown";
    }
}

} // namespace

THistoryPoint HistoryPointOf(const TPointVerdict &V)
{
    THistoryPoint p;
    p.Name = V.Name;
    p.Level = V.Level;
    p.TargetKmh = V.TargetKmh;
    p.StartedSeconds = V.StartedSeconds;
    p.Settled = V.Settled;
    p.MeanKmh = V.MeanKmh;
    p.StdDevKmh = V.StdDevKmh;
    p.SettleSeconds = V.SettleSeconds;
    p.DeviationKmh = V.DeviationKmh;
    p.DeviationPercent = V.DeviationPercent;
    for (const TPointSample &s : V.Samples)
        p.Samples.push_back({s.Seconds, s.SpeedKmh});
    return p;
}

TResultsRecorder::TResultsRecorder(TTarvoDeviceAntP &Device, TDeviceEventBridge &Events, TLogLines &Log,
                                   QObject *Parent)
    : QObject(Parent), FDevice(&Device), FLog(Log), FSteadyMs(SteadyNowMs)
{
    connect(&Events, &TDeviceEventBridge::Stats, this, [this] { Sample(); });
    connect(&Events, &TDeviceEventBridge::TrainerCalibrationChanged, this, [this] { TrainerCalibrationChanged(); });
    // The bridge goes before the device: after it, nothing here may read the device.
    connect(&Events, &QObject::destroyed, this, [this] { FDevice = nullptr; });
}

TResultsRecorder::~TResultsRecorder() { EndSession(); }

void TResultsRecorder::OpenHistory(const std::string &Path)
{
    std::string error;
    FHistory = THistoryStore::Open(Path, error);
    FHistoryError = FHistory ? std::string() : error;
    if (!FHistory) {
        std::cerr << "fennick: " << error << " The calibration goes on without a history.\n";
        Log("History: " + error + " The calibration goes on without a history.");
    }
}

double TResultsRecorder::Seconds() const { return FStarted ? (FSteadyMs() - FStartSteadyMs) / 1000.0 : 0.0; }

std::string TResultsRecorder::TrainerIdentity() const
{
    TAntChannel *trainer = FDevice ? FDevice->ChannelTrainer() : nullptr;
    const auto *fe = trainer ? dynamic_cast<const TAntProfileFE *>(trainer->ProfileData()) : nullptr;
    if (fe == nullptr || (fe->ManufacturerId() == 0 && fe->SerialNumber() == 0))
        return "";
    return "manufacturer " + std::to_string(fe->ManufacturerId()) + ", model " + std::to_string(fe->ModelNumber()) +
           ", serial " + std::to_string(static_cast<uint32_t>(fe->SerialNumber()));
}

void TResultsRecorder::PointApplied(const std::string &Name, int Level, double TargetKmh)
{
    if (!FStarted) {
        FStarted = true;
        FStartSteadyMs = FSteadyMs();
        FStartedMs = NowMs();
    }
    const std::optional<TPointVerdict> ended = FSession.Apply(Name, Level, TargetKmh, Seconds());
    if (ended)
        PointEnded(*ended);
    emit SessionChanged();
}

void TResultsRecorder::Sample()
{
    if (!FStarted || FDevice == nullptr)
        return;
    if (const std::optional<TPointVerdict> ended = FSession.Tick(Seconds(), FDevice->Speed()))
        PointEnded(*ended);
    emit SessionChanged();
}

void TResultsRecorder::PointEnded(const TPointVerdict &Verdict)
{
    // A point pressed before the trainer was connected, applied again on connection: it
    // measured nothing and is no result.
    if (Verdict.Samples.empty())
        return;
    Log(PointSummaryLine(Verdict));
    if (!FHistory || !BeginStoredSession())
        return;
    if (!FHistory->AddPoint(FStoredSession, HistoryPointOf(Verdict)))
        HistoryFailed("the point " + Verdict.Name);
    else
        emit HistoryChanged();
}

bool TResultsRecorder::BeginStoredSession()
{
    if (FStoredSession != 0)
        return true;
    THistorySession s;
    s.StartedMs = FStartedMs;
    s.TrainerIdentity = TrainerIdentity();
    s.DeviceNumber = FDevice ? FDevice->DeviceNumber() : 0;
    try {
        s.UnitType = ReadUnitType();
    } catch (const std::exception &) {
        // A setting that does not convert is the window's to report; the record keeps 0.
    }
    s.SettingsFile = RegistryFile();
    s.AppVersion = FENNICK_VERSION;
    FStoredSession = FHistory->BeginSession(s);
    if (FStoredSession == 0)
        HistoryFailed("the session");
    return FStoredSession != 0;
}

void TResultsRecorder::EndSession()
{
    if (!FStarted)
        return;
    // The point still being measured is kept as it stands.
    if (const std::optional<TPointVerdict> last = FSession.Finish(Seconds()))
        PointEnded(*last);
    if (FHistory && FStoredSession != 0 && !FHistory->EndSession(FStoredSession, NowMs()))
        HistoryFailed("the end of the session");
    FStoredSession = 0;
    FStarted = false;
    FSession = TCalibrationSession();
}

void TResultsRecorder::TrainerCalibrationChanged()
{
    if (FDevice == nullptr)
        return;
    const TTrainerCalibrationView view = FDevice->TrainerCalibration();
    const bool ended = FCalibrationRunning && !view.Running();
    FCalibrationRunning = view.Running();
    if (!ended || !FHistory)
        return;
    THistoryTrainerCalibration c;
    c.TimeMs = NowMs();
    c.TrainerIdentity = TrainerIdentity();
    c.DeviceNumber = FDevice->DeviceNumber();
    c.Kinds = TrainerCalibrationKindsText(view.Asked);
    c.Outcome = OutcomeText(view.State);
    if (view.Result.SpinDownTime)
        c.SpinDownMs = *view.Result.SpinDownTime;
    if (view.Result.ZeroOffset)
        c.ZeroOffset = *view.Result.ZeroOffset;
    c.TemperatureC = view.Result.Temperature;
    c.EndText = view.EndText;
    if (!FHistory->AddTrainerCalibration(c))
        HistoryFailed("the trainer calibration");
    else
        emit HistoryChanged();
}

void TResultsRecorder::Log(const std::string &Line) { FLog.Add(TimeStamp() + " " + Line); }

void TResultsRecorder::HistoryFailed(const std::string &What)
{
    const std::string line = "History: " + What + " was not saved: " + FHistory->LastError();
    std::cerr << "fennick: " << line << "\n";
    Log(line);
}
