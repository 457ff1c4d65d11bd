// The virtual stick engine on a virtual clock: protocol answers, radio behaviour, devices.
#include "StickHost.h"

#include "antsim/FecPages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace antsim;
using namespace antsim::test;

namespace {

const char *kTrainerOnly = "seed 7\ntrainer 4242\nrider 0 150 85\n";

// Payload byte n of a data message (byte 0 of the message is the channel).
uint8_t pb(const Received &r, size_t n)
{
    return r.msg.data[1 + n];
}

double speedOf(const std::vector<Received> &msgs)
{
    double v = -1;
    for (const auto &r : StickHost::data(msgs, 0, 0x4E))
        if (pb(r, 0) == fec::kGeneral)
            v = u16(r.msg, 4) / 1000.0;
    return v;
}

} // namespace

TEST(VirtualStickProtocol, ResetAndConfigurationCommandsAreAnswered)
{
    StickHost host(kTrainerOnly);
    host.send(0x4A, {0});
    auto got = host.take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].msg.id, 0x6F);

    got = host.openTrainer();
    for (uint8_t id : {0x42, 0x51, 0x43, 0x44, 0x63, 0x45, 0x4B})
        EXPECT_EQ(StickHost::responseCode(got, 0, id), 0) << "message " << int(id);
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x46), 0);  // network 0
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x47), 0);  // power answers on 0

    host.send(0x66, {0, 1});
    EXPECT_EQ(StickHost::responseCode(host.take(), 0, 0x66), 0);

    // Requests: status, capabilities, version, serial.
    host.send(0x4D, {0, 0x52});
    host.send(0x4D, {0, 0x54});
    host.send(0x4D, {0, 0x3E});
    host.send(0x4D, {0, 0x61});
    got = host.take();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].msg.id, 0x52);
    EXPECT_EQ(got[0].msg.data[1] & 0x03, 2); // searching
    EXPECT_EQ(got[1].msg.id, 0x54);
    EXPECT_EQ(got[1].msg.data[0], 8);
    EXPECT_EQ(got[2].msg.id, 0x3E);
    EXPECT_EQ(got[2].msg.data.back(), 0);    // zero-terminated text
    EXPECT_EQ(got[3].msg.id, 0x61);
    EXPECT_EQ(got[3].msg.data.size(), 4u);

    // A reset closes everything silently and forgets the configuration.
    host.send(0x4A, {0});
    host.send(0x4D, {0, 0x52});
    got = host.take();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].msg.id, 0x6F);
    EXPECT_EQ(got[1].msg.data[1] & 0x03, 0); // unassigned
    host.run(5);
    EXPECT_TRUE(host.take().empty());
}

TEST(VirtualStickProtocol, CommandsInTheWrongStateAreRefused)
{
    StickHost host(kTrainerOnly);
    host.send(0x4B, {0});                      // open unassigned
    host.send(0x51, {0, 0, 0, 17, 0});         // id on unassigned
    host.send(0x43, {0, 0, 0x20});             // period on unassigned
    host.send(0x4C, {0});                      // close unassigned
    host.send(0x41, {0});                      // unassign unassigned
    host.send(0x4D, {0, 0x51});                // channel id of unassigned
    auto got = host.take();
    for (uint8_t id : {0x4B, 0x51, 0x43, 0x4C, 0x41, 0x4D})
        EXPECT_EQ(StickHost::responseCode(got, 0, id), 0x15) << "message " << int(id);

    host.send(0x42, {0, 0, 9});                // network 9 does not exist
    host.send(0x46, {8, 1, 2, 3, 4, 5, 6, 7, 8});
    got = host.take();
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x42), 0x29);
    EXPECT_EQ(StickHost::responseCode(got, 8, 0x46), 0x29);

    host.send(0x42, {0, 0, 0});
    host.send(0x42, {0, 0, 0});                // assign twice
    host.send(0x4E, {0, 1, 2, 3, 4, 5, 6, 7, 8}); // data on a closed channel
    host.send(0x4F, {0, 1, 2, 3, 4, 5, 6, 7, 8});
    host.send(0x45, {0, 200});                 // beyond 2524 MHz
    host.send(0x43, {0, 1, 0});                // period far too short
    got = host.take();
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x42), 0x15);
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x4E), 0x16);
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x4F), 0x16);
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x45), 0x33);
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x43), 0x33);

    host.send(0x42, {9, 0, 0});                // no channel 9
    host.send(0x46, {0, 1, 2});                // key too short
    host.send(0x99, {0});                      // unknown message
    host.send(0x4D, {0, 0x77});                // unknown request
    got = host.take();
    EXPECT_EQ(StickHost::responseCode(got, 9, 0x42), 0x28);
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x46), 0x28);
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x99), 0x28);
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x4D), 0x28);

    // Unassign works on an assigned channel but not on an open one.
    host.send(0x4B, {0});
    host.send(0x41, {0});
    got = host.take();
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x41), 0x15);
    host.send(0x4B, {0});                      // open twice
    EXPECT_EQ(StickHost::responseCode(host.take(), 0, 0x4B), 0x15);
}

TEST(VirtualStickProtocol, GarbageBetweenFramesIsReportedAndSkipped)
{
    StickHost host(kTrainerOnly);
    std::vector<uint8_t> bytes{0x00, 0x55, 0xA4, 0x01, 0x4A, 0x00, 0x00}; // bad checksum
    const auto reset = antwire::encodeMessage(0x4A, std::vector<uint8_t>{0}.data(), 1);
    bytes.insert(bytes.end(), reset.begin(), reset.end());
    host.sendRaw(bytes);
    auto got = host.take();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front().msg.id, 0xAE);
    EXPECT_EQ(got.back().msg.id, 0x6F);
}

TEST(VirtualStickProtocol, ZeroPaddingAfterEachFrameIsSkippedLikeAnAntChip)
{
    StickHost host(kTrainerOnly);
    auto request = antwire::encodeMessage(0x4D, std::vector<uint8_t>{0, 0x52}.data(), 2);
    for (int i = 0; i < 5; ++i)
        request.push_back(0x00);
    for (int i = 0; i < 3; ++i)
        host.sendRaw(request);
    auto got = host.take();
    ASSERT_EQ(got.size(), 3u);
    for (const auto &r : got)
        EXPECT_EQ(r.msg.id, 0x52) << "no serial error for the padding";
    // A stray byte that is not padding is still answered.
    host.sendRaw({0x00, 0x37, 0x00});
    got = host.take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].msg.id, 0xAE);
    EXPECT_EQ(got[0].msg.data, std::vector<uint8_t>{0x00});
}

TEST(VirtualStickProtocol, CapabilitiesAdvertiseExactlyWhatTheStickAnswers)
{
    StickHost host(kTrainerOnly);
    host.send(0x4D, {0, 0x54});
    auto got = host.take();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].msg.id, 0x54);
    const auto caps = got[0].msg.data;
    ASSERT_EQ(caps.size(), 8u);

    // As many channels and networks as advertised, and not one more.
    host.send(0x42, {uint8_t(caps[0] - 1), 0, 0});
    host.send(0x42, {caps[0], 0, 0});
    host.send(0x46, {uint8_t(caps[1] - 1), 1, 2, 3, 4, 5, 6, 7, 8});
    host.send(0x46, {caps[1], 1, 2, 3, 4, 5, 6, 7, 8});
    got = host.take();
    EXPECT_EQ(StickHost::responseCode(got, uint8_t(caps[0] - 1), 0x42), 0x00);
    EXPECT_EQ(StickHost::responseCode(got, caps[0], 0x42), 0x28);
    EXPECT_EQ(StickHost::responseCode(got, uint8_t(caps[1] - 1), 0x46), 0x00);
    EXPECT_EQ(StickHost::responseCode(got, caps[1], 0x46), 0x29);
    host.send(0x4A, {0});
    host.take();

    // No "cannot" flag: receive and transmit channels, data heard, host broadcast,
    // acknowledged and burst data all work.
    EXPECT_EQ(caps[2], 0x00);
    host.openTrainer(0);
    host.openChannel(1, 0, {}, 1, 17, 30, 8192, 0, 255, 0x10); // master
    host.run(1);
    got = host.take();
    EXPECT_FALSE(StickHost::data(got, 0, 0x4E).empty());
    EXPECT_GT(StickHost::count(StickHost::events(got, 1), 0x03), 0u);
    const uint64_t pages = host.stick.trainer()->pagesReceived();
    host.send(0x4E, {0, fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 10});
    host.run(0.3);
    EXPECT_EQ(host.stick.trainer()->pagesReceived(), pages + 1);
    host.send(0x4F, {0, fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 20});
    host.run(0.3);
    EXPECT_EQ(StickHost::events(host.take(), 0), std::vector<uint8_t>{0x05});
    host.send(0x50, {0x80, 1, 2, 3, 4, 5, 6, 7, 8});
    host.run(0.3);
    EXPECT_EQ(StickHost::events(host.take(), 0), (std::vector<uint8_t>{0x0A, 0x05}));

    // Each option bit against the command that uses it: advertised exactly when answered
    // (an unknown command is refused with 0x28).
    struct Probe {
        const char *feature;
        size_t byte;
        uint8_t bit;
        uint8_t id;
        std::vector<uint8_t> data;
        int reply; // message id of the answer, or -1 for a response code
    } probes[] = {
        {"network keys", 3, 0x02, 0x46, {2, 1, 2, 3, 4, 5, 6, 7, 8}, -1},
        {"serial number", 3, 0x08, 0x4D, {0, 0x61}, 0x61},
        {"per-channel transmit power", 3, 0x10, 0x60, {0, 3}, -1},
        {"low-priority search", 3, 0x20, 0x63, {0, 4}, -1},
        {"scripts", 3, 0x40, 0x56, {0, 1, 2, 3, 4, 5, 6, 7, 8}, -1},
        {"search lists", 3, 0x80, 0x59, {0, 0x92, 0x10, 17, 5, 0}, -1},
        {"LED", 4, 0x01, 0x68, {0, 1}, -1},
        {"extended messages", 4, 0x02, 0x66, {0, 1}, -1},
        {"scan mode", 4, 0x04, 0x5B, {0}, -1},
        {"proximity search", 4, 0x10, 0x71, {0, 1}, -1},
    };
    uint8_t probed[8] = {};
    for (const auto &p : probes) {
        host.send(p.id, p.data);
        got = host.take();
        bool answered = false;
        for (const auto &r : got)
            answered = answered || (p.reply >= 0 && r.msg.id == p.reply);
        if (p.reply < 0) {
            const int code = StickHost::responseCode(got, p.data[0], p.id);
            EXPECT_NE(code, -1) << p.feature;
            answered = code != 0x28;
        }
        EXPECT_EQ((caps[p.byte] & p.bit) != 0, answered) << p.feature;
        probed[p.byte] |= p.bit;
    }
    // Extended messages really extend: data now carries the device's channel id.
    host.run(0.3);
    const auto data = StickHost::data(host.take(), 0, 0x4E);
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(data.back().msg.data.size(), 14u);
    EXPECT_EQ(data.back().msg.data[9], 0x80);
    EXPECT_EQ(data.back().msg.data[10] | (data.back().msg.data[11] << 8), 4242);
    // Nothing the stick has no command for (extended assignment, file systems, SensRcore,
    // the later option bytes) is claimed.
    for (size_t b = 3; b < 8; ++b)
        EXPECT_EQ(caps[b] & ~probed[b], 0) << "option byte " << b;
}

TEST(VirtualStickProtocol, BadFramingIsAnsweredWithItsSerialErrorCodeThenTheNextFrame)
{
    StickHost host(kTrainerOnly);
    const auto frame = [](uint8_t id, std::vector<uint8_t> data) {
        return antwire::encodeMessage(id, data.data(), data.size());
    };
    // What the stick said: serial errors as 0xAE00 + code, other messages by id.
    const auto said = [&] {
        std::vector<int> out;
        for (const auto &r : host.take()) {
            if (r.msg.id == 0xAE) {
                EXPECT_EQ(r.msg.data.size(), 1u);
                out.push_back(0xAE00 + r.msg.data.at(0));
            } else {
                out.push_back(r.msg.id);
            }
        }
        return out;
    };
    auto corrupt = frame(0x4D, {0, 0x52});
    corrupt.back() ^= 0x40;
    struct Case {
        const char *what;
        std::vector<uint8_t> bad;
        int code;
    } cases[] = {
        {"no sync byte", {0x4D, 0x00, 0x52}, 0x00},
        {"checksum mismatch", corrupt, 0x02},
        {"message too large", {0xA4, 0x21, 0x4E, 0, 1, 2, 3}, 0x03},
    };
    for (const auto &c : cases) {
        auto bytes = c.bad;
        const auto good = frame(0x4D, {0, 0x52});
        bytes.insert(bytes.end(), good.begin(), good.end());
        host.sendRaw(bytes);
        EXPECT_EQ(said(), (std::vector<int>{0xAE00 + c.code, 0x52})) << c.what;
    }
    // The same, a byte at a time: the error comes as soon as it is certain.
    host.sendRaw({0xA4, 0x01, 0x4A, 0x00});
    EXPECT_TRUE(said().empty());
    host.sendRaw({0x00});
    EXPECT_EQ(said(), std::vector<int>{0xAE02});
    for (uint8_t b : frame(0x4A, {0}))
        host.sendRaw({b});
    EXPECT_EQ(said(), std::vector<int>{0x6F});
    // Good frames back to back raise nothing.
    host.sendRaw(frame(0x4D, {0, 0x52}));
    host.sendRaw(frame(0x4D, {0, 0x52}));
    EXPECT_EQ(said(), (std::vector<int>{0x52, 0x52}));
}

TEST(VirtualStickRadio, WildcardChannelPairsAndReportsTheRealId)
{
    StickHost host(kTrainerOnly);
    host.openTrainer();
    host.send(0x4D, {0, 0x51});
    auto got = host.take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(u16(got[0].msg, 0), 0);         // still the wildcard while searching

    host.run(0.3);
    got = host.take();
    ASSERT_FALSE(StickHost::data(got, 0).empty());
    host.send(0x4D, {0, 0x51});
    host.send(0x4D, {0, 0x52});
    got = host.take();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].msg.id, 0x51);
    EXPECT_EQ(got[0].msg.data[1] | (got[0].msg.data[2] << 8), 4242);
    EXPECT_EQ(got[0].msg.data[3], 17);
    EXPECT_EQ(got[0].msg.data[4], 5);
    EXPECT_EQ(got[1].msg.data[1] & 0x03, 3);  // tracking

    // Closing answers, then reports the channel closed, and forgets the paired id.
    host.send(0x4C, {0});
    host.send(0x4D, {0, 0x51});
    got = host.take();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x4C), 0);
    EXPECT_EQ(StickHost::events(got, 0), std::vector<uint8_t>{0x07});
    EXPECT_EQ(u16(got[2].msg, 0), 0);
    host.run(2);
    EXPECT_TRUE(host.take().empty());
}

TEST(VirtualStickRadio, ChannelIdMustMatchTheDevice)
{
    {
        StickHost host(kTrainerOnly);
        host.openTrainer(0, 4243, 0, 2);        // another trainer's number
        host.run(6);
        auto got = host.take();
        EXPECT_TRUE(StickHost::data(got, 0).empty());
        EXPECT_EQ(StickHost::events(got, 0), (std::vector<uint8_t>{0x01, 0x07}));
    }
    {
        StickHost host(kTrainerOnly);
        host.openChannel(0, 0, {}, 0, 120, 57, 8070, 0, 2); // heart-rate type
        host.run(6);
        EXPECT_TRUE(StickHost::data(host.take(), 0).empty());
    }
    {
        StickHost host(kTrainerOnly);
        host.openChannel(0, 0, {}, 4242, 17, 58, 8192, 0, 2); // wrong frequency
        host.run(6);
        EXPECT_TRUE(StickHost::data(host.take(), 0).empty());
    }
    {
        StickHost host(kTrainerOnly);
        host.openTrainer(0, 4242);              // exact number
        host.run(1);
        EXPECT_FALSE(StickHost::data(host.take(), 0).empty());
    }
}

TEST(VirtualStickRadio, NetworkKeyMustMatchWhenConfigured)
{
    NetworkKeys keys;
    keys.antPlus = NetworkKey{1, 2, 3, 4, 5, 6, 7, 8};
    {
        StickHost host(kTrainerOnly, keys);
        host.openTrainer(0, 0, 0, 255, NetworkKey{9, 9, 9, 9, 9, 9, 9, 9});
        host.run(3);
        EXPECT_TRUE(StickHost::data(host.take(), 0).empty());
    }
    {
        StickHost host(kTrainerOnly, keys);
        host.openTrainer(0, 0, 0, 255, *keys.antPlus);
        host.run(1);
        EXPECT_FALSE(StickHost::data(host.take(), 0).empty());
    }
    {
        // No key configured: any key pairs.
        StickHost host(kTrainerOnly);
        host.openTrainer(0, 0, 0, 255, NetworkKey{9, 9, 9, 9, 9, 9, 9, 9});
        host.run(1);
        EXPECT_FALSE(StickHost::data(host.take(), 0).empty());
    }
    EXPECT_EQ(NetworkKeys::parse("0102030405060708"), (NetworkKey{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(NetworkKeys::parse("B9A521FBBD72C345"), (NetworkKey{0xB9, 0xA5, 0x21, 0xFB, 0xBD, 0x72, 0xC3, 0x45}));
    EXPECT_FALSE(NetworkKeys::parse("010203040506070"));
    EXPECT_FALSE(NetworkKeys::parse("01020304050607xx"));
}

TEST(VirtualStickTrainer, BroadcastsFourPagesASecondInTheTrainerPattern)
{
    StickHost host(kTrainerOnly);
    host.openTrainer();
    host.run(60);
    const auto msgs = StickHost::data(host.take(), 0, 0x4E);
    EXPECT_GE(msgs.size(), 239u);
    EXPECT_LE(msgs.size(), 240u);
    std::vector<uint8_t> pages;
    for (const auto &r : msgs)
        pages.push_back(pb(r, 0));
    EXPECT_GT(StickHost::count(pages, fec::kGeneral), 100u);
    EXPECT_GT(StickHost::count(pages, fec::kTrainerData), 90u);
    EXPECT_GE(StickHost::count(pages, fec::kGeneralSettings), 4u);
    EXPECT_GE(StickHost::count(pages, fec::kManufacturerInfo), 2u);
    EXPECT_GE(StickHost::count(pages, fec::kProductInfo), 2u);
    // 16 and 25 come in pairs.
    EXPECT_EQ(pages[0], fec::kGeneral);
    EXPECT_EQ(pages[1], fec::kGeneral);
    EXPECT_EQ(pages[2], fec::kTrainerData);
    EXPECT_EQ(pages[3], fec::kTrainerData);
    // Consecutive messages a quarter second apart.
    EXPECT_EQ((msgs[1].at - msgs[0].at).count(), 250000000);

    // Page 25 carries the rider's cadence and power and asks for the user configuration.
    const Received *p25 = nullptr;
    for (const auto &r : msgs)
        if (pb(r, 0) == fec::kTrainerData)
            p25 = &r;
    ASSERT_NE(p25, nullptr);
    EXPECT_EQ(pb(*p25, 2), 85);
    EXPECT_EQ(pb(*p25, 5) | ((pb(*p25, 6) & 0x0F) << 8), 150);
    EXPECT_TRUE(pb(*p25, 6) & 0x40);
    EXPECT_EQ((pb(*p25, 7) >> 4) & 0x07, 3);  // in use
    // Page 16: trainer, distance enabled, elapsed time in quarter seconds.
    const Received *p16 = nullptr;
    for (const auto &r : msgs)
        if (pb(r, 0) == fec::kGeneral)
            p16 = &r;
    ASSERT_NE(p16, nullptr);
    EXPECT_EQ(pb(*p16, 1), 25);
    EXPECT_TRUE(pb(*p16, 7) & 0x04);
    EXPECT_NEAR(double((p16->at.count() / 250000000) & 0xFF), double(pb(*p16, 2)), 1.0);
}

TEST(VirtualStickTrainer, HigherResistanceSlowsTheRiderAndPagesChangeItsState)
{
    StickHost host(kTrainerOnly);
    host.openTrainer();
    host.run(40);
    const double free = speedOf(host.take());
    EXPECT_GT(free, 7.0);                      // ~30 km/h at 150 W on a free-running brake
    EXPECT_LT(free, 10.0);

    host.send(0x4F, {0, fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 100}); // page 48: 50 %
    host.run(0.3);
    auto got = host.take();
    EXPECT_EQ(StickHost::events(got, 0), std::vector<uint8_t>{0x05});
    ASSERT_NE(host.stick.trainer(), nullptr);
    EXPECT_EQ(host.stick.trainer()->resistanceLevel(), 100);
    host.run(40);
    const double braked = speedOf(host.take());
    EXPECT_LT(braked, free * 0.7);
    EXPECT_GT(braked, 1.0);

    // Back to level 0 the rider speeds up again.
    host.send(0x4F, {0, fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0});
    host.run(40);
    EXPECT_NEAR(speedOf(host.take()), free, 0.3);

    // A climb (page 51, +8 %) slows the rider, a target power (page 49) of 300 W speeds up.
    host.send(0x4F, {0, fec::kTrackResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0x40, 0x51, 0xFF}); // 20800 -> 8 %
    host.run(40);
    EXPECT_NEAR(host.stick.trainer()->grade(), 8.0, 1e-9);
    EXPECT_LT(speedOf(host.take()), free * 0.5);
    host.send(0x4F, {0, fec::kTargetPower, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xB0, 0x04}); // 1200 / 4 = 300 W
    host.run(40);
    auto msgs = host.take();
    EXPECT_GT(speedOf(msgs), free);
    for (const auto &r : StickHost::data(msgs, 0, 0x4E)) {
        if (pb(r, 0) == fec::kTrainerData && r.at > msgs.front().at + fromSeconds(1)) {
            EXPECT_EQ(pb(r, 5) | ((pb(r, 6) & 0x0F) << 8), 300);
        }
    }

    // Page 55 clears "user configuration required" and sets weight and wheel.
    host.send(0x4F, {0, fec::kUserConfiguration, 0x4C, 0x1D, 0xFF, 0xF9, 0xFF, 0x41, 0x00});
    host.run(2);
    msgs = host.take();
    EXPECT_TRUE(host.stick.trainer()->userConfigured());
    EXPECT_NEAR(host.stick.trainer()->userWeight(), 75.0, 1e-9);
    EXPECT_NEAR(host.stick.trainer()->wheelDiameter(), 0.659, 1e-9);
    int seen = 0;
    for (const auto &r : StickHost::data(msgs, 0, 0x4E))
        if (pb(r, 0) == fec::kTrainerData && r.at > msgs.front().at + fromSeconds(0.3)) {
            EXPECT_FALSE(pb(r, 6) & 0x40);
            ++seen;
        }
    EXPECT_GT(seen, 0);
}

TEST(VirtualStickTrainer, CapabilityRequestIsAnsweredWithAcknowledgedPage54)
{
    StickHost host("trainer 4242 max_resistance=900\nrider 0 150 85\n");
    host.openTrainer();
    host.run(1);
    host.take();
    host.send(0x4F, {0, fec::kRequest, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, fec::kCapabilities, 0x01});
    host.run(1);
    const auto got = host.take();
    EXPECT_EQ(StickHost::events(got, 0), std::vector<uint8_t>{0x05});
    const auto acked = StickHost::data(got, 0, 0x4F);
    ASSERT_EQ(acked.size(), 1u);
    EXPECT_EQ(pb(acked[0], 0), fec::kCapabilities);
    EXPECT_EQ(u16(acked[0].msg, 5), 900);
    EXPECT_EQ(pb(acked[0], 7), 0x07);

    // Without the acknowledged flag the page comes as that many broadcasts.
    host.send(0x4F, {0, fec::kRequest, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, fec::kManufacturerInfo, 0x01});
    host.run(2);
    size_t p80 = 0;
    for (const auto &r : StickHost::data(host.take(), 0, 0x4E))
        p80 += pb(r, 0) == fec::kManufacturerInfo;
    EXPECT_EQ(p80, 2u);
}

TEST(VirtualStickTrainer, CalibrationRequestGivesProgressThenResult)
{
    for (bool fails : {false, true}) {
        // The zero offset needs still pedals: the rider stops while it runs.
        StickHost host(std::string("trainer 4242") + (fails ? " calibration=fail" : "") +
                       "\nrider 0 150 85 follows\n");
        host.openTrainer();
        host.run(1);
        host.take();
        host.send(0x4F, {0, fec::kCalibrationResponse, 0x40, 0, 0, 0, 0, 0, 0}); // zero-offset request
        host.run(6);
        std::vector<uint8_t> pages;
        const Received *result = nullptr;
        const auto msgs = StickHost::data(host.take(), 0, 0x4E);
        for (const auto &r : msgs) {
            pages.push_back(pb(r, 0));
            if (pb(r, 0) == fec::kCalibrationResponse && !result)
                result = &r;
        }
        EXPECT_GE(StickHost::count(pages, fec::kCalibrationProgress), 3u);
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(pb(*result, 1), fails ? 0x00 : 0x40);
        if (!fails) {
            EXPECT_NEAR(u16(result->msg, 4), 1234, 3);
        }
    }
}

TEST(VirtualStickTrainer, ResistanceMapBurstHasHeaderAndSequencedPackets)
{
    StickHost host("trainer 4242 map=2\nrider 0 150 85\n");
    host.openTrainer();
    host.run(3);
    const auto burst = StickHost::data(host.take(), 0, 0x50);
    ASSERT_EQ(burst.size(), 64u);
    EXPECT_EQ(pb(burst[0], 0), 0x21);
    EXPECT_EQ(u16(burst[0].msg, 3), 504);
    const uint8_t expectedSeq[] = {0, 1, 2, 3, 1, 2, 3};
    for (size_t i = 0; i < burst.size(); ++i) {
        const uint8_t chb = burst[i].msg.data[0];
        EXPECT_EQ(chb & 0x1F, 0);
        EXPECT_EQ((chb >> 5) & 3, i == 0 ? 0 : expectedSeq[1 + (i - 1) % 3]) << i;
        EXPECT_EQ((chb & 0x80) != 0, i == 63) << i;
    }
    // Values grow with speed within a level and with the level at one speed.
    auto value = [&](unsigned k) { return u16(burst[1 + k / 4].msg, (k % 4) * 2); };
    EXPECT_LT(value(0), value(17));   // 5 km/h vs 90 km/h at level 0
    EXPECT_LT(value(0), value(18 * 13)); // level 0 vs level 200 at 5 km/h
}

// The seconds at which each resistance-map burst began (its header packet).
std::vector<double> mapBurstStarts(const std::vector<Received> &got)
{
    std::vector<double> starts;
    for (const auto &r : StickHost::data(got, 0, 0x50))
        if (((r.msg.data[0] >> 5) & 3) == 0 && pb(r, 0) == 0x21)
            starts.push_back(toSeconds(r.at));
    return starts;
}

TEST(VirtualStickTrainer, ResistanceMapBurstRepeats)
{
    {
        StickHost host("trainer 4242 map_every=2\nrider 0 150 85\n");
        host.openTrainer();
        host.run(7);
        const auto starts = mapBurstStarts(host.take());
        ASSERT_EQ(starts.size(), 3u);
        for (size_t i = 0; i < starts.size(); ++i)
            EXPECT_NEAR(starts[i], 2.0 * double(i + 1), 0.3) << i;
    }
    {
        // A first time of its own, then the period; each burst whole.
        StickHost host("trainer 4242 map=1 map_every=3\nrider 0 150 85\n");
        host.openTrainer();
        host.run(8);
        const auto got = host.take();
        const auto starts = mapBurstStarts(got);
        ASSERT_EQ(starts.size(), 3u);
        EXPECT_NEAR(starts[0], 1.0, 0.3);
        EXPECT_NEAR(starts[1], 4.0, 0.3);
        EXPECT_NEAR(starts[2], 7.0, 0.3);
        EXPECT_EQ(StickHost::data(got, 0, 0x50).size(), 3u * 64u);
    }
    {
        // Opened late: the bursts missed before are not sent in a row.
        StickHost host("trainer 4242 map_every=1\nrider 0 150 85\n");
        host.run(5.5);
        host.openTrainer();
        host.run(3);
        EXPECT_LE(mapBurstStarts(host.take()).size(), 4u); // at 5.5 (late), 6, 7, 8
    }
}

TEST(VirtualStickRadio, HostBurstIsDeliveredWithTransferEvents)
{
    StickHost host(kTrainerOnly);
    host.openTrainer();
    host.run(1);
    host.take();
    host.send(0x50, {0x00, 1, 2, 3, 4, 5, 6, 7, 8});
    host.send(0x4F, {0, fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 10}); // busy with the burst
    host.send(0x50, {0x20, 1, 2, 3, 4, 5, 6, 7, 8});
    host.send(0x50, {0xC0, 1, 2, 3, 4, 5, 6, 7, 8});
    auto got = host.take();
    EXPECT_EQ(StickHost::responseCode(got, 0, 0x4F), 0x1F);
    host.run(0.3);
    got = host.take();
    EXPECT_EQ(StickHost::events(got, 0), (std::vector<uint8_t>{0x0A, 0x05}));

    // Out-of-order sequence numbers are refused.
    host.send(0x50, {0x00, 1, 2, 3, 4, 5, 6, 7, 8});
    host.send(0x50, {0x40, 1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(StickHost::responseCode(host.take(), 0, 0x50), 0x20);
    host.run(0.3);
    EXPECT_TRUE(StickHost::events(host.take(), 0).empty());
}

TEST(VirtualStickRadio, AcknowledgedTransfersFollowTheFailureProbability)
{
    {
        StickHost host("trainer 4242\nack_failure 1\n");
        host.openTrainer();
        host.run(1);
        host.send(0x4F, {0, fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 40});
        host.send(0x4F, {0, fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 41}); // still in progress
        EXPECT_EQ(StickHost::responseCode(host.take(), 0, 0x4F), 0x1F);
        host.run(0.3);
        EXPECT_EQ(StickHost::events(host.take(), 0), std::vector<uint8_t>{0x06});
        EXPECT_EQ(host.stick.trainer()->resistanceLevel(), 0); // never delivered
        // Once the transfer ended, a new one is accepted.
        host.send(0x4F, {0, fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 40});
        EXPECT_TRUE(host.take().empty());
    }
    // Half the transfers fail, in the same order for the same seed.
    auto runOnce = [](uint64_t seed) {
        StickHost host("seed " + std::to_string(seed) + "\ntrainer 4242\nack_failure 0.5\n");
        host.openTrainer();
        host.run(1);
        std::vector<uint8_t> results;
        for (int i = 0; i < 200; ++i) {
            host.send(0x4F, {0, fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 40});
            host.run(0.25);
            for (uint8_t e : StickHost::events(host.take(), 0))
                results.push_back(e);
        }
        return results;
    };
    const auto a = runOnce(11), b = runOnce(11), c = runOnce(12);
    ASSERT_EQ(a.size(), 200u);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_GT(StickHost::count(a, 0x06), 60u);
    EXPECT_GT(StickHost::count(a, 0x05), 60u);
}

TEST(VirtualStickRadio, DropoutGivesRxFailThenSearchThenRecovery)
{
    StickHost host("trainer 4242\nrider 0 150 85\ndropout 10 5\n");
    host.openTrainer(0, 0, 0, 255);
    host.run(9.9);
    host.take();
    host.send(0x4F, {0, fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 40}); // lost in the dropout
    host.run(5);
    auto got = host.take();
    const auto ev = StickHost::events(got, 0);
    EXPECT_TRUE(StickHost::data(got, 0).empty());
    ASSERT_GE(ev.size(), 10u);
    EXPECT_EQ(ev[0], 0x02);
    EXPECT_EQ(StickHost::count(ev, 0x02), 8u);
    EXPECT_EQ(StickHost::count(ev, 0x06), 1u);
    EXPECT_EQ(StickHost::count(ev, 0x08), 1u);
    // go to search right after the eighth miss, and nothing more while searching forever
    EXPECT_EQ(ev.back(), 0x08);
    host.run(0.2);                             // the dropout ends at 15 s
    got = host.take();
    EXPECT_FALSE(StickHost::data(got, 0).empty());
    EXPECT_TRUE(StickHost::events(got, 0).empty());
    host.send(0x4D, {0, 0x51});
    got = host.take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(u16(got[0].msg, 0), 4242);
}

TEST(VirtualStickRadio, ShortDropoutOnlyMissesMessages)
{
    StickHost host("trainer 4242\nhr 77\ndropout 5 1 hr\n");
    host.openTrainer(0);
    host.openChannel(1, 0, {}, 0, 120, 57, 8070, 0, 255);
    host.run(10);
    const auto got = host.take();
    EXPECT_TRUE(StickHost::events(got, 0).empty()); // the trainer is not affected
    const auto hr = StickHost::events(got, 1);
    EXPECT_EQ(StickHost::count(hr, 0x02), 4u);
    EXPECT_EQ(StickHost::count(hr, 0x08), 0u);
}

TEST(VirtualStickRadio, MissingDeviceEndsInSearchTimeoutAndClose)
{
    StickHost host("hr 77\n");
    host.openTrainer(0, 0, 2, 2);              // 5 s high + 5 s low priority
    host.run(9.9);
    EXPECT_TRUE(host.take().empty());
    host.run(0.5);
    auto got = host.take();
    EXPECT_EQ(StickHost::events(got, 0), (std::vector<uint8_t>{0x01, 0x07}));
    host.send(0x4D, {0, 0x52});
    got = host.take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].msg.data[1] & 0x03, 1);  // assigned again
    // It can be opened again.
    host.send(0x4B, {0});
    EXPECT_EQ(StickHost::responseCode(host.take(), 0, 0x4B), 0);

    // An infinite low-priority search never times out.
    StickHost forever("hr 77\n");
    forever.openTrainer(0, 0, 0, 255);
    forever.run(600);
    EXPECT_TRUE(forever.take().empty());
    EXPECT_EQ(forever.stick.nextDue(), forever.now + fromSeconds(0.25));
}

TEST(VirtualStickRadio, LongDropoutEndsTheSearchToo)
{
    StickHost host("trainer 4242\ndropout 2 60 trainer\n");
    host.openTrainer(0, 0, 0, 2);              // 5 s low priority
    host.run(20);
    const auto ev = StickHost::events(host.take(), 0);
    ASSERT_GE(ev.size(), 3u);
    EXPECT_EQ(StickHost::count(ev, 0x08), 1u);
    EXPECT_EQ(ev[ev.size() - 2], 0x01);
    EXPECT_EQ(ev.back(), 0x07);
}

TEST(VirtualStickRadio, UnpluggedStickFallsSilent)
{
    StickHost host("trainer 4242\nunplug 3\n");
    host.openTrainer();
    host.run(2.9);
    EXPECT_FALSE(host.stick.unplugged(host.now));
    EXPECT_FALSE(host.take().empty());
    host.run(0.2);
    host.take();
    EXPECT_TRUE(host.stick.unplugged(host.now));
    host.run(5);
    host.send(0x4D, {0, 0x52});
    EXPECT_TRUE(host.take().empty());
    EXPECT_EQ(host.stick.nextDue(), VirtualStick::kNever);
}

TEST(VirtualStickDevices, HeartRateStrapTogglesEveryFourMessages)
{
    StickHost host("hr 77 bpm=150\n");
    host.openChannel(0, 0, {}, 0, 120, 57, 8070, 0, 255);
    host.run(60);
    const auto msgs = StickHost::data(host.take(), 0, 0x4E);
    ASSERT_GT(msgs.size(), 100u);
    // 8070/32768 s per message
    EXPECT_NEAR(double(msgs.size()), 60.0 * 32768 / 8070, 1.0);
    std::vector<uint8_t> pages;
    for (size_t i = 0; i < msgs.size(); ++i) {
        EXPECT_EQ((pb(msgs[i], 0) & 0x80) != 0, ((i / 4) & 1) != 0) << i;
        EXPECT_EQ(pb(msgs[i], 7), 150);
        pages.push_back(pb(msgs[i], 0) & 0x7F);
    }
    EXPECT_GT(StickHost::count(pages, 4), 100u);
    EXPECT_GE(StickHost::count(pages, 1), 1u);
    EXPECT_GE(StickHost::count(pages, 2), 1u);
    EXPECT_GE(StickHost::count(pages, 3), 1u);
    // beat count goes up about 2.5 per second
    const int beats = (pb(msgs.back(), 6) - pb(msgs.front(), 6) + 256) % 256;
    EXPECT_NEAR(beats, 2.5 * toSeconds(msgs.back().at - msgs.front().at), 2.0);
}

TEST(VirtualStickDevices, ConsoleLivesOnThePublicKeyAndSendsKeys)
{
    NetworkKeys keys;
    keys.antPlus = NetworkKey{1, 1, 1, 1, 1, 1, 1, 1};
    keys.publicKey = NetworkKey{2, 2, 2, 2, 2, 2, 2, 2};
    StickHost host("console 12\nkey 3 plus 1\nkey 5 tab\n", keys);
    // The console's channel type (1) and network 1 with the public key.
    auto got = host.openChannel(2, 1, *keys.publicKey, 0, 18, 70, 16150, 0, 255, 1);
    EXPECT_EQ(StickHost::responseCode(got, 2, 0x4B), 0);
    host.run(2);
    got = host.take();
    auto msgs = StickHost::data(got, 2, 0x4E);
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(pb(msgs[0], 0), 5);
    EXPECT_EQ(pb(msgs[0], 1), 0);
    host.send(0x4E, {2, 0x0A, 0, 0, 0, 0, 0, 0, 0});
    host.run(2);
    msgs = StickHost::data(host.take(), 2, 0x4E);
    bool plus = false;
    for (const auto &r : msgs)
        plus = plus || pb(r, 1) == 1;
    EXPECT_TRUE(plus);
    EXPECT_EQ(static_cast<SimConsole &>(host.stick.device(0)).keepAlives(), 1u);
    host.run(2);
    msgs = StickHost::data(host.take(), 2, 0x4E);
    bool tab = false;
    for (const auto &r : msgs)
        tab = tab || pb(r, 4) == 1;
    EXPECT_TRUE(tab);

    // On the ANT+ key the console is not found.
    StickHost wrong("console 12\n", keys);
    wrong.openChannel(2, 1, *keys.antPlus, 0, 18, 70, 16150, 0, 255, 1);
    wrong.run(3);
    EXPECT_TRUE(StickHost::data(wrong.take(), 2).empty());
}

TEST(VirtualStickDevices, ExtendedMessagesCarryTheChannelId)
{
    StickHost host(kTrainerOnly);
    host.openTrainer();
    host.send(0x66, {0, 1});
    host.run(0.3);
    auto msgs = StickHost::data(host.take(), 0, 0x4E);
    ASSERT_FALSE(msgs.empty());
    ASSERT_EQ(msgs[0].msg.data.size(), 14u);
    EXPECT_EQ(msgs[0].msg.data[9], 0x80);
    EXPECT_EQ(msgs[0].msg.data[10] | (msgs[0].msg.data[11] << 8), 4242);
    EXPECT_EQ(msgs[0].msg.data[12], 17);
    host.send(0x66, {0, 0});
    host.run(0.3);
    msgs = StickHost::data(host.take(), 0, 0x4E);
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs[0].msg.data.size(), 9u);
}

TEST(VirtualStickDevices, ThreeChannelsRunSideBySide)
{
    StickHost host("trainer 4242\nhr 77\nconsole 12\nrider 0 200 90\n");
    host.openChannel(0, 0, {}, 0, 120, 57, 8070, 0, 255);
    host.openTrainer(1);
    host.openChannel(2, 1, {}, 0, 18, 70, 16150, 0, 255, 1);
    host.run(10);
    const auto got = host.take();
    EXPECT_NEAR(double(StickHost::data(got, 0).size()), 10 * 32768.0 / 8070, 1.0);
    EXPECT_NEAR(double(StickHost::data(got, 1).size()), 40, 1.0);
    EXPECT_NEAR(double(StickHost::data(got, 2).size()), 10 * 32768.0 / 16150, 1.0);
    // Messages come out in time order.
    for (size_t i = 1; i < got.size(); ++i)
        EXPECT_LE(got[i - 1].at, got[i].at);
}

TEST(VirtualStickRadio, MasterChannelTransmitsEveryPeriodAndNobodyAcknowledges)
{
    StickHost host(kTrainerOnly);
    host.openChannel(3, 0, {}, 9, 17, 57, 8192, 0, 255, 0x10);
    host.run(1);
    EXPECT_EQ(StickHost::events(host.take(), 3), std::vector<uint8_t>(4, 0x03));
    host.send(0x4F, {3, 0x10, 0, 0, 0, 0, 0, 0, 0});
    host.run(0.25);
    EXPECT_EQ(StickHost::events(host.take(), 3), (std::vector<uint8_t>{0x03, 0x06}));
}

TEST(VirtualStickRadio, HostLogHasALineForEveryPageADeviceTook)
{
    const std::string path = ::testing::TempDir() + "antsim_host_log_test.txt";
    std::remove(path.c_str());
    {
        StickHost host("trainer 4242\nhost_log " + path + "\n");
        host.openTrainer();
        host.run(1);
        host.send(0x4F, {0, fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x5A});
        host.send(0x4F, {0, fec::kUserConfiguration, 0xFF, 0xFF, 0xFF, 0xF4, 0xFF, 0x4A, 0x00}); // refused
        host.run(0.3);
        host.send(0x4E, {0, fec::kTrackResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0x4E, 0xFF});
        host.run(0.3);
    }
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line))
        lines.push_back(line.substr(line.find(' ') + 1)); // without the time
    EXPECT_EQ(lines, (std::vector<std::string>{"trainer 4242 ack 30 FF FF FF FF FF FF 5A",
                                               "trainer 4242 broadcast 33 FF FF FF FF 20 4E FF"}));

    // A log that cannot be written makes the stick unusable rather than silently blind.
    EXPECT_THROW(VirtualStick(parseScenario("host_log /nonexistent-dir/x.log\n"), {}), ScenarioError);
}
