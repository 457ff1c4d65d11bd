#pragma once
// The simulated trainer's own calibration: what it does between a page-1 request from the host
// and its page-1 result. A spin-down waits for the wheel above the target speed and a rider who
// stops pedalling, then times the free flywheel's run-down to 10 km/h; a zero offset waits for
// 2 s of still pedals. Both asked: the spin-down first, then the zero offset, since the rider is
// already still once the wheel has run down. Fed by the trainer's model step by step; knows
// nothing of the radio.
#include "antsim/CoastModel.h"
#include "antsim/Scenario.h"

#include <array>
#include <cstdint>
#include <optional>
#include <random>

namespace antsim {

using Page = std::array<uint8_t, 8>;

class SimCalibration {
public:
    static constexpr double kStillSeconds = 2.0;      // still pedals a zero offset needs
    static constexpr double kColdBelow = 15.0;        // °C: no spin-down below this
    static constexpr double kWarmUpTo = 20.0;         // °C: pedalling warms a colder trainer to this
    static constexpr double kJoulesPerDegree = 3000.0;
    static constexpr int kResultRepeats = 2;
    // A trainer made to fail gives up this long after the request, or at the end when sooner,
    // so that its failure comes whatever the rider does.
    static constexpr double kFailAfterSeconds = 6.0;

    SimCalibration(const DeviceConfig &trainer, uint64_t seed);

    // Page 1 byte 1 from the host: the kinds asked for; none cancels.
    void request(uint8_t kinds);
    // One step of the trainer's model ending at t (s): the wheel speed then (m/s) and what the
    // rider did during the h seconds before.
    void step(double t, double h, double speed, double riderPower, double cadence);
    // What a spin-down expects of the run-down; the rider's weight can change while it runs.
    void setCoastModel(const CoastModel &model) { FCoast = model; }

    bool running() const { return FPhase != Phase::Idle; }
    // While a spin-down runs the brake lets the flywheel run free.
    bool brakeReleased() const;
    // What a rider who follows the trainer is asked for: no pedalling now.
    bool wantsStillness() const;
    // The calibration page due next, if any: a result waiting, else progress while running.
    std::optional<Page> takePage();
    // Page 25 byte 6 bits 4-5 ("calibration required") as page-1 kind bits.
    uint8_t requiredKinds() const { return FRequired; }
    double temperature() const { return FTemperature; }

private:
    enum class Phase : uint8_t { Idle, SpinUp, WaitForCoast, Coasting, ZeroOffset };

    void startNextKind();
    void startCoast();
    void stepSpinDown(double speed, double riderPower);
    void stepCoast(double t, double before, double beforeT, double speed, double riderPower);
    void finishSpinDown(double endedAt);
    void stepZeroOffset(double t, double riderPower, double cadence);
    void finish();
    void warm(double joules);
    bool tooCold() const { return FTemperature < kColdBelow; }
    double targetSpeed() const { return FConfig.calibrationSpeedKmh / 3.6; }
    Page progressPage() const;
    Page resultPage() const;
    uint8_t conditions() const;

    DeviceConfig FConfig;
    CoastModel FCoast;
    std::mt19937_64 FRandom;
    double FTemperature;
    uint8_t FRequired;

    Phase FPhase = Phase::Idle;
    uint8_t FPending = 0;   // kinds of this run not done yet
    uint8_t FSucceeded = 0;
    uint16_t FZeroOffset = 0xFFFF;
    uint16_t FSpinDownMs = 0xFFFF;
    int FResultsLeft = 0;

    double FNow = 0.0;
    double FStartedAt = 0.0;
    double FSpeed = 0.0;
    double FStillSince = 0.0;
    double FCoastFrom = -1.0; // when the run-down passed the target speed
};

} // namespace antsim
