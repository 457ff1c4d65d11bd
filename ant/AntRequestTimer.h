#pragma once
// The timer component of a request: ticks timed by a worker thread of its own (see
// platform/TimerThread.h) and run on the user-interface thread.
#include "framework/Component.h"
#include "platform/Thread.h"
#include "platform/TimerThread.h"

#include <cstdint>
#include <string>

class TAntRequestTimer : public TComponent {
public:
    explicit TAntRequestTimer(TComponent *AOwner);
    ~TAntRequestTimer() override;

    std::string ClassName() const override { return "TAntRequestTimer"; }
    const TPropList &Properties() const override;

    bool AllowZero() const { return FControl.AllowZero(); }
    void SetAllowZero(bool Value) { FControl.SetAllowZero(Value); }
    bool Enabled() const { return FControl.Enabled(); }
    void SetEnabled(bool Value) { FControl.SetEnabled(Value); }
    uint32_t Interval() const { return FControl.Interval(); }
    void SetInterval(uint32_t Value) { FControl.SetInterval(Value); }
    TThreadPriority ThreadPriority() const { return FControl.ThreadPriority(); }
    void SetThreadPriority(TThreadPriority Value) { FControl.SetThreadPriority(Value); }

    TTimerThread *TimerThread() const { return FControl.TimerThread(); }

    // The tick (Sender = the timer); errors it raises are dropped.
    TNotifyEvent OnTimer;

    // One tick now on the caller's thread, through the same checks as a timed one.
    void Tick();

private:
    TThreadTimerControl FControl{[this] { Tick(); }};
};
