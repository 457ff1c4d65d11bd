#include "ant/AntRequestList.h"

#include "framework/Exception.h"
#include "platform/TickCount.h"
#include "platform/UiThread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

// A periodic, auto-reset timer the caller waits on. Cancel() ends a wait in progress at once
// (and every later one), so a loop blocked on it never outlives the request's wish to stop.
class TWaitableTimer {
public:
    enum TWait { wtExpired, wtTimeout, wtCancelled };

    // False when the timer cannot be armed (no positive period).
    bool Arm(int32_t periodMs)
    {
        if (periodMs <= 0)
            return false;
        std::lock_guard<std::mutex> lock(FMutex);
        FPeriod = std::chrono::milliseconds(periodMs);
        FDue = std::chrono::steady_clock::now() + FPeriod;
        return true;
    }

    void Cancel()
    {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            FCancelled = true;
        }
        FCond.notify_all();
    }

    // Waits for the next expiry, at most limitMs (INFINITE: no limit).
    TWait Wait(uint32_t limitMs)
    {
        std::unique_lock<std::mutex> lock(FMutex);
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            if (FCancelled)
                return wtCancelled;
            const auto now = std::chrono::steady_clock::now();
            if (now >= FDue) {
                // Auto reset: one expiry is consumed; missed periods collapse into this one.
                while (FDue <= now)
                    FDue += FPeriod;
                return wtExpired;
            }
            auto until = FDue;
            if (limitMs != INFINITE) {
                const auto limit = start + std::chrono::milliseconds(limitMs);
                if (now >= limit)
                    return wtTimeout;
                if (limit < until)
                    until = limit;
            }
            FCond.wait_until(lock, until);
        }
    }

private:
    std::mutex FMutex;
    std::condition_variable FCond;
    std::chrono::steady_clock::time_point FDue;
    std::chrono::milliseconds FPeriod{0};
    bool FCancelled = false;
};

// ---- TAntRequest -----------------------------------------------------------------------------

TAntRequest::TAntRequest(TCollection *Collection) : TCollectionItem(Collection) {}

TAntRequest::~TAntRequest()
{
    *FAlive = false;
    FEnabled.store(false, std::memory_order_release);
    CloseWaitableTimer();
    delete FTimer;
    FTimer = nullptr;
}

const TPropList &TAntRequest::Properties() const
{
    using R = TAntRequest;
    // No stream defaults declared: every property is written, whatever its value.
    static const TPropList props = InheritProps(
        TCollectionItem::Properties(),
        {
            BoolProp<R>("Enabled", &R::Enabled, &R::SetEnabled),
            IntProp<R, int32_t>("TimeOut", "Integer", &R::TimeOut, &R::SetTimeOut),
            IntProp<R, int32_t>("Interval", "Integer", &R::Interval, &R::SetInterval),
            EnumProp<R, TThreadPriority>("ThreadPriority", "TThreadPriority", ThreadPriorityNames(), &R::ThreadPriority,
                                         &R::SetThreadPriority),
            IntProp<R, int32_t>("RequestResult", "Integer", &R::RequestResult, &R::SetRequestResult),
            EnumProp<R, TAntRequestType>("AntRequestType", "TAntRequestType", {"artThreaded", "artWaitableTimer"},
                                         &R::AntRequestType, &R::SetAntRequestType),
        });
    return props;
}

void TAntRequest::SetEnabled(bool Value)
{
    if (FAntRequestType == artWaitableTimer)
        EnableWaitable(Value);
    else
        EnableThreaded(Value);
}

void TAntRequest::EnableThreaded(bool Value)
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
    FTimer->OnTimer = [this](TObject *Sender) { TimerTick(Sender); };
    FTimer->SetEnabled(true);
}

void TAntRequest::EnableWaitable(bool Value)
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

    // Handlers run inside this loop and may free the request (alive), stop it, mark it
    // handled or close the timer; every one of those is seen before the next wait.
    std::shared_ptr<bool> alive = FAlive;
    bool endedByTimeOut = false;
    auto running = [&] { return Enabled() && !TimedOut() && !Handled(); };
    struct TCleanup {
        std::shared_ptr<bool> Alive;
        TAntRequest *Request;
        std::shared_ptr<TWaitableTimer> Timer;
        bool &EndedByTimeOut;
        ~TCleanup()
        {
            Timer->Cancel();
            if (!*Alive)
                return;
            if (Request->FWaitableTimer == Timer)
                Request->FWaitableTimer.reset();
            if (EndedByTimeOut && Request->Enabled())
                Request->SetEnabled(false);
        }
    } cleanup{alive, this, timer, endedByTimeOut};

    while (running()) {
        ProcessMessages();
        if (!*alive || !running())
            break;
        if (timer->Wait(limit) == TWaitableTimer::wtExpired)
            DoTimer();
        if (!*alive)
            break;
        FElapsed = GetTickCount() - FStartTick;
        if (FTimeOut != 0 && static_cast<int64_t>(FElapsed) >= static_cast<int64_t>(FTimeOut)) {
            endedByTimeOut = true;
            if (!TimedOut()) {
                FTimedOut.store(true, std::memory_order_release);
                DoRequestTimeOut();
            }
            break;
        }
    }
}

void TAntRequest::CloseWaitableTimer()
{
    if (FWaitableTimer) {
        FWaitableTimer->Cancel();
        FWaitableTimer.reset();
    }
}

void TAntRequest::TimerTick(TObject *)
{
    FElapsed = GetTickCount() - FStartTick;
    if (FTimeOut != 0 && static_cast<int64_t>(FElapsed) >= static_cast<int64_t>(FTimeOut) && !TimedOut()) {
        FTimedOut.store(true, std::memory_order_release);
        SetEnabled(false);
        if (FTimer)
            FTimer->SetEnabled(false);
        DoRequestTimeOut();
    } else {
        DoTimer();
    }
    // Nothing after the handlers: they may have freed this request.
}

void TAntRequest::SetHandled(bool Value)
{
    const bool was = FHandled.exchange(Value, std::memory_order_acq_rel);
    if (!Value || was)
        return;
    if (FWaitableTimer)
        FWaitableTimer->Cancel();
    FEnabled.store(false, std::memory_order_release);
    DoRequestHandled();
}

void TAntRequest::DoRequestTimeOut()
{
    if (OnRequestTimeOut) {
        TNotifyEvent handler = OnRequestTimeOut;
        handler(this);
    }
}

void TAntRequest::DoRequestHandled()
{
    if (OnRequestHandled) {
        TNotifyEvent handler = OnRequestHandled;
        handler(this);
    }
}

void TAntRequest::DoTimer()
{
    if (OnTimer) {
        TNotifyEvent handler = OnTimer;
        handler(this);
    }
}

// ---- TAntRequests ----------------------------------------------------------------------------

TAntRequests::TAntRequests(TPersistent *AOwner)
    : TCollection([](TCollection *c) -> TCollectionItem * { return new TAntRequest(c); }, "TAntRequest", AOwner)
{
}

// ---- TAntRequestList -------------------------------------------------------------------------

TAntRequestList::TAntRequestList(TPersistent *AOwner) : FOwner(AOwner), FAntRequestItems(new TAntRequests(this)) {}

TAntRequestList::~TAntRequestList()
{
    for (int i = 0; i < Count(); ++i) {
        TAntRequest *request = AntRequests(i);
        if (request->Enabled())
            request->SetEnabled(false);
        request->CloseWaitableTimer();
    }
    delete FAntRequestItems;
    FAntRequestItems = nullptr;
}

const TPropList &TAntRequestList::Properties() const
{
    using L = TAntRequestList;
    static const TPropList props = InheritProps(TPersistent::Properties(),
                                                {
                                                    StrProp<L>("Filename", &L::Filename, &L::SetFilename, "TFileName"),
                                                    ObjProp<L>("AntRequestItems", "TAntRequests", &L::AntRequestItems),
                                                });
    return props;
}

TAntRequest *TAntRequestList::Add()
{
    return static_cast<TAntRequest *>(FAntRequestItems->Add());
}

void TAntRequestList::Clear()
{
    FAntRequestItems->Clear();
}

void TAntRequestList::Delete(int Index)
{
    if (Index >= 0 && Index < Count())
        FAntRequestItems->Delete(Index);
}
