#include "ant/AntRequestTimer.h"

// ---- TAntRequestTimer ------------------------------------------------------------------------

TAntRequestTimer::TAntRequestTimer(TComponent *AOwner) : TComponent(AOwner) {}

TAntRequestTimer::~TAntRequestTimer()
{
    // The worker is freed with FControl; a tick reaching us meanwhile sees this and is dropped.
    Destroying();
}

const TPropList &TAntRequestTimer::Properties() const
{
    static const TPropList props = ThreadTimerProperties<TAntRequestTimer>(TComponent::Properties());
    return props;
}

void TAntRequestTimer::Tick()
{
    if (!Enabled() || !OnTimer || IsDestroying())
        return;
    // A copy: the handler may free this timer, and with it OnTimer.
    TNotifyEvent handler = OnTimer;
    try {
        handler(this);
    } catch (...) {
        // Dropped: the timer keeps ticking.
    }
}
