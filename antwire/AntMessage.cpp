#include "antwire/AntMessage.h"

namespace antwire {

std::vector<uint8_t> encodeMessage(uint8_t id, const uint8_t *data, size_t size)
{
    // LEN is one byte on the wire; a longer payload cannot be framed.
    if (size > 255)
        size = 255;
    std::vector<uint8_t> frame;
    frame.reserve(size + 4);
    frame.push_back(kSync);
    frame.push_back(static_cast<uint8_t>(size));
    frame.push_back(id);
    if (size > 0)
        frame.insert(frame.end(), data, data + size);
    uint8_t chk = 0;
    for (uint8_t b : frame)
        chk ^= b;
    frame.push_back(chk);
    return frame;
}

void AntMessageDecoder::feed(const uint8_t *data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        feedByte(data[i]);
}

void AntMessageDecoder::reset()
{
    FPending.clear();
    FResyncing = false;
}

void AntMessageDecoder::fail(FrameError e)
{
    FResyncing = true;
    if (FErrors)
        FErrors(e);
}

void AntMessageDecoder::feedByte(uint8_t b)
{
    if (FPending.empty()) {
        if (b == kSync) {
            FPending.push_back(b);
            return;
        }
        if (b == 0 && FSkipZeroPadding && !FResyncing) {
            ++FPadding;
            return;
        }
        ++FDropped;
        if (!FResyncing)
            fail(FrameError::NoSync);
        return;
    }
    FPending.push_back(b);
    const size_t have = FPending.size();
    bool good;
    FrameError error = FrameError::BadChecksum;
    if (have == 2) {
        if (b <= kMaxPayload)
            return;
        good = false;
        error = FrameError::TooLarge;
    } else {
        if (have < size_t(FPending[1]) + 4)
            return;
        uint8_t chk = 0;
        for (size_t i = 0; i + 1 < have; ++i)
            chk ^= FPending[i];
        good = chk == FPending[have - 1];
    }
    if (good) {
        FMessage.id = FPending[2];
        FMessage.data.assign(FPending.begin() + 3, FPending.end() - 1);
        FPending.clear();
        FResyncing = false;
        ++FFrames;
        if (FSink)
            FSink(FMessage);
        return;
    }
    // The sync byte was a false start; a real frame may begin anywhere after it, so the
    // bytes already taken are scanned again. Nesting is bounded by the frame length.
    std::vector<uint8_t> rest(FPending.begin() + 1, FPending.end());
    FPending.clear();
    ++FDropped;
    fail(error);
    for (uint8_t r : rest)
        feedByte(r);
}

} // namespace antwire
