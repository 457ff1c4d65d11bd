// Delay from a frame written on the stick's side of a pseudo-terminal to the channel event
// callback running on the library's reader thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "PtyPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

// The waiting side blocks rather than spins: on a small machine a spinning waiter would take
// the core the reader thread needs. The time is taken inside the callback, so the waiter's
// own wake-up is not part of the figure.
std::mutex gMutex;
std::condition_variable gDeliveredCv;
uint64_t gDelivered = 0;
Clock::time_point gDeliveredAt;
uint8_t gRow[16];

bool onEvent(uint8_t, uint8_t)
{
    const auto now = Clock::now();
    {
        std::lock_guard lock(gMutex);
        gDeliveredAt = now;
        ++gDelivered;
    }
    gDeliveredCv.notify_one();
    return true;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

void BM_PtyToCallback(benchmark::State &state)
{
    PtyPeer peer;
    if (!peer.open()) {
        state.SkipWithError("cannot open the pseudo-terminal stick");
        return;
    }
    ANT_AssignChannelEventFunction(0, onEvent, gRow);
    const uint8_t data[9] = {0, 16, 25, 0x40, 0x10, 0x88, 0x13, 0xFF, 0x34};
    const auto frame = antwire::encodeMessage(0x4E, data, sizeof data);
    std::vector<double> micros;
    micros.reserve(20000);
    for (auto _ : state) {
        uint64_t before;
        {
            std::lock_guard lock(gMutex);
            before = gDelivered;
        }
        const auto start = Clock::now();
        peer.writeRaw(frame);
        Clock::time_point at;
        {
            std::unique_lock lock(gMutex);
            gDeliveredCv.wait(lock, [&] { return gDelivered != before; });
            at = gDeliveredAt;
        }
        const double us = std::chrono::duration<double, std::micro>(at - start).count();
        micros.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    ANT_AssignChannelEventFunction(0, nullptr, nullptr);
    ANT_Close();
    const double median = percentile(micros, 0.5), p99 = percentile(micros, 0.99);
    state.counters["median_us"] = median;
    state.counters["p99_us"] = p99;
    std::printf("pty -> callback over %zu frames: median %.1f us, p99 %.1f us\n", micros.size(),
                median, p99);
}

} // namespace

BENCHMARK(BM_PtyToCallback)->UseManualTime()->Iterations(5000);
