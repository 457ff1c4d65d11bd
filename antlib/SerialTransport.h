#pragma once
// Serial ANT sticks and pseudo-terminals through termios (raw, 8N1, no flow control), at any
// line speed the driver takes.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "antwire/Transport.h"

namespace antlib {

// The devices listed in $FENNICK_ANT_SERIAL (colon-separated, empty entries skipped).
std::vector<std::string> listSerialDevices();

// What the transport says of itself. A USB stick behind the tty has its product id and text,
// and a udev rule that gives access to it.
struct SerialIdentity {
    uint16_t productId = 0;
    std::string productName = "ANT serial device";
};

// Opens `path` at `baud`; null (with the reason kept and on stderr) when it cannot be opened
// or the line does not take that speed.
std::unique_ptr<antwire::Transport> openSerialTransport(const std::string &path, unsigned baud,
                                                        const SerialIdentity &identity = {});

} // namespace antlib
