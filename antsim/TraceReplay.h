#pragma once
// Plays back the stick's side of a frame trace ($FENNICK_ANT_TRACE of the library) as a
// virtual stick. The trace is cut into steps at each host frame; when the host sends a
// frame, the step of the matching recorded host frame plays: the stick frames that followed
// it, at their recorded distance from it (divided by the speed-up). Frames of the previous
// step not yet played go out first, so the stick's frames keep their recorded order. Stick
// frames before the first host frame play from the start.
#include "antsim/StickEngine.h"
#include "antwire/AntMessage.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace antsim {

struct TraceRecord {
    Nanos at{0};
    bool fromHost = false;
    std::vector<uint8_t> frame; // sync to checksum
};

struct Trace {
    std::vector<TraceRecord> records;
    size_t malformedLines = 0;
    size_t firstMalformedLine = 0; // 1-based; 0 when none
};

// Every frame line of `text`; comments are passed over, anything else is counted as malformed.
Trace parseTrace(std::string_view text);
// The trace in file `path`; ScenarioError when it cannot be read.
Trace loadTrace(const std::string &path);

class TraceReplay : public StickEngine {
public:
    // How far ahead of the expected host frame an identical one is looked for.
    static constexpr size_t kLookahead = 16;

    struct Counts {
        size_t exact = 0;     // host frames found in the trace as they are
        size_t similar = 0;   // same command on the same channel, other values
        size_t unmatched = 0; // nothing like them ahead: no answer
        size_t skipped = 0;   // recorded host frames the host never sent
    };

    // `speed` > 1 plays the recorded gaps faster (kept within 1/1000 to a million); anything
    // not above 0 counts as 1.
    explicit TraceReplay(const Trace &trace, double speed = 1.0);
    TraceReplay(const TraceReplay &) = delete;
    TraceReplay &operator=(const TraceReplay &) = delete;

    void receive(const uint8_t *data, size_t size, Nanos now) override;
    void advance(Nanos now) override;
    Nanos nextDue() const override;
    bool unplugged(Nanos) const override { return false; }
    std::vector<uint8_t> takeOutput() override;
    std::string serialNumber() const override { return "replay"; }

    const Counts &counts() const { return FCounts; }
    size_t steps() const { return FSteps.size(); }

private:
    struct Reply {
        Nanos offset{0}; // from the step's host frame, as recorded
        std::vector<uint8_t> frame;
    };
    struct Step {
        std::vector<uint8_t> hostFrame;
        std::vector<Reply> replies;
    };
    struct Scheduled {
        Nanos due{0};
        const std::vector<uint8_t> *frame;
    };

    void onHostFrame(const std::vector<uint8_t> &frame);
    // The step the host frame stands for, or -1.
    long findStep(const std::vector<uint8_t> &frame, bool &exact) const;
    void schedule(const std::vector<Reply> &replies, Nanos from);
    void flush();

    double FSpeed;
    std::vector<Reply> FPrologue;
    std::vector<Step> FSteps;
    size_t FCursor = 0; // next recorded host frame expected
    std::deque<Scheduled> FQueue;
    std::vector<uint8_t> FOutput;
    Nanos FNow{0};
    Counts FCounts;
    antwire::AntMessageDecoder FDecoder;
};

// The replay of trace file `path` at `speed`; ScenarioError when it cannot be read or holds
// no frame. Skipped lines are described to `report` in one line.
std::unique_ptr<StickEngine> makeTraceReplay(const std::string &path, double speed,
                                             const std::function<void(const std::string &)> &report);

} // namespace antsim
