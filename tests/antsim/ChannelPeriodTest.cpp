// A channel hears a device only when its slots meet the device's own messages.
#include "StickHost.h"

#include "antsim/FecPages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace antsim;
using namespace antsim::test;

namespace {

constexpr int kData = 0x100; // a data message in a timeline; RF events are their code

// Data messages and RF events of one channel, in the order the stick sent them.
std::vector<int> timeline(const std::vector<Received> &got, uint8_t ch)
{
    std::vector<int> out;
    for (const auto &r : got) {
        const auto &d = r.msg.data;
        if ((r.msg.id == 0x4E || r.msg.id == 0x4F) && !d.empty() && d[0] == ch)
            out.push_back(kData);
        else if (r.msg.id == 0x40 && d.size() >= 3 && d[0] == ch && d[1] == 0x01)
            out.push_back(d[2]);
    }
    return out;
}

// Whether t is one of the device's transmission times at that period.
bool onDeviceClock(Nanos t, uint16_t period)
{
    const uint64_t k = uint64_t(std::llround(double(t.count()) * 32768.0 / (1e9 * period)));
    return fromTicks(k * period) == t;
}

size_t countOf(const std::vector<int> &v, int x)
{
    return size_t(std::count(v.begin(), v.end(), x));
}

} // namespace

TEST(ChannelPeriod, WholeRatiosOfTheDevicePeriodStayInStep)
{
    struct Case {
        const char *scenario;
        uint8_t type;
        uint16_t hostPeriod;
        double dataPerSecond;
        double failsPerSecond;
    } cases[] = {
        {"trainer 4242\n", 17, 4096, 4, 4},               // wakes twice per message
        {"trainer 4242\n", 17, 16384, 2, 0},              // every other message
        {"trainer 4242\n", 17, 24576, 4.0 / 3, 0},        // every third
        {"trainer 4242\n", 17, 12288, 4.0 / 3, 4.0 / 3},  // 1.5 periods: every other slot
        {"trainer 4242\n", 17, 8190, 4, 0},               // drift within the window is followed
        {"hr 77 period=16140\n", 120, 8070, 32768.0 / 16140, 32768.0 / 16140},
    };
    for (const auto &c : cases) {
        StickHost host(c.scenario);
        host.openChannel(0, 0, {}, 0, c.type, 57, c.hostPeriod, 0, 255);
        host.run(2);
        host.take();
        host.run(60);
        const auto got = host.take();
        const auto t = timeline(got, 0);
        const std::string what = std::string(c.scenario) + " at " + std::to_string(c.hostPeriod);
        EXPECT_NEAR(double(countOf(t, kData)), 60 * c.dataPerSecond, 1.5) << what;
        EXPECT_NEAR(double(countOf(t, 0x02)), 60 * c.failsPerSecond, 1.5) << what;
        EXPECT_EQ(countOf(t, 0x08), 0u) << what;
        // Whatever the host's period, what is heard is heard at the device's clock.
        const uint16_t devicePeriod = c.type == 17 ? 8192 : 16140;
        for (const auto &r : StickHost::data(got, 0))
            EXPECT_TRUE(onDeviceClock(r.at, devicePeriod)) << what << " at " << r.at.count();
    }
}

TEST(ChannelPeriod, AHostWakingTwicePerMessageFailsEveryOtherSlot)
{
    StickHost host("trainer 4242\nrider 0 150 85\n");
    host.openChannel(0, 0, {}, 0, 17, 57, 4096, 0, 255);
    host.run(1);
    host.take();
    host.run(10);
    const auto t = timeline(host.take(), 0);
    ASSERT_GE(t.size(), 78u);
    for (size_t i = 1; i < t.size(); ++i)
        EXPECT_NE(t[i] == kData, t[i - 1] == kData) << "at " << i;
    for (int x : t)
        EXPECT_TRUE(x == kData || x == 0x02);
}

TEST(ChannelPeriod, AChannelHearingEveryOtherMessageSeesTheDevicePatternMoveOn)
{
    // The trainer sends its pages in pairs on its own clock: a channel at twice its period
    // gets one of each pair, never the same page twice in a row.
    StickHost host("trainer 4242\nrider 0 150 85\n");
    host.openChannel(0, 0, {}, 0, 17, 57, 16384, 0, 255);
    host.run(60);
    const auto data = StickHost::data(host.take(), 0, 0x4E);
    ASSERT_GE(data.size(), 100u);
    for (size_t i = 1; i < data.size(); ++i)
        EXPECT_NE(data[i].msg.data[1], data[i - 1].msg.data[1]) << "at " << i;
}

TEST(ChannelPeriod, AMismatchedPeriodDriftsOutOfSyncAgainAndAgain)
{
    // 8000 against the trainer's 8192: the next slot is already 6 ms off.
    StickHost host("trainer 4242\ndropout 30 100 trainer\n");
    host.openChannel(0, 0, {}, 0, 17, 57, 8000, 0, 2); // 5 s low-priority search
    host.run(29);
    auto t = timeline(host.take(), 0);
    const size_t searches = countOf(t, 0x08);
    EXPECT_GE(searches, 10u);
    EXPECT_EQ(countOf(t, 0x01), 0u);            // the search finds it each time
    EXPECT_EQ(countOf(t, kData), searches + 1); // one message per acquisition
    // Each acquisition: one message, the usual run of misses, back to search.
    std::vector<int> cycle{kData};
    cycle.insert(cycle.end(), VirtualStick::kMissesBeforeSearch, 0x02);
    cycle.push_back(0x08);
    for (size_t i = 0; i + cycle.size() <= t.size(); i += cycle.size())
        EXPECT_EQ(std::vector<int>(t.begin() + long(i), t.begin() + long(i + cycle.size())), cycle)
            << "cycle " << i / cycle.size();

    // Gone for good, the search after the last loss of sync times out and closes.
    host.run(20);
    t = timeline(host.take(), 0);
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], 0x01);
    EXPECT_EQ(t.back(), 0x07);
    EXPECT_EQ(countOf(t, 0x01), 1u);
}

TEST(ChannelPeriod, TwoChannelsOnOneDeviceHearTheSameMessages)
{
    StickHost host("trainer 4242\nrider 0 150 85\n");
    host.openChannel(0, 0, {}, 0, 17, 57, 8192, 0, 255);
    host.openChannel(1, 0, {}, 0, 17, 57, 16384, 0, 255);
    host.run(30);
    const auto got = host.take();
    const auto all = StickHost::data(got, 0, 0x4E), half = StickHost::data(got, 1, 0x4E);
    ASSERT_GE(half.size(), 50u);
    size_t matched = 0;
    for (const auto &h : half)
        for (const auto &a : all)
            if (a.at == h.at) {
                EXPECT_EQ(std::vector<uint8_t>(a.msg.data.begin() + 1, a.msg.data.end()),
                          std::vector<uint8_t>(h.msg.data.begin() + 1, h.msg.data.end()));
                ++matched;
            }
    EXPECT_EQ(matched, half.size());
}
