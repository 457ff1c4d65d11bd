#pragma once
// The component that owns the ANT transport: device, channel and request lists, the message
// thread that carries channel events and responses to the user-interface thread, the page
// decoders that fill the channels' profile records, sending on open channels and the debug
// log. Every operation runs on the user-interface thread unless its comment says otherwise.
#include "ant/AntCodes.h"
#include "ant/AntDevices.h"
#include "ant/AntRequestList.h"
#include "ant/CallbackAdaptor.h"
#include "ant/ThreadChannelMsg.h"
#include "ant/channels/AntChannelList.h"
#include "ant/profiles/AntTypes.h"
#include "ant/profiles/PageDecoders.h"
#include "framework/Component.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TStrings;
class TConnectChannelThread;

using TEventAntDisconnectingStep = std::function<void(TObject *Sender, TDisconnectStep ads)>;
using TEventAntDllState = std::function<void(TObject *Sender, TAntDllState aAntDllState)>;
using TEventAntBusy = std::function<void(TObject *Sender, bool isBusy)>;
using TChannelDeletingEvent = std::function<void(TObject *Sender, TAntChannel *aChannel)>;
using TChannelClosingEvent = TChannelDeletingEvent;
using TChannelClosedEvent = TChannelDeletingEvent;
using TChannelConnectingEvent = TChannelDeletingEvent;
using TChannelConnectedEvent = TChannelDeletingEvent;
using TChannelMessageEvent = std::function<void(TObject *Sender, TAntChannel *Channel, uint8_t ucEvent)>;
using TResponseMessageEvent = std::function<void(TObject *Sender, TAntChannel *Channel, uint8_t ucResponseMsgID)>;
using TConnectChannelThreadEvent =
    std::function<void(TObject *Sender, TConnectChannelThread *aConnectChannelThread)>;


class TAntComControl : public TComponent {
public:
    explicit TAntComControl(TComponent *AOwner);
    ~TAntComControl() override;

    std::string ClassName() const override { return "TAntComControl"; }
    const TPropList &Properties() const override;

    // ---- published properties ----
    bool DebugMode() const { return FDebugMode.load(std::memory_order_relaxed); }
    void SetDebugMode(bool Value);
    TAntDeviceList *AntDeviceList() const { return FAntDeviceList.get(); }
    TAntChannelList *AntChannelList() const { return FAntChannelList.get(); }
    int32_t Delay() const { return FDelay; }
    void SetDelay(int32_t Value);
    TAntRequestList *AntRequestList() const { return FAntRequestList.get(); }
    bool UseGlobalResponseFunction() const { return FUseGlobalResponseFunction.load(std::memory_order_relaxed); }
    void SetUseGlobalResponseFunction(bool Value);

    // ---- published events (Sender is always the controller) ----
    TEventAntDisconnectingStep OnAntDisconnecting;
    TEventAntDllState OnAntDllStateChange;
    TEventAntBusy OnAntBusyState;
    TChannelDeletingEvent OnChannelDeleting;
    TChannelClosingEvent OnChannelClosing;
    TChannelClosedEvent OnChannelClosed;
    TChannelConnectingEvent ChannelConnecting;
    TChannelConnectedEvent OnChannelConnected;
    TChannelMessageEvent OnChannelMessage;
    TResponseMessageEvent OnResponseMessage;
    TConnectChannelThreadEvent OnConnectChannelTimeOut;
    TConnectChannelThreadEvent OnConnectChannelHandled;
    TNotifyEvent OnConnectChannelStep;

    // ---- further state ----
    bool DllLoaded() const { return FDllLoaded; }
    TAntDllState AntDllState() const { return FAntDllState; }
    // Stores without an event.
    void SetAntDllState(TAntDllState Value);
    const std::string &AntLibVersion() const { return FAntLibVersion; }
    bool Busy() const { return FBusy; }
    // Stores a new value and raises OnAntBusyState.
    void SetBusy(bool Value);
    TStrings *LogStrings() const { return FLogStrings.load(std::memory_order_acquire); }
    void SetLogStrings(TStrings *Value);
    // Created suspended with the controller (not while designing); nullptr otherwise.
    TThreadChannelMsg *MessageThread() const { return FMessageThread.get(); }

    // ---- log and waits ----
    // "TimeStamp text" when DebugMode, a log target and not being destroyed; any thread.
    void Log(const std::string &Text);
    // A line of 77 '-'.
    void LogSeparator();
    void LogLibraryReason();
    static std::string TimeStamp();
    // Processes user-interface messages in 10 ms sleeps until more than ms have passed.
    static void PumpDelay(uint32_t ms);

    // ---- library and USB devices ----
    // Outcome in DllLoaded, AntDllState and OnAntDllStateChange; EAntError when loaded.
    void LoadDll();
    // True when the library was freed; EAntError when not loaded.
    bool UnloadDll();
    // Fills List with the devices that answer: indices 0 to Count-1, and on while they answer.
    void ScanDevices(uint16_t BaudRate, uint16_t Count, TAntDeviceList *List);
    // True when this call opened the device.
    bool ConnectDevice(TAntDevice *aAntDevice);
    // Detaches every channel's callbacks, then closes the library's device.
    bool ReleaseDevice(TAntDevice *aAntDevice);
    bool CloseDevice();
    bool RemoveAllResponseFunctions();
    void RemoveAllChannelEventFunctions();

    // ---- callback binding ----
    // Make the channel's response adaptor (in global mode the controller's, once) and its
    // ResponseBuffers row, or its event adaptor and RxBuffers row; nothing when present.
    void AssignResponseCallback(TAntChannel *aAntChannel);
    void AssignChannelEventCallback(TAntChannel *aAntChannel);
    // Hand the adaptor and row in force to the library; always true.
    bool RegisterResponseFunction(TAntChannel *aAntChannel);
    bool RegisterChannelEventFunction(TAntChannel *aAntChannel);
    // Registers again the channels that have their event adaptor; every channel's
    // DoChannelEventFunction becomes true.
    void RegisterAllChannelEventFunctions();
    // The response callback of global mode, on the library's thread: routes the response to
    // the channel at list position ucANTChannel; true.
    bool GlobalRespFunc(uint8_t ucANTChannel, uint8_t ucResponseMsgID);
    // The global-mode adaptor, or nullptr.
    TCallbackAdaptor *CallBackResponseFunc() const { return FCallBackResponseFunc.get(); }

    // Channel configuration with the channel's properties; the library's result (false
    // without a channel).
    bool SetNetworkKey(TAntChannel *aAntChannel);
    bool AssignChannel(TAntChannel *aAntChannel);
    bool SetChannelId(TAntChannel *aAntChannel);
    bool SetChannelPeriod(TAntChannel *aAntChannel);
    bool SetChannelRFFreq(TAntChannel *aAntChannel);
    bool SetTransmitPower(TAntChannel *aAntChannel);
    bool SetChannelSearchTimeout(TAntChannel *aAntChannel);
    bool SetLowPriorityChannelSearchTimeout(TAntChannel *aAntChannel);
    bool OpenChannel(TAntChannel *aAntChannel);

    // ---- channels and sending ----
    // Checks the channel and the device (opening it when needed), then starts a fresh
    // sequencer for the channel; the outcome arrives through the two handlers below.
    void ConnectChannel(TAntDevice *aAntDevice, TAntChannel *aAntChannel);
    // Sender is the channel's sequencer.
    void ConnectChannelTimeOutEvent(TObject *Sender);
    void ConnectChannelHandledEvent(TObject *Sender);
    // Not attached by ConnectChannel; available for a sequencer's OnConnectChannelStepEvent.
    void ConnectChannelStep(TObject *Sender);
    // The result of ANT_UnAssignChannel; 0 when no channel is given.
    int CloseChannel(TAntChannel *aAntChannel);
    void DeleteChannel(TAntChannel *aAntChannel);
    // Raise Exception when the channel is missing or not connected; the library's result is
    // not examined.
    void SendAcknowledgedData(TAntChannel *aAntChannel, const TChannelSendPacket &Data);
    void SendBroadcastData(TAntChannel *aAntChannel, const TChannelSendPacket &Data);
    // Page 55 in its controller form (user weight not given), FE-C channels only.
    void SendUserConfiguration(TAntChannel *aAntChannel);

    // ---- notifications ----
    // An FE-C channel gets the request that repeats its last command.
    void DoChannelConnected(TAntChannel *aAntChannel);
    void DoChannelClosed(TAntChannel *aAntChannel);
    void DoAntDllStateChange(TAntDllState State);
    void DoAntDisconnecting(TDisconnectStep Step);
    void DoAntBusyState(bool isBusy);
    void DoChannelDeleting(TAntChannel *aAntChannel);
    void DoChannelClosing(TAntChannel *aAntChannel);
    void DoChannelConnecting(TAntChannel *aAntChannel);
    // Tick of a repeat request: repeats the channel's last command while it is connected.
    void RepeatCommandTimer(TObject *Sender);

    // ---- message dispatch and decoders ----
    // Decodes the page of an event into the channel's record, then raises OnChannelMessage.
    // Takes the copy of the receive row that was made when the event was heard (posted with
    // the event) instead of reading the shared row, which the library may have rewritten.
    void DoChannelMessage(TObject *Sender, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row);
    // Raises OnResponseMessage; decodes nothing.
    void DoResponseMessage(TAntChannel *Channel, uint8_t ucResponseMsgID);

    // Received data only, into the channel's record of the decoder's kind; the work is done
    // by PageDecoders, these carry out its outcome on the channel.
    void DecodeHeartRatePage(TObject *Sender, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row);
    void DecodeSpeedCadencePage(TObject *Sender, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row);
    void DecodeCadencePage(TObject *Sender, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row);
    void DecodeConsolePage(TObject *Sender, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row);
    void DecodeFitnessEquipmentPage(TObject *Sender, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row);
    void DecodePedalPage(TObject *Sender, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row);

    // Decoder state shared by all channels of the controller.
    int32_t CadenceStallCount() const { return FPageDecoderState.CadenceStallCount; }
    bool KeyLatch(TConsoleKey Key) const { return FPageDecoderState.KeyLatch[Key]; }

protected:
    // Loading and freeing the library itself; a test puts a stand-in here.
    virtual bool LoadLibrary();
    virtual bool FreeLibrary();

private:
    // Carries out what a decoder asked for, in its order.
    void ApplyPageOutcome(TAntChannel *Channel, const TPageOutcome &Outcome);
    void RemoveChannelRequests(TAntChannel *aAntChannel);

    std::atomic<bool> FDebugMode{false};
    std::unique_ptr<TAntRequestList> FAntRequestList;
    std::unique_ptr<TAntDeviceList> FAntDeviceList;
    std::unique_ptr<TAntChannelList> FAntChannelList;
    int32_t FDelay = 100;
    std::atomic<bool> FUseGlobalResponseFunction{false};

    bool FDllLoaded = false;
    TAntDllState FAntDllState = dllUnloaded;
    std::string FAntLibVersion;
    bool FBusy = false;
    std::atomic<TStrings *> FLogStrings{nullptr};
    std::unique_ptr<TThreadChannelMsg> FMessageThread;
    std::unique_ptr<TCallbackAdaptor> FCallBackResponseFunc;
    // Read by Log on the library's thread; the component state is not.
    std::atomic<bool> FDestroying{false};

    TPageDecoderState FPageDecoderState;
};
