#include "ant/channels/AntChannels.h"

#include "ant/ThreadChannelMsg.h"
#include "ant/binding/AntLib.h"
#include "ant/channels/NetworkKeys.h"
#include "framework/Exception.h"
#include "framework/Streams.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include "maps/ResistanceMap.h"
#include "persist/PersistentStreamer.h"
#include "platform/ThreadMessages.h"

#include <cmath>
#include <cstring>

namespace {

template <class T, class V>
void AssignWhenDifferent(T &Field, V Value)
{
    if (Field != Value)
        Field = Value;
}

template <class T, class V>
void AssignAtomicWhenDifferent(std::atomic<T> &Field, V Value)
{
    if (Field.load(std::memory_order_relaxed) != static_cast<T>(Value))
        Field.store(static_cast<T>(Value), std::memory_order_release);
}

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

enum class TKeyKind { Unchanged, AntPlus, Public };

struct TProfileRow {
    TKeyKind Key;
    uint8_t ChannelType, TransmissionType, NetNumber, DeviceType, ChannelFrequency;
    uint16_t MessagePeriod;
    uint8_t TransmissionPower, SearchTimeout, LowPrioritySearchTimeout;
};

// Radio settings per profile, indexed by TAntChannelProfile (acpUnAssigned changes nothing).
const TProfileRow ProfileTable[] = {
    {TKeyKind::Unchanged, 0, 0, 0, 0, 0, 0, 0, 0, 0},   // acpUnAssigned
    {TKeyKind::Public, 0, 0, 1, 19, 71, 31814, 3, 255, 0}, // acpAntUlmora
    {TKeyKind::AntPlus, 0, 0, 0, 120, 57, 8070, 1, 0, 255}, // acpAntHR
    {TKeyKind::AntPlus, 0, 0, 0, 121, 57, 8060, 3, 0, 255}, // acpAntSC
    {TKeyKind::AntPlus, 0, 0, 0, 122, 57, 8102, 3, 0, 255}, // acpAntCad
    {TKeyKind::AntPlus, 0, 0, 0, 17, 57, 8192, 3, 0, 255},  // acpAntFE
    {TKeyKind::Public, 1, 0, 1, 18, 70, 16150, 3, 0, 255},  // acpAntConsole
    {TKeyKind::Public, 0, 0, 1, 44, 44, 1986, 3, 255, 0},   // acpAntUlmoraPA
    {TKeyKind::Public, 0, 0, 1, 44, 44, 1599, 3, 255, 0},   // acpAntUlmoraPAHS
};

std::unique_ptr<TAntProfileData> MakeProfileData(TAntChannelProfile Profile)
{
    switch (Profile) {
    case acpAntHR: return std::make_unique<TANTProfileDataHR>();
    case acpAntSC: return std::make_unique<TANTProfileDataSC>();
    case acpAntCad: return std::make_unique<TAntProfileDataCadence>();
    case acpAntFE: return std::make_unique<TAntProfileFE>();
    case acpAntConsole: return std::make_unique<TAntProfileConsole>();
    case acpAntUlmoraPA:
    case acpAntUlmoraPAHS: return std::make_unique<TANTUlmoraPAData>();
    default: return nullptr;
    }
}

constexpr int ChannelListFormat = psfText;

} // namespace

// ---- page builders -----------------------------------------------------------------------

TChannelSendPacket BuildBasicResistancePage(uint8_t Level)
{
    if (Level > 200)
        Level = 200;
    return {0x30, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, Level};
}

TChannelSendPacket BuildTargetPowerPage(uint16_t Watts)
{
    // Units of 0.25 W in 16 bits: powers past 16383.75 W are sent as that maximum rather
    // than wrapped to a small value.
    uint32_t p = static_cast<uint32_t>(Watts) * 4u;
    if (p > 0xFFFFu)
        p = 0xFFFFu;
    return {0x31, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, static_cast<uint8_t>(p & 0xFF), static_cast<uint8_t>(p >> 8)};
}

TChannelSendPacket BuildTrackResistancePage(double SlopePercent)
{
    // Units of 0.01 % offset by -200 %, truncated toward zero. Grades outside what the page
    // can carry (below -200 %, above 455.34 %, not a number) are held at the nearest end:
    // wrapping would turn a steep descent into a steep climb, and 0xFFFF means "invalid".
    double g = std::trunc((SlopePercent + 200.0) * 100.0);
    uint16_t v;
    if (std::isnan(g) || g < 0.0)
        v = 0;
    else if (g > 65534.0)
        v = 65534;
    else
        v = static_cast<uint16_t>(g);
    return {0x33, 0xFF, 0xFF, 0xFF, 0xFF, static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8), 0xFF};
}

TChannelSendPacket BuildUserConfigurationPage(int32_t UserWeight, int32_t WheelDiameter, bool WithUserWeight)
{
    TChannelSendPacket page{0x37, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    if (WithUserWeight) {
        // Units of 0.01 kg; 0xFFFF would mean "not given", so heavier values stop below it
        // and negative ones at 0 instead of wrapping into a wrong weight.
        int64_t w = static_cast<int64_t>(UserWeight) * 100;
        if (w < 0)
            w = 0;
        if (w > 0xFFFE)
            w = 0xFFFE;
        page[1] = static_cast<uint8_t>(w & 0xFF);
        page[2] = static_cast<uint8_t>(w >> 8);
    }
    int32_t d = WheelDiameter < 0 ? 0 : WheelDiameter; // a negative diameter is not a size
    int32_t offset = d % 10;
    if (offset > 15)
        offset = 15;
    int32_t cm = d / 10;
    if (cm > 255)
        cm = 255;
    page[4] = static_cast<uint8_t>(0xF0 + offset);
    page[6] = static_cast<uint8_t>(cm);
    return page;
}

TChannelSendPacket BuildRequestCapabilitiesPage()
{
    return {0x46, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x36, 0x01};
}

std::string PacketToHex(const uint8_t *Data, size_t Count)
{
    std::string s;
    s.reserve(Count * 3);
    for (size_t i = 0; i < Count; ++i) {
        s.push_back(' ');
        s.append(IntToHex(Data[i], 2));
    }
    return s;
}

// ---- TAntChannel -------------------------------------------------------------------------

TAntChannel::TAntChannel(TCollection *Collection) : TCollectionItem(Collection) {}

TAntChannel::~TAntChannel()
{
    DisableConnectChannelThread();
    delete FConnectChannelThread;
    FConnectChannelThread = nullptr;
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
void TAntChannel::SetChannelNumber(uint8_t Value) { AssignAtomicWhenDifferent(FChannelNumber, Value); }
void TAntChannel::SetChannelType(uint8_t Value) { AssignWhenDifferent(FChannelType, Value); }
void TAntChannel::SetChannelFrequency(uint8_t Value) { AssignWhenDifferent(FChannelFrequency, Value); }
void TAntChannel::SetDeviceNumber(uint16_t Value) { AssignAtomicWhenDifferent(FDeviceNumber, Value); }
void TAntChannel::SetDeviceType(uint8_t Value) { AssignWhenDifferent(FDeviceType, Value); }
void TAntChannel::SetNetNumber(uint8_t Value) { AssignWhenDifferent(FNetNumber, Value); }
void TAntChannel::SetTransmissionType(uint8_t Value) { AssignWhenDifferent(FTransmissionType, Value); }
void TAntChannel::SetTransmissionPower(uint8_t Value) { AssignWhenDifferent(FTransmissionPower, Value); }
void TAntChannel::SetMessagePeriod(uint16_t Value) { AssignWhenDifferent(FMessagePeriod, Value); }
void TAntChannel::SetDoResponseFunction(bool Value) { AssignAtomicWhenDifferent(FDoResponseFunction, Value); }
void TAntChannel::SetDoChannelEventFunction(bool Value) { AssignAtomicWhenDifferent(FDoChannelEventFunction, Value); }
void TAntChannel::SetPairing(bool Value) { AssignWhenDifferent(FPairing, Value); }
void TAntChannel::SetDelay(int32_t Value) { AssignWhenDifferent(FDelay, Value); }
void TAntChannel::SetDebugMode(bool Value) { AssignAtomicWhenDifferent(FDebugMode, Value); }
void TAntChannel::SetLogStrings(TStrings *Value) { AssignAtomicWhenDifferent(FLogStrings, Value); }
void TAntChannel::SetChannelConnectionStep(TChannelConnectionStep Value)
{
    AssignAtomicWhenDifferent(FChannelConnectionStep, Value);
}
void TAntChannel::SetDistanceState(TAntDistanceState Value) { AssignWhenDifferent(FDistanceState, Value); }
void TAntChannel::SetRepeatCommandInterval(int32_t Value) { AssignWhenDifferent(FRepeatCommandInterval, Value); }
void TAntChannel::SetChannelDeviceNumberReceived(bool Value)
{
    AssignAtomicWhenDifferent(FChannelDeviceNumberReceived, Value);
}
void TAntChannel::SetConnectedOnEventRx(bool Value) { AssignWhenDifferent(FConnectedOnEventRx, Value); }
void TAntChannel::SetSearchTimeout(uint8_t Value) { AssignWhenDifferent(FSearchTimeout, Value); }
void TAntChannel::SetLowPrioritySearchTimeout(uint8_t Value) { AssignWhenDifferent(FLowPrioritySearchTimeout, Value); }
void TAntChannel::SetNetworkKey(const TAntNetworkKey &Value) { FNetworkKey = Value; }
void TAntChannel::SetChannelState(TAntChannelState Value) { AssignAtomicWhenDifferent(FChannelState, Value); }
void TAntChannel::SetEventCount(int32_t Value) { AssignAtomicWhenDifferent(FEventCount, Value); }
void TAntChannel::SetResponseCount(int32_t Value) { AssignAtomicWhenDifferent(FResponseCount, Value); }
void TAntChannel::SetAntDeviceId(int32_t Value) { AssignWhenDifferent(FAntDeviceId, Value); }
void TAntChannel::SetEventThreadId(uint32_t Value) { AssignAtomicWhenDifferent(FEventThreadId, Value); }
void TAntChannel::SetResponseThreadId(uint32_t Value) { AssignAtomicWhenDifferent(FResponseThreadId, Value); }
void TAntChannel::SetRequestPending(bool Value) { AssignAtomicWhenDifferent(FRequestPending, Value); }
void TAntChannel::SetRxFailCount(int32_t Value) { AssignAtomicWhenDifferent(FRxFailCount, Value); }

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

void TAntChannel::PushReceivedRow(const TAntRxRow &Row)
{
    std::lock_guard<std::mutex> lock(FRowMutex);
    FReceivedRows.push_back(Row);
}

bool TAntChannel::PopReceivedRow(TAntRxRow &Row)
{
    std::lock_guard<std::mutex> lock(FRowMutex);
    if (FReceivedRows.empty())
        return false;
    Row = FReceivedRows.front();
    FReceivedRows.pop_front();
    return true;
}

bool TAntChannel::PostReceivedEvent(uint8_t ucEvent, const TAntRxRow &Row)
{
    const uint32_t thread = EventThreadId();
    if (thread == 0)
        return false;
    // Held across the post: a row whose message could not be posted is taken back before
    // anyone can pop it.
    std::lock_guard<std::mutex> lock(FRowMutex);
    FReceivedRows.push_back(Row);
    if (!PostThreadMessage(thread, MsgChannelEvent, reinterpret_cast<uintptr_t>(this), ucEvent)) {
        FReceivedRows.pop_back();
        return false;
    }
    return true;
}

bool TAntChannel::PostResponse(uint8_t ucResponseMsgID)
{
    const uint32_t thread = ResponseThreadId();
    if (thread == 0)
        return false;
    return PostThreadMessage(thread, MsgChannelResponse, reinterpret_cast<uintptr_t>(this), ucResponseMsgID);
}

size_t TAntChannel::PendingRowCount() const
{
    std::lock_guard<std::mutex> lock(FRowMutex);
    return FReceivedRows.size();
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
    if (static_cast<size_t>(Value) < std::size(ProfileTable) && Value != acpUnAssigned) {
        const TProfileRow &row = ProfileTable[Value];
        SetNetworkKey(row.Key == TKeyKind::AntPlus ? AntPlusNetworkKey() : PublicNetworkKey());
        SetChannelType(row.ChannelType);
        SetTransmissionType(row.TransmissionType);
        SetNetNumber(row.NetNumber);
        SetDeviceType(row.DeviceType);
        SetChannelFrequency(row.ChannelFrequency);
        SetMessagePeriod(row.MessagePeriod);
        SetTransmissionPower(row.TransmissionPower);
        SetSearchTimeout(row.SearchTimeout);
        SetLowPrioritySearchTimeout(row.LowPrioritySearchTimeout);
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
    return true;
}

bool TAntChannel::RemoveResponseFunction()
{
    SetDoResponseFunction(false);
    TAntLib::ANT_Nap(static_cast<uint32_t>(FDelay < 0 ? 0 : FDelay));
    TAntLib::ANT_AssignResponseFunction(nullptr, FLastResponse.data());
    return true;
}

void TAntChannel::EnableExtendedMessages(bool On)
{
    TAntLib::ANT_RxExtMesgsEnable(On ? 1 : 0);
}

// ---- trainer commands ----------------------------------------------------------------------

void TAntChannel::ClearLastCommand()
{
    FLastResistance = NoLevel;
    FLastTargetPower = NoLevel;
    FLastSlope = NoSlope;
}

void TAntChannel::SendAcknowledged(const TChannelSendPacket &Page)
{
    SetSendPacket(Page);
    // The library gets a copy of its own: the field may be replaced by the next command.
    TChannelSendPacket copy = Page;
    TAntLib::ANT_SendAcknowledgedData(ChannelNumber(), copy.data());
}

void TAntChannel::SendResistance(uint8_t Level)
{
    if (AntChannelProfile() != acpAntFE)
        return;
    if (Level > 200)
        Level = 200;
    FLastResistance = Level;
    FLastTargetPower = NoLevel;
    FLastSlope = NoSlope;
    TChannelSendPacket page = BuildBasicResistancePage(Level);
    std::string hex;
    if (DebugMode())
        hex = PacketToHex(page.data(), page.size());
    SendAcknowledged(page);
    Log("SendResistance [" + hex + "]");
    Log("ANT_SendAcknowledgedData - SendResistance [" + IntToStr(Level) + "]");
}

void TAntChannel::SendPower(uint16_t Watts)
{
    if (AntChannelProfile() != acpAntFE || !Connected())
        return;
    FLastSlope = NoSlope;
    FLastResistance = NoLevel;
    FLastTargetPower = Watts;
    SendAcknowledged(BuildTargetPowerPage(Watts));
    Log("ANT_SendAcknowledgedData - Send Power [" + IntToStr(Watts) + "w]");
}

void TAntChannel::SendSlope(double Percent)
{
    if (AntChannelProfile() != acpAntFE || !Connected())
        return;
    FLastResistance = NoLevel;
    FLastTargetPower = NoLevel;
    FLastSlope = static_cast<float>(Percent);
    SendAcknowledged(BuildTrackResistancePage(Percent));
    Log("ANT_SendAcknowledgedData - Send slope [" + FloatToStr(Percent) + "%]");
}

void TAntChannel::SendUserConfiguration()
{
    SendAcknowledged(BuildUserConfigurationPage(FUserWeight, FWheelDiameter, true));
    Log("DP55 Send User Configuration - Diam:" + IntToStr(FWheelDiameter));
}

void TAntChannel::repeatLastCommand()
{
    if (!Connected() || ChannelState() != chsActive)
        return;
    if (FLastResistance >= 0)
        SendResistance(static_cast<uint8_t>(FLastResistance));
    if (FLastTargetPower >= 0)
        SendPower(static_cast<uint16_t>(FLastTargetPower));
    if (FLastSlope != NoSlope)
        SendSlope(FLastSlope);
}

void TAntChannel::ResetData()
{
    auto *fe = dynamic_cast<TAntProfileFE *>(FProfileData.get());
    if (AntChannelProfile() != acpAntFE || fe == nullptr)
        return;
    SetDistanceState(dsRunning);
    fe->SetDistance(0.0);
    fe->SetElapsedTime(0.0);
    fe->SetPreviousElapsedTimeRaw(fe->ElapsedTimeRaw());
    fe->SetPreviousDistanceRaw(fe->DistanceRaw());
    fe->SetDistanceAtReset(fe->DistanceRaw());
    fe->SetElapsedTimeAtReset(fe->ElapsedTimeRaw() * 0.25);
    ClearLastCommand();
    Log("Reset Data");
}

void TAntChannel::StartDistance()
{
    if (FDistanceState == dsStop)
        ResetData();
    SetDistanceState(dsRunning);
    SendUserConfiguration();
}

void TAntChannel::StopDistance()
{
    ClearLastCommand();
    SetDistanceState(dsStop);
}

void TAntChannel::PauseDistance()
{
    ClearLastCommand();
    SetDistanceState(dsPause);
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

// ---- TAntChannels / TAntChannelList --------------------------------------------------------

TAntChannels::TAntChannels(TPersistent *Owner)
    : TCollection([](TCollection *c) -> TCollectionItem * { return new TAntChannel(c); }, "TAntChannel", Owner)
{
}

TAntChannelList::TAntChannelList(TComponent *AOwner)
    : FOwner(AOwner), FAntChannelItems(std::make_unique<TAntChannels>(this))
{
}

TAntChannelList::~TAntChannelList() = default;

const TPropList &TAntChannelList::Properties() const
{
    static const TPropList props = [] {
        using C = TAntChannelList;
        TPropList p;
        p.push_back(StrProp<C>("Name", &C::Name, &C::SetName));
        p.push_back(StrProp<C>("Filename", &C::Filename, &C::SetFilename, "TFileName"));
        p.push_back(ObjProp<C>("AntChannelItems", "TAntChannels", &C::AntChannelItems));
        return p;
    }();
    return props;
}

void TAntChannelList::SetName(const std::string &Value) { AssignWhenDifferent(FName, Value); }
void TAntChannelList::SetFilename(const std::string &Value) { AssignWhenDifferent(FFilename, Value); }

TAntChannel *TAntChannelList::Add() { return FAntChannelItems->Add(); }

void TAntChannelList::Clear()
{
    for (int i = Count() - 1; i >= 0; --i)
        FAntChannelItems->Delete(i);
}

void TAntChannelList::Delete(int Index)
{
    if (Index >= 0 && Index < Count())
        FAntChannelItems->Delete(Index);
}

void TAntChannelList::LoadFromFile(const std::string &FileName)
{
    TFileStream stream(FileName, fmOpenRead);
    LoadFromStream(stream);
    SetFilename(FileName);
}

void TAntChannelList::SaveToFile(const std::string &FileName)
{
    SaveToFileIntact(FileName, [this](TStream &Stream) { SaveToStream(Stream); });
    SetFilename(FileName);
}

void TAntChannelList::LoadFromStream(TStream &Stream)
{
    TPersistentReader reader(Stream, ChannelListFormat);
    reader.ReadObject(this);
}

void TAntChannelList::SaveToStream(TStream &Stream)
{
    TPersistentWriter writer(Stream, ChannelListFormat);
    writer.WriteObject(this);
}

void TAntChannelList::Assign(const TPersistent *Source)
{
    if (auto *src = dynamic_cast<const TAntChannelList *>(Source)) {
        SetFilename(src->Filename());
        FAntChannelItems->Assign(src->AntChannelItems());
        return;
    }
    TPersistent::Assign(Source);
}

void TAntChannelList::AssignTo(TPersistent *Dest) const
{
    if (auto *dst = dynamic_cast<TAntChannelList *>(Dest)) {
        TMemoryStream stream;
        const_cast<TAntChannelList *>(this)->SaveToStream(stream);
        stream.Seek(0, soBeginning);
        dst->LoadFromStream(stream);
        return;
    }
    TPersistent::AssignTo(Dest);
}
