#include "ant/profiles/ANTPlusProfileData.h"
#include "framework/AssignWhenDifferent.h"

uint8_t EquipmentTypeCode(uint8_t AntEquipmentType)
{
    switch (AntEquipmentType) {
    case 16: return aetGeneral;
    case 19: return aetTreadmill;
    case 20: return aetElliptical;
    case 21: return aetType21;
    case 22: return aetRower;
    case 23: return aetClimber;
    case 24: return aetNordicSkier;
    case 25: return aetTrainer;
    default: return aetNone;
    }
}

void TAntProfileData::SetManufacturerId(uint16_t Value) { AssignWhenDifferent(FManufacturerId, Value); }
void TAntProfileData::SetSerialNumber(int32_t Value) { AssignWhenDifferent(FSerialNumber, Value); }
void TAntProfileData::SetHardwareVersion(uint8_t Value) { AssignWhenDifferent(FHardwareVersion, Value); }
void TAntProfileData::SetSoftwareVersion(uint8_t Value) { AssignWhenDifferent(FSoftwareVersion, Value); }
void TAntProfileData::SetModelNumber(uint8_t Value) { AssignWhenDifferent(FModelNumber, Value); }

void TANTProfileDataHR::SetComputedHeartRate(uint8_t Value) { AssignWhenDifferent(FComputedHeartRate, Value); }
void TANTProfileDataHR::SetHeartBeatEventTime(uint16_t Value) { AssignWhenDifferent(FHeartBeatEventTime, Value); }
void TANTProfileDataHR::SetHeartBeatCount(uint8_t Value) { AssignWhenDifferent(FHeartBeatCount, Value); }
void TANTProfileDataHR::SetCumulativeOperatingTime(int32_t Value) { AssignWhenDifferent(FCumulativeOperatingTime, Value); }
void TANTProfileDataHR::SetPreviousHeartBeatEventTime(uint16_t Value) { AssignWhenDifferent(FPreviousHeartBeatEventTime, Value); }

void TANTProfileDataSC::SetCadenceEventTime(uint16_t Value) { AssignWhenDifferent(FCadenceEventTime, Value); }
void TANTProfileDataSC::SetCadenceRevolutions(uint16_t Value) { AssignWhenDifferent(FCadenceRevolutions, Value); }
void TANTProfileDataSC::SetSpeedEventTime(uint16_t Value) { AssignWhenDifferent(FSpeedEventTime, Value); }
void TANTProfileDataSC::SetSpeedRevolutions(uint16_t Value) { AssignWhenDifferent(FSpeedRevolutions, Value); }
void TANTProfileDataSC::SetSpeed(long double Value) { AssignWhenDifferent(FSpeed, Value); }
void TANTProfileDataSC::SetCadence(int32_t Value) { AssignWhenDifferent(FCadence, Value); }

void TAntProfileDataCadence::SetCadenceEventTime(uint16_t Value) { AssignWhenDifferent(FCadenceEventTime, Value); }
void TAntProfileDataCadence::SetCadenceRevolutions(uint16_t Value) { AssignWhenDifferent(FCadenceRevolutions, Value); }
void TAntProfileDataCadence::SetCadence(int32_t Value) { AssignWhenDifferent(FCadence, Value); }
void TAntProfileDataCadence::SetCumulativeOperatingTime(int32_t Value) { AssignWhenDifferent(FCumulativeOperatingTime, Value); }


void TAntProfileFE::SetSoftwareRevision(uint8_t Value) { AssignWhenDifferent(FSoftwareRevision, Value); }
void TAntProfileFE::SetSoftwareRevisionSupplemental(uint8_t Value) { AssignWhenDifferent(FSoftwareRevisionSupplemental, Value); }
void TAntProfileFE::SetEquipmentType(uint8_t Value) { AssignWhenDifferent(FEquipmentType, Value); }
void TAntProfileFE::SetElapsedTimeRaw(uint8_t Value) { AssignWhenDifferent(FElapsedTimeRaw, Value); }
void TAntProfileFE::SetDistanceRaw(uint8_t Value) { AssignWhenDifferent(FDistanceRaw, Value); }
void TAntProfileFE::SetPreviousElapsedTimeRaw(uint8_t Value) { AssignWhenDifferent(FPreviousElapsedTimeRaw, Value); }
void TAntProfileFE::SetPreviousDistanceRaw(uint8_t Value) { AssignWhenDifferent(FPreviousDistanceRaw, Value); }
void TAntProfileFE::SetDistance(double Value) { AssignWhenDifferent(FDistance, Value); }
void TAntProfileFE::SetDistanceAtReset(double Value) { AssignWhenDifferent(FDistanceAtReset, Value); }
void TAntProfileFE::SetElapsedTime(double Value) { AssignWhenDifferent(FElapsedTime, Value); }
void TAntProfileFE::SetElapsedTimeAtReset(double Value) { AssignWhenDifferent(FElapsedTimeAtReset, Value); }
void TAntProfileFE::SetSpeed(long double Value) { AssignWhenDifferent(FSpeed, Value); }
void TAntProfileFE::SetHeartRateSource(uint8_t Value) { AssignWhenDifferent(FHeartRateSource, Value); }
void TAntProfileFE::SetDistanceEnabled(bool Value) { AssignWhenDifferent(FDistanceEnabled, Value); }
void TAntProfileFE::SetVirtualSpeed(bool Value) { AssignWhenDifferent(FVirtualSpeed, Value); }
void TAntProfileFE::SetFeState(uint8_t Value) { AssignWhenDifferent(FFeState, Value); }
void TAntProfileFE::SetCycleLength(long double Value) { AssignWhenDifferent(FCycleLength, Value); }
void TAntProfileFE::SetIncline(long double Value) { AssignWhenDifferent(FIncline, Value); }
void TAntProfileFE::SetResistanceLevel(long double Value) { AssignWhenDifferent(FResistanceLevel, Value); }
void TAntProfileFE::SetUpdateEventCount(uint8_t Value) { AssignWhenDifferent(FUpdateEventCount, Value); }
void TAntProfileFE::SetInstantaneousCadence(uint8_t Value) { AssignWhenDifferent(FInstantaneousCadence, Value); }
void TAntProfileFE::SetAccumulatedPower(int32_t Value) { AssignWhenDifferent(FAccumulatedPower, Value); }
void TAntProfileFE::SetInstantaneousPower(int32_t Value) { AssignWhenDifferent(FInstantaneousPower, Value); }
void TAntProfileFE::SetTargetPowerStatus(uint8_t Value) { AssignWhenDifferent(FTargetPowerStatus, Value); }
void TAntProfileFE::SetMaximumResistance(uint16_t Value) { AssignWhenDifferent(FMaximumResistance, Value); }
void TAntProfileFE::SetBasicResistanceSupported(bool Value) { AssignWhenDifferent(FBasicResistanceSupported, Value); }
void TAntProfileFE::SetTargetPowerSupported(bool Value) { AssignWhenDifferent(FTargetPowerSupported, Value); }
void TAntProfileFE::SetSimulationSupported(bool Value) { AssignWhenDifferent(FSimulationSupported, Value); }
void TAntProfileFE::SetZeroOffset(int32_t Value) { AssignWhenDifferent(FZeroOffset, Value); }
void TAntProfileFE::SetCalibrationStatus(TAntCalibrationStatus Value) { AssignWhenDifferent(FCalibrationStatus, Value); }


void TANTProfileDataSC::SetWheelCircumference(long double Value)
{
    if (Value > 0.0L && Value != FWheelCircumference)
        FWheelCircumference = Value;
}

void TANTProfileDataSC::StorePrevious()
{
    FPreviousCadenceEventTime = CadenceEventTime();
    FPreviousCadenceRevolutions = CadenceRevolutions();
    FPreviousSpeedEventTime = SpeedEventTime();
    FPreviousSpeedRevolutions = SpeedRevolutions();
}

void TAntProfileDataCadence::StorePrevious()
{
    FPreviousCadenceEventTime = FCadenceEventTime;
    FPreviousCadenceRevolutions = FCadenceRevolutions;
}

void TANTUlmoraPAData::SetCurrentIndex(int32_t Value) { AssignWhenDifferent(FCurrentIndex, Value); }

void TANTUlmoraPAData::AddPedalRecord()
{
    PedalRecord Record;
    Record.Speed = 0.0L;
    Record.StartByte = 0;
    Record.Samples.fill(PedalRecord::NotReceived);
    PedalRecords.push_back(Record);
    SetCurrentIndex(static_cast<int32_t>(PedalRecords.size()) - 1);
}

PedalRecord *TANTUlmoraPAData::CurrentRecord()
{
    if (FCurrentIndex < 0 || FCurrentIndex >= static_cast<int32_t>(PedalRecords.size()))
        return nullptr;
    return &PedalRecords[static_cast<size_t>(FCurrentIndex)];
}
