#pragma once
// The connection sequencer of one channel: walks it from a connect request through network
// key, assign, channel id, period, power, the two search time-outs, frequency and open, one
// library call per tick and each only after the library acknowledged the previous one (the
// channel's ResponseFunc moves ChannelConnectionStep on). On completion the channel is
// connected and handed to the controller's message thread.
#include "ant/AntPacing.h"
#include "framework/Component.h"

#include <cstdint>
#include <functional>
#include <string>

class TAntComControl;
class TAntChannel;
class TAntDevice;

using TConnectChannelThreadType = TAntRequestType;

class TConnectChannelThread : public TComponent {
public:
    static constexpr int32_t DefaultInterval = 100;

    explicit TConnectChannelThread(TComponent *AOwner);
    ~TConnectChannelThread() override;

    std::string ClassName() const override { return "TConnectChannelThread"; }
    const TPropList &Properties() const override;

    // ---- published ----
    bool Enabled() const { return FPacing.Enabled(); }
    // artThreaded: starts or stops the pacing timer. artWaitableTimer: true returns only
    // when the sequence has ended (completed, timed out or disabled from a handler).
    virtual void SetEnabled(bool Value) { FPacing.SetEnabled(Value); }
    int32_t TimeOut() const { return FPacing.TimeOut(); }
    virtual void SetTimeOut(int32_t Value) { FPacing.SetTimeOut(Value); }
    int32_t Interval() const { return FPacing.Interval(); }
    virtual void SetInterval(int32_t Value) { FPacing.SetInterval(Value); }
    TThreadPriority ThreadPriority() const { return FPacing.ThreadPriority(); }
    virtual void SetThreadPriority(TThreadPriority Value) { FPacing.SetThreadPriority(Value); }
    int32_t ConnectResult() const { return FConnectResult; }
    virtual void SetConnectResult(int32_t Value) { FConnectResult = Value; }
    TConnectChannelThreadType ConnectChannelThreadType() const { return FPacing.Type(); }
    virtual void SetConnectChannelThreadType(TConnectChannelThreadType Value) { FPacing.SetType(Value); }

    TNotifyEvent OnConnectTimeOut;
    TNotifyEvent OnConnectChannelHandled;
    TNotifyEvent OnTimer;
    TNotifyEvent OnConnectChannelStepEvent;
    TNotifyEvent OnTimeOut;

    // ---- state ----
    TAntComControl *Control() const { return FControl; }
    virtual void SetControl(TAntComControl *Value) { FControl = Value; }
    TAntDevice *AntDevice() const { return FAntDevice; }
    virtual void SetAntDevice(TAntDevice *Value) { FAntDevice = Value; }
    TAntChannel *Channel() const { return FChannel; }
    virtual void SetChannel(TAntChannel *Value) { FChannel = Value; }
    bool TimedOut() const { return FPacing.TimedOut(); }
    bool Handled() const { return FPacing.Handled(); }
    // True: cancels a waitable timer, clears Enabled and raises OnConnectChannelHandled.
    virtual void SetHandled(bool Value) { FPacing.SetHandled(Value); }
    uint32_t StartTick() const { return FPacing.StartTick(); }
    uint32_t Elapsed() const { return FPacing.Elapsed(); }
    // The pacing timer of the current run (artThreaded); nullptr before the first enable.
    TAntRequestTimer *Timer() const { return FPacing.Timer(); }

    // One tick of the sequence on the user-interface thread; needs Channel and Control.
    virtual void ConnectStep(TObject *Sender);

    virtual void DoConnectTimeOut();
    virtual void DoConnectChannelHandled();
    virtual void DoTimer();
    virtual void DoConnectChannelStepEvent();
    virtual void DoTimeOut();

private:
    void PerformStep();
    // Makes one library call of the sequence and logs its outcome; a failed call is made
    // again at the next tick because RequestPending stays false.
    void Call(const std::function<bool()> &Send, const std::string &Success, const std::string &Failure);
    void Complete();
    void AfterConnected();
    void Log(const std::string &Text);

    TAntComControl *FControl = nullptr;
    TAntDevice *FAntDevice = nullptr;
    TAntChannel *FChannel = nullptr;
    int32_t FConnectResult = 0;
    // Last member: destroyed first, so no tick runs on a half-destroyed sequencer.
    TAntPacing FPacing{{[this] { DoTimer(); }, [this] { DoConnectTimeOut(); }, [this] { DoConnectChannelHandled(); }}};
};
