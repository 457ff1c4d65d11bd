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

// Why bytes were dropped; the values are the stick's serial error codes (message 0xAE).
enum class FrameError : uint8_t {
    NoSync = 0x00,      // a byte other than the sync byte where a frame should start
    BadChecksum = 0x02,
    TooLarge = 0x03,    // LEN beyond kMaxPayload
};

// Byte-by-byte decoder: feed() any chunking of the stream; every complete frame with a good
// checksum is handed to the sink. Garbage and bad checksums are dropped and the decoder
// resynchronises on the next sync byte (rescanning the bytes of a rejected frame).
// The error sink hears each rejected frame and each run of garbage where a frame should have
// started, once, in stream order with the frames; bytes skipped while resynchronising after
// a rejected frame belong to that error.
class AntMessageDecoder {
public:
    using Sink = std::function<void(const AntMessage &)>;
    using ErrorSink = std::function<void(FrameError)>;
    explicit AntMessageDecoder(Sink sink, ErrorSink errors = {})
        : FSink(std::move(sink)), FErrors(std::move(errors))
    {
    }
    void feed(const uint8_t *data, size_t size);
    void reset();
    // Zero bytes where a frame should start are padding, skipped without an error, as an ANT
    // chip does with hosts that pad every write.
    void setSkipZeroPadding(bool skip) { FSkipZeroPadding = skip; }
    // Counters for diagnostics and tests.
    uint64_t framesDecoded() const { return FFrames; }
    uint64_t bytesDropped() const { return FDropped; }
    uint64_t paddingSkipped() const { return FPadding; }

private:
    void feedByte(uint8_t b);
    void fail(FrameError e);
    Sink FSink;
    ErrorSink FErrors;
    bool FResyncing = false;       // an error was reported and no good frame came since
    bool FSkipZeroPadding = false;
    std::vector<uint8_t> FPending; // bytes of the frame being assembled, from the sync byte on
    AntMessage FMessage;           // reused for every frame to spare an allocation each
    uint64_t FFrames = 0;
    uint64_t FDropped = 0;
    uint64_t FPadding = 0;
};

} // namespace antwire
