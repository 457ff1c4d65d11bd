#pragma once
// What the trainer calibration window says, worked out from the run's view alone: what to do
// now while a run goes on, the result in words and numbers after it, or why it failed and what
// to try. Plain text in the process locale's decimals; no widgets, so it is tested on its own.
#include "device/TrainerCalibrationRun.h"

#include <optional>
#include <string>

struct TTrainerCalibrationAdvice {
    // What to do now, or how the run ended; never an instruction once the run is over.
    std::string Instruction;
    // Numbers the trainer gave while it runs (temperature, target time); empty when none.
    std::string Detail;
    // After a run: the numbers, or what was last heard and what to try.
    std::string Result;
    // The speed bar: shown only while the trainer waits for the target speed.
    bool ShowSpeed = false;
    double SpeedKmh = 0;        // current speed, 0 when unknown
    double TargetSpeedKmh = 0;
    std::string SpeedText;      // "28.4 of 32.0 km/h"
};

TTrainerCalibrationAdvice AdviseTrainerCalibration(const TTrainerCalibrationView &View);

// Which calibration to offer first, from what the trainer asks for (page 25), and why.
struct TTrainerCalibrationChoice {
    TTrainerCalibrationKinds Kinds;
    std::string Reason;
};
TTrainerCalibrationChoice SuggestTrainerCalibration(const TTrainerCalibrationView &View, bool TrainerConnected);

// A number with one decimal (or Decimals) and the locale's separator: "14.5" or "14,5".
std::string LocaleDecimal(double Value, int Decimals = 1);
