#pragma once
// The controller's message thread: takes the channel events and library responses that the
// channels post from the ANT library's thread and runs their handling on the user-interface
// thread, one at a time, in posting order, waiting for each before taking the next.
//
// Posting: PostThreadMessage(ThreadID(), MsgChannelEvent or MsgChannelResponse,
//          reinterpret_cast<uintptr_t>(channel), code) — the code in the low 8 bits.
//          Messages posted before Start() wait in the queue; other message numbers are
//          dropped.
// Handling: OnChannelEvent / OnChannelResponse (channel, code), set by the controller before
//          Start() and called on the user-interface thread. An exception they raise is
//          reported on the debugger output and dropped; the thread keeps running.
// Deleting a channel: call PurgeChannel(channel) on the user-interface thread after the
//          channel can no longer post (its thread ids cleared) and before freeing it. None
//          of its messages is delivered afterwards, including one already taken from the
//          queue and waiting to be handed over.
// Idle: the thread sleeps on its queue; nothing wakes it until a message arrives.
#include "framework/Persistent.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/ThreadMessages.h"
#include "platform/UiThread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

constexpr uint32_t MsgChannelEvent = 4474;    // 0x117A: (channel, event code)
constexpr uint32_t MsgChannelResponse = 4475; // 0x117B: (channel, response message id)

class TThreadChannelMsg : public TThread {
public:
    using TChannelMessageHandler = std::function<void(void *Channel, uint8_t Code)>;

    // Control is the controller the thread works for (kept, not owned). The thread is
    // created suspended; its queue accepts posts from now on.
    explicit TThreadChannelMsg(TObject *Control);
    // Stops the loop (also while a message is being handed over, even from inside a
    // handler), waits for the end and releases the queue; messages still queued are dropped.
    ~TThreadChannelMsg() override;

    // Releases and starts the read loop; a second call does no harm.
    void Start();
    // True while the read loop runs.
    bool Running() const { return FRunning.load(std::memory_order_acquire); }
    TObject *Control() const { return FControl; }

    // User-interface thread; see above.
    void PurgeChannel(void *Channel);

    TChannelMessageHandler OnChannelEvent;
    TChannelMessageHandler OnChannelResponse;

    // Signalled when the read loop starts (manual reset, named "FReadyEvent").
    TEvent &ReadyEvent() { return FReadyEvent; }
    // Set by Start() and never reset (manual reset, named "FStartReadMsgEvent").
    TEvent &StartReadMsgEvent() { return FStartReadMsgEvent; }
    // Times the loop woke up; stays put while the thread is idle.
    uint64_t WakeUps() const { return FWakeUps.load(std::memory_order_relaxed); }
    // Messages waiting in the queue.
    size_t QueuedCount() const { return FQueue.Count(); }

protected:
    void Execute() override;
    void TerminatedSet() override;

private:
    void Deliver(const TThreadMessage &Msg);

    TObject *FControl;
    TEvent FReadyEvent{true, false, "FReadyEvent"};
    TEvent FStartReadMsgEvent{true, false, "FStartReadMsgEvent"};
    std::atomic<bool> FRunning{false};
    std::atomic<uint64_t> FWakeUps{0};
    TThreadMessageQueue FQueue;
    TUiHandOff FHandOff;

    // Guards the bookkeeping that keeps a purged channel's messages from being delivered.
    std::mutex FMutex;
    void *FInFlight = nullptr;         // channel of the message being handed over
    bool FInFlightDropped = false;     // its channel was purged meanwhile
    std::vector<void *> FPendingFences; // purges whose fence the loop has not reached yet
};
