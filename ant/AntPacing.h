#pragma once
// The pacing shared by timed requests and connection sequencers: ticks every Interval ms
// until the owner marks the run handled or TimeOut ms have passed since enabling.
//
// artThreaded: a fresh TAntRequestTimer per enable runs the ticks on the user-interface
// thread. artWaitableTimer: SetEnabled(true) waits on a waitable timer in a message-pumping
// loop on the caller's thread and returns only when the run has ended.
//
// The owner's hooks may free the owner (and with it this object) from inside a tick: nothing
// here touches its own state after calling a hook unless it has checked it is still alive.
#include "ant/AntRequestTimer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class TWaitableTimer;

enum TAntRequestType : uint8_t { artThreaded, artWaitableTimer };

class TAntPacing {
public:
    struct THooks {
        std::function<void()> Tick;     // one step of the owner's work
        std::function<void()> TimeOut;  // raised once per run
        std::function<void()> Handled;  // raised once when the owner marks the run handled
    };

    explicit TAntPacing(THooks Hooks);
    ~TAntPacing();
    TAntPacing(const TAntPacing &) = delete;
    TAntPacing &operator=(const TAntPacing &) = delete;

    bool Enabled() const { return FEnabled.load(std::memory_order_acquire); }
    // True starts a run (also while one runs: a fresh timer and Elapsed from 0); false stops.
    void SetEnabled(bool Value);
    int32_t TimeOut() const { return FTimeOut; }
    void SetTimeOut(int32_t Value) { FTimeOut = Value; }
    int32_t Interval() const { return FInterval; }
    void SetInterval(int32_t Value) { FInterval = Value; }
    TThreadPriority ThreadPriority() const { return FThreadPriority; }
    void SetThreadPriority(TThreadPriority Value) { FThreadPriority = Value; }
    TAntRequestType Type() const { return FType; }
    void SetType(TAntRequestType Value) { FType = Value; }

    // The last timer made by enabling (artThreaded); kept after disabling until the next
    // enable or the end of this object.
    TAntRequestTimer *Timer() const { return FTimer; }
    bool TimedOut() const { return FTimedOut.load(std::memory_order_acquire); }
    bool Handled() const { return FHandled.load(std::memory_order_acquire); }
    // True: cancels a waitable timer, clears the Enabled flag only and raises Handled.
    void SetHandled(bool Value);
    uint32_t StartTick() const { return FStartTick; }
    uint32_t Elapsed() const { return FElapsed; }

    // The tick of the artThreaded timer; user-interface thread.
    void TimerTick();
    // Closes a waitable timer that is still open (the wait in progress ends at once).
    void CloseWaitableTimer();

private:
    void EnableThreaded(bool Value);
    void EnableWaitable(bool Value);
    bool TimeOutReached() const;

    THooks FHooks;
    std::atomic<bool> FEnabled{false};
    int32_t FTimeOut = 0;
    int32_t FInterval = 100;
    TThreadPriority FThreadPriority = tpNormal;
    TAntRequestType FType = artThreaded;

    TAntRequestTimer *FTimer = nullptr;
    std::shared_ptr<TWaitableTimer> FWaitableTimer;
    std::atomic<bool> FTimedOut{false};
    std::atomic<bool> FHandled{false};
    uint32_t FStartTick = 0;
    uint32_t FElapsed = 0;
    // Expires with this object; a waitable-timer loop checks it after each hook.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};
