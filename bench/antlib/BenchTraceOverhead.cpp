// The library's received-page path (pty -> decoder -> channel event callback) with the frame
// trace off (/0) and on (/1, written to a temporary file), in one run for comparison.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "PtyPeer.h"

namespace {

constexpr int kBatch = 64; // frames per iteration, written in one go

std::mutex gMutex;
std::condition_variable gDelivered;
uint64_t gCount = 0;
uint8_t gRow[16];

bool onEvent(uint8_t, uint8_t)
{
    {
        std::lock_guard lock(gMutex);
        ++gCount;
    }
    gDelivered.notify_one();
    return true;
}

std::vector<uint8_t> batch()
{
    std::vector<uint8_t> all;
    for (int i = 0; i < kBatch; ++i) {
        const uint8_t data[9] = {0, uint8_t(i % 2 ? 25 : 16), uint8_t(i), 0x40, 0x10, 0x88, 0x13, 0xFF, 0x34};
        const auto f = antwire::encodeMessage(0x4E, data, sizeof data);
        all.insert(all.end(), f.begin(), f.end());
    }
    return all;
}

void BM_ReceivedPages(benchmark::State &state)
{
    const bool traced = state.range(0) != 0;
    char path[] = "/tmp/fennick-bench-trace-XXXXXX";
    if (traced) {
        const int fd = ::mkstemp(path);
        if (fd < 0) {
            state.SkipWithError("no temporary file");
            return;
        }
        ::close(fd);
        ::setenv("FENNICK_ANT_TRACE", path, 1);
    } else {
        ::unsetenv("FENNICK_ANT_TRACE");
    }
    PtyPeer peer;
    if (!peer.open()) {
        state.SkipWithError("cannot open the pseudo-terminal stick");
        return;
    }
    ANT_AssignChannelEventFunction(0, onEvent, gRow);
    const auto frames = batch();
    for (auto _ : state) {
        uint64_t target;
        {
            std::lock_guard lock(gMutex);
            target = gCount + kBatch;
        }
        peer.writeRaw(frames);
        std::unique_lock lock(gMutex);
        gDelivered.wait(lock, [&] { return gCount >= target; });
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    ANT_AssignChannelEventFunction(0, nullptr, nullptr);
    ANT_Close();
    if (traced) {
        struct stat st {};
        ::stat(path, &st);
        state.counters["trace_bytes_per_page"] = double(st.st_size) / double(state.iterations() * kBatch);
        ::unsetenv("FENNICK_ANT_TRACE");
        ::unlink(path);
    }
}

} // namespace

BENCHMARK(BM_ReceivedPages)->ArgName("trace")->Arg(0)->Arg(1)->Iterations(2000);
