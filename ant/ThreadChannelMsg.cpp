#include "ant/ThreadChannelMsg.h"

#include "platform/DebugOutput.h"

#include <exception>

bool PostChannelMessage(uint32_t ThreadId, const TChannelMessage &Message)
{
    return TPostedQueue<TChannelMessage>::PostTo(ThreadId, Message);
}

TThreadChannelMsg::TThreadChannelMsg(TObject *Control) : TThread(true), FControl(Control)
{
    SetName("fennick-ant-msg");
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
        std::lock_guard<std::mutex> lock(FMutex);
        FInFlight = nullptr;
        FInFlightDropped = false;
    }
    FRunning.store(false, std::memory_order_release);
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
