#include "app/TrainerCalibrationAdvice.h"

#include "framework/SysUtils.h"

#include <cmath>
#include <cstdio>

namespace {

const char *const Degrees = "\u00B0C";

std::string Celsius(const std::optional<double> &Value)
{
    return Value ? LocaleDecimal(*Value) + " " + Degrees : std::string();
}

std::string Kmh(double Value) { return LocaleDecimal(Value) + " km/h"; }

std::string Seconds(uint16_t Ms) { return LocaleDecimal(Ms / 1000.0, 2) + " s"; }

bool Cold(const TTrainerCalibrationProgress &P) { return P.TemperatureCondition == ctcTooLow; }
bool Hot(const TTrainerCalibrationProgress &P) { return P.TemperatureCondition == ctcTooHigh; }

// What the rider does while the trainer spins down: reach the speed, then coast.
std::string SpinDownInstruction(const TTrainerCalibrationProgress &P)
{
    if (P.SpeedCondition == cscOk)
        return "Stop pedalling and let the wheel coast";
    if (P.TargetSpeed)
        return "Pedal up to " + Kmh(*P.TargetSpeed);
    return "Pedal faster until the trainer says the speed is reached";
}

std::string RunningInstruction(const TTrainerCalibrationView &V)
{
    const TTrainerCalibrationProgress &p = V.Progress;
    if (V.State == tcsRequesting) {
        if (V.Resends == 0)
            return "Asking the trainer to start its calibration\u2026";
        return "No answer yet; asking the trainer again (" + std::to_string(V.Resends) + " of " +
               std::to_string(TTrainerCalibration::MaxResends) + ")\u2026";
    }
    if (Cold(p)) {
        const std::string t = Celsius(p.Temperature);
        return "Warm up first: the trainer is too cold" + (t.empty() ? std::string() : " (" + t + ")");
    }
    if (Hot(p)) {
        const std::string t = Celsius(p.Temperature);
        return "Let the trainer cool down: it is too hot" + (t.empty() ? std::string() : " (" + t + ")");
    }
    if (p.Pending.SpinDown)
        return SpinDownInstruction(p);
    if (p.Pending.ZeroOffset)
        return "Keep the pedals still";
    return "Keep the pedals still and wait for the trainer's result";
}

std::string RunningDetail(const TTrainerCalibrationProgress &P)
{
    std::string s;
    if (P.Temperature)
        s = "Trainer temperature " + Celsius(P.Temperature);
    if (P.Pending.SpinDown && P.TargetSpinDownTime)
        s += (s.empty() ? "" : "; ") + std::string("target spin-down time ") + Seconds(*P.TargetSpinDownTime);
    if (Cold(P))
        s += (s.empty() ? "" : ". ") + std::string("Ride at an easy pace: the calibration goes on once the trainer is warm.");
    return s;
}

// The last conditions the trainer reported, in plain words.
std::string LastHeard(const TTrainerCalibrationProgress &P)
{
    std::string s;
    auto add = [&s](const std::string &Part) { s += (s.empty() ? "" : ", ") + Part; };
    switch (P.SpeedCondition) {
    case cscTooLow:
        add("speed too low" + (P.TargetSpeed ? " (target " + Kmh(*P.TargetSpeed) + ")" : std::string()));
        break;
    case cscOk: add("speed reached"); break;
    default: break;
    }
    switch (P.TemperatureCondition) {
    case ctcTooLow: add("trainer too cold"); break;
    case ctcTooHigh: add("trainer too hot"); break;
    case ctcOk: add("temperature OK"); break;
    default: break;
    }
    if (P.Temperature)
        add(Celsius(P.Temperature));
    return s.empty() ? "nothing" : s;
}

std::string Numbers(const TTrainerCalibrationView &V)
{
    const TTrainerCalibrationResult &r = V.Result;
    std::string s;
    auto line = [&s](const std::string &Text) { s += (s.empty() ? "" : "\n") + Text; };
    if (r.Succeeded.SpinDown)
        line("Spin-down time: " + (r.SpinDownTime ? Seconds(*r.SpinDownTime) : std::string("not given by the trainer")));
    if (r.Succeeded.ZeroOffset)
        line("Zero offset: " + (r.ZeroOffset ? std::to_string(*r.ZeroOffset) : std::string("not given by the trainer")));
    if (r.Temperature && r.Succeeded.Any())
        line("Trainer temperature: " + Celsius(r.Temperature));
    return s;
}

std::string FailureAdvice(const TTrainerCalibrationView &V)
{
    const TTrainerCalibrationProgress &p = V.Progress;
    if (Cold(p))
        return "Ride for about ten minutes to warm the trainer up, then run it again.";
    if (V.Result.Failed.SpinDown)
        return "Pedal steadily above the target speed, then stop pedalling completely and let the wheel run "
               "down without touching the pedals until the result shows.";
    return "Unclip and keep the pedals still, with the crank arms level, until the result shows; then run it again.";
}

std::string EndedResult(const TTrainerCalibrationView &V)
{
    switch (V.State) {
    case tcsSucceeded: return Numbers(V);
    case tcsFailed: {
        std::string s = Numbers(V);
        s += (s.empty() ? "" : "\n") + std::string("Last heard from the trainer: ") + LastHeard(V.Progress) + ".";
        return s + "\nWhat to try: " + FailureAdvice(V);
    }
    case tcsTimedOut:
        return "Last heard from the trainer: " + LastHeard(V.Progress) + ".\nWhat to try: " + FailureAdvice(V);
    case tcsNotAnswered:
        return "What to try: check that the trainer is awake and that no other app is connected to it, then run "
               "it again. Some trainers calibrate only from their maker's app.";
    default: return "";
    }
}

} // namespace

std::string LocaleDecimal(double Value, int Decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", Decimals, std::isfinite(Value) ? Value : 0.0);
    std::string s = text;
    for (char &c : s)
        if (c == '.')
            c = DecimalSeparator();
    return s;
}

TTrainerCalibrationAdvice AdviseTrainerCalibration(const TTrainerCalibrationView &V)
{
    TTrainerCalibrationAdvice a;
    if (V.State == tcsIdle) {
        a.Instruction = "Choose a calibration and press Start.";
        return a;
    }
    if (!V.Running()) {
        a.Instruction = V.EndText;
        a.Result = EndedResult(V);
        return a;
    }
    const TTrainerCalibrationProgress &p = V.Progress;
    a.Instruction = RunningInstruction(V);
    a.Detail = V.State == tcsInProgress ? RunningDetail(p) : std::string();
    a.ShowSpeed = V.State == tcsInProgress && p.Pending.SpinDown && p.TargetSpeed && p.SpeedCondition != cscOk &&
                  !Cold(p) && !Hot(p);
    if (a.ShowSpeed) {
        a.TargetSpeedKmh = *p.TargetSpeed;
        a.SpeedKmh = p.CurrentSpeed.value_or(0);
        a.SpeedText = (p.CurrentSpeed ? LocaleDecimal(*p.CurrentSpeed) : std::string("\u2013")) + " of " +
                      Kmh(*p.TargetSpeed);
    }
    return a;
}

TTrainerCalibrationChoice SuggestTrainerCalibration(const TTrainerCalibrationView &View, bool TrainerConnected)
{
    if (!TrainerConnected)
        return {{false, true}, "Connect to the trainer first: press Connect in the calibration window and pedal."};
    const TTrainerCalibrationKinds required = View.Required;
    if (required.ZeroOffset && required.SpinDown)
        return {required, "The trainer asks for a zero offset and a spin-down calibration."};
    if (required.SpinDown)
        return {required, "The trainer asks for a spin-down calibration."};
    if (required.ZeroOffset)
        return {required, "The trainer asks for a zero offset calibration."};
    return {{false, true}, "The trainer does not ask for a calibration now; a spin-down after a warm-up is the usual one."};
}
