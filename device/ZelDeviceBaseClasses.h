#pragma once
// The base of a trainer device component: one rider on one training device. Holds the
// rider's identity and limits, the measurements (virtual, overridden by a concrete device),
// the heart alarm limits, the ride state, the connection flag and the statistics timer
// whose ticks raise OnStats on the user-interface thread.
#include "device/ZelTimer.h"
#include "framework/Component.h"
#include "framework/UnitMeasure.h"
#include "platform/Thread.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Ride state: 0 new, 4 running, 5 paused, 6 stopped.
using TCompetitorState = uint8_t;

// A picture held as its encoded bytes (JPEG, PNG, ...); copied whole by Assign.
class TPicture : public TPersistent {
public:
    std::string ClassName() const override { return "TPicture"; }
    // Another picture: copy its bytes; nullptr: clear; anything else: the base error.
    void Assign(const TPersistent *Source) override;
    void DefineProperties(TFiler &Filer) override;

    const std::vector<uint8_t> &Data() const { return FData; }
    void SetData(std::vector<uint8_t> Value) { FData = std::move(Value); }
    bool Empty() const { return FData.empty(); }
    void Clear() { FData.clear(); }

private:
    std::vector<uint8_t> FData;
};

using TBeforeStopEvent = std::function<void(TObject *Sender, bool &CanContinue)>;
using TCompetitorStateChangedEvent =
    std::function<void(TObject *Sender, TCompetitorState OldCompetitorState, TCompetitorState NewCompetitorState)>;
using TAlarmHeartEvent = std::function<void(TObject *Sender, int32_t PercentDelta, bool isHigherLimit,
                                            bool AbortedByComponent, bool &doStop)>;

class TZelCustomDevice : public TComponent {
public:
    explicit TZelCustomDevice(TComponent *AOwner);
    ~TZelCustomDevice() override;

    std::string ClassName() const override { return "TZelCustomDevice"; }
    const TPropList &Properties() const override;
    // Another device: copies RiderName only; any other source: "Cannot assign a %s to a %s".
    void Assign(const TPersistent *Source) override;

    // Clears RiderName, UserFlag (through its setter), Speed, Connected; RiderId -1, UOM umKm.
    void ResetRider();

    // ---- virtual operations (this order is the unit's slot order) ----------------------------
    virtual void SetRiderName(const std::string &Value);
    virtual double Speed() const;
    virtual void SetSpeed(double Value);
    virtual void SetUserFlag(bool Value);
    virtual bool Connected() const;
    virtual void SetRiderId(int32_t Value);
    virtual void SetLastName(const std::string &Value);
    virtual void SetFirstName(const std::string &Value);
    virtual void SetBirthDate(double Value);
    virtual void SetRiderWeight(int32_t Value);
    virtual void SetUOM(TUnitMeasure Value);
    // Copies the given picture into the owned one (nullptr clears it).
    virtual void SetPhoto(const TPicture *Value);
    virtual void SetColor(int32_t Value);
    virtual int32_t Cadence() const;
    virtual void SetCadence(int32_t Value);
    virtual int32_t HeartRate() const;
    virtual void SetHeartRate(int32_t Value);
    virtual int32_t MaxCadence() const;
    virtual void SetMaxCadence(int32_t Value);
    virtual int32_t Power() const;
    virtual void SetPower(int32_t Value);
    virtual int32_t AuxValue1() const;
    virtual void SetAuxValue1(int32_t Value);
    virtual int32_t MaxHeartRate() const;
    virtual void SetMaxHeartRate(int32_t Value);
    virtual int32_t AuxValue2() const;
    virtual void SetAuxValue2(int32_t Value);
    virtual bool Arrived() const;
    virtual void SetArrived(bool Value);
    virtual bool Finished() const;
    virtual void SetFinished(bool Value);
    virtual int32_t AverageCadence() const;
    virtual void SetAverageCadence(int32_t Value);
    virtual int32_t AverageHeartRate() const;
    virtual void SetAverageHeartRate(int32_t Value);
    virtual double AverageSpeed() const;
    virtual void SetAverageSpeed(double Value);
    virtual int32_t Calories() const;
    virtual void SetCalories(int32_t Value);
    virtual int32_t AuxValue3() const;
    virtual void SetAuxValue3(int32_t Value);
    virtual int32_t DeviceKind() const;
    virtual void SetHeartMaxLimit(int32_t Value);
    virtual void SetHeartUpperLimit(int32_t Value);
    virtual void SetHeartLowerLimit(int32_t Value);
    virtual bool SimulationMode() const;
    virtual void SetSimulationMode(bool Value);
    virtual void SetDistanceToPerform(double Value);
    virtual void SetDistance(double Value);
    virtual void SetMarker(int32_t Value);
    virtual void DoConnected();
    virtual void DoDisconnected();
    virtual void DoConnectionLost();
    virtual void DoCourseFinished();
    virtual void DoAfterStop();
    virtual void DoBeforePause();
    virtual void DoBeforeStart();
    virtual void DoBeforeStop(bool &CanContinue);
    virtual void DoHeartConnectionLost();
    virtual void DoCompetitorStateChanged(TCompetitorState OldState, TCompetitorState NewState);
    virtual void SetTimerStatsEnabled(bool Value);
    virtual bool TimerStatsEnabled() const;
    virtual void SetTimerStatsInterval(uint32_t Value);
    virtual uint32_t TimerStatsInterval() const;
    virtual void SetTimerStatsThreadPriority(TThreadPriority Value);
    virtual TThreadPriority TimerStatsThreadPriority() const;
    virtual TCompetitorState CompetitorState() const;
    // The stats timer's tick handler.
    virtual void DoStats();
    virtual void SetTimeToleranceMs(uint32_t Value);
    virtual void SetMaxSpeed(double Value);
    virtual void SetAuxValue4(int32_t Value);
    // At design time clamped to 210 / 35 / 220 with a beep; at run time stored as given.
    virtual void SetAlarmHeartHighLimit(int32_t Value);
    virtual void SetAlarmHeartLowLimit(int32_t Value);
    virtual void SetAlarmHeartMaxLimit(int32_t Value);
    virtual void DoHeartCriticalValue();
    virtual void Start();
    virtual void Stop();
    virtual void Pause();
    virtual bool Connect();
    virtual void Disconnect();
    // Speed, then Distance, then HeartRate, then Cadence, through their setters; TimeMs unused.
    virtual void SetValues(int32_t AHeartRate, int32_t ACadence, double ASpeed, double ADistance, uint32_t TimeMs);
    virtual void SetCompetitorState(TCompetitorState Value);
    // Now minus Earlier, modulo 2^32, is at most TimeToleranceMs.
    virtual bool WithinTimeTolerance(uint32_t Now, uint32_t Earlier) const;

    // ---- plain reads ------------------------------------------------------------------------------
    const std::string &RiderName() const { return FRiderName; }
    int32_t RiderId() const { return FRiderId; }
    const std::string &LastName() const { return FLastName; }
    const std::string &FirstName() const { return FFirstName; }
    double BirthDate() const { return FBirthDate; }
    int32_t RiderWeight() const { return FRiderWeight; }
    TUnitMeasure UOM() const { return FUOM; }
    TPicture *Photo() const { return FPhoto; }
    int32_t Color() const { return FColor; }
    int32_t HeartMaxLimit() const { return FHeartMaxLimit; }
    int32_t HeartUpperLimit() const { return FHeartUpperLimit; }
    int32_t HeartLowerLimit() const { return FHeartLowerLimit; }
    double DistanceToPerform() const { return FDistanceToPerform; }
    double BikeWeight() const { return FBikeWeight; }
    void SetBikeWeight(double Value) { FBikeWeight = Value; }
    uint32_t TimeToleranceMs() const { return FTimeToleranceMs; }
    int32_t AlarmHeartHighLimit() const { return FAlarmHeartHighLimit; }
    int32_t AlarmHeartLowLimit() const { return FAlarmHeartLowLimit; }
    int32_t AlarmHeartMaxLimit() const { return FAlarmHeartMaxLimit; }
    double Distance() const { return FDistance; }
    double MaxSpeed() const { return FMaxSpeed; }
    int32_t Marker() const { return FMarker; }
    int32_t AuxValue4() const { return FAuxValue4; }
    bool UserFlag() const { return FUserFlag; }
    // Owned, created without an owner.
    TZelTimer *StatsTimer() const { return FStatsTimer; }

    // ---- events --------------------------------------------------------------------------------
    TNotifyEvent OnConnected;
    TNotifyEvent OnDisconnected;
    TNotifyEvent OnConnectionLost;
    TNotifyEvent OnCourseFinished;
    TNotifyEvent OnAfterStop;
    TNotifyEvent OnBeforePause;
    TNotifyEvent OnBeforeStart;
    TNotifyEvent OnHeartConnectionLost;
    TNotifyEvent OnStats;
    TNotifyEvent OnHeartCriticalValue;
    TBeforeStopEvent OnBeforeStop;
    TCompetitorStateChangedEvent OnCompetitorStateChanged;
    // Declared here, raised by a concrete device.
    TAlarmHeartEvent OnAlarmHeart;

protected:
    // The stored connection flag, for devices that decide themselves when they count as connected.
    void SetConnected(bool Value) { FConnected = Value; }

    std::string FRiderName;
    int32_t FRiderId = -1;
    std::string FLastName;
    std::string FFirstName;
    double FBirthDate = 0;
    int32_t FRiderWeight = 0;
    TUnitMeasure FUOM = umKm;
    TPicture *FPhoto = nullptr;
    int32_t FColor = 0;
    int32_t FHeartMaxLimit = 220;
    int32_t FHeartUpperLimit = 0;
    int32_t FHeartLowerLimit = 0;
    bool FSimulationMode = false;
    double FDistanceToPerform = 0;
    double FBikeWeight = 10.0;
    uint32_t FTimeToleranceMs = 100;
    int32_t FAlarmHeartHighLimit = 210;
    int32_t FAlarmHeartLowLimit = 35;
    int32_t FAlarmHeartMaxLimit = 220;

    double FSpeed = 0;
    bool FConnected = false;
    int32_t FCadence = 0;
    int32_t FHeartRate = 0;
    int32_t FMaxCadence = 0;
    int32_t FPower = 0;
    int32_t FMaxHeartRate = 0;
    int32_t FAverageCadence = 0;
    int32_t FAverageHeartRate = 0;
    int32_t FCalories = 0;
    int32_t FAuxValue1 = 0;
    int32_t FAuxValue2 = 0;
    int32_t FAuxValue3 = 0;
    int32_t FAuxValue4 = 0;
    bool FArrived = false;
    bool FFinished = false;
    double FAverageSpeed = 0;
    double FMaxSpeed = 0;
    double FDistance = 0;
    int32_t FMarker = 0;
    TCompetitorState FCompetitorState = 0;
    bool FUserFlag = false;

    TZelTimer *FStatsTimer = nullptr;

private:
    int32_t SetAlarmLimit(int32_t Current, int32_t Value, bool TooFar, int32_t Bound);
};
