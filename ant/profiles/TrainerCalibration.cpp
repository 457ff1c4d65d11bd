#include "ant/profiles/TrainerCalibration.h"

#include "ant/profiles/PageNumbers.h"

#include <cmath>

const char *const TTrainerCalibration::NotAnsweredText =
    "The trainer did not answer the calibration request; it may not support this calibration.";

namespace {

uint16_t U16(const TFePagePayload &Page, size_t At)
{
    return static_cast<uint16_t>(Page[At] | (Page[At + 1] << 8));
}

std::optional<double> Temperature(uint8_t Raw)
{
    if (Raw == 0xFF)
        return std::nullopt;
    return Raw * 0.5 - 25.0;
}

std::optional<uint16_t> Field16(const TFePagePayload &Page, size_t At)
{
    const uint16_t v = U16(Page, At);
    if (v == 0xFFFF)
        return std::nullopt;
    return v;
}

std::optional<double> SpeedKmh(const TFePagePayload &Page, size_t At)
{
    const std::optional<uint16_t> v = Field16(Page, At);
    if (!v)
        return std::nullopt;
    return *v * 0.0036; // 0.001 m/s
}

// One decimal with a point whatever the locale: the log is read by support, not the rider.
std::string Tenths(double Value)
{
    const long long t = std::llround(Value * 10.0);
    const long long a = t < 0 ? -t : t;
    return (t < 0 ? "-" : "") + std::to_string(a / 10) + "." + std::to_string(a % 10);
}

std::string SpeedText(const std::optional<double> &Kmh)
{
    return Kmh ? Tenths(*Kmh) + " km/h" : "unknown";
}

std::string TemperatureText(const std::optional<double> &Celsius)
{
    return Celsius ? Tenths(*Celsius) + " °C" : "temperature unknown";
}

std::string TemperatureConditionText(const TTrainerCalibrationProgress &P)
{
    std::string what;
    switch (P.TemperatureCondition) {
    case ctcNotHeard: return "";
    case ctcNotApplicable: what = "temperature does not matter"; break;
    case ctcTooLow: what = "temperature too low"; break;
    case ctcOk: what = "temperature OK"; break;
    case ctcTooHigh: what = "temperature too high"; break;
    }
    return what + " (" + TemperatureText(P.Temperature) + ")";
}

std::string SpeedConditionText(const TTrainerCalibrationProgress &P)
{
    std::string what;
    switch (P.SpeedCondition) {
    case cscNotHeard: return "";
    case cscNotApplicable: return "speed does not matter";
    case cscReserved: return "speed condition reserved value 3";
    case cscTooLow: what = "speed too low"; break;
    case cscOk: what = "speed OK"; break;
    }
    if (!P.CurrentSpeed && !P.TargetSpeed)
        return what + " (speed and target unknown)";
    if (!P.TargetSpeed)
        return what + " (" + SpeedText(P.CurrentSpeed) + "; target unknown)";
    if (!P.CurrentSpeed)
        return what + " (speed unknown; target " + SpeedText(P.TargetSpeed) + ")";
    return what + " (" + SpeedText(P.CurrentSpeed) + " of " + SpeedText(P.TargetSpeed) + ")";
}

std::string LastSeenText(const TTrainerCalibrationProgress &P)
{
    std::string s;
    const std::string speed = SpeedConditionText(P);
    const std::string temperature = TemperatureConditionText(P);
    if (!speed.empty())
        s = speed;
    if (!temperature.empty())
        s += (s.empty() ? "" : ", ") + temperature;
    return s.empty() ? "no progress heard" : "last heard: " + s;
}

} // namespace

std::string TrainerCalibrationKindsText(TTrainerCalibrationKinds Kinds)
{
    if (Kinds.ZeroOffset && Kinds.SpinDown)
        return "zero offset and spin-down";
    if (Kinds.ZeroOffset)
        return "zero offset";
    if (Kinds.SpinDown)
        return "spin-down";
    return "no calibration";
}

TTrainerCalibrationProgress DecodeTrainerCalibrationProgress(const TFePagePayload &Page)
{
    TTrainerCalibrationProgress p;
    p.Pending = TTrainerCalibrationKinds::FromBits(Page[1]);
    static constexpr TCalibrationTemperatureCondition temperature[] = {ctcNotApplicable, ctcTooLow, ctcOk,
                                                                       ctcTooHigh};
    static constexpr TCalibrationSpeedCondition speed[] = {cscNotApplicable, cscTooLow, cscOk, cscReserved};
    p.TemperatureCondition = temperature[(Page[2] >> 4) & 0x03];
    p.SpeedCondition = speed[Page[2] >> 6];
    p.Temperature = Temperature(Page[3]);
    p.TargetSpeed = SpeedKmh(Page, 4);
    p.TargetSpinDownTime = Field16(Page, 6);
    return p;
}

TTrainerCalibrationResponse DecodeTrainerCalibrationResponse(const TFePagePayload &Page)
{
    return {TTrainerCalibrationKinds::FromBits(Page[1]), Temperature(Page[3]), Field16(Page, 4), Field16(Page, 6)};
}

TTrainerCalibrationKinds DecodeTrainerCalibrationRequired(const TFePagePayload &Page)
{
    return {(Page[6] & 0x10) != 0, (Page[6] & 0x20) != 0};
}

std::optional<double> DecodeTrainerSpeed(const TFePagePayload &Page) { return SpeedKmh(Page, 4); }

// ---- the run ------------------------------------------------------------------------------

void TTrainerCalibration::Log(const std::string &Text) const
{
    if (OnLog)
        OnLog("Trainer calibration: " + Text);
}

void TTrainerCalibration::End(TTrainerCalibrationState State, const std::string &Text)
{
    FState = State;
    FEndText = Text;
}

TTrainerCalibrationAction TTrainerCalibration::Start(TTrainerCalibrationKinds Kinds, uint32_t NowMs)
{
    if (Running() || !Kinds.Any())
        return {};
    const std::optional<double> speed = FProgress.CurrentSpeed;
    FProgress = {};
    FProgress.CurrentSpeed = speed;
    FResult = {};
    FIgnoredProgress = {};
    FEndText.clear();
    FAsked = Kinds;
    FState = tcsRequesting;
    FStartedMs = NowMs;
    FLastSendMs = NowMs;
    FResends = 0;
    Log(TrainerCalibrationKindsText(Kinds) + " requested");
    return {tccSendRequest, Kinds, true};
}

TTrainerCalibrationAction TTrainerCalibration::Cancel(uint32_t)
{
    if (!Running())
        return {};
    End(tcsCancelled, "The calibration was cancelled.");
    Log("cancelled; cancel request sent");
    return {tccSendCancel, {}, true};
}

bool TTrainerCalibration::Expire(uint32_t NowMs)
{
    if (!Running() || static_cast<uint32_t>(NowMs - FStartedMs) < RunLimitMs)
        return false;
    End(tcsTimedOut, "The calibration did not end within 3 minutes.");
    // The trainer may still be calibrating (a released brake, a wait for the rider): it is
    // told to stop, so that the end shown is the trainer's end too.
    Log("no result within 3 minutes (" + LastSeenText(FProgress) + "); ended as timed out, cancel request sent");
    return true;
}

TTrainerCalibrationAction TTrainerCalibration::Tick(uint32_t NowMs)
{
    if (!Running())
        return {};
    if (Expire(NowMs))
        return {tccSendCancel, {}, true};
    if (FState != tcsRequesting || static_cast<uint32_t>(NowMs - FLastSendMs) < AnswerWaitMs)
        return {};
    if (FResends >= MaxResends) {
        End(tcsNotAnswered, NotAnsweredText);
        Log(std::string("not answered after ") + std::to_string(MaxResends) + " resends: " + NotAnsweredText);
        return {tccNone, {}, true};
    }
    ++FResends;
    FLastSendMs = NowMs;
    Log("no answer within 2 s; " + TrainerCalibrationKindsText(FAsked) + " request sent again (" +
        std::to_string(FResends) + " of " + std::to_string(MaxResends) + ")");
    return {tccSendRequest, FAsked, true};
}

TTrainerCalibrationAction TTrainerCalibration::Page(const TFePagePayload &Payload, uint32_t NowMs)
{
    // A result heard after the limit comes too late, even when the clock has not ticked.
    if (Expire(NowMs)) {
        // Pages 1 and 2 have nothing to add to an ended run; 16 and 25 still count.
        PageInRun(Payload);
        return {tccSendCancel, {}, true};
    }
    return PageInRun(Payload);
}

TTrainerCalibrationAction TTrainerCalibration::PageInRun(const TFePagePayload &Payload)
{
    switch (Payload[0]) {
    case FePageTrainerData: {
        const TTrainerCalibrationKinds required = DecodeTrainerCalibrationRequired(Payload);
        if (required == FRequired)
            return {};
        FRequired = required;
        Log(required.Any() ? "trainer asks for " + TrainerCalibrationKindsText(required) + " calibration"
                           : "trainer asks for no calibration");
        return {tccNone, {}, true};
    }
    case FePageGeneral: {
        const std::optional<double> speed = DecodeTrainerSpeed(Payload);
        if (speed == FProgress.CurrentSpeed)
            return {};
        FProgress.CurrentSpeed = speed;
        return {tccNone, {}, Running()};
    }
    case FePageCalibrationProgress: return Running() ? ProgressPage(Payload) : TTrainerCalibrationAction{};
    case FePageCalibrationResponse: return Running() ? ResponsePage(Payload) : TTrainerCalibrationAction{};
    default: return {};
    }
}

TTrainerCalibrationAction TTrainerCalibration::ProgressPage(const TFePagePayload &Payload)
{
    TTrainerCalibrationProgress p = DecodeTrainerCalibrationProgress(Payload);
    const TTrainerCalibrationKinds asked{p.Pending.ZeroOffset && FAsked.ZeroOffset,
                                        p.Pending.SpinDown && FAsked.SpinDown};
    if (!asked.Any()) {
        // Progress of a calibration this run did not ask for (another program's, or one the
        // trainer started itself) says nothing about ours.
        if (p.Pending == FIgnoredProgress)
            return {};
        FIgnoredProgress = p.Pending;
        Log("progress page for " + TrainerCalibrationKindsText(p.Pending) + ", which was not asked for; ignored");
        return {};
    }
    p.Pending = asked;
    p.CurrentSpeed = FProgress.CurrentSpeed;
    const TTrainerCalibrationProgress old = FProgress;
    const bool started = FState == tcsRequesting;
    FState = tcsInProgress;
    if (started)
        Log("trainer answered; " + TrainerCalibrationKindsText(asked) + " in progress");
    FProgress = p;
    LogProgressChanges(old);
    return {tccNone, {}, started || !(old == p)};
}

void TTrainerCalibration::LogProgressChanges(const TTrainerCalibrationProgress &Old)
{
    const TTrainerCalibrationProgress &p = FProgress;
    if (Old.Pending.Any() && !(p.Pending == Old.Pending))
        Log(TrainerCalibrationKindsText(p.Pending) + " pending");
    if (p.TargetSpeed != Old.TargetSpeed && FAsked.SpinDown)
        Log("target speed " + SpeedText(p.TargetSpeed));
    if (p.TargetSpinDownTime != Old.TargetSpinDownTime && FAsked.SpinDown)
        Log("target spin-down time " +
            (p.TargetSpinDownTime ? std::to_string(*p.TargetSpinDownTime) + " ms" : std::string("unknown")));
    if (p.SpeedCondition != Old.SpeedCondition)
        Log("trainer says " + SpeedConditionText(p));
    if (p.TemperatureCondition != Old.TemperatureCondition)
        Log("trainer says " + TemperatureConditionText(p));
}

TTrainerCalibrationAction TTrainerCalibration::ResponsePage(const TFePagePayload &Payload)
{
    const TTrainerCalibrationResponse r = DecodeTrainerCalibrationResponse(Payload);
    TTrainerCalibrationResult &result = FResult;
    result.Succeeded = {FAsked.ZeroOffset && r.Succeeded.ZeroOffset, FAsked.SpinDown && r.Succeeded.SpinDown};
    result.Failed = {FAsked.ZeroOffset && !r.Succeeded.ZeroOffset, FAsked.SpinDown && !r.Succeeded.SpinDown};
    // A value belongs to the result only when its kind succeeded: a failed kind's field is
    // whatever the trainer left there.
    if (result.Succeeded.ZeroOffset)
        result.ZeroOffset = r.ZeroOffset;
    if (result.Succeeded.SpinDown)
        result.SpinDownTime = r.SpinDownTime;
    result.Temperature = r.Temperature;

    std::string done;
    if (result.Succeeded.ZeroOffset)
        done = "zero offset " + (result.ZeroOffset ? std::to_string(*result.ZeroOffset) : std::string("not given"));
    if (result.Succeeded.SpinDown)
        done += (done.empty() ? "" : ", ") + std::string("spin-down time ") +
                (result.SpinDownTime ? std::to_string(*result.SpinDownTime) + " ms" : std::string("not given"));
    if (!done.empty())
        done += ", " + TemperatureText(result.Temperature);

    const TTrainerCalibrationKinds unasked{r.Succeeded.ZeroOffset && !FAsked.ZeroOffset,
                                           r.Succeeded.SpinDown && !FAsked.SpinDown};
    if (unasked.Any())
        Log("result also reports " + TrainerCalibrationKindsText(unasked) + ", which was not asked for; ignored");

    if (!result.Failed.Any()) {
        End(tcsSucceeded, "The trainer's " + TrainerCalibrationKindsText(FAsked) + " calibration succeeded.");
        Log("succeeded: " + done);
        return {tccNone, {}, true};
    }
    const std::string failed = TrainerCalibrationKindsText(result.Failed);
    End(tcsFailed, "The trainer reports that its " + failed + " calibration failed.");
    if (result.Succeeded.Any())
        Log(TrainerCalibrationKindsText(result.Succeeded) + " succeeded (" + done + "); " + failed + " failed (" +
            LastSeenText(FProgress) + ")");
    else
        Log(failed + " failed (" + LastSeenText(FProgress) +
            (result.Temperature ? "; result at " + TemperatureText(result.Temperature) : std::string()) + ")");
    return {tccNone, {}, true};
}
