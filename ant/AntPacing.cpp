#include "ant/AntPacing.h"

#include "platform/Event.h"
#include "platform/TickCount.h"
#include "platform/UiThread.h"
#include "platform/WaitableTimer.h"

TAntPacing::TAntPacing(THooks Hooks) : FHooks(std::move(Hooks)) {}

TAntPacing::~TAntPacing()
{
    *FAlive = false;
    FEnabled.store(false, std::memory_order_release);
    CloseWaitableTimer();
    delete FTimer;
    FTimer = nullptr;
}

void TAntPacing::SetEnabled(bool Value)
{
    if (FType == artWaitableTimer)
        EnableWaitable(Value);
    else
        EnableThreaded(Value);
}

void TAntPacing::EnableThreaded(bool Value)
{
    FEnabled.store(Value, std::memory_order_release);
    if (!Value) {
        if (FTimer && FTimer->Enabled())
            FTimer->SetEnabled(false);
        return;
    }
    if (FTimer) {
        // May be the timer whose tick is running right now; its worker is released safely.
        TAntRequestTimer *old = FTimer;
        FTimer = nullptr;
        old->SetEnabled(false);
        delete old;
    }
    FTimer = new TAntRequestTimer(nullptr);
    FTimedOut.store(false, std::memory_order_release);
    FElapsed = 0;
    FStartTick = GetTickCount();
    FTimer->SetInterval(static_cast<uint32_t>(FInterval));
    FTimer->SetThreadPriority(FThreadPriority);
    FTimer->OnTimer = [this](TObject *) { TimerTick(); };
    FTimer->SetEnabled(true);
}

bool TAntPacing::TimeOutReached() const
{
    return FTimeOut != 0 && static_cast<int64_t>(FElapsed) >= static_cast<int64_t>(FTimeOut);
}

void TAntPacing::EnableWaitable(bool Value)
{
    FEnabled.store(Value, std::memory_order_release);
    if (!Value) {
        CloseWaitableTimer();
        return;
    }
    auto timer = std::make_shared<TWaitableTimer>();
    FWaitableTimer = timer;
    FTimedOut.store(false, std::memory_order_release);
    FElapsed = 0;
    FStartTick = GetTickCount();
    const uint32_t limit = FTimeOut == 0 ? INFINITE : static_cast<uint32_t>(FTimeOut);
    if (!timer->Arm(FInterval)) {
        if (FWaitableTimer == timer)
            FWaitableTimer.reset();
        return;
    }

    // Hooks run inside this loop and may free the owner (alive), stop it, mark it handled or
    // close the timer; every one of those is seen before the next wait.
    std::shared_ptr<bool> alive = FAlive;
    bool endedByTimeOut = false;
    auto running = [&] { return Enabled() && !TimedOut() && !Handled(); };
    struct TCleanup {
        std::shared_ptr<bool> Alive;
        TAntPacing *Pacing;
        std::shared_ptr<TWaitableTimer> Timer;
        bool &EndedByTimeOut;
        ~TCleanup()
        {
            Timer->Cancel();
            if (!*Alive)
                return;
            if (Pacing->FWaitableTimer == Timer)
                Pacing->FWaitableTimer.reset();
            if (EndedByTimeOut && Pacing->Enabled())
                Pacing->FEnabled.store(false, std::memory_order_release);
        }
    } cleanup{alive, this, timer, endedByTimeOut};

    while (running()) {
        ProcessMessages();
        if (!*alive || !running())
            break;
        if (timer->Wait(limit) == TWaitableTimer::wtExpired && FHooks.Tick)
            FHooks.Tick();
        if (!*alive)
            break;
        FElapsed = GetTickCount() - FStartTick;
        if (TimeOutReached()) {
            endedByTimeOut = true;
            if (!TimedOut()) {
                FTimedOut.store(true, std::memory_order_release);
                if (FHooks.TimeOut)
                    FHooks.TimeOut();
            }
            break;
        }
    }
}

void TAntPacing::CloseWaitableTimer()
{
    if (FWaitableTimer) {
        FWaitableTimer->Cancel();
        FWaitableTimer.reset();
    }
}

void TAntPacing::TimerTick()
{
    FElapsed = GetTickCount() - FStartTick;
    if (TimeOutReached() && !TimedOut()) {
        FTimedOut.store(true, std::memory_order_release);
        FEnabled.store(false, std::memory_order_release);
        if (FTimer)
            FTimer->SetEnabled(false);
        if (FHooks.TimeOut)
            FHooks.TimeOut();
    } else if (FHooks.Tick) {
        FHooks.Tick();
    }
    // Nothing after the hooks: they may have freed the owner and this object.
}

void TAntPacing::SetHandled(bool Value)
{
    const bool was = FHandled.exchange(Value, std::memory_order_acq_rel);
    if (!Value || was)
        return;
    if (FWaitableTimer)
        FWaitableTimer->Cancel();
    FEnabled.store(false, std::memory_order_release);
    if (FHooks.Handled)
        FHooks.Handled();
}
