#include "ant/channels/AntChannels.h"

#include "ant/ThreadChannelMsg.h"
#include "ant/binding/AntLib.h"
#include "ant/channels/AntChannelList.h"
#include "ant/channels/AntChannelProfiles.h"
#include "ant/channels/NetworkKeys.h"
#include "framework/AssignWhenDifferent.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include "maps/ResistanceMap.h"

#include <cstring>

namespace {

uint64_t PackPacket(const TChannelSendPacket &Packet)
{
    uint64_t v = 0;
    std::memcpy(&v, Packet.data(), sizeof v);
    return v;
}

TChannelSendPacket UnpackPacket(uint64_t v)
{
    TChannelSendPacket p{};
    std::memcpy(p.data(), &v, sizeof v);
    return p;
}

} // namespace

// ---- TAntChannel -------------------------------------------------------------------------

TAntChannel::TAntChannel(TCollection *Collection) : TCollectionItem(Collection) {}

TAntChannel::~TAntChannel()
{
    DisableConnectChannelThread();
    delete FConnectChannelThread;
    FConnectChannelThread = nullptr;
    // A channel freed without its removal operations would leave the library calling freed
    // adaptors.
    if (FCallBackChannelEventFunc)
        TAntLib::ANT_AssignChannelEventFunction(ChannelNumber(), nullptr, FScratchEventBuffer.data());
    if (FCallBackResponseFunc)
        TAntLib::ANT_AssignResponseFunction(nullptr, FLastResponse.data());
}

void TAntChannel::DisableConnectChannelThread()
{
    // Reached through its published Enabled so the channel needs no sequencer declaration.
    if (FConnectChannelThread == nullptr)
        return;
    if (const TPropInfo *enabled = FindProperty(*FConnectChannelThread, "Enabled"); enabled && enabled->SetOrd)
        enabled->SetOrd(*FConnectChannelThread, 0);
}

const TPropList &TAntChannel::Properties() const
{
    static const TPropList props = [] {
        using C = TAntChannel;
        TPropList p;
        p.push_back(StrProp<C>("Name", &C::Name, &C::SetName));
        p.push_back(IntProp<C, uint8_t>("ChannelNumber", "Byte", &C::ChannelNumber, &C::SetChannelNumber));
        p.push_back(IntProp<C, uint8_t>("ChannelType", "Byte", &C::ChannelType, &C::SetChannelType));
        p.push_back(IntProp<C, uint8_t>("ChannelFrequency", "Byte", &C::ChannelFrequency, &C::SetChannelFrequency));
        p.push_back(IntProp<C, uint16_t>("DeviceNumber", "Word", &C::DeviceNumber, &C::SetDeviceNumber));
        p.push_back(IntProp<C, uint8_t>("DeviceType", "Byte", &C::DeviceType, &C::SetDeviceType));
        p.push_back(IntProp<C, uint8_t>("NetNumber", "Byte", &C::NetNumber, &C::SetNetNumber));
        p.push_back(IntProp<C, uint8_t>("TransmissionType", "Byte", &C::TransmissionType, &C::SetTransmissionType));
        p.push_back(IntProp<C, uint8_t>("TransmissionPower", "Byte", &C::TransmissionPower, &C::SetTransmissionPower));
        p.push_back(IntProp<C, uint16_t>("MessagePeriod", "Word", &C::MessagePeriod, &C::SetMessagePeriod));
        p.push_back(BoolProp<C>("DoResponseFunction", &C::DoResponseFunction, &C::SetDoResponseFunction, true));
        p.push_back(BoolProp<C>("DoChannelEventFunction", &C::DoChannelEventFunction, &C::SetDoChannelEventFunction, true));
        p.push_back(BoolProp<C>("Pairing", &C::Pairing, &C::SetPairing, false));
        p.push_back(IntProp<C, int32_t>("Delay", "Integer", &C::Delay, &C::SetDelay, 100));
        p.push_back(BoolProp<C>("DebugMode", &C::DebugMode, &C::SetDebugMode, false));
        p.push_back(EnumProp<C, TChannelConnectionStep>("ChannelConnectionStep", "TChannelConnectionStep",
                                                        ChannelConnectionStepNames(), &C::ChannelConnectionStep,
                                                        &C::SetChannelConnectionStep));
        p.push_back(EnumProp<C, TAntChannelProfile>("AntChannelProfile", "TAntChannelProfile", AntChannelProfileNames(),
                                                    &C::AntChannelProfile, &C::SetAntChannelProfile));
        p.push_back(EnumProp<C, TAntDistanceState>("DistanceState", "TAntDistanceState", AntDistanceStateNames(),
                                                   &C::DistanceState, &C::SetDistanceState));
        p.push_back(IntProp<C, int32_t>("RepeatCommandInterval", "Integer", &C::RepeatCommandInterval,
                                        &C::SetRepeatCommandInterval, 14000));
        p.push_back(BoolProp<C>("ChannelDeviceNumberReceived", &C::ChannelDeviceNumberReceived,
                                &C::SetChannelDeviceNumberReceived, false));
        p.push_back(BoolProp<C>("ConnectedOnEventRx", &C::ConnectedOnEventRx, &C::SetConnectedOnEventRx, false));
        return p;
    }();
    return props;
}

void TAntChannel::Assign(const TPersistent *Source)
{
    if (auto *src = dynamic_cast<const TAntChannel *>(Source)) {
        AssignPublishedProperties(*src, *this);
        return;
    }
    TCollectionItem::Assign(Source);
}

TAntChannelList *TAntChannel::ChannelList() const
{
    if (Collection() == nullptr)
        return nullptr;
    return dynamic_cast<TAntChannelList *>(Collection()->GetOwner());
}

void TAntChannel::SetName(const std::string &Value) { AssignWhenDifferent(FName, Value); }
void TAntChannel::SetChannelNumber(uint8_t Value) { AssignWhenDifferent(FChannelNumber, Value); }
void TAntChannel::SetChannelType(uint8_t Value) { AssignWhenDifferent(FChannelType, Value); }
void TAntChannel::SetChannelFrequency(uint8_t Value) { AssignWhenDifferent(FChannelFrequency, Value); }
void TAntChannel::SetDeviceNumber(uint16_t Value) { AssignWhenDifferent(FDeviceNumber, Value); }
void TAntChannel::SetDeviceType(uint8_t Value) { AssignWhenDifferent(FDeviceType, Value); }
void TAntChannel::SetNetNumber(uint8_t Value) { AssignWhenDifferent(FNetNumber, Value); }
void TAntChannel::SetTransmissionType(uint8_t Value) { AssignWhenDifferent(FTransmissionType, Value); }
void TAntChannel::SetTransmissionPower(uint8_t Value) { AssignWhenDifferent(FTransmissionPower, Value); }
void TAntChannel::SetMessagePeriod(uint16_t Value)
{
    AssignWhenDifferent(FMessagePeriod, Value);
    FAckPages.SetWaitLimit(AcknowledgedWaitLimit(FMessagePeriod));
}
void TAntChannel::SetDoResponseFunction(bool Value) { AssignWhenDifferent(FDoResponseFunction, Value); }
void TAntChannel::SetDoChannelEventFunction(bool Value) { AssignWhenDifferent(FDoChannelEventFunction, Value); }
void TAntChannel::SetPairing(bool Value) { AssignWhenDifferent(FPairing, Value); }
void TAntChannel::SetDelay(int32_t Value) { AssignWhenDifferent(FDelay, Value); }
void TAntChannel::SetDebugMode(bool Value) { AssignWhenDifferent(FDebugMode, Value); }
void TAntChannel::SetLogStrings(TStrings *Value) { AssignWhenDifferent(FLogStrings, Value); }
void TAntChannel::SetChannelConnectionStep(TChannelConnectionStep Value)
{
    AssignWhenDifferent(FChannelConnectionStep, Value);
}
void TAntChannel::SetDistanceState(TAntDistanceState Value) { AssignWhenDifferent(FDistanceState, Value); }
void TAntChannel::SetRepeatCommandInterval(int32_t Value) { AssignWhenDifferent(FRepeatCommandInterval, Value); }
void TAntChannel::SetChannelDeviceNumberReceived(bool Value)
{
    AssignWhenDifferent(FChannelDeviceNumberReceived, Value);
}
void TAntChannel::SetConnectedOnEventRx(bool Value) { AssignWhenDifferent(FConnectedOnEventRx, Value); }
void TAntChannel::SetSearchTimeout(uint8_t Value) { AssignWhenDifferent(FSearchTimeout, Value); }
void TAntChannel::SetLowPrioritySearchTimeout(uint8_t Value) { AssignWhenDifferent(FLowPrioritySearchTimeout, Value); }
void TAntChannel::SetNetworkKey(const TAntNetworkKey &Value) { FNetworkKey = Value; }
void TAntChannel::SetChannelState(TAntChannelState Value) { AssignWhenDifferent(FChannelState, Value); }
void TAntChannel::SetEventCount(int32_t Value) { AssignWhenDifferent(FEventCount, Value); }
void TAntChannel::SetResponseCount(int32_t Value) { AssignWhenDifferent(FResponseCount, Value); }
void TAntChannel::SetAntDeviceId(int32_t Value) { AssignWhenDifferent(FAntDeviceId, Value); }
void TAntChannel::SetEventThreadId(uint32_t Value) { AssignWhenDifferent(FEventThreadId, Value); }
void TAntChannel::SetResponseThreadId(uint32_t Value) { AssignWhenDifferent(FResponseThreadId, Value); }
void TAntChannel::SetRequestPending(bool Value) { AssignWhenDifferent(FRequestPending, Value); }
void TAntChannel::SetRxFailCount(int32_t Value) { AssignWhenDifferent(FRxFailCount, Value); }

void TAntChannel::SetRxBufferIndex(int32_t Value)
{
    if (FRxBufferIndex.load(std::memory_order_relaxed) == Value)
        return;
    FRxBufferIndex.store(Value, std::memory_order_release);
    FEventCount.store(0, std::memory_order_relaxed);
}

void TAntChannel::SetResponseBufferIndex(int32_t Value)
{
    if (FResponseBufferIndex.load(std::memory_order_relaxed) == Value)
        return;
    FResponseBufferIndex.store(Value, std::memory_order_release);
    FResponseCount.store(0, std::memory_order_relaxed);
}

void TAntChannel::SetConnectChannelThread(TComponent *Value)
{
    if (FConnectChannelThread == Value)
        return;
    DisableConnectChannelThread();
    delete FConnectChannelThread;
    FConnectChannelThread = Value;
}

void TAntChannel::SetProfileData(std::unique_ptr<TAntProfileData> Value)
{
    if (FProfileData.get() != Value.get())
        FProfileData = std::move(Value);
}

void TAntChannel::SetReceivedMap(std::unique_ptr<TResistanceMap> Value)
{
    if (FReceivedMap.get() != Value.get())
        FReceivedMap = std::move(Value);
}

bool TAntChannel::PostReceivedEvent(uint8_t ucEvent, const TAntRxRow &Row)
{
    const uint32_t thread = EventThreadId();
    return thread != 0 && PostChannelMessage(thread, TChannelMessage{this, MsgChannelEvent, ucEvent, Row});
}

bool TAntChannel::PostResponse(uint8_t ucResponseMsgID)
{
    const uint32_t thread = ResponseThreadId();
    return thread != 0 && PostChannelMessage(thread, TChannelMessage{this, MsgChannelResponse, ucResponseMsgID, {}});
}

TChannelSendPacket TAntChannel::SendPacket() const
{
    return UnpackPacket(FSendPacket.load(std::memory_order_acquire));
}

void TAntChannel::SetSendPacket(const TChannelSendPacket &Value)
{
    FSendPacket.store(PackPacket(Value), std::memory_order_release);
}

void TAntChannel::SetAntChannelProfile(TAntChannelProfile Value)
{
    if (FAntChannelProfile.load(std::memory_order_relaxed) == Value)
        return;
    FAntChannelProfile.store(Value, std::memory_order_relaxed);
    FProfileData.reset();
    if (const TAntChannelProfileSettings *settings = AntChannelProfileSettings(Value)) {
        SetNetworkKey(settings->AntPlusNetworkKey ? AntPlusNetworkKey() : PublicNetworkKey());
        SetChannelType(settings->ChannelType);
        SetTransmissionType(settings->TransmissionType);
        SetNetNumber(settings->NetNumber);
        SetDeviceType(settings->DeviceType);
        SetChannelFrequency(settings->ChannelFrequency);
        SetMessagePeriod(settings->MessagePeriod);
        SetTransmissionPower(settings->TransmissionPower);
        SetSearchTimeout(settings->SearchTimeout);
        SetLowPrioritySearchTimeout(settings->LowPrioritySearchTimeout);
        SetProfileData(MakeProfileData(Value));
    }
    TriggerSettingsChanged();
}

void TAntChannel::SetConnected(bool Value)
{
    if (FConnected.load(std::memory_order_relaxed) == Value)
        return;
    if (Value) {
        FConnected.store(true, std::memory_order_release);
        SetChannelState(chsConnected);
        TriggerConnected();
    } else {
        FConnected.store(false, std::memory_order_release);
        FBroadcastReceived.store(false, std::memory_order_relaxed);
        ClearLiveValues();
        SetChannelState(chsIdle);
        TriggerDisconnected();
    }
}

void TAntChannel::ClearLiveValues()
{
    TAntProfileData *data = FProfileData.get();
    if (auto *hr = dynamic_cast<TANTProfileDataHR *>(data)) {
        hr->SetComputedHeartRate(0);
        hr->SetHeartBeatEventTime(0);
        hr->SetHeartBeatCount(0);
        hr->SetCumulativeOperatingTime(0);
        hr->SetPreviousHeartBeatEventTime(0);
    } else if (auto *sc = dynamic_cast<TANTProfileDataSC *>(data)) {
        sc->SetSpeed(0.0L);
        sc->SetCadence(0);
        sc->SetCadenceEventTime(0);
        sc->SetCadenceRevolutions(0);
        sc->SetSpeedEventTime(0);
        sc->SetSpeedRevolutions(0);
    } else if (auto *fe = dynamic_cast<TAntProfileFE *>(data)) {
        fe->SetSpeed(0.0L);
        fe->SetInstantaneousCadence(0);
    }
}

void TAntChannel::SetBroadcastReceived(bool Value)
{
    if (FBroadcastReceived.load(std::memory_order_relaxed) == Value)
        return;
    FBroadcastReceived.store(Value, std::memory_order_relaxed);
    TriggerEventRxBroadCastReceived();
}

void TAntChannel::SetWheelDiameter(int32_t Value)
{
    FWheelDiameter = Value;
    if (Connected())
        SendUserConfiguration();
}

void TAntChannel::SetUserWeight(int32_t Value)
{
    FUserWeight = Value;
    SendUserConfiguration();
}

void TAntChannel::Log(const std::string &Text)
{
    TStrings *target = LogStrings();
    if (!DebugMode() || target == nullptr)
        return;
    target->Add(TimeStamp() + " " + Text);
}

bool TAntChannel::RemoveChannelEventFunction()
{
    SetDoChannelEventFunction(false);
    TAntLib::ANT_Nap(static_cast<uint32_t>(FDelay < 0 ? 0 : FDelay));
    TAntLib::ANT_AssignChannelEventFunction(ChannelNumber(), nullptr, FScratchEventBuffer.data());
    // The library returns from a registration only after a delivery under way has ended, so
    // nothing can still be running in the adaptor.
    FCallBackChannelEventFunc.reset();
    return true;
}

bool TAntChannel::RemoveResponseFunction()
{
    SetDoResponseFunction(false);
    TAntLib::ANT_Nap(static_cast<uint32_t>(FDelay < 0 ? 0 : FDelay));
    TAntLib::ANT_AssignResponseFunction(nullptr, FLastResponse.data());
    FCallBackResponseFunc.reset(); // as above: no delivery outlives the registration
    return true;
}

void TAntChannel::EnableExtendedMessages(bool On)
{
    TAntLib::ANT_RxExtMesgsEnable(On ? 1 : 0);
}

// ---- triggers ------------------------------------------------------------------------------

void TAntChannel::TriggerConnected()
{
    if (OnConnected)
        OnConnected(this);
}

void TAntChannel::TriggerDisconnected()
{
    if (OnDisconnected)
        OnDisconnected(this);
}

void TAntChannel::TriggerSettingsChanged()
{
    if (OnSettingsChanged)
        OnSettingsChanged(this);
}

void TAntChannel::TriggerHeartConnectionLost()
{
    if (auto *hr = dynamic_cast<TANTProfileDataHR *>(FProfileData.get()))
        hr->SetComputedHeartRate(0);
    if (OnHeartConnectionLost)
        OnHeartConnectionLost(this);
}

void TAntChannel::TriggerConsoleConnectionLost()
{
    if (OnConsoleConnectionLost)
        OnConsoleConnectionLost(this);
}

void TAntChannel::TriggerChannelDeviceNumber()
{
    if (OnChannelDeviceNumber)
        OnChannelDeviceNumber(this);
}

void TAntChannel::TriggerEventRxBroadCastReceived()
{
    if (OnEventRxBroadCastReceived)
        OnEventRxBroadCastReceived(this);
}

void TAntChannel::TriggerConsoleKeyDown(TConsoleKey Key)
{
    if (OnConsoleKeyDown)
        OnConsoleKeyDown(this, Key);
}

void TAntChannel::TriggerCalibrationStatus(TAntCalibrationStatus Status)
{
    if (OnCalibrationStatus)
        OnCalibrationStatus(this, Status);
}

void TAntChannel::TriggerDataPage(const TDataPagePayload &Page)
{
    if (OnDataPage)
        OnDataPage(this, Page);
}

void TAntChannel::TriggerPADataReceived(int32_t Index)
{
    if (OnPADataReceived)
        OnPADataReceived(this, Index);
}

void TAntChannel::TriggerResistanceMapReceived(TResistanceMap *Map)
{
    if (OnResistanceMapReceived)
        OnResistanceMapReceived(this, Map);
}
