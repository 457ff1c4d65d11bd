#pragma once
// The stick's serial error message (0xAE): it dropped bytes we wrote. Not a channel event;
// worth a line on standard error, since a command in those bytes will never be answered.
#include <cstddef>
#include <cstdint>
#include <string>

namespace antlib {

// "checksum mismatch" and the like for a serial error code.
std::string serialErrorName(uint8_t code);

// One stick's reports. Written to stderr up to a limit, so that a line that keeps failing
// cannot flood it; used on the reader thread only.
class SerialErrorLog {
public:
    static constexpr unsigned kShown = 16;
    void report(const uint8_t *data, size_t size);
    unsigned count() const { return FCount; }

private:
    unsigned FCount = 0;
};

} // namespace antlib
