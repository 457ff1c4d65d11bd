#pragma once
// The worker of a thread-driven timer and its Enabled / Interval rules: ticks timed by a
// thread of their own and run on the user-interface thread, the worker waiting until each
// tick has been handled. One implementation of the hold / restart / shutdown rules for every
// timer component built on it.
#include "framework/Component.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/UiThread.h"

#include <atomic>
#include <cstdint>
#include <functional>

// The worker: repeat { wait on StopEvent for Interval ms; on a time-out hand Tick to the
// user-interface thread and wait for it } until terminated. A signalled StopEvent ends a wait
// without a tick and starts a new one. The owner holds the worker with Suspend() and releases
// it with Start()/Resume(); a held worker stops before its next wait. Created suspended.
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

// The Enabled / Interval / AllowZero rules of a thread-driven timer over its worker. The
// worker runs exactly while Enabled and (Interval > 0 or AllowZero); holding and releasing it
// stay paired. Used on the user-interface thread only.
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
