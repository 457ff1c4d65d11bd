#include "antlib/SerialErrorLog.h"

#include <cstdio>

#include "antwire/AntMessage.h"

namespace antlib {

std::string serialErrorName(uint8_t code)
{
    switch (antwire::FrameError(code)) {
    case antwire::FrameError::NoSync:
        return "no sync byte";
    case antwire::FrameError::BadChecksum:
        return "checksum mismatch";
    case antwire::FrameError::TooLarge:
        return "message too large";
    }
    return "unknown";
}

void SerialErrorLog::report(const uint8_t *data, size_t size)
{
    ++FCount;
    if (FCount > kShown)
        return;
    if (size == 0) {
        std::fprintf(stderr, "ANT_DLL: stick reports a serial error without a code\n");
    } else {
        std::fprintf(stderr, "ANT_DLL: stick reports serial error 0x%02X (%s): it dropped bytes "
                             "it was sent; a command among them gets no answer\n",
                     unsigned(data[0]), serialErrorName(data[0]).c_str());
    }
    if (FCount == kShown)
        std::fprintf(stderr, "ANT_DLL: further serial errors from this stick are not shown\n");
}

} // namespace antlib
