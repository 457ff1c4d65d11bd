#pragma once
// Decoded profile records: the latest values heard on one channel. Written by the page
// decoders on the user-interface thread, read by the trainer device on its statistics tick.
// The live values that a channel clears when the library reports a lost or closed channel
// (on the library's thread) are atomics; everything else belongs to the user-interface thread.
#include "ant/profiles/AntTypes.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

enum TAntCalibrationStatus : uint8_t {
    acsNone = 0,
    acsSpeedTooLow = 1,
    acsSpeedOk = 2,
    acsCalibrationFailed = 3,
    acsZeroOffsetDone = 4
};

// Coded FE equipment types kept by TAntProfileFE::EquipmentType.
enum TAntEquipmentType : uint8_t {
    aetNone = 0,
    aetGeneral = 1,      // ANT+ type 16
    aetTreadmill = 2,    // 19
    aetElliptical = 3,   // 20
    aetType21 = 4,       // 21
    aetRower = 5,        // 22
    aetClimber = 6,      // 23
    aetNordicSkier = 7,  // 24
    aetTrainer = 8       // 25: trainer or stationary bike
};

// ANT+ equipment type byte of page 16 to its code; unknown bytes give aetNone.
uint8_t EquipmentTypeCode(uint8_t AntEquipmentType);

class TAntProfileData {
public:
    virtual ~TAntProfileData() = default;

    uint16_t ManufacturerId() const { return FManufacturerId; }
    int32_t SerialNumber() const { return FSerialNumber; }
    uint8_t HardwareVersion() const { return FHardwareVersion; }
    uint8_t SoftwareVersion() const { return FSoftwareVersion; }
    uint8_t ModelNumber() const { return FModelNumber; }

    virtual void SetManufacturerId(uint16_t Value);
    virtual void SetSerialNumber(int32_t Value);
    virtual void SetHardwareVersion(uint8_t Value);
    virtual void SetSoftwareVersion(uint8_t Value);
    virtual void SetModelNumber(uint8_t Value);

private:
    uint16_t FManufacturerId = 0;
    int32_t FSerialNumber = 0;
    uint8_t FHardwareVersion = 0;
    uint8_t FSoftwareVersion = 0;
    uint8_t FModelNumber = 0;
};

class TANTProfileDataHR : public TAntProfileData {
public:
    uint8_t ComputedHeartRate() const { return FComputedHeartRate.load(std::memory_order_relaxed); }
    uint16_t HeartBeatEventTime() const { return FHeartBeatEventTime.load(std::memory_order_relaxed); }
    uint8_t HeartBeatCount() const { return FHeartBeatCount.load(std::memory_order_relaxed); }
    int32_t CumulativeOperatingTime() const { return FCumulativeOperatingTime.load(std::memory_order_relaxed); }
    uint16_t PreviousHeartBeatEventTime() const { return FPreviousHeartBeatEventTime.load(std::memory_order_relaxed); }

    virtual void SetComputedHeartRate(uint8_t Value);
    virtual void SetHeartBeatEventTime(uint16_t Value);
    virtual void SetHeartBeatCount(uint8_t Value);
    virtual void SetCumulativeOperatingTime(int32_t Value);
    virtual void SetPreviousHeartBeatEventTime(uint16_t Value);

private:
    std::atomic<uint8_t> FComputedHeartRate{0};
    std::atomic<uint16_t> FHeartBeatEventTime{0};
    std::atomic<uint8_t> FHeartBeatCount{0};
    std::atomic<int32_t> FCumulativeOperatingTime{0};
    std::atomic<uint16_t> FPreviousHeartBeatEventTime{0};
};

class TANTProfileDataSC : public TAntProfileData {
public:
    long double WheelCircumference() const { return FWheelCircumference; }
    uint16_t CadenceEventTime() const { return FCadenceEventTime.load(std::memory_order_relaxed); }
    uint16_t CadenceRevolutions() const { return FCadenceRevolutions.load(std::memory_order_relaxed); }
    uint16_t SpeedEventTime() const { return FSpeedEventTime.load(std::memory_order_relaxed); }
    uint16_t SpeedRevolutions() const { return FSpeedRevolutions.load(std::memory_order_relaxed); }
    long double Speed() const { return FSpeed.load(std::memory_order_relaxed); }
    int32_t Cadence() const { return FCadence.load(std::memory_order_relaxed); }
    uint16_t PreviousCadenceEventTime() const { return FPreviousCadenceEventTime; }
    uint16_t PreviousCadenceRevolutions() const { return FPreviousCadenceRevolutions; }
    uint16_t PreviousSpeedEventTime() const { return FPreviousSpeedEventTime; }
    uint16_t PreviousSpeedRevolutions() const { return FPreviousSpeedRevolutions; }

    // Only positive circumferences are taken: 0 or less keeps the current one.
    virtual void SetWheelCircumference(long double Value);
    virtual void SetCadenceEventTime(uint16_t Value);
    virtual void SetCadenceRevolutions(uint16_t Value);
    virtual void SetSpeedEventTime(uint16_t Value);
    virtual void SetSpeedRevolutions(uint16_t Value);
    virtual void SetSpeed(long double Value);
    virtual void SetCadence(int32_t Value);
    // The four current event times and revolution counts become the previous ones.
    void StorePrevious();

private:
    long double FWheelCircumference = 0.0L;
    std::atomic<uint16_t> FCadenceEventTime{0};
    std::atomic<uint16_t> FCadenceRevolutions{0};
    std::atomic<uint16_t> FSpeedEventTime{0};
    std::atomic<uint16_t> FSpeedRevolutions{0};
    std::atomic<long double> FSpeed{0.0L};
    std::atomic<int32_t> FCadence{0};
    uint16_t FPreviousCadenceEventTime = 0;
    uint16_t FPreviousCadenceRevolutions = 0;
    uint16_t FPreviousSpeedEventTime = 0;
    uint16_t FPreviousSpeedRevolutions = 0;
};

class TAntProfileDataCadence : public TAntProfileData {
public:
    uint16_t CadenceEventTime() const { return FCadenceEventTime; }
    uint16_t CadenceRevolutions() const { return FCadenceRevolutions; }
    int32_t Cadence() const { return FCadence; }
    int32_t CumulativeOperatingTime() const { return FCumulativeOperatingTime; }
    uint16_t PreviousCadenceEventTime() const { return FPreviousCadenceEventTime; }
    uint16_t PreviousCadenceRevolutions() const { return FPreviousCadenceRevolutions; }

    virtual void SetCadenceEventTime(uint16_t Value);
    virtual void SetCadenceRevolutions(uint16_t Value);
    virtual void SetCadence(int32_t Value);
    virtual void SetCumulativeOperatingTime(int32_t Value);
    void StorePrevious();

private:
    uint16_t FCadenceEventTime = 0;
    uint16_t FCadenceRevolutions = 0;
    int32_t FCadence = 0;
    int32_t FCumulativeOperatingTime = 0;
    uint16_t FPreviousCadenceEventTime = 0;
    uint16_t FPreviousCadenceRevolutions = 0;
};

// The console is served through channel events only; its record carries the common fields.
class TAntProfileConsole : public TAntProfileData {
};

class TAntProfileFE : public TAntProfileData {
public:
    uint8_t SoftwareRevision() const { return FSoftwareRevision; }
    uint8_t SoftwareRevisionSupplemental() const { return FSoftwareRevisionSupplemental; }
    uint8_t EquipmentType() const { return FEquipmentType; }
    uint8_t ElapsedTimeRaw() const { return FElapsedTimeRaw; }
    uint8_t DistanceRaw() const { return FDistanceRaw; }
    uint8_t PreviousElapsedTimeRaw() const { return FPreviousElapsedTimeRaw; }
    uint8_t PreviousDistanceRaw() const { return FPreviousDistanceRaw; }
    double Distance() const { return FDistance; }
    double DistanceAtReset() const { return FDistanceAtReset; }
    double ElapsedTime() const { return FElapsedTime; }
    double ElapsedTimeAtReset() const { return FElapsedTimeAtReset; }
    long double Speed() const { return FSpeed.load(std::memory_order_relaxed); }
    uint8_t HeartRate() const { return FHeartRate; }
    uint8_t HeartRateSource() const { return FHeartRateSource; }
    bool DistanceEnabled() const { return FDistanceEnabled; }
    bool VirtualSpeed() const { return FVirtualSpeed; }
    uint8_t FeState() const { return FFeState; }
    long double CycleLength() const { return FCycleLength; }
    long double Incline() const { return FIncline; }
    long double ResistanceLevel() const { return FResistanceLevel; }
    uint8_t UpdateEventCount() const { return FUpdateEventCount; }
    uint8_t InstantaneousCadence() const { return FInstantaneousCadence.load(std::memory_order_relaxed); }
    int32_t AccumulatedPower() const { return FAccumulatedPower; }
    int32_t InstantaneousPower() const { return FInstantaneousPower; }
    uint8_t TargetPowerStatus() const { return FTargetPowerStatus; }
    uint16_t MaximumResistance() const { return FMaximumResistance; }
    bool BasicResistanceSupported() const { return FBasicResistanceSupported; }
    bool TargetPowerSupported() const { return FTargetPowerSupported; }
    bool SimulationSupported() const { return FSimulationSupported; }
    int32_t ZeroOffset() const { return FZeroOffset; }
    TAntCalibrationStatus CalibrationStatus() const { return FCalibrationStatus; }

    void SetSoftwareRevision(uint8_t Value);
    void SetSoftwareRevisionSupplemental(uint8_t Value);
    void SetEquipmentType(uint8_t Value);
    void SetElapsedTimeRaw(uint8_t Value);
    void SetDistanceRaw(uint8_t Value);
    void SetPreviousElapsedTimeRaw(uint8_t Value);
    void SetPreviousDistanceRaw(uint8_t Value);
    void SetDistance(double Value);
    void SetDistanceAtReset(double Value);
    void SetElapsedTime(double Value);
    void SetElapsedTimeAtReset(double Value);
    void SetSpeed(long double Value);
    // Stored as received, without comparing.
    void SetHeartRate(uint8_t Value) { FHeartRate = Value; }
    void SetHeartRateSource(uint8_t Value);
    void SetDistanceEnabled(bool Value);
    void SetVirtualSpeed(bool Value);
    void SetFeState(uint8_t Value);
    void SetCycleLength(long double Value);
    void SetIncline(long double Value);
    void SetResistanceLevel(long double Value);
    void SetUpdateEventCount(uint8_t Value);
    void SetInstantaneousCadence(uint8_t Value);
    void SetAccumulatedPower(int32_t Value);
    void SetInstantaneousPower(int32_t Value);
    void SetTargetPowerStatus(uint8_t Value);
    void SetMaximumResistance(uint16_t Value);
    void SetBasicResistanceSupported(bool Value);
    void SetTargetPowerSupported(bool Value);
    void SetSimulationSupported(bool Value);
    void SetZeroOffset(int32_t Value);
    void SetCalibrationStatus(TAntCalibrationStatus Value);

private:
    uint8_t FSoftwareRevision = 0;
    uint8_t FSoftwareRevisionSupplemental = 0;
    uint8_t FEquipmentType = aetNone;
    uint8_t FElapsedTimeRaw = 0;
    uint8_t FDistanceRaw = 0;
    uint8_t FPreviousElapsedTimeRaw = 0;
    uint8_t FPreviousDistanceRaw = 0;
    double FDistance = 0.0;
    double FDistanceAtReset = 0.0;
    double FElapsedTime = 0.0;
    double FElapsedTimeAtReset = 0.0;
    std::atomic<long double> FSpeed{0.0L};
    uint8_t FHeartRate = 0;
    uint8_t FHeartRateSource = 0;
    bool FDistanceEnabled = false;
    bool FVirtualSpeed = false;
    uint8_t FFeState = 0;
    long double FCycleLength = 0.0L;
    long double FIncline = 0.0L;
    long double FResistanceLevel = 0.0L;
    uint8_t FUpdateEventCount = 0;
    std::atomic<uint8_t> FInstantaneousCadence{0};
    int32_t FAccumulatedPower = 0;
    int32_t FInstantaneousPower = 0;
    uint8_t FTargetPowerStatus = 0;
    uint16_t FMaximumResistance = 0;
    bool FBasicResistanceSupported = false;
    bool FTargetPowerSupported = false;
    bool FSimulationSupported = false;
    int32_t FZeroOffset = 0;
    TAntCalibrationStatus FCalibrationStatus = acsNone;
};

// One series of eight pedal packets.
struct PedalRecord {
    static constexpr int SampleCount = 24;
    static constexpr uint16_t NotReceived = 0x00FF;
    long double Speed = 0.0L; // km/h
    uint8_t StartByte = 0;
    std::array<uint16_t, SampleCount> Samples{};
};

using TANTPedalDataArray = std::vector<PedalRecord>;

class TANTUlmoraPAData : public TAntProfileData {
public:
    TANTPedalDataArray PedalRecords;

    int32_t CurrentIndex() const { return FCurrentIndex; }
    void SetCurrentIndex(int32_t Value);
    // Appends a record with every sample not yet received and makes it the current one.
    void AddPedalRecord();
    // The record being filled, or nullptr while there is none.
    PedalRecord *CurrentRecord();

private:
    int32_t FCurrentIndex = -1;
};
