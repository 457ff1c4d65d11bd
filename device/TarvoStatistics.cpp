// The trainer device's statistics tick (the channels' decoded data into averaged
// measurements, distance, calories, heart-rate alarm and course end), the ride control and
// the properties that configure the trainer or name its model. User-interface thread.
#include "device/MivoAverage.h"
#include "device/TarvoDeviceAntP.h"
#include "device/TrainerModels.h"
#include "framework/SysUtils.h"

#include <algorithm>
#include <typeinfo>

namespace {

constexpr TCompetitorState Running = 4;
constexpr TCompetitorState Paused = 5;
constexpr TCompetitorState Stopped = 6;
// Below this a heart rate is taken as no strap on the rider.
constexpr int32_t LowestHeartRate = 35;

// The channel's record when it is exactly of class Record.
template <class Record>
const Record *ExactRecord(const TAntChannel *Channel)
{
    if (Channel == nullptr)
        return nullptr;
    const TAntProfileData *data = Channel->ProfileData();
    if (data == nullptr || typeid(*data) != typeid(Record))
        return nullptr;
    return static_cast<const Record *>(data);
}

int32_t Rounded(long double Value) { return static_cast<int32_t>(Round(Value)); }

} // namespace

void TTarvoDeviceAntP::DoStats()
{
    if (Connected() && CompetitorState() == Running) {
        ++FTickCount;
        if (AntComControl() == nullptr || ChannelTrainer() == nullptr)
            return;
        if (const auto *fe = ExactRecord<TAntProfileFE>(ChannelTrainer()))
            ReadTrainerRecord(*fe);
        ReadHeartRate();
        CountCalories();
        UpdateHighPowerReduction();
        CheckCourseFinished();
    }
    TZelCustomDevice::DoStats();
}

void TTarvoDeviceAntP::ReadTrainerRecord(const TAntProfileFE &Record)
{
    const long double kmh = Record.Speed();
    SetSpeed(UOM() == umMiles ? KmToMiles(static_cast<double>(kmh)) : static_cast<double>(kmh));
    SetTrainerSpeed(Speed());
    if (FVirtualSpeedEnabled)
        RunVirtualSpeedStep();
    FSpeedAverage->Add(Speed());
    SetSpeed(FSpeedAverage->Average());

    FDistanceSum += Speed() * (TimerStatsInterval() / 1000.0) / 3600.0;
    SetDistance(static_cast<double>(FDistanceSum));
    const uint32_t elapsed = StatsTimer()->ElapsedTime();
    SetAverageSpeed(elapsed > 0 ? Distance() * 3600.0 / (elapsed / 1000.0) : 0.0);
    SetMaxSpeed(std::max(Speed(), MaxSpeed()));

    FCadenceAverage->Add(Record.InstantaneousCadence());
    SetCadence(Rounded(FCadenceAverage->Average()));
    SetMaxCadence(std::max(Cadence(), MaxCadence()));
    FCadenceSum += Cadence();
    SetAverageCadence(Rounded(static_cast<long double>(FCadenceSum) / FTickCount));
}

void TTarvoDeviceAntP::RunVirtualSpeedStep()
{
    SetSpeed(static_cast<double>(TrainerSpeed() + FVirtualSpeed));
    if (FSlope < 0 || FVirtualSpeed > 0)
        SetVirtualSpeed(static_cast<double>(TrainerSpeed()));
    else
        ResetVirtualSpeed();
    FVirtualDistance = FVirtualSpeed / 3600.0;
    FVirtualDistanceSum += FVirtualDistance;
}

void TTarvoDeviceAntP::ReadHeartRate()
{
    TAntChannel *hr = ChannelHR();
    if (FHeartEnabled) {
        if (const auto *record = ExactRecord<TANTProfileDataHR>(hr))
            SetHeartRate(record->ComputedHeartRate());
        FHeartPresent = HeartRate() >= LowestHeartRate;
        if (FHeartPresent)
            HeartRateAlarm();
    } else {
        SetHeartRate(0);
        SetAverageHeartRate(0);
        FHeartSampleCount = 0;
        FHeartRateSum = 0;
    }
    // Without a heart-rate channel there is no link to lose.
    if (hr != nullptr && hr->ChannelState() != chsActive)
        DoHeartConnectionLost();
}

void TTarvoDeviceAntP::CountCalories()
{
    const double weight = TrainerModels::ModelWeight(RiderWeight(), UOM());
    FCaloriesSum += TrainerModels::TickCalories(Speed(), weight, static_cast<double>(FSlope), UOM());
    SetCalories(Rounded(FCaloriesSum));
}

void TTarvoDeviceAntP::CheckCourseFinished()
{
    if (DistanceToPerform() > 0 && Distance() >= DistanceToPerform()) {
        Stop();
        SetFinished(true);
        SetArrived(true);
        DoCourseFinished();
    }
}

void TTarvoDeviceAntP::HeartRateAlarm()
{
    const auto *record = ExactRecord<TANTProfileDataHR>(ChannelHR());
    if (record == nullptr)
        return;
    FHeartRateAverage->Add(record->ComputedHeartRate());
    SetHeartRate(Rounded(FHeartRateAverage->Average()));
    const int32_t rate = HeartRate();
    if (rate >= HeartMaxLimit() || rate <= HeartLowerLimit()) {
        const bool isHigherLimit = rate >= AlarmHeartHighLimit();
        bool doStop = true;
        const int32_t percentDelta = TrainerModels::HeartAlarmPercentDelta(rate, HeartMaxLimit(), HeartLowerLimit());
        if (rate >= AlarmHeartMaxLimit()) {
            // Everything off at once, past the reduction and without touching TarvoResistance.
            if (TAntChannel *trainer = ChannelTrainer()) {
                trainer->SendPower(0);
                trainer->SendResistance(0);
                trainer->SendSlope(0.0);
            }
        }
        if (OnAlarmHeart)
            OnAlarmHeart(this, percentDelta, isHigherLimit, false, doStop);
    }
    SetMaxHeartRate(std::max(rate, MaxHeartRate()));
    ++FHeartSampleCount;
    FHeartRateSum += rate;
    if (FHeartSampleCount > 0 && FHeartRateSum > 0)
        SetAverageHeartRate(Rounded(static_cast<long double>(FHeartRateSum) / FHeartSampleCount));
}

void TTarvoDeviceAntP::DoHeartConnectionLost()
{
    if (TAntChannel *hr = ChannelHR())
        hr->ClearLiveValues();
    TZelCustomDevice::DoHeartConnectionLost();
}

void TTarvoDeviceAntP::Start()
{
    if (CompetitorState() == Stopped)
        ResetStatistics();
    if (TAntChannel *trainer = ChannelTrainer())
        trainer->StartDistance();
    SetTimerStatsEnabled(true);
    SetCompetitorState(Running);
    TZelCustomDevice::Start();
}

void TTarvoDeviceAntP::Stop()
{
    if (TAntChannel *trainer = ChannelTrainer())
        trainer->StopDistance();
    SetTimerStatsEnabled(false);
    SetCompetitorState(Stopped);
    SetSpeed(0);
    FHeartSampleCount = 0;
    FHeartRateSum = 0;
    FCadenceSum = 0;
    FTickCount = 0;
    TZelCustomDevice::Stop();
}

void TTarvoDeviceAntP::Pause()
{
    TZelCustomDevice::Pause();
    if (TAntChannel *trainer = ChannelTrainer())
        trainer->PauseDistance();
    SetCompetitorState(Paused);
    SetTimerStatsEnabled(false);
}

void TTarvoDeviceAntP::ResetStatistics() { ClearStatistics(); }

void TTarvoDeviceAntP::ClearStatistics()
{
    SetSpeed(0);
    SetAverageSpeed(0);
    SetCadence(0);
    SetAverageCadence(0);
    SetMaxCadence(0);
    SetHeartRate(0);
    SetMaxHeartRate(0);
    SetAverageHeartRate(0);
    SetPower(0);
    SetAuxValue1(0);
    SetAuxValue3(0);
    SetAuxValue2(0);
    SetArrived(false);
    SetFinished(false);
    SetCalories(0);
    SetDistance(0);
    SetMarker(-1);
    FDistanceSum = 0;
    FSpeedAverage->Clear();
    FCadenceAverage->Clear();
    FHeartRateAverage->Clear();
    ResetVirtualSpeed();
    FVirtualDistanceSum = 0;
    FCaloriesSum = 0;
    StatsTimer()->Reset();
}

void TTarvoDeviceAntP::SetRiderWeight(int32_t Value)
{
    TZelCustomDevice::SetRiderWeight(Value);
    if (TAntChannel *trainer = ChannelTrainer())
        trainer->SetUserWeight(Value);
}

void TTarvoDeviceAntP::SetCadenceArrayLength(int32_t Value)
{
    if (Value == FCadenceArrayLength)
        return;
    FCadenceArrayLength = Value;
    FCadenceAverage->Resize(Value);
}

void TTarvoDeviceAntP::SetSpeedArrayLength(int32_t Value)
{
    if (Value == FSpeedArrayLength)
        return;
    FSpeedArrayLength = Value;
    FSpeedAverage->Resize(Value);
}

void TTarvoDeviceAntP::SetHrArrayLength(int32_t Value)
{
    if (Value == FHrArrayLength)
        return;
    FHrArrayLength = Value;
    FHeartRateAverage->Resize(Value);
}

void TTarvoDeviceAntP::SetDiameter(double Value)
{
    FDiameter = Value;
    if (TAntChannel *trainer = ChannelTrainer())
        trainer->SetWheelDiameter(Rounded(Value));
}

void TTarvoDeviceAntP::SetUnitType(double Value)
{
    if (Value == FUnitType)
        return;
    FUnitType = Value;
    FTarvoVersion = Value;
}

double TTarvoDeviceAntP::TarvoVersion() const { return FTarvoVersion; }

void TTarvoDeviceAntP::SetTarvoVersion(double Value)
{
    if (Value == FTarvoVersion)
        return;
    FTarvoVersion = Value;
    DoVersionChange();
}
