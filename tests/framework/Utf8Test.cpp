#include "framework/Utf8.h"

#include <gtest/gtest.h>

namespace {

std::string Encoded(uint32_t CodePoint)
{
    std::string s = "x";
    AppendUtf8(s, CodePoint);
    return s.substr(1);
}

} // namespace

// Each length's first and last code point, so a wrong boundary or shift shows.
TEST(Utf8, EncodesEveryLengthAtItsBoundaries)
{
    EXPECT_EQ(Encoded(0x00), std::string(1, '\0'));
    EXPECT_EQ(Encoded(0x7F), "\x7F");
    EXPECT_EQ(Encoded(0x80), "\xC2\x80");
    EXPECT_EQ(Encoded(0xE9), "\xC3\xA9"); // Latin-1 e acute
    EXPECT_EQ(Encoded(0xFF), "\xC3\xBF");
    EXPECT_EQ(Encoded(0x7FF), "\xDF\xBF");
    EXPECT_EQ(Encoded(0x800), "\xE0\xA0\x80");
    EXPECT_EQ(Encoded(0x20AC), "\xE2\x82\xAC"); // euro sign
    EXPECT_EQ(Encoded(0xFFFF), "\xEF\xBF\xBF");
    EXPECT_EQ(Encoded(0x10000), "\xF0\x90\x80\x80");
    EXPECT_EQ(Encoded(0x1F600), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Encoded(0x10FFFF), "\xF4\x8F\xBF\xBF");
}

TEST(Utf8, AppendsAfterWhatIsThere)
{
    std::string s = "ab";
    AppendUtf8(s, 0xFC);
    AppendUtf8(s, 'c');
    EXPECT_EQ(s, "ab\xC3\xBC" "c");
}
