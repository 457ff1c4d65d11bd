#include "antsim/CoastModel.h"

#include <cmath>

namespace antsim {

namespace {

double constantLoss(const CoastModel &m)
{
    return m.rollingResistance * (m.riderKg + CoastModel::kBikeWeight) * CoastModel::kGravity +
           CoastModel::kRollerLoss;
}

} // namespace

double CoastModel::force(double v) const
{
    return constantLoss(*this) + kFlywheelDrag * v * v;
}

double CoastModel::secondsBetween(double from, double to) const
{
    // M·dv/(a + b·v²) integrates to M/√(ab)·atan(v·√(b/a)).
    const double a = constantLoss(*this);
    const double b = kFlywheelDrag;
    const double scale = std::sqrt(b / a);
    return flywheelKg / std::sqrt(a * b) * (std::atan(from * scale) - std::atan(to * scale));
}

CoastModel coastModelOf(const DeviceConfig &trainer, double userWeightKg)
{
    return {trainer.flywheelKg, userWeightKg, trainer.rollingResistance};
}

double expectedSpinDownSeconds(const DeviceConfig &trainer, double userWeightKg)
{
    return coastModelOf(trainer, userWeightKg).secondsBetween(trainer.calibrationSpeedKmh / 3.6, CoastModel::kEndSpeed);
}

} // namespace antsim
