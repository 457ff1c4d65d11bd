#pragma once
// Messages posted to a thread: a FIFO per receiving thread, registered under a thread id
// (TThread::ThreadID()), waited on with a condition variable. The item type is the
// receiver's: each item type has its own set of registered queues.
#include "platform/Event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
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

    // Beyond `Limit` items (0: no limit) a post first drops the oldest item `Expendable`
    // accepts, or the oldest of all when none of the first few does, so that a sender
    // faster than the receiver cannot grow the queue without end.
    void SetLimit(size_t Limit, std::function<bool(const T &)> Expendable = {});
    // Items dropped for the limit so far.
    uint64_t Dropped() const;

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
    size_t FLimit = 0;
    std::function<bool(const T &)> FExpendable;
    uint64_t FDropped = 0;
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
        if (FLimit != 0 && FQueue.size() >= FLimit) {
            // Only the head is searched: a post stays cheap however the queue is made up.
            constexpr size_t kSearched = 64;
            size_t victim = 0;
            const size_t searched = FExpendable ? std::min(kSearched, FQueue.size()) : 0;
            for (size_t i = 0; i < searched; ++i)
                if (FExpendable(static_cast<const T &>(FQueue[i]))) {
                    victim = i;
                    break;
                }
            FQueue.erase(FQueue.begin() + long(victim));
            ++FDropped;
        }
        FQueue.push_back(Item);
    }
    FCond.notify_one();
}

template <class T>
void TPostedQueue<T>::SetLimit(size_t Limit, std::function<bool(const T &)> Expendable)
{
    std::lock_guard<std::mutex> lock(FMutex);
    FLimit = Limit;
    FExpendable = std::move(Expendable);
}

template <class T>
uint64_t TPostedQueue<T>::Dropped() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FDropped;
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
