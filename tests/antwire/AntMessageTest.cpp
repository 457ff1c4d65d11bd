#include <gtest/gtest.h>

#include "antwire/AntMessage.h"

using namespace antwire;

namespace {

struct Collector {
    std::vector<AntMessage> frames;
    AntMessageDecoder decoder{[this](const AntMessage &m) { frames.push_back(m); }};
    void feed(const std::vector<uint8_t> &bytes) { decoder.feed(bytes.data(), bytes.size()); }
};

std::vector<uint8_t> frame(uint8_t id, std::vector<uint8_t> data)
{
    return encodeMessage(id, data.data(), data.size());
}

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (auto &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

} // namespace

TEST(AntFraming, EncodesSyncLengthIdDataAndXorChecksum)
{
    EXPECT_EQ(frame(0x4A, {0x00}), (std::vector<uint8_t>{0xA4, 0x01, 0x4A, 0x00, 0xEF}));
    EXPECT_EQ(frame(0x4B, {0x02}), (std::vector<uint8_t>{0xA4, 0x01, 0x4B, 0x02, 0xEC}));
    EXPECT_EQ(encodeMessage(0x6F, nullptr, 0), (std::vector<uint8_t>{0xA4, 0x00, 0x6F, 0xCB}));
}

TEST(AntFraming, DecodesFramesWhateverTheChunking)
{
    const auto stream = cat({frame(0x4E, {1, 2, 3, 4, 5, 6, 7, 8, 9}), frame(0x40, {0, 0x4B, 0}),
                             frame(0x6F, {0x20})});
    for (size_t chunk : {size_t(1), size_t(3), size_t(7), stream.size()}) {
        Collector c;
        for (size_t i = 0; i < stream.size(); i += chunk)
            c.decoder.feed(stream.data() + i, std::min(chunk, stream.size() - i));
        ASSERT_EQ(c.frames.size(), 3u) << "chunk " << chunk;
        EXPECT_EQ(c.frames[0].id, 0x4E);
        EXPECT_EQ(c.frames[0].data, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
        EXPECT_EQ(c.frames[1].data, (std::vector<uint8_t>{0, 0x4B, 0}));
        EXPECT_EQ(c.frames[2].id, 0x6F);
        EXPECT_EQ(c.decoder.framesDecoded(), 3u);
        EXPECT_EQ(c.decoder.bytesDropped(), 0u);
    }
}

TEST(AntFraming, SkipsGarbageAndBadChecksumsAndResynchronises)
{
    Collector c;
    auto bad = frame(0x40, {1, 0x42, 0});
    bad.back() ^= 0xFF;
    c.feed(cat({{0x00, 0x13, 0x37}, bad, frame(0x40, {1, 0x43, 0x15})}));
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0].data, (std::vector<uint8_t>{1, 0x43, 0x15}));
    // Three garbage bytes, then each byte of the rejected frame after it is rescanned.
    EXPECT_EQ(c.decoder.bytesDropped(), 3u + bad.size());
}

TEST(AntFraming, FindsAFrameThatStartsInsideARejectedOne)
{
    // A stray sync byte in front of a good frame swallows its first bytes as LEN/ID/...;
    // after the checksum fails the decoder must find the real frame among them.
    Collector c;
    const auto good = frame(0x4E, {3, 10, 20, 30, 40, 50, 60, 70, 80});
    c.feed(cat({{0xA4, 0x02}, good}));
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0].id, 0x4E);
    EXPECT_EQ(c.frames[0].data[0], 3);

    // A sync byte that is the checksum of a broken frame still starts the next one.
    Collector d;
    d.feed(cat({{0xA4, 0x01, 0x4A, 0x00, 0xA4}, frame(0x6F, {0})}));
    ASSERT_EQ(d.frames.size(), 1u);
    EXPECT_EQ(d.frames[0].id, 0x6F);
}

TEST(AntFraming, NeverTrustsAnOverlongLength)
{
    Collector c;
    // LEN 0xFF would swallow the following frame if it were believed.
    c.feed(cat({{0xA4, 0xFF, 0x4E}, frame(0x40, {0, 0x46, 0})}));
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0].id, 0x40);

    Collector longest;
    std::vector<uint8_t> payload(kMaxPayload, 0x55);
    longest.feed(frame(0x4E, payload));
    ASSERT_EQ(longest.frames.size(), 1u);
    EXPECT_EQ(longest.frames[0].data.size(), kMaxPayload);

    Collector tooLong;
    payload.push_back(0x55);
    tooLong.feed(frame(0x4E, payload));
    EXPECT_TRUE(tooLong.frames.empty());
}

TEST(AntFraming, ResetDropsAHalfFrame)
{
    Collector c;
    const auto f = frame(0x40, {0, 0x4B, 0});
    c.decoder.feed(f.data(), 3);
    c.decoder.reset();
    c.feed(f);
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0].data, (std::vector<uint8_t>{0, 0x4B, 0}));
}

namespace {

struct ErrorCollector {
    std::vector<int> seen; // frame ids as they come, errors as -1 - code
    AntMessageDecoder decoder{[this](const AntMessage &m) { seen.push_back(m.id); },
                              [this](FrameError e) { seen.push_back(-1 - int(e)); }};
    void feed(const std::vector<uint8_t> &bytes) { decoder.feed(bytes.data(), bytes.size()); }
};

constexpr int kNoSync = -1 - int(FrameError::NoSync);
constexpr int kBadChecksum = -1 - int(FrameError::BadChecksum);
constexpr int kTooLarge = -1 - int(FrameError::TooLarge);

} // namespace

TEST(AntFraming, EachKindOfBadFramingIsReportedOnceInStreamOrder)
{
    auto bad = frame(0x40, {1, 0x42, 0});
    bad.back() ^= 0x01;
    ErrorCollector c;
    c.feed(cat({{0x00, 0x13, 0x37}, frame(0x6F, {0}), bad, {0x55}, frame(0x6F, {1}),
                {0xA4, kMaxPayload + 1, 0x4E}, frame(0x6F, {2}), {0x99}}));
    // Garbage and the bytes skipped after a rejected frame give one error each, the rescanned
    // LEN of an overlong frame no second one.
    EXPECT_EQ(c.seen, (std::vector<int>{kNoSync, 0x6F, kBadChecksum, 0x6F, kTooLarge, 0x6F, kNoSync}));
    EXPECT_EQ(c.decoder.framesDecoded(), 3u);
}

TEST(AntFraming, ZeroPaddingBetweenFramesIsSkippedOnlyWhenAskedFor)
{
    const auto padded = cat({frame(0x6F, {0}), {0, 0, 0, 0, 0}, frame(0x6F, {1}), {0, 0, 0, 0, 0}});
    ErrorCollector strict;
    strict.feed(padded);
    EXPECT_EQ(strict.seen, (std::vector<int>{0x6F, kNoSync, 0x6F, kNoSync}));

    ErrorCollector stick;
    stick.decoder.setSkipZeroPadding(true);
    stick.feed(padded);
    EXPECT_EQ(stick.seen, (std::vector<int>{0x6F, 0x6F}));
    EXPECT_EQ(stick.decoder.paddingSkipped(), 10u);
    EXPECT_EQ(stick.decoder.bytesDropped(), 0u);

    // Any other stray byte is still an error, with the zeros after it part of the same run;
    // a zero inside a frame is data, not padding.
    stick.seen.clear();
    stick.feed(cat({{0, 0x55, 0, 0}, frame(0x6F, {0}), {0}, frame(0x4E, {0, 0, 0})}));
    EXPECT_EQ(stick.seen, (std::vector<int>{kNoSync, 0x6F, 0x4E}));
}

TEST(AntFraming, ErrorsRestartAfterEveryGoodFrameAndReset)
{
    ErrorCollector c;
    c.feed({0xA4, 0xFF});                 // too large, then resynchronising
    c.feed({0x00, 0x00});
    EXPECT_EQ(c.seen, (std::vector<int>{kTooLarge}));
    c.decoder.reset();
    c.feed({0x00});
    EXPECT_EQ(c.seen, (std::vector<int>{kTooLarge, kNoSync}));
    // A second rejected frame in a row is a new error even while resynchronising.
    auto bad = frame(0x4A, {0});
    bad.back() ^= 0x10;
    c.feed(bad);
    EXPECT_EQ(c.seen, (std::vector<int>{kTooLarge, kNoSync, kBadChecksum}));
    // The sink is optional.
    AntMessageDecoder quiet([](const AntMessage &) {});
    quiet.feed(bad.data(), bad.size());
    EXPECT_EQ(quiet.bytesDropped(), bad.size());
}
