#pragma once
// The rider and trainer models behind the trainer device's commands and statistics, free of
// any channel so they can be checked on their own. Speeds are km/h for umKm, mph for umMiles.
#include "framework/UnitMeasure.h"

#include <cstdint>

namespace TrainerModels {

// Rider plus bike mass the models use: the bike counts 10 for umKm, 22 (pounds) for umMiles.
double ModelWeight(int32_t RiderWeight, TUnitMeasure Uom);

// Power (W) the rider needs at Speed on the flat, Factor weighting the rolling term; never
// negative, 0 at or below speed 0.
double RiderPower(double Speed, double Factor, double Weight, TUnitMeasure Uom);

// Factor applied to levels and powers sent: rises linearly from Minimum at speed 0 to 1.0 at
// StartSpeed and stays 1.0 from there on.
double HighPowerReduction(double Speed, int32_t StartSpeed, double Minimum);

// Energy estimate of one statistics tick; never negative.
double TickCalories(double Speed, double Weight, double Slope, TUnitMeasure Uom);

// How far, in percent of the limit crossed, a heart rate lies outside HeartMaxLimit (at or
// above it) or HeartLowerLimit (otherwise); 0 without a lower limit.
int32_t HeartAlarmPercentDelta(int32_t HeartRate, int32_t HeartMaxLimit, int32_t HeartLowerLimit);

struct TVirtualSpeedInput {
    double Previous = 0;    // virtual speed before this step
    double TrainerSpeed = 0;
    double Slope = 0;       // percent
    double Attenuation = 0; // weight of the gradient force
    double Tolerance = 0;   // virtual speed at or below which it drops to 0
    double Weight = 0;      // ModelWeight
    TUnitMeasure Uom = umKm;
};

struct TVirtualSpeedStep {
    double FlatForce = 0;
    double SlopeForce = 0;
    double VirtualForce = 0;
    double NetForce = 0;
    double Speed = 0; // the new virtual speed, never negative
};

// One step of the virtual-speed model.
TVirtualSpeedStep StepVirtualSpeed(const TVirtualSpeedInput &In);

} // namespace TrainerModels
