// A trace file comes from a user's machine: any text parses (bad lines are counted), and the
// replay built from it answers its own host frames and runs to its end without harm.
#include "antsim/TraceReplay.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const antsim::Trace trace = antsim::parseTrace(std::string_view(reinterpret_cast<const char *>(data), size));
    if (trace.records.size() + trace.malformedLines > size + 1)
        __builtin_trap(); // more lines than the text can hold
    antsim::TraceReplay replay(trace, 1000.0);
    antsim::Nanos now{0};
    size_t sent = 0;
    for (const antsim::TraceRecord &r : trace.records) {
        if (!r.fromHost)
            continue;
        if (++sent > 64)
            break;
        replay.receive(r.frame.data(), r.frame.size(), now);
        now += std::chrono::milliseconds(10);
        replay.advance(now);
        replay.takeOutput();
    }
    // Whatever is still scheduled plays out, however far the trace's clock jumps.
    replay.advance(antsim::VirtualStick::kNever);
    replay.takeOutput();
    return 0;
}
