#include "device/TrainerModels.h"

#include "framework/SysUtils.h"

#include <cmath>

namespace TrainerModels {

double ModelWeight(int32_t RiderWeight, TUnitMeasure Uom)
{
    return RiderWeight + (Uom == umMiles ? 22.0 : 10.0);
}

double RiderPower(double Speed, double Factor, double Weight, TUnitMeasure Uom)
{
    if (Speed <= 0)
        return 0;
    const double v = Speed;
    const double p = Uom == umMiles ? 0.006 * v * v * v + 0.33 * v * v + v * (0.02 * Weight * Factor - 0.6)
                                    : 0.00145 * v * v * v + 0.127 * v * v + v * (0.027 * Weight * Factor - 0.37);
    return p <= 0 ? 0 : p;
}

double HighPowerReduction(double Speed, int32_t StartSpeed, double Minimum)
{
    // A trainer never runs backwards; a negative difference of speeds would push the factor
    // below its minimum, or divide by a zero start speed.
    const double v = Speed < 0 ? 0 : Speed;
    if (StartSpeed > v)
        return Minimum + v * (1.0 - Minimum) / StartSpeed;
    return 1.0;
}

double TickCalories(double Speed, double Weight, double Slope, TUnitMeasure Uom)
{
    const double v = Speed;
    const double e = Uom == umMiles ? 1.83e-5 * v * v * v + 1.3e-5 * v * Weight + 0.0015 * v * Slope
                                    : 4.4e-6 * v * v * v + 1.8e-5 * v * Weight + 0.002 * v * Slope;
    return e < 0 ? 0 : e;
}

int32_t HeartAlarmPercentDelta(int32_t HeartRate, int32_t HeartMaxLimit, int32_t HeartLowerLimit)
{
    if (HeartLowerLimit <= 0)
        return 0;
    if (HeartRate >= HeartMaxLimit) {
        // A zero or negative maximum gives no meaningful share.
        if (HeartMaxLimit <= 0)
            return 0;
        return static_cast<int32_t>(Round(static_cast<double>(HeartRate - HeartMaxLimit) / HeartMaxLimit * 100));
    }
    return static_cast<int32_t>(Round(static_cast<double>(HeartLowerLimit - HeartRate) / HeartLowerLimit * 100));
}

namespace {

// Force (power over speed) of riding at Speed; 0 standing still instead of 0/0.
double FlatForceAt(double Speed, double Weight, TUnitMeasure Uom)
{
    if (Speed == 0)
        return 0;
    return RiderPower(Speed, 0, Weight, Uom) / Speed;
}

} // namespace

TVirtualSpeedStep StepVirtualSpeed(const TVirtualSpeedInput &In)
{
    TVirtualSpeedStep s;
    const double g = std::fabs(In.Slope);
    const double mass = In.Weight / 9.8;
    s.SlopeForce = In.Weight * g * In.Attenuation / 100;
    s.FlatForce = FlatForceAt(In.TrainerSpeed, In.Weight, In.Uom);
    s.VirtualForce = FlatForceAt(In.Previous + In.TrainerSpeed, In.Weight, In.Uom);
    s.NetForce = s.FlatForce + s.SlopeForce - s.VirtualForce;
    double next;
    if (In.Slope < 0)
        next = In.Previous + s.NetForce / mass;
    else if (std::fabs(In.Previous) > In.Tolerance)
        next = In.Previous - s.VirtualForce * 2.5 / mass;
    else
        next = 0;
    s.Speed = next < 0 ? 0 : next;
    return s;
}

} // namespace TrainerModels
