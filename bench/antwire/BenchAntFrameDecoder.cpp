// Decoder throughput on a stream of broadcasts, and on one with garbage mixed in.
#include <benchmark/benchmark.h>

#include "antwire/AntMessage.h"

namespace {

std::vector<uint8_t> broadcastStream(size_t frames, bool withGarbage)
{
    std::vector<uint8_t> stream;
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t data[9] = {0, 16, 25, uint8_t(i), 0x10, 0x88, 0x13, 0xFF, 0x34};
        const auto f = antwire::encodeMessage(0x4E, data, sizeof data);
        stream.insert(stream.end(), f.begin(), f.end());
        if (withGarbage && i % 4 == 0) {
            const uint8_t junk[] = {0x00, 0xA4, 0x30, 0x13, 0xA4, 0x02, 0x4E};
            stream.insert(stream.end(), std::begin(junk), std::end(junk));
        }
    }
    return stream;
}

void decode(benchmark::State &state, bool withGarbage)
{
    const auto stream = broadcastStream(4096, withGarbage);
    uint64_t frames = 0;
    antwire::AntMessageDecoder decoder([&](const antwire::AntMessage &m) {
        frames += m.data.size();
    });
    for (auto _ : state) {
        decoder.feed(stream.data(), stream.size());
        benchmark::DoNotOptimize(frames);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
    state.counters["frames/s"] =
        benchmark::Counter(double(decoder.framesDecoded()), benchmark::Counter::kIsRate);
}

void BM_DecodeBroadcasts(benchmark::State &state) { decode(state, false); }
void BM_DecodeWithGarbage(benchmark::State &state) { decode(state, true); }

} // namespace

BENCHMARK(BM_DecodeBroadcasts);
BENCHMARK(BM_DecodeWithGarbage);
