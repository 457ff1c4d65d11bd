#include "ant/ThreadChannelMsg.h"

#include "platform/DebugOutput.h"

#include <algorithm>
#include <exception>

namespace {
// Queued behind a purge. A message of the purged channel taken before this marker was
// posted before the purge ran (it was already out of the queue when the purge swept it).
constexpr uint32_t MsgChannelPurgeFence = 0x117F;

bool IsChannelMessage(uint32_t Message)
{
    return Message == MsgChannelEvent || Message == MsgChannelResponse;
}
} // namespace

TThreadChannelMsg::TThreadChannelMsg(TObject *Control) : TThread(true), FControl(Control)
{
    FQueue.Register(ThreadID());
}

TThreadChannelMsg::~TThreadChannelMsg()
{
    FHandOff.Cancel();
    FQueue.Unregister();
    TerminateAndWait();
}

void TThreadChannelMsg::Start()
{
    FStartReadMsgEvent.SetEvent();
    TThread::Start();
}

void TThreadChannelMsg::TerminatedSet()
{
    FQueue.WakeUp();
    FStartReadMsgEvent.SetEvent();
}

void TThreadChannelMsg::PurgeChannel(void *Channel)
{
    if (!Channel)
        return;
    std::lock_guard<std::mutex> lock(FMutex);
    const uintptr_t key = reinterpret_cast<uintptr_t>(Channel);
    FQueue.RemoveMessages(
        [key](const TThreadMessage &m) { return IsChannelMessage(m.Message) && m.WParam == key; });
    FPendingFences.push_back(Channel);
    FQueue.Post(TThreadMessage{MsgChannelPurgeFence, key, 0});
    if (FInFlight == Channel)
        FInFlightDropped = true;
}

void TThreadChannelMsg::Execute()
{
    FReadyEvent.SetEvent();
    FRunning.store(true, std::memory_order_release);
    while (!Terminated()) {
        if (FStartReadMsgEvent.WaitFor(INFINITE) != wrSignaled)
            continue;
        TThreadMessage msg{};
        const bool got = FQueue.WaitMessage(msg, INFINITE);
        FWakeUps.fetch_add(1, std::memory_order_relaxed);
        if (!got || Terminated())
            continue;
        void *channel = reinterpret_cast<void *>(msg.WParam);
        {
            std::lock_guard<std::mutex> lock(FMutex);
            if (msg.Message == MsgChannelPurgeFence) {
                auto it = std::find(FPendingFences.begin(), FPendingFences.end(), channel);
                if (it != FPendingFences.end())
                    FPendingFences.erase(it);
                continue;
            }
            if (!IsChannelMessage(msg.Message))
                continue;
            if (std::find(FPendingFences.begin(), FPendingFences.end(), channel) != FPendingFences.end())
                continue;
            FInFlight = channel;
            FInFlightDropped = false;
        }
        FHandOff.Run([this, msg] { Deliver(msg); });
        std::lock_guard<std::mutex> lock(FMutex);
        FInFlight = nullptr;
        FInFlightDropped = false;
    }
    FRunning.store(false, std::memory_order_release);
}

void TThreadChannelMsg::Deliver(const TThreadMessage &Msg)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FInFlightDropped)
            return;
    }
    if (Terminated())
        return;
    TChannelMessageHandler handler = Msg.Message == MsgChannelEvent ? OnChannelEvent : OnChannelResponse;
    if (!handler)
        return;
    try {
        handler(reinterpret_cast<void *>(Msg.WParam), static_cast<uint8_t>(Msg.LParam & 0xFF));
    } catch (const std::exception &e) {
        OutputDebugString(std::string("Channel message handling failed: ") + e.what());
    } catch (...) {
        OutputDebugString("Channel message handling failed");
    }
    // Nothing after the handler: it may have freed this thread object.
}
