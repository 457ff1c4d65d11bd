#pragma once
// Worker threads in the style of the classic thread class.
//
// A thread object has a hold gate. The OS thread is created at the first Start() or
// Resume(); until then the object is "suspended" and Execute() has not run, so a thread
// that is never started is released without ever running Execute(). The constructor
// cannot start the thread itself (the derived part does not exist yet), so
// CreateSuspended == false only records the wish: the creator still calls Start().
//
// Suspend() cannot stop a running thread asynchronously (there is no safe way to do so);
// it closes the gate, and the worker stops at its next CheckHeld() call until Resume()
// or Start() opens the gate again or the thread is terminated. Holding and releasing are
// not counted: one Resume() opens the gate after any number of Suspend() calls.
//
// A derived class whose Execute() uses members of the derived class must stop the thread
// in its own destructor (TerminateAndWait()), because the base destructor runs after the
// derived members are gone.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Names of the thread priorities as streams write them.
const std::vector<std::string> &ThreadPriorityNames();

class TThread {
public:
    explicit TThread(bool CreateSuspended);
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;
    // When the thread runs: Terminate, open the gate, WaitFor.
    virtual ~TThread();

    // Open the gate; the first call creates the OS thread. Both are the same operation.
    void Start();
    void Resume();
    // Close the gate; see above.
    void Suspend();
    bool Suspended() const;

    // Ask Execute() to end: Terminated() becomes true, the gate no longer holds, and
    // TerminatedSet() runs so a derived class can wake its own waits.
    void Terminate();
    bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }

    // Waits until Execute() has ended and joins the OS thread; returns ReturnValue().
    // On the UI thread pending hand-offs keep running meanwhile (see WaitForWorker).
    // A thread that was never started returns at once.
    uint32_t WaitFor();
    // Terminate(), open the gate, WaitFor().
    void TerminateAndWait();

    bool Started() const { return FStarted.load(std::memory_order_acquire); }
    // True once Execute() has returned (or thrown).
    bool Finished() const { return FFinished.load(std::memory_order_acquire); }
    // Unique, non-zero and fixed for the life of the object; a posting target for
    // PostThreadMessage() once the thread has registered a message queue under it.
    uint32_t ThreadID() const { return FThreadID; }

    // Applied best effort (nice values, SCHED_IDLE for tpIdle); failures are ignored.
    // A priority set before the start is applied when the thread starts.
    TThreadPriority Priority() const { return FPriority.load(std::memory_order_relaxed); }
    void SetPriority(TThreadPriority value);

    uint32_t ReturnValue() const { return FReturnValue.load(std::memory_order_acquire); }

    // The OS thread's name (what top and /proc show; at most 15 characters are kept). Set
    // before Start(); "fennick-thread" otherwise.
    void SetName(std::string Name) { FName = std::move(Name); }
    const std::string &Name() const { return FName; }
    // The exception that ended Execute(), if any.
    std::exception_ptr FatalException() const;

protected:
    virtual void Execute() = 0;
    virtual void TerminatedSet() {}
    // Blocks while the gate is closed and the thread is not terminated.
    void CheckHeld();
    // Runs `call` on the UI thread and waits for it (RunOnUiThread).
    void Synchronize(const std::function<void()> &call);
    void SetReturnValue(uint32_t value) { FReturnValue.store(value, std::memory_order_release); }

private:
    void Run();
    void ApplyPriority();

    const uint32_t FThreadID;
    std::string FName = "fennick-thread";
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FFinished{false};
    std::atomic<TThreadPriority> FPriority{tpNormal};
    std::atomic<uint32_t> FReturnValue{0};
    std::atomic<int> FOsTid{0};

    mutable std::mutex FGateMutex;
    std::condition_variable FGateCond;
    std::condition_variable FFinishedCond;
    bool FHeld;
    std::exception_ptr FFatal;

    std::mutex FJoinMutex;
    std::thread FThread;
};
