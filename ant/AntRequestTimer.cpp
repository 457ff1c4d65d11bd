#include "ant/AntRequestTimer.h"

#include "platform/UiThread.h"

// ---- TUiHandOff ------------------------------------------------------------------------------

TUiHandOff::TUiHandOff() : FState(std::make_shared<TState>()) {}

bool TUiHandOff::Run(std::function<void()> Call)
{
    std::shared_ptr<TState> state = FState;
    uint64_t ticket;
    {
        std::lock_guard<std::mutex> lock(state->Mutex);
        if (state->Cancelled)
            return false;
        ticket = ++state->Issued;
    }
    // The queued call keeps the state alive on its own: it may run after the worker and
    // its owner are gone, and then it must find Cancelled set and do nothing.
    PostToUiThread([state, ticket, call = std::move(Call)] {
        {
            std::lock_guard<std::mutex> lock(state->Mutex);
            if (state->Cancelled) {
                state->Done = ticket;
                return;
            }
        }
        try {
            call();
        } catch (...) {
            // A failing handler must not stop the worker; the owner reports what it wants to.
        }
        {
            std::lock_guard<std::mutex> lock(state->Mutex);
            state->Done = ticket;
        }
        state->Cond.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->Mutex);
    state->Cond.wait(lock, [&] { return state->Cancelled || state->Done >= ticket; });
    return !state->Cancelled;
}

void TUiHandOff::Cancel()
{
    {
        std::lock_guard<std::mutex> lock(FState->Mutex);
        FState->Cancelled = true;
    }
    FState->Cond.notify_all();
}

bool TUiHandOff::Cancelled() const
{
    std::lock_guard<std::mutex> lock(FState->Mutex);
    return FState->Cancelled;
}

// ---- TTimerThread ----------------------------------------------------------------------------

TTimerThread::TTimerThread(std::function<void()> Tick) : TThread(true), FTick(std::move(Tick)) {}

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

const std::vector<std::string> &ThreadPriorityNames()
{
    static const std::vector<std::string> names = {"tpIdle",   "tpLowest",  "tpLower",       "tpNormal",
                                                   "tpHigher", "tpHighest", "tpTimeCritical"};
    return names;
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
