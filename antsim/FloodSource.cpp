#include "antsim/FloodSource.h"

#include "antwire/AntProtocol.h"

namespace antsim {

namespace msg = antwire::msg;

FloodSource::FloodSource(FloodKind kind, uint32_t seed)
    : FKind(kind), FRandom(seed), FDecoder([this](const antwire::AntMessage &m) {
          if (m.id == msg::BroadcastData && !m.data.empty())
              FLastData[m.data[0]] = antwire::encodeMessage(m);
      })
{
    FNext = FLastData.end();
}

void FloodSource::observe(const std::vector<uint8_t> &stickOutput)
{
    if (FKind == FloodKind::Valid)
        FDecoder.feed(stickOutput.data(), stickOutput.size());
}

std::vector<uint8_t> FloodSource::take(size_t maxBytes)
{
    std::vector<uint8_t> out;
    if (FKind == FloodKind::Valid)
        takeValid(out, maxBytes);
    else
        takeGarbage(out, maxBytes);
    FBytes += out.size();
    return out;
}

void FloodSource::takeValid(std::vector<uint8_t> &out, size_t maxBytes)
{
    while (!FLastData.empty()) {
        std::vector<uint8_t> frame;
        if (++FFrames % kSerialErrorEvery == 0) {
            const uint8_t code = uint8_t(antwire::FrameError::BadChecksum);
            frame = antwire::encodeMessage(msg::SerialError, &code, 1);
        } else {
            // Entries are only ever added or replaced, so a kept iterator stays valid.
            if (FNext == FLastData.end())
                FNext = FLastData.begin();
            frame = (FNext++)->second;
        }
        if (out.size() + frame.size() > maxBytes)
            return;
        out.insert(out.end(), frame.begin(), frame.end());
    }
}

void FloodSource::takeGarbage(std::vector<uint8_t> &out, size_t maxBytes)
{
    std::uniform_int_distribution<int> byte(0, 255), tooLong(int(antwire::kMaxPayload) + 1, 255);
    while (out.size() < maxBytes) {
        const uint8_t b = uint8_t(byte(FRandom));
        if (b != antwire::kSync) {
            out.push_back(b);
            continue;
        }
        // A sync byte only with a length no frame has: the reader's search for a frame is
        // exercised, yet nothing in the garbage ever decodes as one.
        if (out.size() + 2 > maxBytes)
            return;
        const uint8_t length = uint8_t(tooLong(FRandom));
        out.push_back(b);
        // Not the sync byte either: a reader scans the bytes after a false start again.
        out.push_back(length == antwire::kSync ? 0xFF : length);
    }
}

} // namespace antsim
