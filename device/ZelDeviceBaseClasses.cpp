#include "device/ZelDeviceBaseClasses.h"

#include "framework/Exception.h"
#include "framework/Filer.h"
#include "framework/SysUtils.h"
#include "platform/Beep.h"

// ---- TPicture --------------------------------------------------------------------------------

void TPicture::Assign(const TPersistent *Source)
{
    if (!Source) {
        FData.clear();
        return;
    }
    if (auto *picture = dynamic_cast<const TPicture *>(Source)) {
        FData = picture->FData;
        return;
    }
    TPersistent::Assign(Source);
}

void TPicture::DefineProperties(TFiler &Filer)
{
    static const char digits[] = "0123456789ABCDEF";
    Filer.DefineProperty(
        "Data",
        [this](TReader &Reader) {
            const std::string text = Reader.ReadString();
            if (text.size() % 2 != 0)
                throw EReadError("Invalid picture data");
            std::vector<uint8_t> data;
            data.reserve(text.size() / 2);
            for (size_t i = 0; i < text.size(); i += 2) {
                const int hi = HexDigitValue(text[i]);
                const int lo = HexDigitValue(text[i + 1]);
                if (hi < 0 || lo < 0)
                    throw EReadError("Invalid picture data");
                data.push_back(static_cast<uint8_t>(hi * 16 + lo));
            }
            FData = std::move(data);
        },
        [this](TWriter &Writer) {
            std::string text;
            text.reserve(FData.size() * 2);
            for (uint8_t b : FData) {
                text.push_back(digits[b >> 4]);
                text.push_back(digits[b & 15]);
            }
            Writer.WriteString(text);
        },
        !FData.empty());
}

// ---- TZelCustomDevice ------------------------------------------------------------------------

TZelCustomDevice::TZelCustomDevice(TComponent *AOwner) : TComponent(AOwner)
{
    FStatsTimer = new TZelTimer(nullptr);
    FPhoto = new TPicture;
    ResetRider();
    FCadence = FHeartRate = FMaxCadence = FPower = FMaxHeartRate = 0;
    FAverageCadence = FAverageHeartRate = FCalories = 0;
    FAuxValue1 = FAuxValue2 = FAuxValue3 = 0;
    FAverageSpeed = 0;
    FArrived = false;
    FFinished = false;
    FUserFlag = false;
    FHeartMaxLimit = 220;
    FHeartUpperLimit = 0;
    FHeartLowerLimit = 0;
    FSimulationMode = false;
    FDistance = 0;
    FMarker = 0;
    FBikeWeight = 10.0;
    // Dispatched when the tick comes, so a derived device's DoStats runs.
    FStatsTimer->OnTimer = [this](TObject *) { DoStats(); };
    FCompetitorState = 0;
    FTimeToleranceMs = 100;
    FMaxSpeed = 0;
    FAuxValue4 = 0;
    FAlarmHeartHighLimit = 210;
    FAlarmHeartLowLimit = 35;
    FAlarmHeartMaxLimit = 220;
}

TZelCustomDevice::~TZelCustomDevice()
{
    Destroying();
    FStatsTimer->SetEnabled(false);
    delete FStatsTimer;
    FStatsTimer = nullptr;
    delete FPhoto;
    FPhoto = nullptr;
}

const TPropList &TZelCustomDevice::Properties() const
{
    using D = TZelCustomDevice;
    static const TPropList props = InheritProps(
        TComponent::Properties(),
        {
            StrProp<D>("RiderName", &D::RiderName, &D::SetRiderName),
            IntProp<D, int32_t>("RiderId", "Integer", &D::RiderId, &D::SetRiderId, -1),
            StrProp<D>("LastName", &D::LastName, &D::SetLastName),
            StrProp<D>("FirstName", &D::FirstName, &D::SetFirstName),
            FloatProp<D, double>("BirthDate", "TDateTime", &D::BirthDate, &D::SetBirthDate),
            IntProp<D, int32_t>("RiderWeight", "Integer", &D::RiderWeight, &D::SetRiderWeight, 0),
            EnumProp<D, TUnitMeasure>("UOM", "TUnitMeasure", {"umKm", "umMiles"}, &D::UOM, &D::SetUOM, umKm),
            ObjProp<D>("Photo", "TPicture", &D::Photo),
            IntProp<D, int32_t>("Color", "TColor", &D::Color, &D::SetColor, 0),
            IntProp<D, int32_t>("HeartMaxLimit", "Integer", &D::HeartMaxLimit, &D::SetHeartMaxLimit, 220),
            IntProp<D, int32_t>("HeartUpperLimit", "Integer", &D::HeartUpperLimit, &D::SetHeartUpperLimit, 0),
            IntProp<D, int32_t>("HeartLowerLimit", "Integer", &D::HeartLowerLimit, &D::SetHeartLowerLimit, 0),
            BoolProp<D>("SimulationMode", &D::SimulationMode, &D::SetSimulationMode, false),
            FloatProp<D, double>("DistanceToPerform", "Double", &D::DistanceToPerform, &D::SetDistanceToPerform),
            FloatProp<D, double>("BikeWeight", "Double", &D::BikeWeight, &D::SetBikeWeight),
            BoolProp<D>("TimerStatsEnabled", &D::TimerStatsEnabled, &D::SetTimerStatsEnabled, false),
            IntProp<D, uint32_t>("TimerStatsInterval", "Cardinal", &D::TimerStatsInterval, &D::SetTimerStatsInterval,
                                 1000),
            EnumProp<D, TThreadPriority>("TimerStatsThreadPriority", "TThreadPriority", ThreadPriorityNames(),
                                         &D::TimerStatsThreadPriority, &D::SetTimerStatsThreadPriority, tpNormal),
            // The declared default differs from the constructed 100: a saved 50 loads back as 100.
            IntProp<D, uint32_t>("TimeToleranceMs", "Cardinal", &D::TimeToleranceMs, &D::SetTimeToleranceMs, 50),
            IntProp<D, int32_t>("AlarmHeartHighLimit", "Integer", &D::AlarmHeartHighLimit, &D::SetAlarmHeartHighLimit,
                                210),
            IntProp<D, int32_t>("AlarmHeartLowLimit", "Integer", &D::AlarmHeartLowLimit, &D::SetAlarmHeartLowLimit, 35),
            IntProp<D, int32_t>("AlarmHeartMaxLimit", "Integer", &D::AlarmHeartMaxLimit, &D::SetAlarmHeartMaxLimit,
                                220),
        });
    return props;
}

void TZelCustomDevice::Assign(const TPersistent *Source)
{
    if (auto *device = dynamic_cast<const TZelCustomDevice *>(Source)) {
        SetRiderName(device->RiderName());
        return;
    }
    TComponent::Assign(Source);
}

void TZelCustomDevice::ResetRider()
{
    FRiderName.clear();
    SetUserFlag(false);
    FSpeed = 0;
    FConnected = false;
    FRiderId = -1;
    FUOM = umKm;
}

void TZelCustomDevice::SetRiderName(const std::string &Value)
{
    if (Value != FRiderName)
        FRiderName = Value;
}

double TZelCustomDevice::Speed() const { return FSpeed; }
void TZelCustomDevice::SetSpeed(double Value) { FSpeed = Value; }

void TZelCustomDevice::SetUserFlag(bool Value)
{
    if (Value != FUserFlag)
        FUserFlag = Value;
}

bool TZelCustomDevice::Connected() const { return FConnected; }

void TZelCustomDevice::SetRiderId(int32_t Value)
{
    if (Value != FRiderId)
        FRiderId = Value;
}

void TZelCustomDevice::SetLastName(const std::string &Value)
{
    if (Value != FLastName)
        FLastName = Value;
}

void TZelCustomDevice::SetFirstName(const std::string &Value)
{
    if (Value != FFirstName)
        FFirstName = Value;
}

void TZelCustomDevice::SetBirthDate(double Value)
{
    if (Value != FBirthDate)
        FBirthDate = Value;
}

void TZelCustomDevice::SetRiderWeight(int32_t Value)
{
    if (Value != FRiderWeight)
        FRiderWeight = Value;
}

void TZelCustomDevice::SetUOM(TUnitMeasure Value)
{
    if (Value != FUOM)
        FUOM = Value;
}

void TZelCustomDevice::SetPhoto(const TPicture *Value)
{
    if (Value != FPhoto)
        FPhoto->Assign(Value);
}

void TZelCustomDevice::SetColor(int32_t Value)
{
    if (Value != FColor)
        FColor = Value;
}

int32_t TZelCustomDevice::Cadence() const { return FCadence; }
void TZelCustomDevice::SetCadence(int32_t Value) { FCadence = Value; }
int32_t TZelCustomDevice::HeartRate() const { return FHeartRate; }
void TZelCustomDevice::SetHeartRate(int32_t Value) { FHeartRate = Value; }
int32_t TZelCustomDevice::MaxCadence() const { return FMaxCadence; }
void TZelCustomDevice::SetMaxCadence(int32_t Value) { FMaxCadence = Value; }
int32_t TZelCustomDevice::Power() const { return FPower; }
void TZelCustomDevice::SetPower(int32_t Value) { FPower = Value; }
int32_t TZelCustomDevice::AuxValue1() const { return FAuxValue1; }
void TZelCustomDevice::SetAuxValue1(int32_t Value) { FAuxValue1 = Value; }
int32_t TZelCustomDevice::MaxHeartRate() const { return FMaxHeartRate; }
void TZelCustomDevice::SetMaxHeartRate(int32_t Value) { FMaxHeartRate = Value; }
int32_t TZelCustomDevice::AuxValue2() const { return FAuxValue2; }
void TZelCustomDevice::SetAuxValue2(int32_t Value) { FAuxValue2 = Value; }
bool TZelCustomDevice::Arrived() const { return FArrived; }
void TZelCustomDevice::SetArrived(bool Value) { FArrived = Value; }
bool TZelCustomDevice::Finished() const { return FFinished; }
void TZelCustomDevice::SetFinished(bool Value) { FFinished = Value; }
int32_t TZelCustomDevice::AverageCadence() const { return FAverageCadence; }
void TZelCustomDevice::SetAverageCadence(int32_t Value) { FAverageCadence = Value; }
int32_t TZelCustomDevice::AverageHeartRate() const { return FAverageHeartRate; }
void TZelCustomDevice::SetAverageHeartRate(int32_t Value) { FAverageHeartRate = Value; }
double TZelCustomDevice::AverageSpeed() const { return FAverageSpeed; }
void TZelCustomDevice::SetAverageSpeed(double Value) { FAverageSpeed = Value; }
int32_t TZelCustomDevice::Calories() const { return FCalories; }
void TZelCustomDevice::SetCalories(int32_t Value) { FCalories = Value; }
int32_t TZelCustomDevice::AuxValue3() const { return FAuxValue3; }
void TZelCustomDevice::SetAuxValue3(int32_t Value) { FAuxValue3 = Value; }
int32_t TZelCustomDevice::DeviceKind() const { return 0; }

void TZelCustomDevice::SetHeartMaxLimit(int32_t Value)
{
    if (Value != FHeartMaxLimit)
        FHeartMaxLimit = Value;
}

void TZelCustomDevice::SetHeartUpperLimit(int32_t Value)
{
    if (Value != FHeartUpperLimit)
        FHeartUpperLimit = Value;
}

void TZelCustomDevice::SetHeartLowerLimit(int32_t Value)
{
    if (Value != FHeartLowerLimit)
        FHeartLowerLimit = Value;
}

bool TZelCustomDevice::SimulationMode() const { return FSimulationMode; }
void TZelCustomDevice::SetSimulationMode(bool Value) { FSimulationMode = Value; }

void TZelCustomDevice::SetDistanceToPerform(double Value)
{
    if (Value != FDistanceToPerform)
        FDistanceToPerform = Value;
}

void TZelCustomDevice::SetDistance(double Value)
{
    if (Value != FDistance)
        FDistance = Value;
}

void TZelCustomDevice::SetMarker(int32_t Value)
{
    if (Value != FMarker)
        FMarker = Value;
}

void TZelCustomDevice::DoConnected()
{
    if (OnConnected)
        OnConnected(this);
}

void TZelCustomDevice::DoDisconnected()
{
    if (OnDisconnected)
        OnDisconnected(this);
}

void TZelCustomDevice::DoConnectionLost()
{
    if (OnConnectionLost)
        OnConnectionLost(this);
}

void TZelCustomDevice::DoCourseFinished()
{
    if (OnCourseFinished)
        OnCourseFinished(this);
}

void TZelCustomDevice::DoAfterStop()
{
    if (OnAfterStop)
        OnAfterStop(this);
}

void TZelCustomDevice::DoBeforePause()
{
    if (OnBeforePause)
        OnBeforePause(this);
}

void TZelCustomDevice::DoBeforeStart()
{
    if (OnBeforeStart)
        OnBeforeStart(this);
}

void TZelCustomDevice::DoBeforeStop(bool &CanContinue)
{
    if (OnBeforeStop)
        OnBeforeStop(this, CanContinue);
}

void TZelCustomDevice::DoHeartConnectionLost()
{
    if (OnHeartConnectionLost)
        OnHeartConnectionLost(this);
}

void TZelCustomDevice::DoCompetitorStateChanged(TCompetitorState OldState, TCompetitorState NewState)
{
    if (OnCompetitorStateChanged)
        OnCompetitorStateChanged(this, OldState, NewState);
}

void TZelCustomDevice::SetTimerStatsEnabled(bool Value) { FStatsTimer->SetEnabled(Value); }
bool TZelCustomDevice::TimerStatsEnabled() const { return FStatsTimer->Enabled(); }
void TZelCustomDevice::SetTimerStatsInterval(uint32_t Value) { FStatsTimer->SetInterval(Value); }
uint32_t TZelCustomDevice::TimerStatsInterval() const { return FStatsTimer->Interval(); }
void TZelCustomDevice::SetTimerStatsThreadPriority(TThreadPriority Value) { FStatsTimer->SetThreadPriority(Value); }
TThreadPriority TZelCustomDevice::TimerStatsThreadPriority() const { return FStatsTimer->ThreadPriority(); }
TCompetitorState TZelCustomDevice::CompetitorState() const { return FCompetitorState; }

void TZelCustomDevice::DoStats()
{
    if (OnStats)
        OnStats(this);
}

void TZelCustomDevice::SetTimeToleranceMs(uint32_t Value)
{
    if (Value != FTimeToleranceMs)
        FTimeToleranceMs = Value;
}

void TZelCustomDevice::SetMaxSpeed(double Value)
{
    if (Value != FMaxSpeed)
        FMaxSpeed = Value;
}

void TZelCustomDevice::SetAuxValue4(int32_t Value)
{
    if (Value != FAuxValue4)
        FAuxValue4 = Value;
}

int32_t TZelCustomDevice::SetAlarmLimit(int32_t Current, int32_t Value, bool TooFar, int32_t Bound)
{
    if (Value == Current)
        return Current;
    if (IsDesigning() && TooFar) {
        MessageBeep();
        return Bound;
    }
    return Value;
}

void TZelCustomDevice::SetAlarmHeartHighLimit(int32_t Value)
{
    FAlarmHeartHighLimit = SetAlarmLimit(FAlarmHeartHighLimit, Value, Value > 210, 210);
}

void TZelCustomDevice::SetAlarmHeartLowLimit(int32_t Value)
{
    FAlarmHeartLowLimit = SetAlarmLimit(FAlarmHeartLowLimit, Value, Value < 35, 35);
}

void TZelCustomDevice::SetAlarmHeartMaxLimit(int32_t Value)
{
    FAlarmHeartMaxLimit = SetAlarmLimit(FAlarmHeartMaxLimit, Value, Value > 220, 220);
}

void TZelCustomDevice::DoHeartCriticalValue()
{
    if (OnHeartCriticalValue)
        OnHeartCriticalValue(this);
}

void TZelCustomDevice::Start() {}
void TZelCustomDevice::Stop() {}
void TZelCustomDevice::Pause() {}

bool TZelCustomDevice::Connect()
{
    FConnected = true;
    DoConnected();
    return true;
}

void TZelCustomDevice::Disconnect()
{
    FConnected = false;
    DoDisconnected();
}

void TZelCustomDevice::SetValues(int32_t AHeartRate, int32_t ACadence, double ASpeed, double ADistance, uint32_t)
{
    SetSpeed(ASpeed);
    SetDistance(ADistance);
    SetHeartRate(AHeartRate);
    SetCadence(ACadence);
}

void TZelCustomDevice::SetCompetitorState(TCompetitorState Value)
{
    if (Value == FCompetitorState)
        return;
    const TCompetitorState old = FCompetitorState;
    FCompetitorState = Value;
    DoCompetitorStateChanged(old, Value);
}

bool TZelCustomDevice::WithinTimeTolerance(uint32_t Now, uint32_t Earlier) const
{
    return static_cast<uint32_t>(Now - Earlier) <= FTimeToleranceMs;
}
