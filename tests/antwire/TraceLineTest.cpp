// The trace line format: what support reads, and what the replay must get back unchanged.
#include <gtest/gtest.h>

#include "antwire/AntMessage.h"
#include "antwire/TraceLine.h"

using namespace antwire;

namespace {

TraceLine line(int64_t micros, TraceDirection d, uint8_t id, std::vector<uint8_t> data)
{
    return {micros, d, encodeMessage(id, data.data(), data.size())};
}

std::string text(uint8_t id, std::vector<uint8_t> data, TraceDirection d = TraceDirection::StickToHost)
{
    return formatTraceLine(line(0, d, id, std::move(data)));
}

} // namespace

TEST(TraceLine, ReadsAsTimeDirectionNameChannelPageAndFrame)
{
    const auto l = line(12000345, TraceDirection::HostToStick, 0x4F, {0, 48, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 80});
    EXPECT_EQ(formatTraceLine(l), "12.000345 host->stick acknowledged ch=0 page=48 "
                                  "A4 09 4F 00 30 FF FF FF FF FF FF 50 82");
    EXPECT_EQ(formatTraceLine(line(5, TraceDirection::HostToStick, 0x4A, {0})),
              "0.000005 host->stick reset_system ch=- page=- A4 01 4A 00 EF");
}

TEST(TraceLine, NamesChannelsAndPagesComeFromTheFrame)
{
    // A 0x40 is an RF event when its second byte is 1, else the answer to a command.
    EXPECT_NE(text(0x40, {2, 0x01, 0x05}).find(" channel_event ch=2 page=- "), std::string::npos);
    EXPECT_NE(text(0x40, {2, 0x4B, 0x00}).find(" channel_response ch=2 page=- "), std::string::npos);
    // Burst channel bytes carry sequence bits that are not part of the channel.
    EXPECT_NE(text(0x50, {0xC1, 0x21, 0, 0, 0, 0, 0, 0, 0}).find(" burst ch=1 page=33 "), std::string::npos);
    EXPECT_NE(text(0x4E, {3, 16, 25, 0, 0, 0, 0, 0, 0}).find(" broadcast ch=3 page=16 "), std::string::npos);
    EXPECT_NE(text(0x6F, {0x20}).find(" startup ch=- page=- "), std::string::npos);
    EXPECT_NE(text(0x46, {0, 1, 2, 3, 4, 5, 6, 7, 8}, TraceDirection::HostToStick).find(" network_key ch=- "),
              std::string::npos);
    EXPECT_NE(text(0x99, {}).find(" unknown ch=- page=- A4 00 99 3D"), std::string::npos);
}

TEST(TraceLine, FormattedLinesParseBackUnchanged)
{
    const std::vector<TraceLine> lines = {
        line(0, TraceDirection::HostToStick, 0x4A, {0}),
        line(1, TraceDirection::StickToHost, 0x6F, {0x20}),
        line(987654321012345, TraceDirection::StickToHost, 0x4E, {0, 25, 1, 2, 3, 4, 5, 6, 7}),
        line(42, TraceDirection::StickToHost, 0x4E, std::vector<uint8_t>(22, 0xA4)), // extended data
        line(7, TraceDirection::HostToStick, 0x99, {}),
    };
    for (const auto &l : lines) {
        TraceLine back;
        const std::string s = formatTraceLine(l);
        ASSERT_EQ(parseTraceLine(s, back), TraceParse::Frame) << s;
        EXPECT_EQ(back, l) << s;
    }
}

TEST(TraceLine, AcceptsWhatAnEditorOrAnotherMachineLeaves)
{
    TraceLine l;
    ASSERT_EQ(parseTraceLine("3.5\thost->stick  reset_system ch=- page=-  a4 01 4a 00 ef\r", l), TraceParse::Frame);
    EXPECT_EQ(l.micros, 3500000);
    EXPECT_EQ(l.frame, (std::vector<uint8_t>{0xA4, 0x01, 0x4A, 0x00, 0xEF}));
    ASSERT_EQ(parseTraceLine("7 stick->host startup ch=- page=- A4 01 6F 20 EA", l), TraceParse::Frame);
    EXPECT_EQ(l.micros, 7000000);
    for (const char *comment : {"", "   ", "\r", "# fennick ANT trace", "  # open virtual:default"})
        EXPECT_EQ(parseTraceLine(comment, l), TraceParse::Comment) << comment;
}

TEST(TraceLine, MalformedLinesAreRefused)
{
    const char *bad[] = {
        "garbage",
        "1.000000 host->stick reset_system ch=- page=- A4 01 4A 00 EE",       // checksum
        "1.000000 host->stick reset_system ch=- page=- A4 02 4A 00 EF",       // length
        "1.000000 host->stick reset_system ch=- page=- A5 01 4A 00 EE",       // sync
        "1.000000 host->stick reset_system ch=- page=- A4 01 4A",             // cut short
        "1.000000 host->stick reset_system ch=- page=- A4 01 4A 00 EF 00",    // trailing byte
        "1.000000 host->stick reset_system ch=- page=- A4 01 4A 00 EFF",      // three digits
        "1.000000 host->stick reset_system ch=- page=- A4 01 4A 00 EG",       // not hex
        "1.000000 host-stick reset_system ch=- page=- A4 01 4A 00 EF",        // direction
        "1.0000001 host->stick reset_system ch=- page=- A4 01 4A 00 EF",      // seven digits
        "1. host->stick reset_system ch=- page=- A4 01 4A 00 EF",
        "-1.000000 host->stick reset_system ch=- page=- A4 01 4A 00 EF",
        "1234567890.0 host->stick reset_system ch=- page=- A4 01 4A 00 EF",    // too far
        "1.000000 host->stick Reset ch=- page=- A4 01 4A 00 EF",              // name
        "1.000000 host->stick reset_system ch=256 page=- A4 01 4A 00 EF",
        "1.000000 host->stick reset_system chan=1 page=- A4 01 4A 00 EF",
        "1.000000 host->stick reset_system ch= page=- A4 01 4A 00 EF",
        "1.000000 host->stick reset_system ch=- A4 01 4A 00 EF",              // page missing
        "1.000000 host->stick",
    };
    for (const char *b : bad) {
        TraceLine l;
        EXPECT_EQ(parseTraceLine(b, l), TraceParse::Malformed) << b;
    }
    // A line longer than any frame can be is refused without being split in full.
    std::string huge = "1.0 host->stick x ch=- page=-";
    for (int i = 0; i < 10000; ++i)
        huge += " 00";
    TraceLine l;
    EXPECT_EQ(parseTraceLine(huge, l), TraceParse::Malformed);
}
