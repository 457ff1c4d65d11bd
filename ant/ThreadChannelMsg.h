#pragma once
// The controller's message thread: takes the channel events and library responses that the
// channels post from the ANT library's thread and runs their handling on the user-interface
// thread, one at a time, in posting order, waiting for each before taking the next.
//
// Posting: PostChannelMessage(ThreadID(), item) — one item per event or response, carrying
//          its channel, its code and (for an event) the copy of the receive row taken when
//          it was heard, so the row cannot fall out of step with its event. Items posted
//          before Start() wait in the queue; items of another kind are dropped.
// Handling: OnChannelEvent (channel, event code, row) / OnChannelResponse (channel, response
//          message id), set by the controller before Start() and called on the
//          user-interface thread. An exception they raise is reported on the debugger
//          output and dropped; the thread keeps running.
// Deleting a channel: call PurgeChannel(channel) on the user-interface thread after the
//          channel can no longer post (its thread ids cleared) and before freeing it. None
//          of its items is delivered afterwards, including one already taken from the
//          queue and waiting to be handed over.
// Flood: the queue holds at most QueueLimit items. A stick that sends faster than the
//          handlers take its messages loses the oldest received rows (data), never an
//          answer or a channel event while rows are at hand; OnRowsDropped (user-interface
//          thread, at most once a second) says how many.
// Idle: the thread sleeps on its queue; nothing wakes it until an item arrives.
#include "ant/profiles/AntTypes.h"
#include "framework/Persistent.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/ThreadMessages.h"
#include "platform/UiThread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

class TAntChannel;

enum TChannelMessageKind : uint32_t {
    MsgChannelEvent = 4474,    // 0x117A: (channel, event code, row)
    MsgChannelResponse = 4475, // 0x117B: (channel, response message id)
};

struct TChannelMessage {
    TAntChannel *Channel = nullptr;
    TChannelMessageKind Kind = MsgChannelEvent;
    uint8_t Code = 0;
    TAntRxRow Row{}; // the event's receive row; unused for a response
};

// Appends the item to the queue of the message thread with that id; false when none has it.
bool PostChannelMessage(uint32_t ThreadId, const TChannelMessage &Message);

class TThreadChannelMsg : public TThread {
public:
    using TChannelEventHandler = std::function<void(TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)>;
    using TChannelResponseHandler = std::function<void(TAntChannel *Channel, uint8_t ucResponseMsgID)>;
    // Dropped: since the last report; Total: since the thread was made.
    using TRowsDroppedHandler = std::function<void(uint64_t Dropped, uint64_t Total)>;

    // Some seconds of a burst transfer at full speed, far more than channels at their
    // periods fill while the user-interface thread is briefly busy.
    static constexpr size_t QueueLimit = 4096;

    // Control is the controller the thread works for (kept, not owned). The thread is
    // created suspended; its queue accepts posts from now on.
    explicit TThreadChannelMsg(TObject *Control);
    // Stops the loop (also while an item is being handed over, even from inside a
    // handler), waits for the end and releases the queue; items still queued are dropped.
    ~TThreadChannelMsg() override;

    // Releases and starts the read loop; a second call does no harm.
    void Start();
    // True while the read loop runs.
    bool Running() const { return FRunning.load(std::memory_order_acquire); }
    TObject *Control() const { return FControl; }

    // User-interface thread; see above.
    void PurgeChannel(TAntChannel *Channel);

    TChannelEventHandler OnChannelEvent;
    TChannelResponseHandler OnChannelResponse;
    TRowsDroppedHandler OnRowsDropped;

    // Signalled when the read loop starts (manual reset, named "FReadyEvent").
    TEvent &ReadyEvent() { return FReadyEvent; }
    // Set by Start() and never reset (manual reset, named "FStartReadMsgEvent").
    TEvent &StartReadMsgEvent() { return FStartReadMsgEvent; }
    // Times the loop woke up; stays put while the thread is idle.
    uint64_t WakeUps() const { return FWakeUps.load(std::memory_order_relaxed); }
    // Items waiting in the queue.
    size_t QueuedCount() const { return FQueue.Count(); }
    // Received rows dropped for the limit so far.
    uint64_t DroppedCount() const { return FQueue.Dropped(); }

protected:
    void Execute() override;
    void TerminatedSet() override;

private:
    void Deliver(const TChannelMessage &Msg);
    void ReportDrops();

    TObject *FControl;
    TEvent FReadyEvent{true, false, "FReadyEvent"};
    TEvent FStartReadMsgEvent{true, false, "FStartReadMsgEvent"};
    std::atomic<bool> FRunning{false};
    std::atomic<uint64_t> FWakeUps{0};
    TPostedQueue<TChannelMessage> FQueue;
    TUiHandOff FHandOff;
    // Message thread only.
    uint64_t FDropsReported = 0;
    std::chrono::steady_clock::time_point FLastDropReport{};

    // The item taken from the queue and not yet handed over: a purge that finds its
    // channel here drops it. Set while the queue is still locked, so a purge's sweep
    // sees every item of the channel either queued or here.
    std::mutex FMutex;
    TAntChannel *FInFlight = nullptr;
    bool FInFlightDropped = false;
};
