#include "antsim/SimCalibration.h"

#include "antsim/FecPages.h"

#include <algorithm>
#include <cmath>

namespace antsim {

namespace {

constexpr uint8_t kZero = DeviceConfig::kZeroOffsetBit;
constexpr uint8_t kSpin = DeviceConfig::kSpinDownBit;

// Page 2 byte 2: temperature condition in bits 4-5, speed condition in bits 6-7.
constexpr uint8_t kConditionTooLow = 1;
constexpr uint8_t kConditionOk = 2;

void putField16(Page &p, size_t at, unsigned v)
{
    p[at] = uint8_t(v & 0xFF);
    p[at + 1] = uint8_t((v >> 8) & 0xFF);
}

uint8_t temperatureByte(double celsius)
{
    return uint8_t(std::clamp(std::lround((celsius + 25.0) * 2.0), 0L, 254L));
}

// The time at which a straight line from (t0, v0) to (t1, v1) passes v.
double crossing(double t0, double v0, double t1, double v1, double v)
{
    return v0 == v1 ? t1 : t0 + (t1 - t0) * (v0 - v) / (v0 - v1);
}

} // namespace

SimCalibration::SimCalibration(const DeviceConfig &trainer, uint64_t seed)
    : FConfig(trainer),
      FCoast(coastModelOf(trainer, 75.0)),
      // a stream of its own, so that the radio's draws do not move the trainer's noise
      FRandom(seed ^ (0x9E3779B97F4A7C15ull * (trainer.deviceNumber + 1ull))),
      FTemperature(trainer.temperature),
      FRequired(trainer.calibrationRequired)
{
}

void SimCalibration::request(uint8_t kinds)
{
    if (FConfig.calibrationKinds == 0)
        return; // a trainer without calibration does not know the page
    FPhase = Phase::Idle;
    FPending = 0;
    FResultsLeft = 0;
    FSucceeded = 0;
    FZeroOffset = FSpinDownMs = 0xFFFF;
    kinds &= kZero | kSpin;
    if (!kinds)
        return; // the cancel
    FPending = kinds & FConfig.calibrationKinds;
    FStartedAt = FNow;
    if (!FPending) {
        finish(); // nothing it can do: the result says so at once
        return;
    }
    startNextKind();
}

void SimCalibration::startNextKind()
{
    if (FPending & kSpin) {
        FPhase = Phase::SpinUp;
    } else if (FPending & kZero) {
        FPhase = Phase::ZeroOffset;
        FStillSince = FNow;
    } else {
        finish();
    }
}

void SimCalibration::finish()
{
    FPhase = Phase::Idle;
    FPending = 0;
    if (FConfig.calibrationFails) {
        FSucceeded = 0;
        FZeroOffset = FSpinDownMs = 0xFFFF;
    }
    FRequired &= uint8_t(~FSucceeded);
    FResultsLeft = kResultRepeats;
}

bool SimCalibration::brakeReleased() const
{
    return FPhase == Phase::SpinUp || FPhase == Phase::WaitForCoast || FPhase == Phase::Coasting;
}

bool SimCalibration::wantsStillness() const
{
    return FPhase == Phase::WaitForCoast || FPhase == Phase::Coasting || FPhase == Phase::ZeroOffset;
}

void SimCalibration::warm(double joules)
{
    if (FTemperature < kWarmUpTo && joules > 0)
        FTemperature = std::min(kWarmUpTo, FTemperature + joules / kJoulesPerDegree);
}

void SimCalibration::step(double t, double h, double speed, double riderPower, double cadence)
{
    warm(riderPower * h);
    const double before = FSpeed, beforeT = FNow;
    FNow = t;
    FSpeed = speed;
    switch (FPhase) {
    case Phase::SpinUp:
    case Phase::WaitForCoast:
        stepSpinDown(speed, riderPower);
        break;
    case Phase::Coasting:
        stepCoast(t, before, beforeT, speed, riderPower);
        break;
    case Phase::ZeroOffset:
        stepZeroOffset(t, riderPower, cadence);
        break;
    case Phase::Idle:
        break;
    }
    if (FConfig.calibrationFails && running() && t - FStartedAt >= kFailAfterSeconds)
        finish();
}

void SimCalibration::stepSpinDown(double speed, double riderPower)
{
    if (speed <= targetSpeed() || tooCold()) {
        FPhase = Phase::SpinUp;
        return;
    }
    if (riderPower > 0) {
        FPhase = Phase::WaitForCoast;
        return;
    }
    FPhase = Phase::Coasting;
    FCoastFrom = -1.0;
}

void SimCalibration::stepCoast(double t, double before, double beforeT, double speed, double riderPower)
{
    if (riderPower > 0) {
        FPhase = Phase::SpinUp; // pedalled into the run-down: it starts over
        return;
    }
    // Between steps the speed is taken as a straight line, so the time does not depend on
    // how finely the trainer's model steps.
    if (FCoastFrom < 0 && before > targetSpeed() && speed <= targetSpeed())
        FCoastFrom = crossing(beforeT, before, t, speed, targetSpeed());
    if (FCoastFrom >= 0 && speed <= CoastModel::kEndSpeed)
        finishSpinDown(crossing(beforeT, before, t, speed, CoastModel::kEndSpeed));
}

void SimCalibration::finishSpinDown(double endedAt)
{
    const double ms = (endedAt - FCoastFrom) * 1000.0;
    FSpinDownMs = uint16_t(std::clamp(std::lround(ms), 0L, 65534L));
    FSucceeded |= kSpin;
    FPending &= uint8_t(~kSpin);
    startNextKind();
}

void SimCalibration::stepZeroOffset(double t, double riderPower, double cadence)
{
    if (riderPower > 0 || cadence > 0) {
        FStillSince = t;
        return;
    }
    if (t - FStillSince < kStillSeconds)
        return;
    const long noise = long(FRandom() % 7) - 3;
    FZeroOffset = uint16_t(std::clamp(long(FConfig.zeroOffset) + noise, 0L, 65534L));
    FSucceeded |= kZero;
    FPending &= uint8_t(~kZero);
    startNextKind();
}

std::optional<Page> SimCalibration::takePage()
{
    if (FResultsLeft > 0) {
        --FResultsLeft;
        return resultPage();
    }
    if (running())
        return progressPage();
    return std::nullopt;
}

uint8_t SimCalibration::conditions() const
{
    const uint8_t temperature = tooCold() ? kConditionTooLow : kConditionOk;
    uint8_t speed = 0; // does not matter to a zero offset
    if (FPhase == Phase::SpinUp)
        speed = FSpeed > targetSpeed() ? kConditionOk : kConditionTooLow;
    else if (FPhase == Phase::WaitForCoast || FPhase == Phase::Coasting)
        speed = kConditionOk;
    return uint8_t(temperature << 4 | speed << 6);
}

Page SimCalibration::progressPage() const
{
    Page p;
    p.fill(0xFF);
    p[0] = fec::kCalibrationProgress;
    p[1] = FPending;
    p[2] = conditions();
    p[3] = temperatureByte(FTemperature);
    if (FPending & kSpin) {
        putField16(p, 4, unsigned(std::lround(targetSpeed() * 1000.0)));
        const double expected = FCoast.secondsBetween(targetSpeed(), CoastModel::kEndSpeed);
        putField16(p, 6, unsigned(std::clamp(std::lround(expected * 1000.0), 0L, 65534L)));
    }
    return p;
}

Page SimCalibration::resultPage() const
{
    Page p;
    p[0] = fec::kCalibrationResponse;
    p[1] = FSucceeded;
    p[2] = 0x00;
    p[3] = temperatureByte(FTemperature);
    putField16(p, 4, FZeroOffset);
    putField16(p, 6, FSpinDownMs);
    return p;
}

} // namespace antsim
