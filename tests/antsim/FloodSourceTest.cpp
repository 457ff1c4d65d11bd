// What fennick-virtual-stick floods with: the stick's own newest data frames, whole, with a
// serial error now and then; or garbage in which a reader finds no frame at all, and which
// leaves a real frame sent after it intact.
#include "antsim/FloodSource.h"

#include "antwire/AntProtocol.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using antsim::FloodKind;
using antsim::FloodSource;

std::vector<uint8_t> Broadcast(uint8_t channel, uint8_t page)
{
    const uint8_t data[9] = {channel, page, 1, 2, 3, 4, 5, 6, 7};
    return antwire::encodeMessage(antwire::msg::BroadcastData, data, sizeof data);
}

struct Decoded {
    std::vector<antwire::AntMessage> Messages;
    antwire::AntMessageDecoder Decoder{[this](const antwire::AntMessage &m) { Messages.push_back(m); }};
    void Feed(const std::vector<uint8_t> &bytes) { Decoder.feed(bytes.data(), bytes.size()); }
};

} // namespace

TEST(FloodSource, RepeatsTheNewestDataFrameOfEachChannelWithASerialErrorNowAndThen)
{
    FloodSource flood(FloodKind::Valid);
    EXPECT_TRUE(flood.take(4096).empty()) << "nothing to repeat before the stick sent data";

    std::vector<uint8_t> output = Broadcast(0, 16);
    for (uint8_t b : Broadcast(1, 0x04))
        output.push_back(b);
    for (uint8_t b : Broadcast(0, 25)) // replaces channel 0's page 16
        output.push_back(b);
    const uint8_t status[2] = {0, 3};
    for (uint8_t b : antwire::encodeMessage(antwire::msg::ChannelStatus, status, 2))
        output.push_back(b);
    flood.observe(output);

    Decoded d;
    const std::vector<uint8_t> bytes = flood.take(13 * 200 + 5);
    EXPECT_LE(bytes.size(), size_t(13 * 200 + 5));
    d.Feed(bytes);
    EXPECT_EQ(d.Decoder.bytesDropped(), 0u) << "whole frames only";
    std::map<std::pair<uint8_t, uint8_t>, int> seen; // (id, page or code) -> count
    for (const auto &m : d.Messages)
        ++seen[{m.id, m.data.size() > 1 ? m.data[1] : m.data[0]}];
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_GT((seen[{antwire::msg::BroadcastData, 25}]), 90);
    EXPECT_GT((seen[{antwire::msg::BroadcastData, 0x04}]), 90);
    EXPECT_EQ((seen[{antwire::msg::SerialError, 0x02}]), int(d.Messages.size() / FloodSource::kSerialErrorEvery));
}

TEST(FloodSource, GarbageHoldsNoFrameAndSparesTheFrameAfterIt)
{
    FloodSource flood(FloodKind::Garbage, 7);
    Decoded d;
    size_t given = 0;
    for (int round = 0; round < 200; ++round) {
        const std::vector<uint8_t> garbage = flood.take(997);
        given += garbage.size();
        d.Feed(garbage);
        d.Feed(Broadcast(0, uint8_t(round)));
    }
    EXPECT_GT(given, 190000u);
    ASSERT_EQ(d.Messages.size(), 200u) << "garbage decoded as a frame, or ate a real one";
    for (int round = 0; round < 200; ++round)
        EXPECT_EQ(d.Messages[round].data[1], uint8_t(round));
    EXPECT_GT(d.Decoder.bytesDropped(), 0u);
}
