#pragma once
// One ANT channel: radio parameters, profile, link state, trainer commands (these in
// TrainerCommands.cpp). The channels live in a TAntChannelList (AntChannelList.h).
//
// Threads: properties are set on the user-interface thread; the fields that the library's
// callback thread also writes or reads are atomics (link state, counters, gates, pairing,
// burst progress, the send packet, thread ids). The send packet is replaced as one 64-bit
// value, so a resend on the library's thread never sees half of a new page.
#include "ant/CallbackAdaptor.h"
#include "ant/channels/AckPageQueue.h"
#include "ant/profiles/ANTPlusProfileData.h"
#include "ant/profiles/AntTypes.h"
#include "framework/Collection.h"
#include "framework/Component.h"
#include "framework/Persistent.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TStrings;
class TResistanceMap;
class TAntChannelList;

using TChannelEvent = std::function<void(TObject *Sender, uint8_t ucANTChannel, uint8_t ucEvent)>;
using TChannelResponseEvent = std::function<void(TObject *Sender, uint8_t ucANTChannel, uint8_t ucResponseMsgID)>;
using TChannelGoToSearch = std::function<void(TObject *Sender)>;
using TConsoleKeyDownEvent = std::function<void(TObject *Sender, TConsoleKey Key)>;
using TCalibrationStatusEvent = std::function<void(TObject *Sender, TAntCalibrationStatus Status)>;
using TPADataReceivedEvent = std::function<void(TObject *Sender, int32_t Index)>;
using TResistanceMapReceivedEvent = std::function<void(TObject *Sender, TResistanceMap *Map)>;
// The 8 bytes of a data page as heard, byte 0 the page number.
using TDataPagePayload = std::array<uint8_t, 8>;
using TDataPageEvent = std::function<void(TObject *Sender, const TDataPagePayload &Page)>;

class TAntChannel : public TCollectionItem {
public:
    static constexpr int MapRows = 19;
    static constexpr int MapColumns = 15;
    static constexpr int32_t NoLevel = -1;
    static constexpr float NoSlope = -1000.0f;

    explicit TAntChannel(TCollection *Collection);
    ~TAntChannel() override;

    std::string ClassName() const override { return "TAntChannel"; }
    const TPropList &Properties() const override;
    // Another channel: its published properties.
    void Assign(const TPersistent *Source) override;

    // The list that holds this channel, or nullptr.
    TAntChannelList *ChannelList() const;

    // ---- published properties ----
    const std::string &Name() const { return FName; }
    virtual void SetName(const std::string &Value);
    uint8_t ChannelNumber() const { return FChannelNumber.load(std::memory_order_relaxed); }
    virtual void SetChannelNumber(uint8_t Value);
    uint8_t ChannelType() const { return FChannelType; }
    virtual void SetChannelType(uint8_t Value);
    uint8_t ChannelFrequency() const { return FChannelFrequency; }
    virtual void SetChannelFrequency(uint8_t Value);
    uint16_t DeviceNumber() const { return FDeviceNumber.load(std::memory_order_relaxed); }
    virtual void SetDeviceNumber(uint16_t Value);
    uint8_t DeviceType() const { return FDeviceType; }
    virtual void SetDeviceType(uint8_t Value);
    uint8_t NetNumber() const { return FNetNumber; }
    virtual void SetNetNumber(uint8_t Value);
    uint8_t TransmissionType() const { return FTransmissionType; }
    virtual void SetTransmissionType(uint8_t Value);
    uint8_t TransmissionPower() const { return FTransmissionPower; }
    virtual void SetTransmissionPower(uint8_t Value);
    uint16_t MessagePeriod() const { return FMessagePeriod; }
    virtual void SetMessagePeriod(uint16_t Value);
    bool DoResponseFunction() const { return FDoResponseFunction.load(std::memory_order_acquire); }
    virtual void SetDoResponseFunction(bool Value);
    bool DoChannelEventFunction() const { return FDoChannelEventFunction.load(std::memory_order_acquire); }
    virtual void SetDoChannelEventFunction(bool Value);
    bool Pairing() const { return FPairing; }
    virtual void SetPairing(bool Value);
    int32_t Delay() const { return FDelay; }
    virtual void SetDelay(int32_t Value);
    virtual bool DebugMode() const { return FDebugMode.load(std::memory_order_relaxed); }
    void SetDebugMode(bool Value);
    TStrings *LogStrings() const { return FLogStrings.load(std::memory_order_acquire); }
    virtual void SetLogStrings(TStrings *Value);
    TChannelConnectionStep ChannelConnectionStep() const { return FChannelConnectionStep.load(std::memory_order_acquire); }
    virtual void SetChannelConnectionStep(TChannelConnectionStep Value);
    TAntChannelProfile AntChannelProfile() const { return FAntChannelProfile.load(std::memory_order_relaxed); }
    // Applies the profile's radio settings, network key and record (AntChannelProfiles.cpp).
    virtual void SetAntChannelProfile(TAntChannelProfile Value);
    TAntDistanceState DistanceState() const { return FDistanceState; }
    virtual void SetDistanceState(TAntDistanceState Value);
    int32_t RepeatCommandInterval() const { return FRepeatCommandInterval; }
    void SetRepeatCommandInterval(int32_t Value);
    bool ChannelDeviceNumberReceived() const { return FChannelDeviceNumberReceived.load(std::memory_order_relaxed); }
    virtual void SetChannelDeviceNumberReceived(bool Value);
    // The channel's current sequencer, owned: replaced at each connect, freed with the channel.
    TComponent *ConnectChannelThread() const { return FConnectChannelThread; }
    // Frees the previous sequencer when another one is given.
    virtual void SetConnectChannelThread(TComponent *Value);
    // Sets the sequencer's Enabled to false, when there is one.
    void DisableConnectChannelThread();
    bool ConnectedOnEventRx() const { return FConnectedOnEventRx; }
    virtual void SetConnectedOnEventRx(bool Value);

    // ---- events ----
    TNotifyEvent OnConnected;
    TNotifyEvent OnDisconnected;
    TChannelEvent OnChannelEvent;
    TChannelResponseEvent OnChannelResponse;
    TChannelGoToSearch OnRxFailGoToSearch;
    TNotifyEvent OnSettingsChanged;
    TNotifyEvent OnHeartConnectionLost;
    TNotifyEvent OnConsoleConnectionLost;
    TNotifyEvent OnChannelDeviceNumber;
    TConsoleKeyDownEvent OnConsoleKeyDown;
    TNotifyEvent OnEventRxBroadCastReceived;
    TCalibrationStatusEvent OnCalibrationStatus;
    TPADataReceivedEvent OnPADataReceived;
    TResistanceMapReceivedEvent OnResistanceMapReceived;
    // Every FE-C data page, after the controller decoded it; on the thread that decodes.
    TDataPageEvent OnDataPage;

    // ---- internal state ----
    TAntProfileData *ProfileData() const { return FProfileData.get(); }
    // Takes ownership; the previous record is freed.
    virtual void SetProfileData(std::unique_ptr<TAntProfileData> Value);
    uint8_t SearchTimeout() const { return FSearchTimeout; }
    virtual void SetSearchTimeout(uint8_t Value);
    uint8_t LowPrioritySearchTimeout() const { return FLowPrioritySearchTimeout; }
    virtual void SetLowPrioritySearchTimeout(uint8_t Value);
    TAntNetworkKey NetworkKey() const { return FNetworkKey; }
    virtual void SetNetworkKey(const TAntNetworkKey &Value);
    TAntChannelState ChannelState() const { return FChannelState.load(std::memory_order_relaxed); }
    virtual void SetChannelState(TAntChannelState Value);
    bool Connected() const { return FConnected.load(std::memory_order_acquire); }
    virtual void SetConnected(bool Value);
    int32_t EventCount() const { return FEventCount.load(std::memory_order_relaxed); }
    virtual void SetEventCount(int32_t Value);
    int32_t ResponseCount() const { return FResponseCount.load(std::memory_order_relaxed); }
    virtual void SetResponseCount(int32_t Value);
    int32_t RxBufferIndex() const { return FRxBufferIndex.load(std::memory_order_acquire); }
    // A new row restarts EventCount.
    virtual void SetRxBufferIndex(int32_t Value);
    int32_t ResponseBufferIndex() const { return FResponseBufferIndex.load(std::memory_order_acquire); }
    // A new row restarts ResponseCount.
    virtual void SetResponseBufferIndex(int32_t Value);
    int32_t AntDeviceId() const { return FAntDeviceId; }
    virtual void SetAntDeviceId(int32_t Value);
    uint32_t EventThreadId() const { return FEventThreadId.load(std::memory_order_acquire); }
    virtual void SetEventThreadId(uint32_t Value);
    uint32_t ResponseThreadId() const { return FResponseThreadId.load(std::memory_order_acquire); }
    void SetResponseThreadId(uint32_t Value);
    bool RequestPending() const { return FRequestPending.load(std::memory_order_acquire); }
    virtual void SetRequestPending(bool Value);
    bool BroadcastReceived() const { return FBroadcastReceived.load(std::memory_order_relaxed); }
    // Raises OnEventRxBroadCastReceived when the value changes.
    virtual void SetBroadcastReceived(bool Value);
    // Clears the flag without raising anything (a channel that went back to search).
    void ResetBroadcastReceived() { FBroadcastReceived.store(false, std::memory_order_relaxed); }
    int32_t RxFailCount() const { return FRxFailCount.load(std::memory_order_relaxed); }
    virtual void SetRxFailCount(int32_t Value);
    int32_t WheelDiameter() const { return FWheelDiameter; }
    // Stores (without comparing) and sends the user configuration when connected.
    virtual void SetWheelDiameter(int32_t Value);
    int32_t UserWeight() const { return FUserWeight; }
    // Stores and sends the user configuration, connected or not.
    virtual void SetUserWeight(int32_t Value);
    int32_t LastResistance() const { return FLastResistance; }
    int32_t LastTargetPower() const { return FLastTargetPower; }
    float LastSlope() const { return FLastSlope; }
    TChannelSendPacket SendPacket() const;
    // Replaces the whole page at once.
    void SetSendPacket(const TChannelSendPacket &Value);
    int32_t BurstBytesRemaining() const { return FBurstBytesRemaining.load(std::memory_order_relaxed); }
    void SetBurstBytesRemaining(int32_t Value) { FBurstBytesRemaining.store(Value, std::memory_order_relaxed); }
    int32_t BurstPacketIndex() const { return FBurstPacketIndex.load(std::memory_order_relaxed); }
    void SetBurstPacketIndex(int32_t Value) { FBurstPacketIndex.store(Value, std::memory_order_relaxed); }
    using TMapTable = std::array<std::array<uint16_t, MapColumns>, MapRows>;
    TMapTable &MapTable() { return FMapTable; }
    const TMapTable &MapTable() const { return FMapTable; }
    TResistanceMap *ReceivedMap() const { return FReceivedMap.get(); }
    // Takes ownership; the previous map is freed.
    void SetReceivedMap(std::unique_ptr<TResistanceMap> Value);
    // Scratch buffers handed to the library when a callback is detached.
    uint8_t *ScratchEventBuffer() { return FScratchEventBuffer.data(); }
    uint8_t *LastResponse() { return FLastResponse.data(); }
    // Set by the controller's binding in global mode: its response function copies every
    // answer into LastResponse, while only the first channel has a response row.
    bool ReadsLastResponse() const { return FReadsLastResponse.load(std::memory_order_acquire); }
    void SetReadsLastResponse(bool Value) { FReadsLastResponse.store(Value, std::memory_order_release); }

    // Posts the event with the copy of the row it was heard with, as one item, to the
    // message thread EventThreadId: every page heard is decoded rather than whatever the
    // library wrote last.
    // False when there is no thread or the post failed. Any thread.
    bool PostReceivedEvent(uint8_t ucEvent, const TAntRxRow &Row);
    // Posts the response to the message thread ResponseThreadId; false as above.
    bool PostResponse(uint8_t ucResponseMsgID);

    // The adaptors the library calls for this channel, owned; made by the controller's
    // binding, freed by the removal operations below and with the channel.
    TCallbackAdaptor *CallBackResponseFunc() const { return FCallBackResponseFunc.get(); }
    void SetCallBackResponseFunc(std::unique_ptr<TCallbackAdaptor> Value) { FCallBackResponseFunc = std::move(Value); }
    TCallbackAdaptor *CallBackChannelEventFunc() const { return FCallBackChannelEventFunc.get(); }
    void SetCallBackChannelEventFunc(std::unique_ptr<TCallbackAdaptor> Value) { FCallBackChannelEventFunc = std::move(Value); }
    // Copies of the channel's rows in the process-wide tables (the response from LastResponse
    // when ReadsLastResponse); EAntError "Error: ChannelBufferAddress undefined" when the
    // index is outside the table. Any thread.
    TAntRxRow ReceiveRow() const;
    TAntResponseRow ResponseRow() const;

    // ---- operations ----
    // Appends "TimeStamp text" to LogStrings when DebugMode is on; any thread.
    virtual void Log(const std::string &Text);
    // The library's callbacks for this channel, on its thread.
    virtual bool ChannelEventFunc(uint8_t ucANTChannel, uint8_t ucEvent);
    virtual bool ResponseFunc(uint8_t ucANTChannel, uint8_t ucResponseMsgID);
    // Detach the callback from the library, then free its adaptor; the buffer row stays.
    virtual bool RemoveChannelEventFunction();
    virtual bool RemoveResponseFunction();
    virtual void EnableExtendedMessages(bool On);

    // Trainer commands (FE-C channel).
    virtual void ResetData();
    virtual void StartDistance();
    virtual void StopDistance();
    virtual void PauseDistance();
    virtual void SendResistance(uint8_t Level);
    virtual void SendPower(uint16_t Watts);
    virtual void SendSlope(double Percent);
    // Page 55, channel form; any channel, connected or not.
    void SendUserConfiguration();
    // Page 1, the trainer's own calibration, acknowledged; only on a connected FE-C channel
    // (false: nothing sent). Neither kind asked is the cancel. The last-command memory stays.
    bool SendCalibrationRequest(bool ZeroOffset, bool SpinDown);
    bool SendCalibrationCancel();
    // Repeats the remembered command while Connected and chsActive.
    void repeatLastCommand();
    // The record's live readings back to 0, as on disconnection (heart rate, speed, ...).
    void ClearLiveValues();

    // Acknowledged pages (TrainerCommands.cpp). Every acknowledged page of the channel and of
    // the controller goes out through the channel's hold: at most one in flight, the others
    // held until it ends (see AckPageQueue.h). Any thread; none blocks beyond a short lock.
    void QueueAcknowledged(const TChannelSendPacket &Page);
    // The library's verdicts on the page in flight. Failed: true when a page went out again.
    void AcknowledgedCompleted();
    bool AcknowledgedFailed();
    // The stick answered "transfer in progress" to an acknowledged page.
    void AcknowledgedRefused();
    // Lets the next page go when the one in flight has had no verdict within four periods.
    void ExpireAcknowledgedWait();
    // Forgets the page in flight and drops the held ones (channel closed or deleted).
    void DropHeldAcknowledged();
    const TAckPageQueue &AcknowledgedPages() const { return FAckPages; }

    // ---- event triggers ----
    virtual void TriggerConnected();
    virtual void TriggerDisconnected();
    virtual void TriggerSettingsChanged();
    // Heart rate to 0, then OnHeartConnectionLost.
    virtual void TriggerHeartConnectionLost();
    virtual void TriggerConsoleConnectionLost();
    virtual void TriggerChannelDeviceNumber();
    virtual void TriggerEventRxBroadCastReceived();
    virtual void TriggerConsoleKeyDown(TConsoleKey Key);
    virtual void TriggerCalibrationStatus(TAntCalibrationStatus Status);
    virtual void TriggerPADataReceived(int32_t Index);
    virtual void TriggerResistanceMapReceived(TResistanceMap *Map);
    virtual void TriggerDataPage(const TDataPagePayload &Page);
    // Post to the message thread (when it is known), then raise the event. Library's thread.
    virtual void TriggerChannelEvent(uint8_t ucANTChannel, uint8_t ucEvent, const TAntRxRow &Row);
    virtual void TriggerChannelResponse(uint8_t ucANTChannel, uint8_t ucResponseMsgID);

private:
    // The channel of this list an answer is for (see ResponseFunc); nullptr when none is.
    TAntChannel *ResponseTarget(uint8_t ucANTChannel, uint8_t ucResponseMsgID, const TAntResponseRow &Row);
    void HandleResponse(uint8_t ucANTChannel, uint8_t ucResponseMsgID, const TAntResponseRow &Row);
    void ClearLastCommand();
    void SendAcknowledged(const TChannelSendPacket &Page);
    void ApplyAcknowledgedOutcome(const TAckPageQueue::TOutcome &Outcome);

    std::string FName;
    std::atomic<uint8_t> FChannelNumber{0};
    uint8_t FChannelType = 0;
    uint8_t FChannelFrequency = 66;
    std::atomic<uint16_t> FDeviceNumber{0};
    uint8_t FDeviceType = 1;
    uint8_t FNetNumber = 0;
    uint8_t FTransmissionType = 1;
    uint8_t FTransmissionPower = 3;
    uint16_t FMessagePeriod = 8192;
    std::atomic<bool> FDoResponseFunction{false};
    std::atomic<bool> FDoChannelEventFunction{false};
    bool FPairing = false;
    int32_t FDelay = 100;
    std::atomic<bool> FDebugMode{false};
    std::atomic<TStrings *> FLogStrings{nullptr};
    std::atomic<TChannelConnectionStep> FChannelConnectionStep{ccsAssignChannel};
    std::atomic<TAntChannelProfile> FAntChannelProfile{acpUnAssigned};
    TAntDistanceState FDistanceState = dsStop;
    int32_t FRepeatCommandInterval = 14000;
    std::atomic<bool> FChannelDeviceNumberReceived{false};
    TComponent *FConnectChannelThread = nullptr;
    bool FConnectedOnEventRx = false;

    std::unique_ptr<TAntProfileData> FProfileData;
    uint8_t FSearchTimeout = 0;
    uint8_t FLowPrioritySearchTimeout = 0;
    TAntNetworkKey FNetworkKey{};
    std::atomic<TAntChannelState> FChannelState{chsIdle};
    std::atomic<bool> FConnected{false};
    std::atomic<int32_t> FEventCount{0};
    std::atomic<int32_t> FResponseCount{0};
    std::atomic<int32_t> FRxBufferIndex{-1};
    std::atomic<int32_t> FResponseBufferIndex{-1};
    int32_t FAntDeviceId = -1;
    std::atomic<uint32_t> FEventThreadId{0};
    std::atomic<uint32_t> FResponseThreadId{0};
    std::array<uint8_t, 16> FScratchEventBuffer{};
    std::array<uint8_t, 10> FLastResponse{};
    std::atomic<bool> FReadsLastResponse{false};
    std::atomic<bool> FRequestPending{false};
    std::atomic<bool> FBroadcastReceived{false};
    // The channel asked for its channel id and awaits the answer.
    std::atomic<bool> FChannelIdRequested{false};
    std::atomic<int32_t> FRxFailCount{0};
    int32_t FWheelDiameter = 659;
    int32_t FUserWeight = 0;
    int32_t FLastResistance = NoLevel;
    int32_t FLastTargetPower = NoLevel;
    float FLastSlope = NoSlope;
    std::atomic<uint64_t> FSendPacket{0};
    std::atomic<int32_t> FBurstBytesRemaining{0};
    std::atomic<int32_t> FBurstPacketIndex{0};
    TMapTable FMapTable{};
    std::unique_ptr<TResistanceMap> FReceivedMap;
    std::unique_ptr<TCallbackAdaptor> FCallBackResponseFunc;
    std::unique_ptr<TCallbackAdaptor> FCallBackChannelEventFunc;
    TAckPageQueue FAckPages;
};

// Four channel periods (1/32768 s units): long past any verdict the stick gives.
std::chrono::steady_clock::duration AcknowledgedWaitLimit(uint16_t MessagePeriod);
