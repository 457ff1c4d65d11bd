#include "device/ZelTimer.h"

#include "platform/TickCount.h"

TZelTimer::TZelTimer(TComponent *AOwner) : TComponent(AOwner)
{
    FTimerThread = new TTimerThread([this] { Tick(); });
    FTimerThread->SetInterval(1000);
    FTimerThread->SetPriority(tpNormal);
    ClearMarks();
    Reset();
}

TZelTimer::~TZelTimer()
{
    Destroying();
    FEnabled.store(false, std::memory_order_relaxed);
    // Safe also from inside our own tick: the worker's pending hand-off is cancelled.
    delete FTimerThread;
    FTimerThread = nullptr;
}

const TPropList &TZelTimer::Properties() const
{
    static const TPropList props = InheritProps(
        TComponent::Properties(),
        {
            BoolProp<TZelTimer>("AllowZero", &TZelTimer::AllowZero, &TZelTimer::SetAllowZero, false),
            BoolProp<TZelTimer>("Enabled", &TZelTimer::Enabled, &TZelTimer::SetEnabled, false),
            IntProp<TZelTimer, uint32_t>("Interval", "Cardinal", &TZelTimer::Interval, &TZelTimer::SetInterval, 1000),
            EnumProp<TZelTimer, TThreadPriority>("ThreadPriority", "TThreadPriority", ThreadPriorityNames(),
                                                 &TZelTimer::ThreadPriority, &TZelTimer::SetThreadPriority, tpNormal),
        });
    return props;
}

void TZelTimer::UpdateWorker()
{
    // Holding and releasing stay paired: the worker runs exactly while Enabled and
    // (Interval > 0 or AllowZero).
    const bool run = Enabled() && (Interval() > 0 || FAllowZero);
    if (run) {
        FTimerThread->StopEvent().SetEvent();
        FTimerThread->Start();
        FWorkerReleased = true;
    } else if (FWorkerReleased) {
        FTimerThread->Suspend();
        FWorkerReleased = false;
    }
}

void TZelTimer::SetEnabled(bool Value)
{
    if (IsDesigning())
        Value = false;
    if (Value == Enabled())
        return;
    FEnabled.store(Value, std::memory_order_relaxed);
    UpdateWorker();
}

void TZelTimer::SetInterval(uint32_t Value)
{
    if (Value == Interval())
        return;
    const bool wasEnabled = Enabled();
    SetEnabled(false);
    FTimerThread->SetInterval(Value);
    SetEnabled(wasEnabled);
}

void TZelTimer::Reset()
{
    FElapsedTime = 0;
    FTickDelta = 0;
    FMeasuredTime = 0;
    FLastTick = GetTickCount();
}

void TZelTimer::Preset(uint32_t Value)
{
    // The worker is left alone: only the flag is cleared around the reset.
    const bool wasEnabled = Enabled();
    FEnabled.store(false, std::memory_order_relaxed);
    Reset();
    FMeasuredTime = Value;
    FTickDelta = 0;
    FElapsedTime = Value;
    SetStartOffset(static_cast<int32_t>(Value));
    FEnabled.store(wasEnabled, std::memory_order_relaxed);
}

void TZelTimer::ClearMarks()
{
    SetStartOffset(0);
    SetMark(0);
}

void TZelTimer::Tick()
{
    if (!Enabled() || !OnTimer || IsDestroying())
        return;
    const uint32_t now = GetTickCount();
    FTickDelta = now - FLastTick;
    FMeasuredTime += now - FLastTick;
    FLastTick = now;
    FElapsedTime += Interval();
    // A copy: the handler may free this timer, and with it OnTimer.
    TNotifyEvent handler = OnTimer;
    try {
        handler(this);
    } catch (...) {
        // Dropped: the next tick still comes.
    }
}
