#pragma once
// The statistics timer of a device: ticks timed by a worker thread of its own, delivered on
// the user-interface thread; counts nominal (ElapsedTime) and measured (MeasuredTime) time.
#include "framework/Component.h"
#include "platform/Thread.h"
#include "platform/TimerThread.h"

#include <atomic>
#include <cstdint>

class TZelTimer : public TComponent {
public:
    explicit TZelTimer(TComponent *AOwner);
    ~TZelTimer() override;

    std::string ClassName() const override { return "TZelTimer"; }
    const TPropList &Properties() const override;

    bool AllowZero() const { return FControl.AllowZero(); }
    void SetAllowZero(bool Value) { FControl.SetAllowZero(Value); }
    bool Enabled() const { return FControl.Enabled(); }
    // Forced to false at design time.
    void SetEnabled(bool Value);
    uint32_t Interval() const { return FControl.Interval(); }
    void SetInterval(uint32_t Value) { FControl.SetInterval(Value); }
    TThreadPriority ThreadPriority() const { return FControl.ThreadPriority(); }
    void SetThreadPriority(TThreadPriority Value) { FControl.SetThreadPriority(Value); }

    // Sender = the timer. Errors it raises are dropped; the timer keeps running.
    TNotifyEvent OnTimer;

    // Milliseconds, all modulo 2^32. Read and written on the user-interface thread.
    uint32_t LastTick() const { return FLastTick; }
    uint32_t ElapsedTime() const { return FElapsedTime; }
    uint32_t TickDelta() const { return FTickDelta; }
    uint32_t MeasuredTime() const { return FMeasuredTime; }
    // Kept for the owner; the timer never reads them.
    int32_t StartOffset() const { return FStartOffset; }
    virtual void SetStartOffset(int32_t Value) { FStartOffset = Value; }
    int32_t Mark() const { return FMark; }
    virtual void SetMark(int32_t Value) { FMark = Value; }

    virtual void Reset();
    virtual void Preset(uint32_t Value);
    virtual void ClearMarks();
    // One tick now on the caller's thread, through the same checks as a timed one.
    virtual void Tick();

    TTimerThread *TimerThread() const { return FControl.TimerThread(); }

private:
    uint32_t FLastTick = 0;
    uint32_t FElapsedTime = 0;
    uint32_t FTickDelta = 0;
    uint32_t FMeasuredTime = 0;
    int32_t FStartOffset = 0;
    int32_t FMark = 0;
    // Last: the worker goes first when the timer is freed.
    TThreadTimerControl FControl{[this] { Tick(); }};
};
