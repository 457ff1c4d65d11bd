#include "platform/ThreadMessages.h"

#include "platform/Event.h"

#include <chrono>
#include <unordered_map>

namespace {
// Posting looks the queue up and appends under this mutex, so a queue cannot be
// destroyed between the two.
std::mutex gRegistryMutex;
std::unordered_map<uint32_t, TThreadMessageQueue *> gQueues;
} // namespace

bool PostThreadMessage(uint32_t threadId, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    auto it = gQueues.find(threadId);
    if (threadId == 0 || it == gQueues.end())
        return false;
    it->second->Post(TThreadMessage{msg, wParam, lParam});
    return true;
}

TThreadMessageQueue::~TThreadMessageQueue()
{
    Unregister();
}

bool TThreadMessageQueue::Register(uint32_t id)
{
    if (id == 0)
        return false;
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    auto it = gQueues.find(id);
    if (it != gQueues.end())
        return it->second == this;
    if (FId != 0)
        gQueues.erase(FId);
    gQueues[id] = this;
    FId = id;
    return true;
}

void TThreadMessageQueue::Unregister()
{
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    if (FId != 0) {
        gQueues.erase(FId);
        FId = 0;
    }
}

uint32_t TThreadMessageQueue::RegisteredId() const
{
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    return FId;
}

void TThreadMessageQueue::Post(const TThreadMessage &message)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FQueue.push_back(message);
    }
    FCond.notify_one();
}

bool TThreadMessageQueue::WaitMessage(TThreadMessage &out, uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(FMutex);
    auto ready = [this] { return FWake || !FQueue.empty(); };
    if (timeoutMs == INFINITE)
        FCond.wait(lock, ready);
    else
        FCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (FWake) {
        FWake = false;
        return false;
    }
    if (FQueue.empty())
        return false;
    out = FQueue.front();
    FQueue.pop_front();
    return true;
}

bool TThreadMessageQueue::PeekMessage(TThreadMessage &out)
{
    std::lock_guard<std::mutex> lock(FMutex);
    if (FQueue.empty())
        return false;
    out = FQueue.front();
    FQueue.pop_front();
    return true;
}

size_t TThreadMessageQueue::RemoveMessages(const std::function<bool(const TThreadMessage &)> &match)
{
    std::lock_guard<std::mutex> lock(FMutex);
    size_t removed = 0;
    for (auto it = FQueue.begin(); it != FQueue.end();) {
        if (match(*it)) {
            it = FQueue.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}

void TThreadMessageQueue::WakeUp()
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FWake = true;
    }
    FCond.notify_all();
}

size_t TThreadMessageQueue::Count() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FQueue.size();
}
