#include "device/ZelTimer.h"

#include "platform/TickCount.h"

TZelTimer::TZelTimer(TComponent *AOwner) : TComponent(AOwner)
{
    ClearMarks();
    Reset();
}

TZelTimer::~TZelTimer()
{
    // The worker is freed with FControl, also from inside our own tick: its pending hand-off
    // is cancelled, and a tick reaching us meanwhile sees this and is dropped.
    Destroying();
}

const TPropList &TZelTimer::Properties() const
{
    static const TPropList props = ThreadTimerProperties<TZelTimer>(TComponent::Properties());
    return props;
}

void TZelTimer::SetEnabled(bool Value)
{
    FControl.SetEnabled(IsDesigning() ? false : Value);
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
    FControl.StoreEnabled(false);
    Reset();
    FMeasuredTime = Value;
    FTickDelta = 0;
    FElapsedTime = Value;
    SetStartOffset(static_cast<int32_t>(Value));
    FControl.StoreEnabled(wasEnabled);
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
