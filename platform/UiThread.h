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

// True on the UI thread.
bool IsUiThread();

// Processes the pending Qt events and runs every pending hand-off call. Does nothing on
// another thread.
void ProcessMessages();

// Runs `call` on the UI thread and returns when it has run. On the UI thread it runs
// directly. An exception thrown by the call is caught on the UI thread and rethrown here.
void RunOnUiThread(const std::function<void()> &call);

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
