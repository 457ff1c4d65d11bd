// Post-to-handler delay of the channel message thread: a message posted while the
// user-interface thread sits in its event loop, until the handler runs there. Measured
// against a queue polled every 1 ms (the classic read loop) in the same run, with posts
// landing at random phases of the poll. Reports the median and the 99th percentile.
#include "ant/ThreadChannelMsg.h"

#include "ant/channels/AntChannelList.h"
#include "platform/ThreadMessages.h"
#include "platform/UiThread.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

QCoreApplication &App()
{
    static int argc = 1;
    static char name[] = "bench";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

struct TProbe {
    Clock::time_point Posted;
    Clock::time_point Handled;
    bool Done = false;
};

// The probe in flight: one at a time, set and read on this (the user-interface) thread.
TProbe *gProbe = nullptr;

void Handled()
{
    gProbe->Handled = Clock::now();
    gProbe->Done = true;
}

TAntChannel *PostingChannel()
{
    static TAntChannelList list(nullptr);
    static TAntChannel *const channel = list.Add();
    return channel;
}

// The read loop the message thread replaces: peek, hand over, else sleep 1 ms.
class TPollingReader {
public:
    explicit TPollingReader(uint32_t id)
    {
        FQueue.Register(id);
        FThread = std::thread([this] {
            while (!FStop.load()) {
                TChannelMessage m;
                if (FQueue.PeekMessage(m))
                    RunOnUiThread(Handled);
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~TPollingReader()
    {
        // Every probe has been handled by now, so the worker is not in a hand-off.
        FStop.store(true);
        FThread.join();
    }

private:
    TPostedQueue<TChannelMessage> FQueue;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

void Measure(benchmark::State &state, uint32_t threadId)
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> pause(0, 3000);
    std::vector<double> delays;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::microseconds(pause(rng)));
        TProbe probe;
        gProbe = &probe;
        probe.Posted = Clock::now();
        PostChannelMessage(threadId, TChannelMessage{PostingChannel(), MsgChannelEvent, 0, {}});
        while (!probe.Done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double us = std::chrono::duration<double, std::micro>(probe.Handled - probe.Posted).count();
        delays.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    std::sort(delays.begin(), delays.end());
    if (!delays.empty()) {
        state.counters["median_us"] = delays[delays.size() / 2];
        state.counters["p99_us"] = delays[std::min(delays.size() - 1, delays.size() * 99 / 100)];
        state.counters["max_us"] = delays.back();
    }
}

void BM_MessageThreadPostToHandler(benchmark::State &state)
{
    App();
    TThreadChannelMsg thread(nullptr);
    thread.OnChannelEvent = [](TAntChannel *, uint8_t, const TAntRxRow &) { Handled(); };
    thread.Start();
    Measure(state, thread.ThreadID());
}

void BM_PollingLoop1msPostToHandler(benchmark::State &state)
{
    App();
    TPollingReader reader(0x7FFF0001u);
    Measure(state, 0x7FFF0001u);
}

} // namespace

BENCHMARK(BM_MessageThreadPostToHandler)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PollingLoop1msPostToHandler)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
