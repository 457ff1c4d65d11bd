#include "antsim/TraceReplay.h"

#include "antwire/AntProtocol.h"
#include "antwire/TraceLine.h"

#include <algorithm>

namespace antsim {

namespace {

// Same command on the same channel (and, for a request, the same message asked for).
bool sameKind(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    if (a.size() < 4 || b.size() < 4 || a[2] != b[2])
        return false;
    const size_t la = a[1], lb = b[1];
    if ((la >= 1) != (lb >= 1) || (la >= 1 && a[3] != b[3]))
        return false;
    return a[2] != antwire::msg::RequestMessage || la < 2 || lb < 2 || a[4] == b[4];
}

// Gaps divided by the speed stay far from overflowing the clock.
constexpr double kMinSpeed = 1e-3;
constexpr double kMaxSpeed = 1e6;

} // namespace

Trace parseTrace(std::string_view text)
{
    Trace trace;
    size_t lineNumber = 0;
    antwire::TraceLine line;
    while (!text.empty()) {
        ++lineNumber;
        const size_t end = std::min(text.find('\n'), text.size());
        const antwire::TraceParse kind = antwire::parseTraceLine(text.substr(0, end), line);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (kind == antwire::TraceParse::Comment)
            continue;
        if (kind == antwire::TraceParse::Malformed) {
            if (trace.malformedLines++ == 0)
                trace.firstMalformedLine = lineNumber;
            continue;
        }
        trace.records.push_back({std::chrono::microseconds(line.micros),
                                 line.direction == antwire::TraceDirection::HostToStick, line.frame});
    }
    return trace;
}

Trace loadTrace(const std::string &path)
{
    return parseTrace(readWholeFile(path, "trace"));
}

TraceReplay::TraceReplay(const Trace &trace, double speed)
    : FSpeed(speed > 0 ? std::clamp(speed, kMinSpeed, kMaxSpeed) : 1.0),
      FDecoder([this](const antwire::AntMessage &m) { onHostFrame(antwire::encodeMessage(m)); })
{
    const auto &r = trace.records;
    Nanos anchor = r.empty() ? Nanos(0) : r.front().at;
    for (const TraceRecord &rec : r) {
        if (rec.fromHost) {
            FSteps.push_back({rec.frame, {}});
            anchor = rec.at;
            continue;
        }
        // A clock that went backwards in the file plays the frame at once, still in order.
        const Reply reply{std::max(rec.at - anchor, Nanos(0)), rec.frame};
        (FSteps.empty() ? FPrologue : FSteps.back().replies).push_back(reply);
    }
    schedule(FPrologue, Nanos(0));
}

void TraceReplay::schedule(const std::vector<Reply> &replies, Nanos from)
{
    Nanos last = from;
    for (const Reply &r : replies) {
        const Nanos due = from + Nanos(int64_t(double(r.offset.count()) / FSpeed));
        last = std::max(last, due);
        FQueue.push_back({last, &r.frame});
    }
}

void TraceReplay::flush()
{
    for (const Scheduled &s : FQueue)
        FOutput.insert(FOutput.end(), s.frame->begin(), s.frame->end());
    FQueue.clear();
}

long TraceReplay::findStep(const std::vector<uint8_t> &frame, bool &exact) const
{
    const size_t end = std::min(FSteps.size(), FCursor + kLookahead);
    for (size_t i = FCursor; i < end; ++i)
        if (FSteps[i].hostFrame == frame) {
            exact = true;
            return long(i);
        }
    for (size_t i = FCursor; i < end; ++i)
        if (sameKind(FSteps[i].hostFrame, frame)) {
            exact = false;
            return long(i);
        }
    return -1;
}

void TraceReplay::onHostFrame(const std::vector<uint8_t> &frame)
{
    bool exact = false;
    const long step = findStep(frame, exact);
    if (step < 0) {
        ++FCounts.unmatched;
        return;
    }
    ++(exact ? FCounts.exact : FCounts.similar);
    FCounts.skipped += size_t(step) - FCursor;
    FCursor = size_t(step) + 1;
    flush();
    schedule(FSteps[size_t(step)].replies, FNow);
}

void TraceReplay::receive(const uint8_t *data, size_t size, Nanos now)
{
    advance(now);
    FDecoder.feed(data, size);
}

void TraceReplay::advance(Nanos now)
{
    FNow = std::max(FNow, now);
    while (!FQueue.empty() && FQueue.front().due <= FNow) {
        const auto &f = *FQueue.front().frame;
        FOutput.insert(FOutput.end(), f.begin(), f.end());
        FQueue.pop_front();
    }
}

Nanos TraceReplay::nextDue() const
{
    return FQueue.empty() ? VirtualStick::kNever : FQueue.front().due;
}

std::vector<uint8_t> TraceReplay::takeOutput()
{
    std::vector<uint8_t> out;
    out.swap(FOutput);
    return out;
}

std::unique_ptr<StickEngine> makeTraceReplay(const std::string &path, double speed,
                                             const std::function<void(const std::string &)> &report)
{
    const Trace trace = loadTrace(path);
    if (trace.records.empty())
        throw ScenarioError("trace file " + path + " holds no frame");
    if (trace.malformedLines > 0)
        report("trace file " + path + ": " + std::to_string(trace.malformedLines) +
               " malformed line(s) skipped, the first is line " + std::to_string(trace.firstMalformedLine));
    return std::make_unique<TraceReplay>(trace, speed);
}

} // namespace antsim
