// Playing a recorded trace back as the stick: which frames answer which host frame, when
// they go out, and what becomes of lines and host frames the trace cannot account for.
#include "antsim/TraceReplay.h"
#include "antwire/AntMessage.h"
#include "antwire/TraceLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace antsim;
using antwire::TraceDirection;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int64_t kMs = 1000; // trace times are microseconds

Bytes frame(uint8_t id, Bytes data)
{
    return antwire::encodeMessage(id, data.data(), data.size());
}

// Trace text built line by line, times in microseconds from an arbitrary monotonic origin.
struct TraceText {
    std::string text = "# test trace\n";
    void add(int64_t micros, TraceDirection d, const Bytes &f)
    {
        text += antwire::formatTraceLine({micros + 5000000000, d, f}) + "\n";
    }
    void host(int64_t micros, const Bytes &f) { add(micros, TraceDirection::HostToStick, f); }
    void stick(int64_t micros, const Bytes &f) { add(micros, TraceDirection::StickToHost, f); }
};

const Bytes kReset = frame(0x4A, {0});
const Bytes kStartup = frame(0x6F, {0x20});
const Bytes kOpen = frame(0x4B, {0});
const Bytes kOpened = frame(0x40, {0, 0x4B, 0});
const Bytes kLevel80 = frame(0x4F, {0, 48, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 80});
const Bytes kLevel20 = frame(0x4F, {0, 48, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 20});
const Bytes kTxDone = frame(0x40, {0, 0x01, 0x05});
const Bytes kClose = frame(0x4C, {0});
const Bytes kClosed = frame(0x40, {0, 0x4C, 0});

Bytes page(uint8_t number, uint8_t count)
{
    return frame(0x4E, {0, number, count, 0, 0, 0, 0, 0, 0});
}

// Reset, open, two pages, level 80 with its transfer event, a page, close.
std::string session()
{
    TraceText t;
    t.host(0, kReset);
    t.stick(2 * kMs, kStartup);
    t.host(10 * kMs, kOpen);
    t.stick(11 * kMs, kOpened);
    t.stick(260 * kMs, page(16, 1));
    t.stick(510 * kMs, page(25, 2));
    t.host(520 * kMs, kLevel80);
    t.stick(760 * kMs, kTxDone);
    t.stick(1010 * kMs, page(16, 3));
    t.host(1100 * kMs, kClose);
    t.stick(1101 * kMs, kClosed);
    return t.text;
}

Nanos ms(double v)
{
    return Nanos(int64_t(v * 1e6));
}

struct Host {
    TraceReplay replay;
    Nanos now{0};
    antwire::AntMessageDecoder decoder{[this](const antwire::AntMessage &m) { got.push_back(antwire::encodeMessage(m)); }};
    std::vector<Bytes> got;

    explicit Host(const std::string &text, double speed = 1.0) : replay(parseTrace(text), speed) {}
    void send(const Bytes &f)
    {
        replay.receive(f.data(), f.size(), now);
        drain();
    }
    void runTo(Nanos t)
    {
        now = t;
        replay.advance(now);
        drain();
    }
    void drain()
    {
        const auto out = replay.takeOutput();
        decoder.feed(out.data(), out.size());
    }
    std::vector<Bytes> take() { return std::exchange(got, {}); }
};

} // namespace

TEST(TraceReplay, AnswersEachHostFrameWithWhatFollowedItAtTheRecordedDistance)
{
    Host h(session());
    EXPECT_EQ(h.replay.steps(), 4u);
    h.runTo(ms(5000));
    EXPECT_TRUE(h.take().empty()) << "nothing plays before the host speaks";
    EXPECT_EQ(h.replay.nextDue(), VirtualStick::kNever);

    h.send(kReset);
    EXPECT_EQ(h.replay.nextDue(), ms(5002));
    h.runTo(ms(5001.9));
    EXPECT_TRUE(h.take().empty());
    h.runTo(ms(5002));
    EXPECT_EQ(h.take(), std::vector<Bytes>{kStartup});

    h.runTo(ms(6000));
    h.send(kOpen);
    h.runTo(ms(6001));
    EXPECT_EQ(h.take(), std::vector<Bytes>{kOpened});
    EXPECT_EQ(h.replay.nextDue(), ms(6250));
    h.runTo(ms(6500));
    EXPECT_EQ(h.take(), (std::vector<Bytes>{page(16, 1), page(25, 2)}));
    EXPECT_EQ(h.replay.counts().exact, 2u);
}

TEST(TraceReplay, SpeedUpDividesTheGaps)
{
    Host h(session(), 10.0);
    h.send(kReset);
    h.send(kOpen);
    // 1 ms and 250 ms after the open in the trace.
    h.runTo(ms(0.1));
    EXPECT_EQ(h.take(), (std::vector<Bytes>{kStartup, kOpened}))
        << "the rest of the reset's step goes out before the open's";
    EXPECT_EQ(h.replay.nextDue(), ms(25));
    h.runTo(ms(50));
    EXPECT_EQ(h.take(), (std::vector<Bytes>{page(16, 1), page(25, 2)}));
}

TEST(TraceReplay, AHostAheadOfTheTraceGetsThePendingFramesFirst)
{
    Host h(session());
    h.send(kReset);
    h.send(kOpen);
    h.runTo(ms(300));
    EXPECT_EQ(h.take().size(), 3u); // startup, opened, page 16
    h.send(kLevel80); // the recorded host waited for page 25 before this
    h.runTo(ms(300));
    EXPECT_EQ(h.take(), std::vector<Bytes>{page(25, 2)});
    h.runTo(ms(540));
    EXPECT_EQ(h.take(), std::vector<Bytes>{kTxDone});
}

TEST(TraceReplay, HostFramesTheTraceDoesNotHoldExactly)
{
    Host h(session());
    h.send(kReset);
    // The open was never sent: the level (with another value) still finds its step.
    h.send(kLevel20);
    h.runTo(ms(1000));
    EXPECT_EQ(h.take(), (std::vector<Bytes>{kStartup, kTxDone, page(16, 3)}));
    EXPECT_EQ(h.replay.counts().similar, 1u);
    EXPECT_EQ(h.replay.counts().skipped, 1u);

    // Nothing like a status request lies ahead: no answer, and the close still matches.
    h.send(frame(0x4D, {0, 0x52}));
    h.send(kOpen);
    EXPECT_EQ(h.replay.counts().unmatched, 2u) << "the open's step lies behind";
    h.send(kClose);
    h.runTo(ms(1002));
    EXPECT_EQ(h.take(), std::vector<Bytes>{kClosed});
    EXPECT_EQ(h.replay.counts().exact, 2u);

    // A request for another message is not the same command.
    TraceText t;
    t.host(0, frame(0x4D, {0, 0x51}));
    t.stick(1, frame(0x51, {0, 1, 2, 17, 5}));
    Host r(t.text);
    r.send(frame(0x4D, {0, 0x54}));
    r.runTo(ms(10));
    EXPECT_TRUE(r.take().empty());
}

TEST(TraceReplay, HostBytesMayArriveInAnyChunks)
{
    Host h(session());
    Bytes both = kReset;
    both.insert(both.end(), kOpen.begin(), kOpen.end());
    for (uint8_t b : both)
        h.replay.receive(&b, 1, h.now);
    h.runTo(ms(1));
    EXPECT_EQ(h.take(), (std::vector<Bytes>{kStartup, kOpened}));
}

TEST(TraceReplay, FramesBeforeTheFirstHostFramePlayFromTheStart)
{
    TraceText t;
    t.stick(100 * kMs, page(80, 1));
    t.stick(300 * kMs, page(81, 2));
    t.host(400 * kMs, kReset);
    Host h(t.text);
    EXPECT_EQ(h.replay.nextDue(), ms(0));
    h.runTo(ms(199));
    EXPECT_EQ(h.take(), std::vector<Bytes>{page(80, 1)});
    h.runTo(ms(200));
    EXPECT_EQ(h.take(), std::vector<Bytes>{page(81, 2)});
}

TEST(TraceReplay, MalformedLinesAreSkippedAndCounted)
{
    TraceText t;
    t.host(0, kReset);
    t.text += "this is not a frame\n";
    t.text += "0.5 stick->host startup ch=- page=- A4 01 6F 20 00\n"; // bad checksum
    t.text += "\n";
    t.stick(1 * kMs, kStartup);
    t.text += "1.0 host->stick open_channel ch=0 page=- A4 01 4B"; // cut off, no newline
    const Trace trace = parseTrace(t.text);
    EXPECT_EQ(trace.records.size(), 2u);
    EXPECT_EQ(trace.malformedLines, 3u);
    EXPECT_EQ(trace.firstMalformedLine, 3u);
    EXPECT_TRUE(trace.records[0].fromHost);
    EXPECT_EQ(trace.records[1].frame, kStartup);
    EXPECT_EQ(trace.records[1].at - trace.records[0].at, ms(1));

    const std::string path = ::testing::TempDir() + "trace_replay_malformed.trace";
    std::ofstream(path) << t.text;
    std::vector<std::string> reports;
    auto engine = makeTraceReplay(path, 1.0, [&](const std::string &r) { reports.push_back(r); });
    ASSERT_NE(engine, nullptr);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "trace file " + path + ": 3 malformed line(s) skipped, the first is line 3");
    std::remove(path.c_str());
}

TEST(TraceReplay, UnusableTraceFilesAreRefused)
{
    auto ignore = [](const std::string &) {};
    EXPECT_THROW(makeTraceReplay("/nonexistent/x.trace", 1.0, ignore), ScenarioError);
    const std::string path = ::testing::TempDir() + "trace_replay_empty.trace";
    std::ofstream(path) << "# nothing but a comment\nand garbage\n";
    try {
        makeTraceReplay(path, 1.0, ignore);
        ADD_FAILURE() << "a trace without frames was taken";
    } catch (const ScenarioError &e) {
        EXPECT_EQ(std::string(e.what()), "trace file " + path + " holds no frame");
    }
    std::remove(path.c_str());
}
