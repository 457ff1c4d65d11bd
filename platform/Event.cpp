#include "platform/Event.h"

#include <chrono>

TEvent::TEvent(bool manualReset, bool initialState, const std::string &name)
    : FManualReset(manualReset), FName(name), FSignaled(initialState)
{
}

void TEvent::SetEvent()
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FSignaled = true;
    }
    if (FManualReset)
        FCond.notify_all();
    else
        FCond.notify_one();
}

void TEvent::ResetEvent()
{
    std::lock_guard<std::mutex> lock(FMutex);
    FSignaled = false;
}

TWaitResult TEvent::WaitFor(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(FMutex);
    auto ready = [this] { return FSignaled; };
    if (timeoutMs == INFINITE) {
        FCond.wait(lock, ready);
    } else if (!FCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return wrTimeout;
    }
    if (!FManualReset)
        FSignaled = false;
    return wrSignaled;
}
