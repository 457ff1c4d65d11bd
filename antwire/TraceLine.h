#pragma once
// One line of an ANT frame trace, written by the library ($FENNICK_ANT_TRACE) and read back
// by the virtual stick's replay. The format (README, "Tracing the ANT traffic"):
//
//   <seconds>.<micro> <host->stick|stick->host> <name> ch=<n|-> page=<n|-> <frame bytes in hex>
//
// The frame bytes (sync to checksum) are what counts; name, channel and page are derived from
// them for the reader. Lines starting with '#' are comments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace antwire {

enum class TraceDirection : uint8_t { HostToStick, StickToHost };

struct TraceLine {
    int64_t micros = 0; // monotonic clock, microseconds
    TraceDirection direction = TraceDirection::HostToStick;
    std::vector<uint8_t> frame; // a whole frame with a good checksum

    bool operator==(const TraceLine &) const = default;
};

enum class TraceParse : uint8_t { Frame, Comment, Malformed };

// The line for `line` (no newline); `line.frame` must be a whole frame.
std::string formatTraceLine(const TraceLine &line);
// Frame for a valid frame line, Comment for '#' lines and blank ones, Malformed otherwise
// (`out` is then unspecified). Never throws on any input.
TraceParse parseTraceLine(std::string_view text, TraceLine &out);

// Short lower-case name of a message (no blanks), e.g. "acknowledged", "channel_event".
const char *traceMessageName(uint8_t id, const uint8_t *data, size_t size);
// The channel a message concerns, or -1 for messages that name none.
int traceChannel(uint8_t id, const uint8_t *data, size_t size);
// The ANT+ page number of a data message, or -1.
int tracePage(uint8_t id, const uint8_t *data, size_t size);

} // namespace antwire
