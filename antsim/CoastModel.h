#pragma once
// How the simulated trainer's flywheel runs down with the brake released, as in a spin-down:
//   M·dv/dt = −(Crr·(rider + bike)·g + F_roller + k·v²)
// M is the flywheel-equivalent mass, Crr the rolling resistance, F_roller the tyre on the
// roller and the bearings, k the flywheel's own air drag. Tuned so that a 75 kg rider on the
// defaults runs down from 32 to 10 km/h in about 8 s.
#include "antsim/Scenario.h"

namespace antsim {

struct CoastModel {
    static constexpr double kGravity = 9.81;
    static constexpr double kBikeWeight = 10.0;     // kg
    static constexpr double kRollerLoss = 10.0;     // N
    static constexpr double kFlywheelDrag = 0.05;   // N/(m/s)²
    static constexpr double kEndSpeed = 10.0 / 3.6; // m/s, where the timed run-down ends

    double flywheelKg = 20.0;
    double riderKg = 75.0;
    double rollingResistance = 0.004;

    // N, what slows the free flywheel at v (m/s).
    double force(double v) const;
    // The time the free flywheel takes from `from` down to `to` (m/s), in closed form.
    double secondsBetween(double from, double to) const;
};

CoastModel coastModelOf(const DeviceConfig &trainer, double userWeightKg);

// The run-down from the trainer's calibration speed to 10 km/h that the model predicts for a
// rider of that weight, while page 51 has not changed the rolling resistance.
double expectedSpinDownSeconds(const DeviceConfig &trainer, double userWeightKg);

} // namespace antsim
