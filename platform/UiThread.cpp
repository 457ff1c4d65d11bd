#include "platform/UiThread.h"

#include "platform/DebugOutput.h"
#include "platform/TickCount.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

// Guarded by the hand-off mutex.
struct TUiHandOffState {
    bool Cancelled = false;
};

namespace {

struct TCall {
    std::function<void()> Fn;
    bool Blocking = false;
    bool Done = false;
    std::exception_ptr Error;
    // Set for a cancellable hand-off: a cancelled call is skipped and its waiter released.
    std::shared_ptr<TUiHandOffState> Cancel;
};

struct THandOff {
    std::mutex Mutex;
    std::condition_variable DoneCond;   // a blocking call has run
    std::condition_variable WakeCond;   // a call was queued or a waiter should look again
    std::deque<std::shared_ptr<TCall>> Queue;
    unsigned WakeCount = 0;
    int EventFd = -1;
};

THandOff &HandOff()
{
    static THandOff *h = [] {
        auto *p = new THandOff;
        p->EventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        return p;
    }();
    return *h;
}

// Only touched on the UI thread.
QPointer<QSocketNotifier> gNotifier;

void RunPendingCalls();

// The socket notifier that lets the Qt event loop run our queue; made lazily on the UI
// thread and owned by the application object, so it goes away with it.
void EnsureNotifier()
{
    QCoreApplication *app = QCoreApplication::instance();
    THandOff &h = HandOff();
    if (!app || gNotifier || h.EventFd < 0)
        return;
    auto *notifier = new QSocketNotifier(h.EventFd, QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        uint64_t value;
        while (read(HandOff().EventFd, &value, sizeof value) > 0) {
        }
        RunPendingCalls();
    });
    gNotifier = notifier;
}

void WakeUiLoop()
{
    THandOff &h = HandOff();
    if (h.EventFd >= 0) {
        uint64_t one = 1;
        ssize_t r = write(h.EventFd, &one, sizeof one);
        (void)r; // a full counter already means "wake up"
    }
}

void Enqueue(const std::shared_ptr<TCall> &call)
{
    THandOff &h = HandOff();
    {
        std::lock_guard<std::mutex> lock(h.Mutex);
        h.Queue.push_back(call);
        ++h.WakeCount;
    }
    h.WakeCond.notify_all();
    WakeUiLoop();
}

void RunPendingCalls()
{
    THandOff &h = HandOff();
    for (;;) {
        std::shared_ptr<TCall> call;
        {
            std::lock_guard<std::mutex> lock(h.Mutex);
            if (h.Queue.empty())
                return;
            call = h.Queue.front();
            h.Queue.pop_front();
            // Its waiter has already returned: the owner may be gone.
            if (call->Cancel && call->Cancel->Cancelled)
                continue;
        }
        std::exception_ptr error;
        try {
            call->Fn();
        } catch (...) {
            error = std::current_exception();
        }
        if (call->Blocking) {
            {
                // Moved, not copied: the exception object then changes hands only under
                // the mutex, and its last owner is the worker.
                std::lock_guard<std::mutex> lock(h.Mutex);
                call->Error = std::move(error);
                call->Done = true;
            }
            h.DoneCond.notify_all();
        } else if (error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception &e) {
                OutputDebugString(std::string("Exception in a call posted to the UI thread: ") + e.what());
            } catch (...) {
                OutputDebugString("Exception in a call posted to the UI thread");
            }
        }
    }
}

// Waits up to `ms` for a hand-off to be queued or for NotifyUiThread(). Off the UI thread
// nothing would run the queue, so there it simply sleeps.
void WaitForWake(uint32_t ms)
{
    if (!IsUiThread()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    THandOff &h = HandOff();
    std::unique_lock<std::mutex> lock(h.Mutex);
    if (!h.Queue.empty())
        return;
    unsigned seen = h.WakeCount;
    h.WakeCond.wait_for(lock, std::chrono::milliseconds(ms),
                        [&] { return !h.Queue.empty() || h.WakeCount != seen; });
}

// Every application object gets the notifier at construction, so hand-offs also run when
// the UI thread only sits in exec().
void InstallNotifierAtStartup()
{
    EnsureNotifier();
}

bool IsMainThread()
{
    return static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallNotifierAtStartup)

bool IsUiThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (app)
        return QThread::currentThread() == app->thread();
    return IsMainThread();
}

void ProcessMessages()
{
    if (!IsUiThread())
        return;
    EnsureNotifier();
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    RunPendingCalls();
}

namespace {

// The one blocking hand-off, off the UI thread: queues `fn` and waits until it has run or
// `cancel` (when given) is set. False when cancelled first; `error` is what the call threw.
bool RunBlocking(std::function<void()> fn, const std::shared_ptr<TUiHandOffState> &cancel,
                 std::exception_ptr &error)
{
    auto item = std::make_shared<TCall>();
    item->Fn = std::move(fn);
    item->Blocking = true;
    item->Cancel = cancel;
    THandOff &h = HandOff();
    if (cancel) {
        std::lock_guard<std::mutex> lock(h.Mutex);
        if (cancel->Cancelled)
            return false;
    }
    Enqueue(item);
    std::unique_lock<std::mutex> lock(h.Mutex);
    h.DoneCond.wait(lock, [&] { return item->Done || (cancel && cancel->Cancelled); });
    if (cancel && cancel->Cancelled)
        return false;
    error = std::move(item->Error);
    return true;
}

} // namespace

void RunOnUiThread(const std::function<void()> &call)
{
    if (IsUiThread()) {
        call();
        return;
    }
    std::exception_ptr error;
    RunBlocking(call, nullptr, error);
    if (error)
        std::rethrow_exception(error);
}

TUiHandOff::TUiHandOff() : FState(std::make_shared<TUiHandOffState>()) {}

bool TUiHandOff::Run(std::function<void()> Call)
{
    std::exception_ptr error; // dropped
    if (!IsUiThread())
        return RunBlocking(std::move(Call), FState, error);
    if (Cancelled())
        return false;
    try {
        Call();
    } catch (...) {
    }
    return !Cancelled();
}

void TUiHandOff::Cancel()
{
    THandOff &h = HandOff();
    {
        std::lock_guard<std::mutex> lock(h.Mutex);
        FState->Cancelled = true;
    }
    h.DoneCond.notify_all();
}

bool TUiHandOff::Cancelled() const
{
    std::lock_guard<std::mutex> lock(HandOff().Mutex);
    return FState->Cancelled;
}

void PostToUiThread(std::function<void()> call)
{
    auto item = std::make_shared<TCall>();
    item->Fn = std::move(call);
    Enqueue(item);
}

void PumpDelay(uint32_t ms)
{
    const uint32_t start = GetTickCount();
    do {
        ProcessMessages();
        WaitForWake(10);
    } while (static_cast<uint32_t>(GetTickCount() - start) <= ms);
}

void PumpMessages(uint32_t ms)
{
    const uint32_t start = GetTickCount();
    for (;;) {
        ProcessMessages();
        const uint32_t now = GetTickCount();
        if (now < start || now - start >= ms)
            break;
        WaitForWake(std::min<uint32_t>(10, ms - (now - start)));
    }
}

void WaitForWorker(const std::function<bool()> &finished)
{
    if (!IsUiThread()) {
        while (!finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return;
    }
    for (;;) {
        RunPendingCalls();
        if (finished())
            return;
        WaitForWake(5);
    }
}

void NotifyUiThread()
{
    THandOff &h = HandOff();
    {
        std::lock_guard<std::mutex> lock(h.Mutex);
        ++h.WakeCount;
    }
    h.WakeCond.notify_all();
}
