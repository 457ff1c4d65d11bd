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

namespace {

struct TCall {
    std::function<void()> Fn;
    bool Blocking = false;
    bool Done = false;
    std::exception_ptr Error;
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

void RunOnUiThread(const std::function<void()> &call)
{
    if (IsUiThread()) {
        call();
        return;
    }
    auto item = std::make_shared<TCall>();
    item->Fn = call;
    item->Blocking = true;
    Enqueue(item);
    THandOff &h = HandOff();
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(h.Mutex);
        h.DoneCond.wait(lock, [&] { return item->Done; });
        error = std::move(item->Error);
    }
    if (error)
        std::rethrow_exception(error);
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
