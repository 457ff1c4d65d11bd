#pragma once
// The trainer device: one rider on one ANT+ FE-C trainer, with an optional heart-rate strap
// and console, reached through the device's own ANT controller.
//
// The class is spread over several files, one unit of work each:
//   TarvoDeviceAntP.cpp            construction, destruction, property table, plain setters
//   TarvoConnection.cpp            channels, Connect, Disconnect, waits
//   TarvoChannelEvents.cpp         the channel event handlers and the notify operations
//   TarvoResistance.cpp            resistance and power commands, the virtual-speed model
//   TarvoStatistics.cpp            the statistics tick, ride control, unit conversion
//   TarvoTrainerCalibration.cpp    the trainer's own calibration run
//
// Threads: Connect, Disconnect, every setter and the statistics tick run on the
// user-interface thread. The channel event handlers run on the thread the channel raises
// them on, which is the library's callback thread for broadcasts, losses and learnt device
// numbers. Whatever those handlers write and the user-interface thread reads is atomic: the
// connection flag, the learnt device numbers and the measurements the disconnection of a
// channel zeroes (those measurements are kept here, not in the base, for that reason).
#include "ant/AntComControl.h"
#include "ant/channels/AntChannels.h"
#include "device/TrainerCalibrationRun.h"
#include "device/ZelDeviceBaseClasses.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TAntDevice;
class TConnectChannelThread;
class TResistanceMap;
class TMapCalibration;
class TMivoAverage;

enum TResistanceMode : uint8_t { rmAntUlmora, rmAsWatts, rmAsPercent, rmAsSlope, rmNotDefined };

using TChannelDeviceNumberEvent = std::function<void(TObject *Sender, TAntChannel *aAntChannel)>;
using TChannelDisconnectionEvent = std::function<void(TObject *Sender, TAntChannel *aAntChannel)>;
using TChannelConnectedEvent = std::function<void(TObject *Sender, TAntChannel *aAntChannel)>;
using TChannelConnectionLostEvent = std::function<void(TObject *Sender, TAntChannel *aAntChannel)>;
using TRxBroadCastReceivedEvent = std::function<void(TObject *Sender, TAntChannel *aAntChannel)>;
using TChannelRxFailGoToSearchEvent = std::function<void(TObject *Sender, TAntChannel *aAntChannel)>;

class TTarvoDeviceAntP : public TZelCustomDevice {
public:
    // Connect's wait for each channel's remote device number.
    static constexpr uint32_t DeviceNumberWaitMs = 3000;
    // Disconnect's message-processing pause after each close and each delete.
    static constexpr uint32_t DisconnectPauseMs = 300;

    explicit TTarvoDeviceAntP(TComponent *AOwner);
    ~TTarvoDeviceAntP() override;

    std::string ClassName() const override { return "TTarvoDeviceAntP"; }
    const TPropList &Properties() const override;
    void Notification(TComponent *AComponent, TOperation Operation) override;

    // ---- channels and connection (TarvoConnection.cpp) --------------------------------------
    // Adds a channel of the profile to the controller's list; HR, FE-C and console channels
    // are remembered (an earlier reference of the same profile is overwritten, not freed).
    virtual TAntChannel *AddChannel(TAntChannelProfile Profile);
    // False when no ANT USB device is found; raises when none can be opened. True once the
    // sequencers have been started. A missing channel reference skips that channel.
    bool Connect() override;
    // Closes and deletes every channel of the controller's list, last first; releases and
    // frees the USB devices once no channel is left.
    void Disconnect() override;
    // Processes the user-interface messages until the channel learnt its device number or
    // DeviceNumberWaitMs have passed.
    void WaitChannelDeviceNumber(TAntChannel *Channel);
    // Processes the user-interface messages for Milliseconds.
    void PumpMessages(uint32_t Milliseconds);
    // The USB device of the last Connect, shared by every device; none after Disconnect freed it.
    static TAntDevice *SelectedAntDevice() { return FSelectedAntDevice.load(std::memory_order_acquire); }

    // ---- channel event handlers (TarvoChannelEvents.cpp); any thread ------------------------
    virtual void HandleChannelDeviceNumber(TAntChannel *Channel);
    virtual void HandleChannelConnected(TAntChannel *Channel);
    virtual void HandleChannelDisconnected(TAntChannel *Channel);
    virtual void HandleChannelConnectionLost(TAntChannel *Channel);
    virtual void HandleEventRxBroadCastReceived(TAntChannel *Channel);
    virtual void HandleChannelRxFailGoToSearch(TAntChannel *Channel);

    // ---- notify operations (TarvoChannelEvents.cpp) -------------------------------------------
    virtual void DoUsbNotFound();
    virtual void DoStartConnection();
    virtual void DoEndConnection();
    virtual void DoConsoleKeyDown(TConsoleKey Key);
    virtual void DoConsoleConnectionLost();
    virtual void DoConsoleConnectionRecovered();
    virtual void DoHrConnectionLost();
    virtual void DoConnectionRecovered();
    virtual void DoVersionChange();
    virtual void DoChannelConnectionLost(TAntChannel *Channel);
    virtual void DoConnectChannelHandled(TConnectChannelThread *Sequencer);
    virtual void DoConnectChannelTimeOut(TConnectChannelThread *Sequencer);
    virtual void DoEventRxBroadCastReceived(TAntChannel *Channel);
    virtual void DoCalibrationStatus(TAntCalibrationStatus Status);

    // ---- resistance control (TarvoResistance.cpp) ---------------------------------------------
    virtual void SetTarvoResistance(int32_t Value);
    virtual int32_t TarvoResistance() const;
    virtual void SetInitialResistance(int32_t Value);
    // Offers the target power to the trainer channel, then stores it through StorePower.
    void SetPower(int32_t Value) override;
    virtual void SendResistanceLevel(uint8_t Level);
    virtual void SendTargetPower(uint16_t Watts);
    virtual void SendTargetSlope(double Slope);
    virtual void UpdateHighPowerReduction();
    virtual double ModelPower(double Speed, double Factor) const;
    // One step of the virtual-speed model with the trainer speed; stores the model's result.
    virtual void SetVirtualSpeed(double TrainerSpeedValue);
    virtual void ResetVirtualSpeed();
    // The trainer's zero offset; 0 without a trainer channel or its record.
    virtual int32_t CalibrationOffset() const;

    // ---- the trainer's own calibration (TarvoTrainerCalibration.cpp) -------------------------
    // UI thread. False (and a log line saying why) without a connected trainer channel, without a
    // kind, or while a run goes on; true once the request was sent.
    bool StartTrainerCalibration(TTrainerCalibrationKinds Kinds);
    // UI thread; sends the cancel when a run goes on, nothing otherwise.
    void CancelTrainerCalibration();
    // Any thread.
    TTrainerCalibrationView TrainerCalibration() const;
    bool TrainerCalibrationRunning() const;
    // A page the trainer channel heard (its OnDataPage), on the thread that decoded it.
    virtual void HandleTrainerDataPage(TAntChannel *Channel, const TDataPagePayload &Page);

    // ---- measurements and ride (TarvoStatistics.cpp) ------------------------------------------
    void DoStats() override;
    void Start() override;
    void Stop() override;
    void Pause() override;
    virtual void ResetStatistics();
    virtual void ClearStatistics();
    virtual void HeartRateAlarm();
    void DoHeartConnectionLost() override;
    void SetRiderWeight(int32_t Value) override;
    virtual void SetCadenceArrayLength(int32_t Value);
    virtual void SetSpeedArrayLength(int32_t Value);
    virtual void SetHrArrayLength(int32_t Value);
    // Always stores; gives the trainer channel the diameter rounded.
    virtual void SetDiameter(double Value);
    // Also sets TarvoVersion, without OnVersionChange.
    virtual void SetUnitType(double Value);
    virtual void SetTarvoVersion(double Value);
    virtual double TarvoVersion() const;
    static double KmToMiles(double Value) { return Value / 1.609; }

    // ---- measurements the channel handlers zero from the library's thread ---------------------
    double Speed() const override { return FLiveSpeed.load(std::memory_order_relaxed); }
    void SetSpeed(double Value) override { FLiveSpeed.store(Value, std::memory_order_relaxed); }
    bool Connected() const override { return FLiveConnected.load(std::memory_order_acquire); }
    int32_t Cadence() const override { return FLiveCadence.load(std::memory_order_relaxed); }
    void SetCadence(int32_t Value) override { FLiveCadence.store(Value, std::memory_order_relaxed); }
    int32_t HeartRate() const override { return FLiveHeartRate.load(std::memory_order_relaxed); }
    void SetHeartRate(int32_t Value) override { FLiveHeartRate.store(Value, std::memory_order_relaxed); }
    int32_t MaxCadence() const override { return FLiveMaxCadence.load(std::memory_order_relaxed); }
    void SetMaxCadence(int32_t Value) override { FLiveMaxCadence.store(Value, std::memory_order_relaxed); }
    int32_t Power() const override { return FLivePower.load(std::memory_order_relaxed); }
    int32_t AuxValue1() const override { return FLiveAuxValue1.load(std::memory_order_relaxed); }
    void SetAuxValue1(int32_t Value) override { FLiveAuxValue1.store(Value, std::memory_order_relaxed); }
    int32_t MaxHeartRate() const override { return FLiveMaxHeartRate.load(std::memory_order_relaxed); }
    void SetMaxHeartRate(int32_t Value) override { FLiveMaxHeartRate.store(Value, std::memory_order_relaxed); }
    int32_t AverageCadence() const override { return FLiveAverageCadence.load(std::memory_order_relaxed); }
    void SetAverageCadence(int32_t Value) override { FLiveAverageCadence.store(Value, std::memory_order_relaxed); }
    int32_t AverageHeartRate() const override { return FLiveAverageHeartRate.load(std::memory_order_relaxed); }
    void SetAverageHeartRate(int32_t Value) override
    {
        FLiveAverageHeartRate.store(Value, std::memory_order_relaxed);
    }
    double AverageSpeed() const override { return FLiveAverageSpeed.load(std::memory_order_relaxed); }
    void SetAverageSpeed(double Value) override { FLiveAverageSpeed.store(Value, std::memory_order_relaxed); }
    int32_t AuxValue3() const override { return FLiveAuxValue3.load(std::memory_order_relaxed); }
    void SetAuxValue3(int32_t Value) override { FLiveAuxValue3.store(Value, std::memory_order_relaxed); }

    // ---- published properties (plain setters assign when different) ---------------------------
    double Calibration() const { return FCalibration; }
    virtual void SetCalibration(double Value);
    bool HeartEnabled() const { return FHeartEnabled; }
    void SetHeartEnabled(bool Value) { FHeartEnabled = Value; }
    TAntComControl *AntComControl() const { return FAntComControl; }
    // Registers for the controller's destruction notice.
    virtual void SetAntComControl(TAntComControl *Value);
    bool VirtualSpeedEnabled() const { return FVirtualSpeedEnabled; }
    virtual void SetVirtualSpeedEnabled(bool Value);
    virtual double ResistanceReducer() const;
    virtual void SetResistanceReducer(double Value);
    int32_t TarvoElevation() const { return FTarvoElevation; }
    virtual void SetTarvoElevation(int32_t Value);
    bool HighPowerReduceEnable() const { return FHighPowerReduceEnable; }
    virtual void SetHighPowerReduceEnable(bool Value);
    double UnitType() const { return FUnitType; }
    int32_t InitialResistance() const { return FInitialResistance; }
    int32_t ResistanceLatency() const { return FResistanceLatency; }
    virtual void SetResistanceLatency(int32_t Value);
    int32_t CurrentElevation() const { return FCurrentElevation; }
    virtual void SetCurrentElevation(int32_t Value);
    TResistanceMap *ResistanceMap() const { return FResistanceMap; }
    virtual void SetResistanceMap(TResistanceMap *Value);
    double VirtualSpeed() const { return FVirtualSpeed; }
    int32_t HighPowerReduceStartSpeed() const { return FHighPowerReduceStartSpeed; }
    virtual void SetHighPowerReduceStartSpeed(int32_t Value);
    double HighPowerReduceCoefficient() const { return FHighPowerReduceCoefficient; }
    virtual void SetHighPowerReduceCoefficient(double Value);
    double HighPowerReduceCoefficientMinimum() const { return FHighPowerReduceCoefficientMinimum; }
    virtual void SetHighPowerReduceCoefficientMinimum(double Value);
    TMapCalibration *MapCalibration() const { return FMapCalibration; }
    virtual void SetMapCalibration(TMapCalibration *Value);
    virtual double Diameter() const;
    virtual int32_t EvenPerTurn() const;
    virtual void SetEvenPerTurn(int32_t Value);
    virtual uint16_t ConsoleType() const;
    virtual void SetConsoleType(uint16_t Value);
    virtual uint16_t DeviceNumber() const;
    virtual void SetDeviceNumber(uint16_t Value);
    virtual int32_t TrainerVersion() const;
    virtual void SetTrainerVersion(int32_t Value);
    virtual uint16_t HRDeviceNumber() const;
    virtual void SetHRDeviceNumber(uint16_t Value);
    bool EnableHr() const { return FEnableHr; }
    virtual void SetEnableHr(bool Value);
    virtual bool ConsoleEnable() const;
    virtual void SetConsoleEnable(bool Value);
    virtual uint16_t ConsoleDeviceNumber() const;
    virtual void SetConsoleDeviceNumber(uint16_t Value);
    int32_t CadenceArrayLength() const { return FCadenceArrayLength; }
    int32_t SpeedArrayLength() const { return FSpeedArrayLength; }
    int32_t HrArrayLength() const { return FHrArrayLength; }
    double VirtualDistance() const { return FVirtualDistance; }
    double Tolerance() const { return FTolerance; }
    virtual void SetTolerance(double Value);
    double VirtualSpeedAttenuation() const { return FVirtualSpeedAttenuation; }
    virtual void SetVirtualSpeedAttenuation(double Value);
    TResistanceMode ResistanceMode() const { return FResistanceMode; }
    virtual void SetResistanceMode(TResistanceMode Value);
    bool ChannelConsoleConnectedOnEventRx() const { return FChannelConsoleConnectedOnEventRx; }
    virtual void SetChannelConsoleConnectedOnEventRx(bool Value);
    bool ChannelTrainerConnectedOnEventRx() const { return FChannelTrainerConnectedOnEventRx; }
    virtual void SetChannelTrainerConnectedOnEventRx(bool Value);
    bool ChannelHRConnectedOnEventRx() const { return FChannelHRConnectedOnEventRx; }
    virtual void SetChannelHRConnectedOnEventRx(bool Value);
    int32_t TrainerConnectionTimeOut() const { return FTrainerConnectionTimeOut; }
    virtual void SetTrainerConnectionTimeOut(int32_t Value);
    int32_t MaxIncrementStepPower() const { return FMaxIncrementStepPower; }
    virtual void SetMaxIncrementStepPower(int32_t Value);
    // Stores a value nothing reads; reading gives the trainer's offset.
    virtual void SetCalibrationOffset(int32_t Value);
    bool UseResistanceMapFromTrainer() const { return FUseResistanceMapFromTrainer; }
    virtual void SetUseResistanceMapFromTrainer(bool Value);

    // ---- internal state shared by the units of this class -----------------------------------
    TAntChannel *ChannelTrainer() const { return FChannelTrainer.load(std::memory_order_acquire); }
    virtual void SetChannelTrainer(TAntChannel *Value);
    TAntChannel *ChannelHR() const { return FChannelHR.load(std::memory_order_acquire); }
    virtual void SetChannelHR(TAntChannel *Value);
    TAntChannel *ChannelConsole() const { return FChannelConsole.load(std::memory_order_acquire); }
    virtual void SetChannelConsole(TAntChannel *Value);
    virtual long double TrainerSpeed() const;
    virtual void SetTrainerSpeed(long double Value);
    bool HighPowerReduceArmed() const { return FHighPowerReduceArmed; }
    virtual void SetHighPowerReduceArmed(bool Value);
    TMivoAverage *SpeedAverage() const { return FSpeedAverage.get(); }
    TMivoAverage *CadenceAverage() const { return FCadenceAverage.get(); }
    TMivoAverage *HeartRateAverage() const { return FHeartRateAverage.get(); }

    // ---- events (Sender is always the device) ----------------------------------------------
    TChannelDeviceNumberEvent OnChannelDeviceNumber;
    TNotifyEvent OnUsbNotFound;
    TNotifyEvent OnStartConnection;
    TNotifyEvent OnEndConnection;
    TConsoleKeyDownEvent OnConsoleKeyDown;
    TNotifyEvent OnConsoleConnectionLost;
    TNotifyEvent OnConsoleConnectionRecovered;
    TNotifyEvent OnHrConnectionLost;
    TNotifyEvent OnConnectionRecovered;
    TNotifyEvent OnVersionChange;
    TChannelDisconnectionEvent OnChannelDisconnection;
    TChannelConnectedEvent OnChannelConnected;
    TChannelConnectionLostEvent OnChannelConnectionLost;
    TConnectChannelThreadEvent OnConnectChannelHandled;
    TConnectChannelThreadEvent OnConnectChannelTimeOut;
    TRxBroadCastReceivedEvent OnEventRxBroadCastReceived;
    TChannelRxFailGoToSearchEvent OnChannelRxFailGoToSearch;
    TCalibrationStatusEvent OnCalibrationStatus;
    // Raised on whichever thread changed the run (message thread or UI thread) whenever anything
    // the view shows changed (including page 16's speed and page 25's required kinds, even with no
    // run). Never blocks; handlers must not block.
    TNotifyEvent OnTrainerCalibrationChange;

protected:
    // The base's store-when-different of Power, on the atomic kept here.
    void StorePower(int32_t Value)
    {
        if (Value != Power())
            FLivePower.store(Value, std::memory_order_relaxed);
    }
    // The base's Connect and Disconnect steps (flag, then event), on the atomic flag.
    void MarkConnected();
    void MarkDisconnected();

    // ---- published property fields --------------------------------------------------------
    double FCalibration = 1.0;
    bool FHeartEnabled = false;
    TAntComControl *FAntComControl = nullptr;
    bool FVirtualSpeedEnabled = false;
    double FResistanceReducer = 1.0;
    int32_t FTarvoResistance = 0;
    int32_t FInitialResistance = 0;
    int32_t FTarvoElevation = 0;
    bool FHighPowerReduceEnable = false;
    double FUnitType = -1.0;
    double FTarvoVersion = 0.0;
    int32_t FResistanceLatency = 0;
    int32_t FCurrentElevation = 0;
    TResistanceMap *FResistanceMap = nullptr;
    double FVirtualSpeed = 0.0;
    int32_t FHighPowerReduceStartSpeed = 0;
    // Atomic: SetPower also runs on the library's thread (the trainer channel's disconnection).
    std::atomic<double> FHighPowerReduceCoefficient{0.0};
    double FHighPowerReduceCoefficientMinimum = 0.0;
    TMapCalibration *FMapCalibration = nullptr;
    double FDiameter = 0.0;
    int32_t FEvenPerTurn = 0;
    uint16_t FConsoleType = 0;
    std::atomic<uint16_t> FDeviceNumber{0};
    int32_t FTrainerVersion = 0;
    std::atomic<uint16_t> FHRDeviceNumber{0};
    bool FEnableHr = true;
    bool FConsoleEnable = true;
    std::atomic<uint16_t> FConsoleDeviceNumber{0};
    int32_t FCadenceArrayLength = 1;
    int32_t FSpeedArrayLength = 3;
    int32_t FHrArrayLength = 5;
    double FVirtualDistance = 0.0;
    double FTolerance = 2.0;
    double FVirtualSpeedAttenuation = 0.0;
    TResistanceMode FResistanceMode = rmAsPercent;
    bool FChannelConsoleConnectedOnEventRx = false;
    bool FChannelTrainerConnectedOnEventRx = false;
    bool FChannelHRConnectedOnEventRx = false;
    int32_t FTrainerConnectionTimeOut = 30000;
    int32_t FMaxIncrementStepPower = 0;
    int32_t FCalibrationOffset = 0;
    bool FUseResistanceMapFromTrainer = true;

    // ---- channels ----------------------------------------------------------------------------
    std::atomic<TAntChannel *> FChannelTrainer{nullptr};
    std::atomic<TAntChannel *> FChannelHR{nullptr};
    std::atomic<TAntChannel *> FChannelConsole{nullptr};

    // ---- measurements written from more than one thread ------------------------------------
    std::atomic<bool> FLiveConnected{false};
    std::atomic<double> FLiveSpeed{0};
    std::atomic<double> FLiveAverageSpeed{0};
    std::atomic<int32_t> FLiveCadence{0};
    std::atomic<int32_t> FLiveAverageCadence{0};
    std::atomic<int32_t> FLiveMaxCadence{0};
    std::atomic<int32_t> FLivePower{0};
    std::atomic<int32_t> FLiveAuxValue1{0};
    std::atomic<int32_t> FLiveAuxValue3{0};
    std::atomic<int32_t> FLiveHeartRate{0};
    std::atomic<int32_t> FLiveMaxHeartRate{0};
    std::atomic<int32_t> FLiveAverageHeartRate{0};

    // ---- resistance control and the virtual-speed model (user-interface thread) -------------
    bool FHighPowerReduceArmed = true;
    long double FTrainerSpeed = 0;
    long double FSlope = 0;
    double FPreviousVirtualSpeed = 0;
    double FFlatForce = 0;
    double FVirtualForce = 0;
    double FSlopeForce = 0;
    double FNetForce = 0;

    // ---- statistics (user-interface thread) ---------------------------------------------------
    std::unique_ptr<TMivoAverage> FSpeedAverage;
    std::unique_ptr<TMivoAverage> FCadenceAverage;
    std::unique_ptr<TMivoAverage> FHeartRateAverage;
    int32_t FTickCount = 0;
    int32_t FCadenceSum = 0;
    bool FHeartPresent = false;
    int32_t FHeartSampleCount = 0;
    int32_t FHeartRateSum = 0;
    long double FDistanceSum = 0;
    double FVirtualDistanceSum = 0;
    long double FCaloriesSum = 0;

private:
    // Binds the handlers Connect gives every channel, then the channel's own extras.
    void BindCommonHandlers(TAntChannel *Channel);
    void ConnectHeartRateChannel(TAntDevice *Device, int32_t DeviceIndex);
    void ConnectTrainerChannel(TAntDevice *Device, int32_t DeviceIndex);
    void ConnectConsoleChannel(TAntDevice *Device, int32_t DeviceIndex);
    // The first device of the list that opens, or nullptr.
    TAntDevice *OpenFirstDevice();
    void ReleaseDevicesWhenNoChannelLeft();
    void ForgetChannel(TAntChannel *Channel);
    std::unique_ptr<TTrainerCalibrationRun> MakeTrainerCalibrationRun();
    // A running calibration ends because the trainer goes (Text says how); any thread.
    void EndTrainerCalibration(TAntChannel *Channel, const std::string &Text);

    // ---- steps of the statistics tick (TarvoStatistics.cpp) ---------------------------------
    void ReadTrainerRecord(const TAntProfileFE &Record);
    void RunVirtualSpeedStep();
    void ReadHeartRate();
    void CountCalories();
    void CheckCourseFinished();

    static std::atomic<TAntDevice *> FSelectedAntDevice;

    // Last: freed first, so its clock and handlers never outlive the device's other members.
    std::unique_ptr<TTrainerCalibrationRun> FTrainerCalibrationRun;
};
