// What the trainer device's user asks for (a level, a target power, an initial level) as
// FE-C commands on the trainer channel, scaled by the high-power reduction; and the
// virtual-speed model. User-interface thread, except SetPower, which the trainer channel's
// disconnection also reaches from the library's thread.
#include "device/TarvoDeviceAntP.h"
#include "device/TrainerModels.h"
#include "framework/SysUtils.h"

#include <cmath>

namespace {

// A level or power scaled by the reduction, to the nearest integer (ties to even).
int64_t Scaled(long double Value, double Coefficient) { return Round(Value * Coefficient); }

} // namespace

int32_t TTarvoDeviceAntP::TarvoResistance() const { return FTarvoResistance; }

void TTarvoDeviceAntP::SetTarvoResistance(int32_t Value)
{
    if (Value == FTarvoResistance)
        return;
    FTarvoResistance = Value;
    if (FResistanceMode == rmAntUlmora)
        return;
    if (ChannelTrainer() != nullptr)
        SendResistanceLevel(static_cast<uint8_t>(Value & 0xFF));
}

void TTarvoDeviceAntP::SetInitialResistance(int32_t Value)
{
    if (Value == FInitialResistance)
        return;
    FInitialResistance = Value;
    // Sent as given: the mode and the reduction are for what the rider asks later.
    TAntChannel *trainer = ChannelTrainer();
    if (trainer != nullptr && trainer->Connected())
        trainer->SendResistance(static_cast<uint8_t>(Value & 0xFF));
}

void TTarvoDeviceAntP::SetPower(int32_t Value)
{
    if (ChannelTrainer() != nullptr)
        SendTargetPower(static_cast<uint16_t>(Value & 0xFFFF));
    StorePower(Value);
}

void TTarvoDeviceAntP::SendResistanceLevel(uint8_t Level)
{
    TAntChannel *trainer = ChannelTrainer();
    if (trainer == nullptr)
        return;
    trainer->SendResistance(static_cast<uint8_t>(Scaled(Level, HighPowerReduceCoefficient()) & 0xFF));
}

void TTarvoDeviceAntP::SendTargetPower(uint16_t Watts)
{
    TAntChannel *trainer = ChannelTrainer();
    if (trainer == nullptr)
        return;
    trainer->SendPower(static_cast<uint16_t>(Scaled(Watts, HighPowerReduceCoefficient()) & 0xFFFF));
}

void TTarvoDeviceAntP::SendTargetSlope(double Slope)
{
    if (TAntChannel *trainer = ChannelTrainer())
        trainer->SendSlope(Slope);
}

void TTarvoDeviceAntP::UpdateHighPowerReduction()
{
    if (IsDestroying())
        return;
    if (!(FHighPowerReduceEnable && FHighPowerReduceArmed)) {
        SetHighPowerReduceCoefficient(1.0);
        return;
    }
    long double v = TrainerSpeed();
    if (FVirtualSpeedEnabled && !SimulationMode())
        v -= FVirtualSpeed;
    SetHighPowerReduceCoefficient(TrainerModels::HighPowerReduction(static_cast<double>(v), FHighPowerReduceStartSpeed,
                                                                    FHighPowerReduceCoefficientMinimum));
}

int32_t TTarvoDeviceAntP::CalibrationOffset() const
{
    const TAntChannel *trainer = ChannelTrainer();
    if (trainer == nullptr)
        return 0;
    const auto *fe = dynamic_cast<const TAntProfileFE *>(trainer->ProfileData());
    return fe != nullptr ? fe->ZeroOffset() : 0;
}

double TTarvoDeviceAntP::ModelPower(double Speed, double Factor) const
{
    return TrainerModels::RiderPower(Speed, Factor, TrainerModels::ModelWeight(RiderWeight(), UOM()), UOM());
}

void TTarvoDeviceAntP::SetVirtualSpeed(double TrainerSpeedValue)
{
    if (FTrainerSpeed == 0) {
        ResetVirtualSpeed();
        return;
    }
    TrainerModels::TVirtualSpeedInput in;
    in.Previous = FVirtualSpeed;
    in.TrainerSpeed = TrainerSpeedValue;
    in.Slope = static_cast<double>(FSlope);
    in.Attenuation = FVirtualSpeedAttenuation;
    in.Tolerance = FTolerance;
    in.Weight = TrainerModels::ModelWeight(RiderWeight(), UOM());
    in.Uom = UOM();
    const TrainerModels::TVirtualSpeedStep step = TrainerModels::StepVirtualSpeed(in);
    FPreviousVirtualSpeed = in.Previous;
    FSlopeForce = step.SlopeForce;
    FFlatForce = step.FlatForce;
    FVirtualForce = step.VirtualForce;
    FNetForce = step.NetForce;
    FVirtualSpeed = step.Speed;
}

void TTarvoDeviceAntP::ResetVirtualSpeed()
{
    FPreviousVirtualSpeed = 0;
    FVirtualDistance = 0;
    FVirtualSpeed = 0;
    FVirtualForce = 0;
    FSlopeForce = 0;
    FFlatForce = 0;
}
