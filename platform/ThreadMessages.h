#pragma once
// Messages posted to a thread: a FIFO per receiving thread, registered under a thread id
// (TThread::ThreadID()), waited on with a condition variable. The item type is the
// receiver's: each item type has its own set of registered queues.
#include "platform/Event.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <unordered_map>

template <class T>
class TPostedQueue {
public:
    TPostedQueue() = default;
    TPostedQueue(const TPostedQueue &) = delete;
    TPostedQueue &operator=(const TPostedQueue &) = delete;
    ~TPostedQueue() { Unregister(); }

    // Appends the item to the queue registered under `id`; false when none is.
    static bool PostTo(uint32_t id, const T &Item);

    // Makes the queue the posting target for `id` (replacing a registration of this
    // queue under another id). Returns false when another queue holds that id.
    bool Register(uint32_t id);
    void Unregister();
    uint32_t RegisteredId() const;

    // Takes the oldest item. Waits up to `timeoutMs` (INFINITE = for ever); false on
    // time-out or when WakeUp() interrupted the wait. `Taken` sees the item before the
    // queue is unlocked, so a RemoveMessages() sweep finds it either queued or taken.
    template <class TTaken>
    bool WaitMessage(T &out, uint32_t timeoutMs, TTaken &&Taken);
    bool WaitMessage(T &out, uint32_t timeoutMs)
    {
        return WaitMessage(out, timeoutMs, [](const T &) {});
    }
    // Takes the oldest item without waiting; false when the queue is empty.
    bool PeekMessage(T &out);
    // Removes every queued item for which `match` is true; returns how many.
    template <class TMatch>
    size_t RemoveMessages(TMatch &&match);
    // Ends the current wait (or, when nobody waits, the next one) with false.
    void WakeUp();
    size_t Count() const;

    // Appends directly (what PostTo does once it has found the queue).
    void Post(const T &Item);

private:
    // Posting looks the queue up and appends under this mutex, so a queue cannot be
    // destroyed between the two.
    struct TRegistry {
        std::mutex Mutex;
        std::unordered_map<uint32_t, TPostedQueue *> Queues;
    };
    static TRegistry &Registry()
    {
        static TRegistry registry;
        return registry;
    }

    mutable std::mutex FMutex;
    std::condition_variable FCond;
    std::deque<T> FQueue;
    bool FWake = false;
    uint32_t FId = 0; // guarded by the registry's mutex
};

// The general-purpose message of PostThreadMessage.
struct TThreadMessage {
    uint32_t Message;
    uintptr_t WParam;
    intptr_t LParam;
};

using TThreadMessageQueue = TPostedQueue<TThreadMessage>;

// Appends the message to the queue registered under `threadId`; false when none is.
bool PostThreadMessage(uint32_t threadId, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// ---- implementation ------------------------------------------------------------------------

template <class T>
bool TPostedQueue<T>::PostTo(uint32_t id, const T &Item)
{
    TRegistry &registry = Registry();
    std::lock_guard<std::mutex> lock(registry.Mutex);
    auto it = registry.Queues.find(id);
    if (id == 0 || it == registry.Queues.end())
        return false;
    it->second->Post(Item);
    return true;
}

template <class T>
bool TPostedQueue<T>::Register(uint32_t id)
{
    if (id == 0)
        return false;
    TRegistry &registry = Registry();
    std::lock_guard<std::mutex> lock(registry.Mutex);
    auto it = registry.Queues.find(id);
    if (it != registry.Queues.end())
        return it->second == this;
    if (FId != 0)
        registry.Queues.erase(FId);
    registry.Queues[id] = this;
    FId = id;
    return true;
}

template <class T>
void TPostedQueue<T>::Unregister()
{
    TRegistry &registry = Registry();
    std::lock_guard<std::mutex> lock(registry.Mutex);
    if (FId != 0) {
        registry.Queues.erase(FId);
        FId = 0;
    }
}

template <class T>
uint32_t TPostedQueue<T>::RegisteredId() const
{
    std::lock_guard<std::mutex> lock(Registry().Mutex);
    return FId;
}

template <class T>
void TPostedQueue<T>::Post(const T &Item)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FQueue.push_back(Item);
    }
    FCond.notify_one();
}

template <class T>
template <class TTaken>
bool TPostedQueue<T>::WaitMessage(T &out, uint32_t timeoutMs, TTaken &&Taken)
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
    Taken(static_cast<const T &>(out));
    return true;
}

template <class T>
bool TPostedQueue<T>::PeekMessage(T &out)
{
    std::lock_guard<std::mutex> lock(FMutex);
    if (FQueue.empty())
        return false;
    out = FQueue.front();
    FQueue.pop_front();
    return true;
}

template <class T>
template <class TMatch>
size_t TPostedQueue<T>::RemoveMessages(TMatch &&match)
{
    std::lock_guard<std::mutex> lock(FMutex);
    size_t removed = 0;
    for (auto it = FQueue.begin(); it != FQueue.end();) {
        if (match(static_cast<const T &>(*it))) {
            it = FQueue.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}

template <class T>
void TPostedQueue<T>::WakeUp()
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FWake = true;
    }
    FCond.notify_all();
}

template <class T>
size_t TPostedQueue<T>::Count() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FQueue.size();
}
