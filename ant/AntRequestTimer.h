#pragma once
// A timer component whose ticks are timed by a worker thread of its own and run on the
// user-interface thread, the worker waiting until each tick has been handled.
//
// TUiHandOff and TTimerThread are also the worker of the device's statistics timer
// (device/ZelTimer.h): one implementation of the hold / restart / shutdown rules.
#include "framework/Component.h"
#include "platform/Event.h"
#include "platform/Thread.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Hands a call to the user-interface thread and waits until it has run, like
// RunOnUiThread, except that the wait can be abandoned: after Cancel() the waiting worker
// returns at once and a call that has not started yet never runs. This is what lets an
// owner be destroyed from inside its own tick (the worker is blocked in that very
// hand-off) without a dead-lock, and guarantees nothing runs for an owner that is gone.
class TUiHandOff {
public:
    TUiHandOff();
    TUiHandOff(const TUiHandOff &) = delete;
    TUiHandOff &operator=(const TUiHandOff &) = delete;

    // Worker side. True when the call has run (an exception it raised is caught on the
    // user-interface thread and dropped), false when cancelled before it could start or
    // while it ran. Never call it on the user-interface thread.
    bool Run(std::function<void()> Call);
    // Any thread; final. Ends the current and every later Run().
    void Cancel();
    bool Cancelled() const;

private:
    struct TState {
        std::mutex Mutex;
        std::condition_variable Cond;
        bool Cancelled = false;
        uint64_t Issued = 0;
        uint64_t Done = 0;
    };
    std::shared_ptr<TState> FState;
};

// The worker of a thread-driven timer: repeat { wait on StopEvent for Interval ms; on a
// time-out hand Tick to the user-interface thread and wait for it } until terminated. A
// signalled StopEvent ends a wait without a tick and starts a new one. The owner holds
// the worker with Suspend() and releases it with Start()/Resume(); a held worker stops
// before its next wait. Created suspended.
class TTimerThread : public TThread {
public:
    // Tick runs on the user-interface thread; it must check for itself whether the owner
    // still wants the tick (enabled, not being destroyed).
    explicit TTimerThread(std::function<void()> Tick);
    // Cancels a pending hand-off, terminates, releases the gate and waits for the end.
    // Safe from inside the owner's own tick.
    ~TTimerThread() override;

    uint32_t Interval() const { return FInterval.load(std::memory_order_relaxed); }
    void SetInterval(uint32_t Value) { FInterval.store(Value, std::memory_order_relaxed); }
    TEvent &StopEvent() { return FStopEvent; }

protected:
    void Execute() override;
    void TerminatedSet() override;

private:
    std::function<void()> FTick;
    std::atomic<uint32_t> FInterval{1000};
    TEvent FStopEvent{false, false};
    TUiHandOff FHandOff;
};

// Names of the thread priorities as streams write them.
const std::vector<std::string> &ThreadPriorityNames();

// The Enabled / Interval / AllowZero rules of a thread-driven timer over its worker, shared by
// the request timer and the device's statistics timer. The worker runs exactly while Enabled
// and (Interval > 0 or AllowZero); holding and releasing it stay paired. Used on the
// user-interface thread only.
class TThreadTimerControl {
public:
    // Tick runs on the user-interface thread; see TTimerThread. Interval 1000, tpNormal.
    explicit TThreadTimerControl(std::function<void()> Tick);
    // Clears Enabled and frees the worker; safe from inside the owner's own tick.
    ~TThreadTimerControl();
    TThreadTimerControl(const TThreadTimerControl &) = delete;
    TThreadTimerControl &operator=(const TThreadTimerControl &) = delete;

    bool AllowZero() const { return FAllowZero; }
    void SetAllowZero(bool Value) { FAllowZero = Value; }
    bool Enabled() const { return FEnabled.load(std::memory_order_relaxed); }
    // No change when equal; enabling starts a fresh interval.
    void SetEnabled(bool Value);
    // The flag only; the worker is left as it is.
    void StoreEnabled(bool Value) { FEnabled.store(Value, std::memory_order_relaxed); }
    uint32_t Interval() const { return FTimerThread->Interval(); }
    // No change when equal; otherwise disable, store, enable again as before (restarts the wait).
    void SetInterval(uint32_t Value);
    TThreadPriority ThreadPriority() const { return FTimerThread->Priority(); }
    void SetThreadPriority(TThreadPriority Value) { FTimerThread->SetPriority(Value); }
    TTimerThread *TimerThread() const { return FTimerThread; }

private:
    bool FAllowZero = false;
    std::atomic<bool> FEnabled{false};
    bool FWorkerReleased = false; // the worker's gate is open because of us
    TTimerThread *FTimerThread = nullptr;
};

// The published properties of a thread-driven timer class C, in declaration order.
template <class C>
TPropList ThreadTimerProperties(const TPropList &Base)
{
    return InheritProps(Base, {
                                  BoolProp<C>("AllowZero", &C::AllowZero, &C::SetAllowZero, false),
                                  BoolProp<C>("Enabled", &C::Enabled, &C::SetEnabled, false),
                                  IntProp<C, uint32_t>("Interval", "Cardinal", &C::Interval, &C::SetInterval, 1000),
                                  EnumProp<C, TThreadPriority>("ThreadPriority", "TThreadPriority",
                                                               ThreadPriorityNames(), &C::ThreadPriority,
                                                               &C::SetThreadPriority, tpNormal),
                              });
}

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
