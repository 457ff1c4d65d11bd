#include "history/HistorySamples.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

constexpr size_t SampleBytes = 16;

void PutDouble(double Value, char *Out)
{
    uint64_t bits = std::bit_cast<uint64_t>(Value);
    for (int i = 0; i < 8; ++i, bits >>= 8)
        Out[i] = char(bits & 0xFF);
}

double GetDouble(const char *In)
{
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | uint8_t(In[i]);
    return std::bit_cast<double>(bits);
}

} // namespace

std::string EncodeHistorySamples(const std::vector<THistorySample> &Samples)
{
    std::string bytes(Samples.size() * SampleBytes, '\0');
    char *out = bytes.data();
    for (const THistorySample &sample : Samples) {
        PutDouble(sample.Seconds, out);
        PutDouble(sample.SpeedKmh, out + 8);
        out += SampleBytes;
    }
    return bytes;
}

std::vector<THistorySample> DecodeHistorySamples(const char *Bytes, size_t Size)
{
    std::vector<THistorySample> samples(Size / SampleBytes);
    for (THistorySample &sample : samples) {
        sample.Seconds = GetDouble(Bytes);
        sample.SpeedKmh = GetDouble(Bytes + 8);
        Bytes += SampleBytes;
    }
    return samples;
}
