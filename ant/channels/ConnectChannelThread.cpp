#include "ant/channels/ConnectChannelThread.h"

#include "ant/AntComControl.h"
#include "ant/channels/AntChannels.h"
#include "ant/channels/TrainerCommands.h"
#include "framework/SysUtils.h"

TConnectChannelThread::TConnectChannelThread(TComponent *AOwner) : TComponent(AOwner) {}

TConnectChannelThread::~TConnectChannelThread()
{
    FPacing.SetEnabled(false);
    FControl = nullptr;
    FAntDevice = nullptr;
    FChannel = nullptr;
}

const TPropList &TConnectChannelThread::Properties() const
{
    using C = TConnectChannelThread;
    static const TPropList props = InheritProps(
        TComponent::Properties(),
        {
            BoolProp<C>("Enabled", &C::Enabled, &C::SetEnabled, false),
            IntProp<C, int32_t>("TimeOut", "Integer", &C::TimeOut, &C::SetTimeOut, 0),
            IntProp<C, int32_t>("Interval", "Integer", &C::Interval, &C::SetInterval, DefaultInterval),
            EnumProp<C, TThreadPriority>("ThreadPriority", "TThreadPriority", ThreadPriorityNames(),
                                         &C::ThreadPriority, &C::SetThreadPriority),
            IntProp<C, int32_t>("ConnectResult", "Integer", &C::ConnectResult, &C::SetConnectResult, 0),
            EnumProp<C, TConnectChannelThreadType>("ConnectChannelThreadType", "TConnectChannelThreadType",
                                                   {"artThreaded", "artWaitableTimer"},
                                                   &C::ConnectChannelThreadType,
                                                   &C::SetConnectChannelThreadType),
        });
    return props;
}

void TConnectChannelThread::Log(const std::string &Text)
{
    FChannel->Log(Text);
}

void TConnectChannelThread::ConnectStep(TObject *)
{
    // The end-of-tick event is raised whatever the step did, also when it raised.
    try {
        if (FChannel->ChannelState() == chsConnectRequested) {
            Log(Format("---- Connecting to aAntChannel %d", {FChannel->ChannelNumber()}));
            FChannel->SetRequestPending(false);
            FChannel->SetChannelState(chsConnecting);
            FChannel->SetChannelConnectionStep(ccsSetStart);
        }
        PerformStep();
        if (FChannel->Connected())
            AfterConnected();
    } catch (...) {
        DoConnectChannelStepEvent();
        throw;
    }
    DoConnectChannelStepEvent();
}

void TConnectChannelThread::Call(const std::function<bool()> &Send, const std::string &Success,
                                 const std::string &Failure)
{
    // Pending before the call: the library may acknowledge on its thread before the call
    // returns, and a flag set afterwards would wait for an answer that already came.
    FChannel->SetRequestPending(true);
    if (Send()) {
        Log(Success);
    } else {
        FChannel->SetRequestPending(false);
        Log(Failure);
    }
}

void TConnectChannelThread::PerformStep()
{
    TAntChannel *ch = FChannel;
    TAntComControl *ctl = FControl;
    const TChannelConnectionStep step = ch->ChannelConnectionStep();
    if (step == ccsSetStart) {
        ch->SetName("ch" + std::to_string(ch->ChannelNumber()));
        ctl->AssignResponseCallback(ch);
        ctl->AssignChannelEventCallback(ch);
        ctl->RegisterResponseFunction(ch);
        ctl->RegisterChannelEventFunction(ch);
        ch->SetDoResponseFunction(true);
        ch->SetDoChannelEventFunction(true);
        ch->SetRequestPending(false);
        ch->SetChannelConnectionStep(ccsSetNetworkKey);
        return;
    }
    if (ch->RequestPending())
        return;
    const int number = ch->ChannelNumber();
    switch (step) {
    case ccsSetNetworkKey: {
        const TAntNetworkKey key = ch->NetworkKey();
        std::vector<FormatArg> args{number};
        for (uint8_t b : key)
            args.emplace_back(b);
        Call([&] { return ctl->SetNetworkKey(ch); },
             "ANT_SetNetworkKey " + Format("Ch %d, %2x %2x %2x %2x %2x %2x %2x %2x", args),
             Format("Error with ANT_SetNetworkKey Ch %d", {number}));
        break;
    }
    case ccsAssignChannel:
        Call([&] { return ctl->AssignChannel(ch); }, "ANT_AssignChannel", "Error with ANT_AssignChannel");
        break;
    case ccsSetChannelID:
        Call([&] { return ctl->SetChannelId(ch); }, "ANT_SetChannelId", "Error with ANT_SetChannelId");
        break;
    case ccsChannelPeriod:
        Call([&] { return ctl->SetChannelPeriod(ch); }, "ANT_SetChannelPeriod", "Error with ANT_SetChannelPeriod");
        break;
    case ccsSetChannelPower:
        Call([&] { return ctl->SetTransmitPower(ch); }, "ANT_SetTransmitPower", "Error with ANT_SetTransmitPower");
        break;
    case ccsSetChannelSearchTimeout:
        Call([&] { return ctl->SetChannelSearchTimeout(ch); }, "ANT_SetChannelSearchTimeout",
             "Error with ANT_SetChannelSearchTimeout");
        break;
    case ccsSetChannelLPSearchTimeout:
        Call([&] { return ctl->SetLowPriorityChannelSearchTimeout(ch); }, "ANT_SetLowPriorityChannelSearchTimeout",
             "Error with ANT_SetLowPriorityChannelSearchTimeout");
        break;
    case ccsSetChannelFreq:
        Call([&] { return ctl->SetChannelRFFreq(ch); }, "ANT_SetChannelRFFreq", "Error with ANT_SetChannelRFFreq");
        break;
    case ccsOpen:
        Call([&] { return ctl->OpenChannel(ch); }, "ANT_OpenChannel", "Error with ANT_OpenChannel");
        break;
    case ccsSetChan:
        Complete();
        break;
    case ccsSetStart:
    case ccsSetResp:
        break;
    }
}

void TConnectChannelThread::Complete()
{
    SetEnabled(false);
    FChannel->SetConnected(true);
    FChannel->SetChannelState(chsConnected);
    FControl->DoChannelConnected(FChannel);
    if (TThreadChannelMsg *thread = FControl->MessageThread()) {
        FChannel->SetEventThreadId(thread->ThreadID());
        FChannel->SetResponseThreadId(thread->ThreadID());
    }
    SetHandled(true);
}

void TConnectChannelThread::AfterConnected()
{
    Log(Format("Channel: %d Connected %s", {FChannel->ChannelNumber(), "True"}));
    FControl->RegisterAllChannelEventFunctions();
    if (TThreadChannelMsg *thread = FControl->MessageThread(); thread && !thread->Running())
        thread->Start();
    if (FChannel->AntChannelProfile() == acpAntFE) {
        const TChannelSendPacket request = BuildRequestCapabilitiesPage();
        FChannel->SetSendPacket(request);
        FControl->SendAcknowledgedData(FChannel, request);
        Log("Request FE capabilities (DP 54)");
    }
}

void TConnectChannelThread::DoConnectTimeOut()
{
    if (OnConnectTimeOut) {
        TNotifyEvent handler = OnConnectTimeOut;
        handler(this);
    }
}

void TConnectChannelThread::DoConnectChannelHandled()
{
    if (OnConnectChannelHandled) {
        TNotifyEvent handler = OnConnectChannelHandled;
        handler(this);
    }
}

void TConnectChannelThread::DoTimer()
{
    if (OnTimer) {
        TNotifyEvent handler = OnTimer;
        handler(this);
    }
}

void TConnectChannelThread::DoConnectChannelStepEvent()
{
    if (OnConnectChannelStepEvent) {
        TNotifyEvent handler = OnConnectChannelStepEvent;
        handler(this);
    }
}

void TConnectChannelThread::DoTimeOut()
{
    if (OnTimeOut) {
        TNotifyEvent handler = OnTimeOut;
        handler(this);
    }
}
