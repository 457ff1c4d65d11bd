#include "ant/AntComControl.h"

#include "ant/CallbackBuffers.h"
#include "ant/binding/AntLib.h"
#include "ant/channels/TrainerCommands.h"
#include "framework/Exception.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include "framework/Utf8.h"
#include "platform/UiThread.h"

TAntComControl::TAntComControl(TComponent *AOwner)
    : TComponent(AOwner),
      FAntRequestList(std::make_unique<TAntRequestList>(this)),
      FAntDeviceList(std::make_unique<TAntDeviceList>(this)),
      FAntChannelList(std::make_unique<TAntChannelList>(this))
{
    // A designer edits the component without a running transport.
    if (AOwner == nullptr || !AOwner->IsDesigning()) {
        FMessageThread = std::make_unique<TThreadChannelMsg>(this);
        FMessageThread->OnChannelEvent = [this](TAntChannel *Channel, uint8_t Code, const TAntRxRow &Row) {
            DoChannelMessage(this, Channel, Code, Row);
        };
        FMessageThread->OnChannelResponse = [this](TAntChannel *Channel, uint8_t Code) {
            DoResponseMessage(Channel, Code);
        };
        FMessageThread->OnRowsDropped = [this](uint64_t Dropped, uint64_t Total) {
            Log("Dropped " + std::to_string(Dropped) + " received ANT messages (" + std::to_string(Total) +
                " in all): the stick sends faster than they can be handled");
        };
    }
}

TAntComControl::~TAntComControl()
{
    FDestroying.store(true, std::memory_order_release);
    Destroying();
    FMessageThread.reset();
    // The library must not keep calling the global adaptor once it is freed.
    if (FCallBackResponseFunc) {
        TAntLib::ANT_AssignResponseFunction(nullptr, GlobalResponseBuffer());
        FCallBackResponseFunc.reset();
    }
    // The repeat requests point at channels: they go before the channels do.
    FAntRequestList.reset();
    FAntChannelList.reset();
    FAntDeviceList.reset();
}

const TPropList &TAntComControl::Properties() const
{
    // The base table is the same for every component; the first call builds the list.
    static const TPropList props = [this] {
        using C = TAntComControl;
        return InheritProps(this->TComponent::Properties(),
                            {
                                BoolProp<C>("DebugMode", &C::DebugMode, &C::SetDebugMode, false),
                                ObjProp<C>("AntDeviceList", "TAntDeviceList", &C::AntDeviceList),
                                ObjProp<C>("AntChannelList", "TAntChannelList", &C::AntChannelList),
                                IntProp<C, int32_t>("Delay", "Integer", &C::Delay, &C::SetDelay),
                                ObjProp<C>("AntRequestList", "TAntRequestList", &C::AntRequestList),
                                BoolProp<C>("UseGlobalResponseFunction", &C::UseGlobalResponseFunction,
                                            &C::SetUseGlobalResponseFunction, false),
                            });
    }();
    return props;
}

void TAntComControl::SetDebugMode(bool Value)
{
    if (DebugMode() != Value)
        FDebugMode.store(Value, std::memory_order_relaxed);
}

void TAntComControl::SetDelay(int32_t Value)
{
    if (FDelay != Value)
        FDelay = Value;
}

void TAntComControl::SetUseGlobalResponseFunction(bool Value)
{
    if (UseGlobalResponseFunction() != Value)
        FUseGlobalResponseFunction.store(Value, std::memory_order_relaxed);
}

void TAntComControl::SetAntDllState(TAntDllState Value) { FAntDllState = Value; }

void TAntComControl::SetBusy(bool Value)
{
    if (FBusy == Value)
        return;
    FBusy = Value;
    DoAntBusyState(Value);
}

void TAntComControl::SetLogStrings(TStrings *Value) { FLogStrings.store(Value, std::memory_order_release); }

// ---- log and waits -------------------------------------------------------------------------

void TAntComControl::Log(const std::string &Text)
{
    TStrings *target = LogStrings();
    if (!DebugMode() || target == nullptr || FDestroying.load(std::memory_order_acquire))
        return;
    target->Add(TimeStamp() + " " + Text);
}

void TAntComControl::LogSeparator() { Log(std::string(77, '-')); }

std::string TAntComControl::TimeStamp() { return ::TimeStamp(); }

void TAntComControl::PumpDelay(uint32_t ms) { ::PumpDelay(ms); }

// ---- library and USB devices ---------------------------------------------------------------

bool TAntComControl::LoadLibrary() { return LoadAntLib(); }

bool TAntComControl::FreeLibrary() { return UnloadAntLib(); }

void TAntComControl::LoadDll()
{
    if (FDllLoaded)
        throw EAntError("Ant Dll already loaded");
    LogSeparator();
    Log("Start loading Ant Dll ...");
    FBusy = true;
    FAntDllState = dllLoading;
    DoAntDllStateChange(dllLoading);
    FDllLoaded = LoadLibrary();
    if (FDllLoaded) {
        const uint8_t v = static_cast<uint8_t>(TAntLib::ANT_LibVersion() & 0xFF);
        // The character of the version code, kept valid UTF-8 above 127 (as Latin-1).
        std::string character;
        AppendUtf8(character, v);
        FAntLibVersion = Format("%s (%d %x)", {character, v, v});
        Log("AntLibVersion = " + FAntLibVersion);
        FAntDllState = dllLoaded;
        DoAntDllStateChange(dllLoaded);
    }
    FBusy = false;
    if (FDllLoaded) {
        Log("Done Ant Dll loaded.");
    } else {
        FAntDllState = dllLoadError;
        DoAntDllStateChange(dllLoadError);
        Log("Error loading Dll.");
    }
}

bool TAntComControl::RemoveAllResponseFunctions()
{
    for (int i = 0; i < FAntChannelList->Count(); ++i)
        FAntChannelList->Items(i)->RemoveResponseFunction();
    return true;
}

void TAntComControl::RemoveAllChannelEventFunctions()
{
    for (int i = 0; i < FAntChannelList->Count(); ++i)
        FAntChannelList->Items(i)->RemoveChannelEventFunction();
}

bool TAntComControl::UnloadDll()
{
    if (!FDllLoaded)
        throw EAntError("Ant Dll not loaded");
    LogSeparator();
    Log("Unloading Ant Dll ...");
    FBusy = true;
    int step = 0;
    const uint32_t delay = static_cast<uint32_t>(FDelay < 0 ? 0 : FDelay);
    bool freeFailed = false;
    while (FDllLoaded && !freeFailed) {
        switch (step) {
        case 0:
            DoAntDisconnecting(adsRemoveResponseFunctions);
            Log("Remove ANT_AssignResponseFunction of all channels");
            TAntLib::ANT_Nap(delay);
            if (RemoveAllResponseFunctions())
                step = 1;
            break;
        case 1:
            DoAntDisconnecting(adsRemoveChannelEventFunctions);
            Log("Remove ANT_AssignChannelEventFunction  of all channels");
            RemoveAllChannelEventFunctions();
            step = 2;
            break;
        case 2:
            DoAntDisconnecting(adsUnassignAllResponseFunctions);
            TAntLib::ANT_UnassignAllResponseFunctions();
            step = 3;
            break;
        default:
            FDllLoaded = !FreeLibrary();
            freeFailed = FDllLoaded;
            break;
        }
        if (FDllLoaded && !freeFailed)
            PumpDelay(delay);
    }
    FBusy = false;
    bool result;
    if (!FDllLoaded) {
        Log("Done Ant Dll unloaded.");
        FAntDllState = dllUnloaded;
        DoAntDllStateChange(dllUnloaded);
        result = true;
    } else {
        Log("Error unloading Ant Dll.");
        DoAntDllStateChange(dllUnloadError);
        result = false;
    }
    DoAntDisconnecting(adsDone);
    return result;
}

namespace {
const char *const StickHolderName = "trainer connection";
} // namespace

bool TAntComControl::CloseDevice()
{
    TAntLib::ANT_Nap(static_cast<uint32_t>(FDelay < 0 ? 0 : FDelay));
    TAntLib::ANT_Close();
    if (AntStickHolder() == StickHolderName)
        SetAntStickHolder("");
    return true;
}

void TAntComControl::ScanDevices(uint16_t BaudRate, uint16_t Count, TAntDeviceList *List)
{
    if (List != nullptr)
        List->Clear();
    if (!FDllLoaded)
        throw EAntError("Ant DLL not loaded");
    LogSeparator();
    Log("Scanning for ANT devices ...");
    FBusy = true;
    uint8_t index = 0;
    unsigned tried = 0;
    bool ok;
    do {
        ok = TAntLib::ANT_Init(index, BaudRate);
        if (!ok && index == 0) {
            Log("Error with ANT_Init");
            LogLibraryReason();
        }
        if (ok) {
            uint8_t product[257] = {};
            uint8_t serial[257] = {};
            ok = TAntLib::ANT_GetDeviceUSBInfo(index, product, serial);
            if (!ok)
                Log("Error with ANT_GetDeviceUSBInfo");
            if (ok && List != nullptr) {
                Log("");
                Log("---------- New Ant Device");
                TAntDevice *d = List->Add();
                d->SetDeviceNum(index);
                Log("DeviceNum = " + IntToStr(index));
                // The library promises zero-terminated 256-byte texts; the extra byte keeps a
                // missing terminator from running past the buffer.
                d->SetDeviceDescription(reinterpret_cast<const char *>(product));
                Log("DeviceDescription = " + d->DeviceDescription());
                d->SetDeviceSerial(reinterpret_cast<const char *>(serial));
                Log("DeviceSerial = " + d->DeviceSerial());
                uint16_t pid = 0;
                ok = TAntLib::ANT_GetDeviceUSBPID(&pid);
                d->SetDevicePID(static_cast<uint8_t>(pid & 0xFF));
                if (ok)
                    Log("DevicePID = " + IntToStr(pid) + " ($" + IntToHex(pid, 4) + ")");
                else
                    Log("Error with ANT_GetDeviceUSBPID");
            }
        }
        CloseDevice();
        ++tried;
        // The device number is a byte: after 256 indices there is nothing new to ask.
        if (index == 255)
            break;
        ++index;
    } while (ok || tried < Count);
    FBusy = false;
    Log("Done scanning for ANT devices.");
}

// A support log must show why a stick could not be used, not only that it could not.
void TAntComControl::LogLibraryReason()
{
    TStringList lines;
    lines.SetText(AntLastErrorText());
    for (const std::string &line : lines.ToVector())
        Log("ANT library: " + line);
}

bool TAntComControl::ConnectDevice(TAntDevice *aAntDevice)
{
    if (!FDllLoaded)
        throw EAntError("Ant DLL not loaded");
    if (aAntDevice == nullptr)
        throw EAntError("Ant device not assigned");
    if (aAntDevice->Connected())
        throw EAntError("aAntDevice.Connected: Connected. Disconnect first.");
    LogSeparator();
    Log("Connecting to ANT device ...");
    FBusy = true;
    bool result = false;
    int step = 1;
    bool failed = false;
    const uint32_t delay = static_cast<uint32_t>(FDelay < 0 ? 0 : FDelay);
    while (!aAntDevice->Connected() && !failed) {
        if (step == 1) {
            Log("ANT_Init");
            if (TAntLib::ANT_Init(aAntDevice->DeviceNum(), aAntDevice->BaudRate())) {
                SetAntStickHolder(StickHolderName);
                aAntDevice->SetInitStep(2);
                step = 2;
            } else {
                Log("Error with ANT_Init");
                LogLibraryReason();
                failed = true;
            }
        } else {
            Log("ANT_ResetSystem");
            if (TAntLib::ANT_ResetSystem()) {
                aAntDevice->SetInitStep(3);
                aAntDevice->SetConnected(true);
                result = true;
            } else {
                Log("Error with ANT_ResetSystem");
                failed = true;
            }
        }
        PumpDelay(delay);
    }
    FBusy = false;
    Log(aAntDevice->Connected() ? "Done connecting to ANT device." : "Error connecting to ANT device.");
    return result;
}

bool TAntComControl::ReleaseDevice(TAntDevice *aAntDevice)
{
    if (!FDllLoaded)
        throw EAntError("Ant Dll not loaded");
    LogSeparator();
    Log(Format("Releasing AntDevice %s ...", {aAntDevice != nullptr ? aAntDevice->DeviceSerial() : std::string()}));
    FBusy = true;
    const uint32_t delay = static_cast<uint32_t>(FDelay < 0 ? 0 : FDelay);
    DoAntDisconnecting(adsRemoveResponseFunctions);
    Log("Remove ANT_AssignResponseFunction of all channels");
    TAntLib::ANT_Nap(delay);
    RemoveAllResponseFunctions();
    PumpDelay(delay);
    DoAntDisconnecting(adsRemoveChannelEventFunctions);
    Log("Remove ANT_AssignChannelEventFunction  of all channels");
    RemoveAllChannelEventFunctions();
    FBusy = false;
    CloseDevice();
    Log("Done AntDevice released.");
    return true;
}

// ---- channels and sending ------------------------------------------------------------------

void TAntComControl::RemoveChannelRequests(TAntChannel *aAntChannel)
{
    for (int i = FAntRequestList->Count() - 1; i >= 0; --i) {
        TAntRequest *request = FAntRequestList->AntRequests(i);
        if (request->Channel() != aAntChannel)
            continue;
        request->SetEnabled(false);
        Log(Format("FAntRequestList.AntRequests[%d]", {i}));
        FAntRequestList->Delete(i);
    }
}

int TAntComControl::CloseChannel(TAntChannel *aAntChannel)
{
    if (aAntChannel == nullptr)
        return 0;
    aAntChannel->DisableConnectChannelThread();
    RemoveChannelRequests(aAntChannel);
    DoChannelClosing(aAntChannel);
    const uint8_t number = aAntChannel->ChannelNumber();
    TAntLib::ANT_CloseChannel(number);
    TAntLib::ANT_Nap(static_cast<uint32_t>(FDelay < 0 ? 0 : FDelay));
    int result = TAntLib::ANT_UnAssignChannel(number) ? 1 : 0;
    aAntChannel->SetDoResponseFunction(false);
    aAntChannel->SetDoChannelEventFunction(false);
    aAntChannel->DropHeldAcknowledged();
    aAntChannel->SetEventThreadId(0);
    aAntChannel->SetConnected(false);
    aAntChannel->SetChannelState(chsIdle);
    DoChannelClosed(aAntChannel);
    Log(Format("Channel %d closed proc CloseChannel", {number}));
    return result;
}

void TAntComControl::DeleteChannel(TAntChannel *aAntChannel)
{
    if (aAntChannel == nullptr)
        return;
    DoChannelDeleting(aAntChannel);
    if (aAntChannel->Connected())
        CloseChannel(aAntChannel);
    aAntChannel->RemoveChannelEventFunction();
    aAntChannel->RemoveResponseFunction();
    aAntChannel->DropHeldAcknowledged();
    // Nothing may refer to the channel once it is freed: a repeat request left behind by a
    // channel that the library had already closed, or a message still queued for it, would
    // otherwise reach freed memory.
    RemoveChannelRequests(aAntChannel);
    aAntChannel->SetEventThreadId(0);
    aAntChannel->SetResponseThreadId(0);
    if (FMessageThread)
        FMessageThread->PurgeChannel(aAntChannel);
    int index = FAntChannelList->IndexOf(aAntChannel);
    if (index >= 0)
        FAntChannelList->Delete(index);
}

void TAntComControl::SendAcknowledgedData(TAntChannel *aAntChannel, const TChannelSendPacket &Data)
{
    if (aAntChannel == nullptr)
        throw Exception("Channel not assigned (TAntComControl.SendAcknowledgedData).");
    if (!aAntChannel->Connected())
        throw Exception("Channel not connected (TAntComControl.SendAcknowledgedData).");
    aAntChannel->QueueAcknowledged(Data);
}

void TAntComControl::SendBroadcastData(TAntChannel *aAntChannel, const TChannelSendPacket &Data)
{
    if (aAntChannel == nullptr)
        throw Exception("Channel not assigned (TAntComControl.SendBroadcastData).");
    if (!aAntChannel->Connected())
        throw Exception("Channel not connected (TAntComControl.SendBroadcastData).");
    TChannelSendPacket copy = Data;
    TAntLib::ANT_SendBroadcastData(aAntChannel->ChannelNumber(), copy.data());
}

void TAntComControl::SendUserConfiguration(TAntChannel *aAntChannel)
{
    if (aAntChannel == nullptr || aAntChannel->AntChannelProfile() != acpAntFE)
        return;
    TChannelSendPacket page = BuildUserConfigurationPage(0, aAntChannel->WheelDiameter(), false);
    aAntChannel->SetSendPacket(page);
    SendAcknowledgedData(aAntChannel, page);
    Log("DP55 Send User Configuration  - Diam:" + IntToStr(aAntChannel->WheelDiameter()));
}

// ---- notifications -------------------------------------------------------------------------

void TAntComControl::DoChannelConnected(TAntChannel *aAntChannel)
{
    if (aAntChannel != nullptr && aAntChannel->AntChannelProfile() == acpAntFE) {
        TAntRequest *request = FAntRequestList->Add();
        request->SetChannel(aAntChannel);
        request->SetTimeOut(0);
        request->SetInterval(aAntChannel->RepeatCommandInterval());
        request->OnTimer = [this](TObject *Sender) { RepeatCommandTimer(Sender); };
        request->SetEnabled(true);
    }
    if (OnChannelConnected)
        OnChannelConnected(this, aAntChannel);
}

void TAntComControl::RepeatCommandTimer(TObject *Sender)
{
    auto *request = dynamic_cast<TAntRequest *>(Sender);
    if (request == nullptr || request->Channel() == nullptr)
        return;
    // A channel that hears nothing (searching) has no events to end an overdue wait.
    request->Channel()->ExpireAcknowledgedWait();
    if (!request->Channel()->Connected())
        return;
    Log("Call repeatLastCommand");
    request->Channel()->repeatLastCommand();
}

void TAntComControl::DoChannelClosed(TAntChannel *aAntChannel)
{
    if (aAntChannel != nullptr && aAntChannel->AntChannelProfile() == acpAntFE)
        RemoveChannelRequests(aAntChannel);
    if (OnChannelClosed)
        OnChannelClosed(this, aAntChannel);
}

void TAntComControl::DoAntDllStateChange(TAntDllState State)
{
    if (OnAntDllStateChange)
        OnAntDllStateChange(this, State);
}

void TAntComControl::DoAntDisconnecting(TDisconnectStep Step)
{
    if (OnAntDisconnecting)
        OnAntDisconnecting(this, Step);
}

void TAntComControl::DoAntBusyState(bool isBusy)
{
    if (OnAntBusyState)
        OnAntBusyState(this, isBusy);
}

void TAntComControl::DoChannelDeleting(TAntChannel *aAntChannel)
{
    if (OnChannelDeleting)
        OnChannelDeleting(this, aAntChannel);
}

void TAntComControl::DoChannelClosing(TAntChannel *aAntChannel)
{
    if (OnChannelClosing)
        OnChannelClosing(this, aAntChannel);
}

void TAntComControl::DoChannelConnecting(TAntChannel *aAntChannel)
{
    if (ChannelConnecting)
        ChannelConnecting(this, aAntChannel);
}

void TAntComControl::DoResponseMessage(TAntChannel *Channel, uint8_t ucResponseMsgID)
{
    if (OnResponseMessage)
        OnResponseMessage(this, Channel, ucResponseMsgID);
}
