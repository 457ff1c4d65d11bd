#pragma once
// Messages posted to a thread: a FIFO per receiving thread, registered under a thread id
// (TThread::ThreadID()), waited on with a condition variable.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

struct TThreadMessage {
    uint32_t Message;
    uintptr_t WParam;
    intptr_t LParam;
};

// Appends the message to the queue registered under `threadId`; false when none is.
bool PostThreadMessage(uint32_t threadId, uint32_t msg, uintptr_t wParam, intptr_t lParam);

class TThreadMessageQueue {
public:
    TThreadMessageQueue() = default;
    TThreadMessageQueue(const TThreadMessageQueue &) = delete;
    TThreadMessageQueue &operator=(const TThreadMessageQueue &) = delete;
    ~TThreadMessageQueue();

    // Makes the queue the posting target for `id` (replacing a registration of this
    // queue under another id). Returns false when another queue holds that id.
    bool Register(uint32_t id);
    void Unregister();
    uint32_t RegisteredId() const;

    // Takes the oldest message. Waits up to `timeoutMs` (INFINITE = for ever); false on
    // time-out or when WakeUp() interrupted the wait.
    bool WaitMessage(TThreadMessage &out, uint32_t timeoutMs);
    // Takes the oldest message without waiting; false when the queue is empty.
    bool PeekMessage(TThreadMessage &out);
    // Removes every queued message for which `match` is true; returns how many.
    size_t RemoveMessages(const std::function<bool(const TThreadMessage &)> &match);
    // Ends the current wait (or, when nobody waits, the next one) with false.
    void WakeUp();
    size_t Count() const;

    // Appends directly (what PostThreadMessage does once it has found the queue).
    void Post(const TThreadMessage &message);

private:
    mutable std::mutex FMutex;
    std::condition_variable FCond;
    std::deque<TThreadMessage> FQueue;
    bool FWake = false;
    uint32_t FId = 0; // guarded by the registry's mutex
};
