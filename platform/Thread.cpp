#include "platform/Thread.h"

#include "platform/UiThread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

uint32_t NextThreadId()
{
    static std::atomic<uint32_t> counter{0};
    uint32_t id;
    do {
        id = counter.fetch_add(1, std::memory_order_relaxed) + 1;
    } while (id == 0);
    return id;
}

int NiceFor(TThreadPriority p)
{
    switch (p) {
    case tpIdle:
    case tpLowest: return 10;
    case tpLower: return 5;
    case tpNormal: return 0;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -20;
    }
    return 0;
}

} // namespace

const std::vector<std::string> &ThreadPriorityNames()
{
    static const std::vector<std::string> names = {"tpIdle",   "tpLowest",  "tpLower",       "tpNormal",
                                                   "tpHigher", "tpHighest", "tpTimeCritical"};
    return names;
}

TThread::TThread(bool CreateSuspended) : FThreadID(NextThreadId()), FHeld(CreateSuspended)
{
}

TThread::~TThread()
{
    if (Started())
        TerminateAndWait();
}

void TThread::Start()
{
    std::lock_guard<std::mutex> lock(FGateMutex);
    FHeld = false;
    if (!FStarted.load(std::memory_order_relaxed)) {
        FStarted.store(true, std::memory_order_release);
        FThread = std::thread([this] { Run(); });
    }
    FGateCond.notify_all();
}

void TThread::Resume()
{
    Start();
}

void TThread::Suspend()
{
    std::lock_guard<std::mutex> lock(FGateMutex);
    FHeld = true;
}

bool TThread::Suspended() const
{
    std::lock_guard<std::mutex> lock(FGateMutex);
    return FHeld || !FStarted.load(std::memory_order_relaxed);
}

void TThread::Terminate()
{
    {
        std::lock_guard<std::mutex> lock(FGateMutex);
        FTerminated.store(true, std::memory_order_release);
    }
    FGateCond.notify_all();
    TerminatedSet();
}

void TThread::CheckHeld()
{
    std::unique_lock<std::mutex> lock(FGateMutex);
    FGateCond.wait(lock, [this] { return !FHeld || FTerminated.load(std::memory_order_relaxed); });
}

void TThread::Synchronize(const std::function<void()> &call)
{
    RunOnUiThread(call);
}

void TThread::Run()
{
    FOsTid.store(static_cast<int>(syscall(SYS_gettid)), std::memory_order_release);
    (void)pthread_setname_np(pthread_self(), FName.substr(0, 15).c_str());
    ApplyPriority();
    std::exception_ptr fatal;
    if (!Terminated()) {
        try {
            Execute();
        } catch (...) {
            fatal = std::current_exception();
        }
    }
    {
        std::lock_guard<std::mutex> lock(FGateMutex);
        FFatal = std::move(fatal);
        FFinished.store(true, std::memory_order_release);
    }
    FFinishedCond.notify_all();
    NotifyUiThread();
}

uint32_t TThread::WaitFor()
{
    if (!Started())
        return ReturnValue();
    if (IsUiThread()) {
        WaitForWorker([this] { return Finished(); });
    } else {
        std::unique_lock<std::mutex> lock(FGateMutex);
        FFinishedCond.wait(lock, [this] { return FFinished.load(std::memory_order_relaxed); });
    }
    std::lock_guard<std::mutex> lock(FJoinMutex);
    if (FThread.joinable())
        FThread.join();
    return ReturnValue();
}

void TThread::TerminateAndWait()
{
    Terminate();
    {
        std::lock_guard<std::mutex> lock(FGateMutex);
        FHeld = false;
    }
    FGateCond.notify_all();
    WaitFor();
}

std::exception_ptr TThread::FatalException() const
{
    std::lock_guard<std::mutex> lock(FGateMutex);
    return FFatal;
}

void TThread::SetPriority(TThreadPriority value)
{
    FPriority.store(value, std::memory_order_relaxed);
    if (FOsTid.load(std::memory_order_acquire) != 0 && !Finished())
        ApplyPriority();
}

void TThread::ApplyPriority()
{
    const int tid = FOsTid.load(std::memory_order_acquire);
    if (tid == 0)
        return;
    const TThreadPriority p = FPriority.load(std::memory_order_relaxed);
    // Scheduling classes are per thread on Linux; sched_setscheduler takes a thread id.
    sched_param param{};
    param.sched_priority = 0;
    (void)sched_setscheduler(tid, p == tpIdle ? SCHED_IDLE : SCHED_OTHER, &param);
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceFor(p));
}
