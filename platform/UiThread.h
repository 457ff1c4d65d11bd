#pragma once
// The user-interface thread and the hand-over of calls to it.
//
// The UI thread is the thread that runs the QCoreApplication/QApplication. While no
// application object exists it is the process's main thread (the thread whose id equals
// the process id), so code that runs before the application object, or test programs
// without one, still have exactly one UI thread.
//
// Hand-offs queue on our own mutex/condition variable; Qt is only used to wake the UI
// loop (an eventfd watched by a socket notifier), so the UI thread runs pending calls
// from its ordinary event loop, inside ProcessMessages(), PumpDelay(), PumpMessages() and
// WaitForWorker(). Without an application object they run only inside those functions.
#include <cstdint>
#include <functional>
#include <memory>

// True on the UI thread.
bool IsUiThread();

// Processes the pending Qt events and runs every pending hand-off call. Does nothing on
// another thread.
void ProcessMessages();

// Runs `call` on the UI thread and returns when it has run. On the UI thread it runs
// directly. An exception thrown by the call is caught on the UI thread and rethrown here.
void RunOnUiThread(const std::function<void()> &call);

struct TUiHandOffState;

// A blocking hand-off whose wait can be abandoned, for workers an owner may stop at any time:
// after Cancel() the waiting worker returns at once and a call that has not started yet never
// runs. This is what lets an owner be destroyed from inside its own tick (its worker is
// blocked in that very hand-off) without a dead-lock, and guarantees that nothing runs for an
// owner that is gone. Same queue as RunOnUiThread().
class TUiHandOff {
public:
    TUiHandOff();
    TUiHandOff(const TUiHandOff &) = delete;
    TUiHandOff &operator=(const TUiHandOff &) = delete;

    // Runs `Call` on the UI thread (directly when called there) and waits for it. True when
    // it has run; an exception it raised is dropped, the owner reports what it wants to.
    // False when cancelled before it could start or while it ran.
    bool Run(std::function<void()> Call);
    // Any thread; final. Ends the current and every later Run().
    void Cancel();
    bool Cancelled() const;

private:
    std::shared_ptr<TUiHandOffState> FState;
};

// Queues `call` for the UI thread and returns at once (never blocks, also not on the UI
// thread itself, where it runs at the next message processing). An exception thrown by
// such a call is reported on the debugger output and dropped.
void PostToUiThread(std::function<void()> call);

// Processes messages, sleeping about 10 ms between rounds, until more than `ms`
// milliseconds have passed since the start (measured modulo 2^32, so the tick count
// wrapping does not cut the wait short or make it endless). At least one round runs.
void PumpDelay(uint32_t ms);

// Processes messages until `ms` milliseconds have passed or the tick count wraps below
// its value at the start. At least one round runs.
void PumpMessages(uint32_t ms);

// Waits until `finished` returns true. On the UI thread the pending hand-off calls keep
// running meanwhile, so a worker blocked in RunOnUiThread() can reach its end: no
// dead-lock on shutdown. Other Qt events are not processed here. On another thread it
// just waits, checking every few milliseconds.
void WaitForWorker(const std::function<bool()> &finished);

// Wakes a UI thread that waits in WaitForWorker(), PumpDelay() or PumpMessages() so that
// it checks its condition at once (for example after a worker has ended).
void NotifyUiThread();
