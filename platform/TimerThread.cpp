#include "platform/TimerThread.h"

// ---- TTimerThread ----------------------------------------------------------------------------

TTimerThread::TTimerThread(std::function<void()> Tick) : TThread(true), FTick(std::move(Tick))
{
    SetName("fennick-timer");
}

TTimerThread::~TTimerThread()
{
    FHandOff.Cancel();
    TerminateAndWait();
}

void TTimerThread::TerminatedSet()
{
    FStopEvent.SetEvent();
}

void TTimerThread::Execute()
{
    while (!Terminated()) {
        CheckHeld();
        if (Terminated())
            break;
        if (FStopEvent.WaitFor(Interval()) != wrTimeout)
            continue;
        // Held while waiting: the owner was disabled, the tick would only be dropped.
        if (Terminated() || Suspended())
            continue;
        FHandOff.Run(FTick);
    }
}

// ---- TThreadTimerControl ---------------------------------------------------------------------

TThreadTimerControl::TThreadTimerControl(std::function<void()> Tick)
{
    FTimerThread = new TTimerThread(std::move(Tick));
    FTimerThread->SetInterval(1000);
    FTimerThread->SetPriority(tpNormal);
}

TThreadTimerControl::~TThreadTimerControl()
{
    FEnabled.store(false, std::memory_order_relaxed);
    // The worker may be blocked handing over a tick, possibly the one running right now.
    delete FTimerThread;
    FTimerThread = nullptr;
}

void TThreadTimerControl::SetEnabled(bool Value)
{
    if (Value == Enabled())
        return;
    FEnabled.store(Value, std::memory_order_relaxed);
    if (Value && (Interval() > 0 || FAllowZero)) {
        // A fresh interval: the first tick comes one full Interval from now.
        FTimerThread->StopEvent().SetEvent();
        FTimerThread->Start();
        FWorkerReleased = true;
    } else if (!Value && FWorkerReleased) {
        FTimerThread->Suspend();
        FWorkerReleased = false;
    }
}

void TThreadTimerControl::SetInterval(uint32_t Value)
{
    if (Value == Interval())
        return;
    const bool wasEnabled = Enabled();
    SetEnabled(false);
    FTimerThread->SetInterval(Value);
    SetEnabled(wasEnabled);
}
