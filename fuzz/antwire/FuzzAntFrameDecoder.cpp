// Feeds arbitrary bytes to the frame decoder in chunks chosen by the input and checks that
// every frame it hands out re-encodes to bytes that were really in the stream, and that no
// framing error is reported without a byte dropped for it.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "antwire/AntMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t chunk = 1 + data[0] % 16;
    const uint8_t *stream = data + 1;
    const size_t length = size - 1;
    uint64_t errors = 0;
    antwire::AntMessageDecoder decoder(
        [&](const antwire::AntMessage &m) {
            if (m.data.size() > antwire::kMaxPayload)
                std::abort();
            const auto bytes = antwire::encodeMessage(m);
            if (std::search(stream, stream + length, bytes.begin(), bytes.end()) == stream + length)
                std::abort();
        },
        [&](antwire::FrameError) { ++errors; });
    for (size_t i = 0; i < length; i += chunk)
        decoder.feed(stream + i, std::min(chunk, length - i));
    if (decoder.bytesDropped() > length || errors > decoder.bytesDropped())
        std::abort();
    return 0;
}
