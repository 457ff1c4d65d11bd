// The plain properties of the trainer device: assigned when different, read as stored.
#include "device/TarvoDeviceAntP.h"
#include "framework/AssignWhenDifferent.h"

void TTarvoDeviceAntP::SetCalibration(double Value) { AssignWhenDifferent(FCalibration, Value); }
void TTarvoDeviceAntP::SetVirtualSpeedEnabled(bool Value) { AssignWhenDifferent(FVirtualSpeedEnabled, Value); }
double TTarvoDeviceAntP::ResistanceReducer() const { return FResistanceReducer; }
void TTarvoDeviceAntP::SetResistanceReducer(double Value) { AssignWhenDifferent(FResistanceReducer, Value); }
void TTarvoDeviceAntP::SetTarvoElevation(int32_t Value) { AssignWhenDifferent(FTarvoElevation, Value); }
void TTarvoDeviceAntP::SetHighPowerReduceEnable(bool Value) { AssignWhenDifferent(FHighPowerReduceEnable, Value); }
void TTarvoDeviceAntP::SetResistanceLatency(int32_t Value) { AssignWhenDifferent(FResistanceLatency, Value); }
void TTarvoDeviceAntP::SetCurrentElevation(int32_t Value) { AssignWhenDifferent(FCurrentElevation, Value); }
void TTarvoDeviceAntP::SetResistanceMap(TResistanceMap *Value) { AssignWhenDifferent(FResistanceMap, Value); }

void TTarvoDeviceAntP::SetHighPowerReduceStartSpeed(int32_t Value)
{
    AssignWhenDifferent(FHighPowerReduceStartSpeed, Value);
}

void TTarvoDeviceAntP::SetHighPowerReduceCoefficient(double Value)
{
    AssignWhenDifferent(FHighPowerReduceCoefficient, Value);
}

void TTarvoDeviceAntP::SetHighPowerReduceCoefficientMinimum(double Value)
{
    AssignWhenDifferent(FHighPowerReduceCoefficientMinimum, Value);
}

void TTarvoDeviceAntP::SetMapCalibration(TMapCalibration *Value) { AssignWhenDifferent(FMapCalibration, Value); }
double TTarvoDeviceAntP::Diameter() const { return FDiameter; }
int32_t TTarvoDeviceAntP::EvenPerTurn() const { return FEvenPerTurn; }
void TTarvoDeviceAntP::SetEvenPerTurn(int32_t Value) { AssignWhenDifferent(FEvenPerTurn, Value); }
uint16_t TTarvoDeviceAntP::ConsoleType() const { return FConsoleType; }
void TTarvoDeviceAntP::SetConsoleType(uint16_t Value) { AssignWhenDifferent(FConsoleType, Value); }
uint16_t TTarvoDeviceAntP::DeviceNumber() const { return FDeviceNumber.load(std::memory_order_relaxed); }
void TTarvoDeviceAntP::SetDeviceNumber(uint16_t Value) { AssignWhenDifferent(FDeviceNumber, Value); }
int32_t TTarvoDeviceAntP::TrainerVersion() const { return FTrainerVersion; }
void TTarvoDeviceAntP::SetTrainerVersion(int32_t Value) { AssignWhenDifferent(FTrainerVersion, Value); }
uint16_t TTarvoDeviceAntP::HRDeviceNumber() const { return FHRDeviceNumber.load(std::memory_order_relaxed); }
void TTarvoDeviceAntP::SetHRDeviceNumber(uint16_t Value) { AssignWhenDifferent(FHRDeviceNumber, Value); }
void TTarvoDeviceAntP::SetEnableHr(bool Value) { AssignWhenDifferent(FEnableHr, Value); }
bool TTarvoDeviceAntP::ConsoleEnable() const { return FConsoleEnable; }
void TTarvoDeviceAntP::SetConsoleEnable(bool Value) { AssignWhenDifferent(FConsoleEnable, Value); }

uint16_t TTarvoDeviceAntP::ConsoleDeviceNumber() const
{
    return FConsoleDeviceNumber.load(std::memory_order_relaxed);
}

void TTarvoDeviceAntP::SetConsoleDeviceNumber(uint16_t Value) { AssignWhenDifferent(FConsoleDeviceNumber, Value); }
void TTarvoDeviceAntP::SetTolerance(double Value) { AssignWhenDifferent(FTolerance, Value); }

void TTarvoDeviceAntP::SetVirtualSpeedAttenuation(double Value)
{
    AssignWhenDifferent(FVirtualSpeedAttenuation, Value);
}

void TTarvoDeviceAntP::SetResistanceMode(TResistanceMode Value) { AssignWhenDifferent(FResistanceMode, Value); }

void TTarvoDeviceAntP::SetChannelConsoleConnectedOnEventRx(bool Value)
{
    AssignWhenDifferent(FChannelConsoleConnectedOnEventRx, Value);
}

void TTarvoDeviceAntP::SetChannelTrainerConnectedOnEventRx(bool Value)
{
    AssignWhenDifferent(FChannelTrainerConnectedOnEventRx, Value);
}

void TTarvoDeviceAntP::SetChannelHRConnectedOnEventRx(bool Value)
{
    AssignWhenDifferent(FChannelHRConnectedOnEventRx, Value);
}

void TTarvoDeviceAntP::SetTrainerConnectionTimeOut(int32_t Value)
{
    AssignWhenDifferent(FTrainerConnectionTimeOut, Value);
}

void TTarvoDeviceAntP::SetMaxIncrementStepPower(int32_t Value) { AssignWhenDifferent(FMaxIncrementStepPower, Value); }
void TTarvoDeviceAntP::SetCalibrationOffset(int32_t Value) { AssignWhenDifferent(FCalibrationOffset, Value); }

void TTarvoDeviceAntP::SetUseResistanceMapFromTrainer(bool Value)
{
    AssignWhenDifferent(FUseResistanceMapFromTrainer, Value);
}

void TTarvoDeviceAntP::SetChannelTrainer(TAntChannel *Value) { FChannelTrainer.store(Value, std::memory_order_release); }
void TTarvoDeviceAntP::SetChannelHR(TAntChannel *Value) { FChannelHR.store(Value, std::memory_order_release); }
void TTarvoDeviceAntP::SetChannelConsole(TAntChannel *Value) { FChannelConsole.store(Value, std::memory_order_release); }
long double TTarvoDeviceAntP::TrainerSpeed() const { return FTrainerSpeed; }
void TTarvoDeviceAntP::SetTrainerSpeed(long double Value) { AssignWhenDifferent(FTrainerSpeed, Value); }
void TTarvoDeviceAntP::SetHighPowerReduceArmed(bool Value) { AssignWhenDifferent(FHighPowerReduceArmed, Value); }
