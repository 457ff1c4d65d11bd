// The connection over the real library and its in-process virtual stick.
//  - ConnectChannel until the channel is connected, at the sequencer's pacing (Delay, ms).
//  - The page path: from the library calling the channel with a broadcast the stick sent, to
//    the page decoded into the record on the user-interface thread; through the message
//    thread, and through a reader that polls the same queue every 1 ms, in the same run.
// Reports the median and the 99th percentile in microseconds.
#include "ant/AntComControl.h"
#include "ant/ThreadChannelMsg.h"
#include "ant/channels/AntChannels.h"
#include "platform/ThreadMessages.h"
#include "platform/UiThread.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint8_t EVENT_RX_BROADCAST = 0x9A;
constexpr uint32_t PollingQueueId = 0x7FFF0002u;

QCoreApplication &App()
{
    static int argc = 1;
    static char name[] = "bench";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Notes when the library handed it a broadcast, before any of the channel's own work.
class TTimedChannel : public TAntChannel {
public:
    using TAntChannel::TAntChannel;
    bool ChannelEventFunc(uint8_t ucANTChannel, uint8_t ucEvent) override
    {
        if (ucEvent == EVENT_RX_BROADCAST)
            FHeardNs.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
        return TAntChannel::ChannelEventFunc(ucANTChannel, ucEvent);
    }
    int64_t HeardNs() const { return FHeardNs.load(std::memory_order_acquire); }

private:
    std::atomic<int64_t> FHeardNs{0};
};

bool PumpUntil(const std::function<bool()> &Done, int LimitMs)
{
    const auto start = Clock::now();
    while (!Done()) {
        if (Clock::now() - start > std::chrono::milliseconds(LimitMs))
            return false;
        PumpMessages(1);
    }
    return true;
}

// The library loaded, the virtual stick open and one trainer channel not yet connected.
struct TSession {
    std::unique_ptr<TAntComControl> Ctl = std::make_unique<TAntComControl>(nullptr);
    TAntDevice *Device = nullptr;
    TTimedChannel *Channel = nullptr;

    explicit TSession(int32_t Delay)
    {
        ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
        ::unsetenv("FENNICK_ANT_SERIAL");
        ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
        Ctl->SetDelay(10);
        Ctl->LoadDll();
        Ctl->ScanDevices(57600, 1, Ctl->AntDeviceList());
        for (int i = 0; i < Ctl->AntDeviceList()->Count(); ++i)
            if (Ctl->AntDeviceList()->Items(i)->DeviceDescription() == "Fennick virtual ANT stick")
                Device = Ctl->AntDeviceList()->Items(i);
        if (Device == nullptr || !Ctl->ConnectDevice(Device))
            return;
        Channel = new TTimedChannel(Ctl->AntChannelList()->AntChannelItems());
        Channel->SetAntChannelProfile(acpAntFE);
        Channel->SetChannelNumber(0);
        Channel->SetDeviceNumber(4242);
        Channel->SetDelay(Delay);
    }
    ~TSession()
    {
        if (Device != nullptr)
            Ctl->ReleaseDevice(Device);
        if (Ctl->DllLoaded())
            Ctl->UnloadDll();
    }
    bool Ready() const { return Channel != nullptr; }
    bool Connect()
    {
        Ctl->ConnectChannel(Device, Channel);
        return PumpUntil([this] { return Channel->Connected(); }, 10000);
    }
};

void Percentiles(benchmark::State &state, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    if (values.empty())
        return;
    state.counters["median_us"] = values[values.size() / 2];
    state.counters["p99_us"] = values[std::min(values.size() - 1, values.size() * 99 / 100)];
    state.counters["max_us"] = values.back();
}

void BM_ConnectChannelToConnected(benchmark::State &state)
{
    App();
    std::vector<double> times;
    for (auto _ : state) {
        TSession session(int32_t(state.range(0)));
        if (!session.Ready()) {
            state.SkipWithError("no virtual stick");
            return;
        }
        const auto start = Clock::now();
        if (!session.Connect()) {
            state.SkipWithError("not connected");
            return;
        }
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        times.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    Percentiles(state, times);
}

// The read loop the message thread replaces: peek, hand over to the UI thread, else sleep 1 ms.
class TPollingReader {
public:
    explicit TPollingReader(TAntComControl *Ctl) : FCtl(Ctl)
    {
        FQueue.Register(PollingQueueId);
        FThread = std::thread([this] {
            while (!FStop.load()) {
                TChannelMessage m;
                if (FQueue.PeekMessage(m))
                    RunOnUiThread([this, &m] { FCtl->DoChannelMessage(FCtl, m.Channel, m.Code, m.Row); });
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            FDone.store(true);
        });
    }
    ~TPollingReader()
    {
        FStop.store(true);
        // The reader may be inside a hand-off that only this thread can finish.
        while (!FDone.load())
            PumpMessages(1);
        FThread.join();
    }

private:
    TAntComControl *FCtl;
    TPostedQueue<TChannelMessage> FQueue;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FDone{false};
    std::thread FThread;
};

// Pages: the delay from the library's call to the decoded record, one sample per broadcast.
void MeasurePages(benchmark::State &state, TSession &Session)
{
    std::vector<double> delays;
    int64_t decodedNs = 0;
    Session.Ctl->OnChannelMessage = [&](TObject *, TAntChannel *, uint8_t ucEvent) {
        if (ucEvent == EVENT_RX_BROADCAST)
            decodedNs = Clock::now().time_since_epoch().count();
    };
    for (auto _ : state) {
        decodedNs = 0;
        if (!PumpUntil([&] { return decodedNs != 0; }, 2000)) {
            state.SkipWithError("no page decoded");
            break;
        }
        const double us = double(decodedNs - Session.Channel->HeardNs()) / 1000.0;
        delays.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    Session.Ctl->OnChannelMessage = nullptr;
    Percentiles(state, delays);
}

void BM_PagePathMessageThread(benchmark::State &state)
{
    App();
    TSession session(10);
    if (!session.Ready() || !session.Connect()) {
        state.SkipWithError("not connected");
        return;
    }
    MeasurePages(state, session);
}

void BM_PagePathPollingLoop1ms(benchmark::State &state)
{
    App();
    TSession session(10);
    if (!session.Ready() || !session.Connect()) {
        state.SkipWithError("not connected");
        return;
    }
    {
        TPollingReader reader(session.Ctl.get());
        session.Channel->SetEventThreadId(PollingQueueId);
        MeasurePages(state, session);
        session.Channel->SetEventThreadId(session.Ctl->MessageThread()->ThreadID());
    }
}

} // namespace

BENCHMARK(BM_ConnectChannelToConnected)->Arg(100)->Arg(10)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
// One broadcast every 250 ms: 80 pages, 20 s each.
BENCHMARK(BM_PagePathMessageThread)->UseManualTime()->Iterations(80)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PagePathPollingLoop1ms)->UseManualTime()->Iterations(80)->Unit(benchmark::kMicrosecond);
