#pragma once
// ANT serial message framing: A4 | LEN | ID | DATA[LEN] | CHK (XOR of all bytes before it).
// Shared by the library (host side) and the virtual stick (device side).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace antwire {

constexpr uint8_t kSync = 0xA4;
// Longest payload the decoder accepts: data messages carry 9 bytes, extended data up to 13
// more; anything longer is treated as garbage.
constexpr size_t kMaxPayload = 32;

struct AntMessage {
    uint8_t id = 0;
    std::vector<uint8_t> data;
};

// Encodes one message into its serial frame.
std::vector<uint8_t> encodeMessage(uint8_t id, const uint8_t *data, size_t size);
inline std::vector<uint8_t> encodeMessage(const AntMessage &m)
{
    return encodeMessage(m.id, m.data.data(), m.data.size());
}

// Byte-by-byte decoder: feed() any chunking of the stream; every complete frame with a good
// checksum is handed to the sink. Garbage and bad checksums are dropped and the decoder
// resynchronises on the next sync byte (rescanning the bytes of a rejected frame).
class AntMessageDecoder {
public:
    using Sink = std::function<void(const AntMessage &)>;
    explicit AntMessageDecoder(Sink sink) : FSink(std::move(sink)) {}
    void feed(const uint8_t *data, size_t size);
    void reset();
    // Counters for diagnostics and tests.
    uint64_t framesDecoded() const { return FFrames; }
    uint64_t bytesDropped() const { return FDropped; }

private:
    void feedByte(uint8_t b);
    Sink FSink;
    std::vector<uint8_t> FPending; // bytes of the frame being assembled, from the sync byte on
    AntMessage FMessage;           // reused for every frame to spare an allocation each
    uint64_t FFrames = 0;
    uint64_t FDropped = 0;
};

} // namespace antwire
