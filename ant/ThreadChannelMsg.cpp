#include "ant/ThreadChannelMsg.h"

#include "ant/AntCodes.h"
#include "platform/DebugOutput.h"

#include <exception>

namespace {

// Broadcast, acknowledged, burst and their extended forms.
bool IsReceivedRow(const TChannelMessage &m)
{
    return m.Kind == MsgChannelEvent && m.Code >= EVENT_RX_BROADCAST && m.Code <= EVENT_RX_EXT_BURST_PACKET;
}

} // namespace

bool PostChannelMessage(uint32_t ThreadId, const TChannelMessage &Message)
{
    return TPostedQueue<TChannelMessage>::PostTo(ThreadId, Message);
}

TThreadChannelMsg::TThreadChannelMsg(TObject *Control) : TThread(true), FControl(Control)
{
    SetName("fennick-ant-msg");
    FQueue.Register(ThreadID());
    FQueue.SetLimit(QueueLimit, [](const TChannelMessage &m) { return IsReceivedRow(m); });
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

void TThreadChannelMsg::PurgeChannel(TAntChannel *Channel)
{
    if (!Channel)
        return;
    FQueue.RemoveMessages([Channel](const TChannelMessage &m) { return m.Channel == Channel; });
    std::lock_guard<std::mutex> lock(FMutex);
    if (FInFlight == Channel)
        FInFlightDropped = true;
}

void TThreadChannelMsg::Execute()
{
    FReadyEvent.SetEvent();
    FRunning.store(true, std::memory_order_release);
    const auto markInFlight = [this](const TChannelMessage &m) {
        std::lock_guard<std::mutex> lock(FMutex);
        FInFlight = m.Channel;
        FInFlightDropped = false;
    };
    while (!Terminated()) {
        if (FStartReadMsgEvent.WaitFor(INFINITE) != wrSignaled)
            continue;
        TChannelMessage msg;
        const bool got = FQueue.WaitMessage(msg, INFINITE, markInFlight);
        FWakeUps.fetch_add(1, std::memory_order_relaxed);
        if (got && !Terminated() && (msg.Kind == MsgChannelEvent || msg.Kind == MsgChannelResponse))
            FHandOff.Run([this, msg] { Deliver(msg); });
        {
            std::lock_guard<std::mutex> lock(FMutex);
            FInFlight = nullptr;
            FInFlightDropped = false;
        }
        ReportDrops();
    }
    FRunning.store(false, std::memory_order_release);
}

void TThreadChannelMsg::ReportDrops()
{
    const uint64_t total = FQueue.Dropped();
    if (total == FDropsReported || Terminated())
        return;
    // The first loss is told at once; later ones gather for a second, so that the report of
    // a flood does not become a flood itself.
    const auto now = std::chrono::steady_clock::now();
    if (FDropsReported != 0 && now - FLastDropReport < std::chrono::seconds(1))
        return;
    const uint64_t fresh = total - FDropsReported;
    FDropsReported = total;
    FLastDropReport = now;
    FHandOff.Run([this, fresh, total] {
        if (Terminated())
            return;
        try {
            if (TRowsDroppedHandler handler = OnRowsDropped)
                handler(fresh, total);
        } catch (...) {
            OutputDebugString("Reporting dropped rows failed");
        }
    });
}

void TThreadChannelMsg::Deliver(const TChannelMessage &Msg)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FInFlightDropped)
            return;
    }
    if (Terminated())
        return;
    try {
        if (Msg.Kind == MsgChannelEvent) {
            if (TChannelEventHandler handler = OnChannelEvent)
                handler(Msg.Channel, Msg.Code, Msg.Row);
        } else if (TChannelResponseHandler handler = OnChannelResponse) {
            handler(Msg.Channel, Msg.Code);
        }
    } catch (const std::exception &e) {
        OutputDebugString(std::string("Channel message handling failed: ") + e.what());
    } catch (...) {
        OutputDebugString("Channel message handling failed");
    }
    // Nothing after the handler: it may have freed this thread object.
}
