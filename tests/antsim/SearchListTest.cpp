// Search lists on the virtual stick, and the scenario options that give devices an identity
// and a dropout of their own.
#include "StickHost.h"

#include <gtest/gtest.h>

#include <set>

namespace antsim::test {
namespace {

constexpr uint8_t kAddToList = 0x59;
constexpr uint8_t kConfigList = 0x5A;
const char *const kThreeTrainers = "seed 1\ntrainer 100\ntrainer 200\ntrainer 300\n";

// Assigns a wildcard FE-C channel, applies the list, opens it and returns the device numbers
// it paired with, one search after the other (closing in between), up to `searches`.
std::set<uint16_t> pairedWith(StickHost &host, const std::vector<std::vector<uint8_t>> &entries,
                              uint8_t size, uint8_t exclude, int searches)
{
    host.send(0x42, {0, 0, 0});
    host.send(0x51, {0, 0, 0, 17, 0});
    host.send(0x45, {0, 57});
    host.send(0x44, {0, 2});
    host.send(0x63, {0, 0});
    for (const auto &e : entries)
        host.send(kAddToList, e);
    if (!entries.empty())
        host.send(kConfigList, {0, size, exclude});
    std::set<uint16_t> found;
    for (int i = 0; i < searches; ++i) {
        host.send(0x4B, {0});
        host.run(6.0);
        host.send(0x4D, {0, 0x51});
        for (const auto &r : host.take())
            if (r.msg.id == 0x51 && r.msg.data.size() >= 5 && u16(r.msg, 0) != 0)
                found.insert(u16(r.msg, 0));
        host.send(0x4C, {0});
        host.run(0.1);
        host.take();
    }
    return found;
}

TEST(SearchList, ExclusionPassesOverListedDevicesInclusionFindsOnlyThem)
{
    {
        StickHost host(kThreeTrainers);
        EXPECT_EQ(pairedWith(host, {{0, 100, 0, 17, 0, 0}, {0, 200, 0, 0, 0, 1}}, 2, 1, 3),
                  std::set<uint16_t>{300});
    }
    {
        StickHost host(kThreeTrainers);
        EXPECT_EQ(pairedWith(host, {{0, 200, 0, 0, 0, 0}}, 1, 0, 3), std::set<uint16_t>{200});
    }
    {
        // Entries beyond the list size are not in force.
        StickHost host(kThreeTrainers);
        EXPECT_EQ(pairedWith(host, {{0, 100, 0, 0, 0, 0}, {0, 200, 0, 0, 0, 1}}, 1, 0, 3),
                  std::set<uint16_t>{100});
    }
}

TEST(SearchList, AllExcludedSearchTimesOutAndSizeZeroMeansNoList)
{
    StickHost host(kThreeTrainers);
    // A device type alone excludes every trainer.
    EXPECT_TRUE(pairedWith(host, {{0, 0, 0, 17, 0, 0}}, 1, 1, 1).empty());
    host.send(0x42, {0, 0, 0}); // still assigned: refused, the list stays
    EXPECT_EQ(StickHost::responseCode(host.take(), 0, 0x42), 0x15);
    host.send(kConfigList, {0, 0, 1});
    host.send(0x4B, {0});
    host.run(1.0);
    EXPECT_FALSE(StickHost::data(host.take(), 0).empty());
}

TEST(SearchList, BadIndexSizeOrStateIsRefusedAndCapabilityAnnounced)
{
    StickHost host(kThreeTrainers);
    host.send(kAddToList, {0, 1, 0, 17, 0, 0});
    EXPECT_EQ(StickHost::responseCode(host.take(), 0, kAddToList), 0x15); // unassigned
    host.send(0x42, {0, 0, 0});
    host.send(kAddToList, {0, 1, 0, 17, 0, 4});
    host.send(kConfigList, {0, 5, 1});
    auto got = host.take();
    EXPECT_EQ(StickHost::responseCode(got, 0, kAddToList), 0x28);
    EXPECT_EQ(StickHost::responseCode(got, 0, kConfigList), 0x28);
    host.send(kAddToList, {0, 1, 0, 17, 0, 3});
    host.send(kConfigList, {0, 4, 1});
    host.send(kAddToList, {9, 1, 0, 17, 0, 0});
    host.send(kConfigList, {0, 4});
    got = host.take();
    EXPECT_EQ(StickHost::responseCode(got, 0, kAddToList), 0x00);
    EXPECT_EQ(StickHost::responseCode(got, 9, kAddToList), 0x28);
    EXPECT_EQ(StickHost::responseCode(got, 0, kConfigList), 0x28); // too short

    host.send(0x4D, {0, 0x54});
    int advanced = -1;
    for (const auto &r : host.take())
        if (r.msg.id == 0x54)
            advanced = r.msg.data[3];
    EXPECT_TRUE(advanced >= 0 && (advanced & 0x80));
}

TEST(SearchList, ResetClearsTheLists)
{
    StickHost host(kThreeTrainers);
    pairedWith(host, {{0, 0, 0, 17, 0, 0}}, 1, 1, 1);
    host.send(0x4A, {0});
    host.take();
    EXPECT_FALSE(pairedWith(host, {}, 0, 0, 1).empty());
}

TEST(SearchList, ADeviceSendingInStepWithAFollowedOneIsStillFound)
{
    // 300 sends at every other message of 100; with 100 followed on channel 1 and excluded
    // from the search on channel 0, the search must still hear 300.
    StickHost host("trainer 100\ntrainer 300 period=16384\n");
    host.send(0x42, {1, 0, 0});
    host.send(0x51, {1, 100, 0, 17, 0});
    host.send(0x45, {1, 57});
    host.send(0x4B, {1});
    host.run(1.0);
    EXPECT_EQ(pairedWith(host, {{0, 100, 0, 17, 0, 0}}, 1, 1, 1), std::set<uint16_t>{300});
}

uint16_t payload16(const Page &p, size_t at)
{
    return uint16_t(p[at] | (p[at + 1] << 8));
}

TEST(ScenarioIdentity, TrainerAndStrapCarryTheirManufacturerModelAndSerial)
{
    const Scenario world = parseScenario("trainer 4242 manufacturer=89 model=2875 serial=123456\n"
                                         "hr 77 manufacturer=1 model=9 serial=513\n");
    auto trainer = makeDevice(world.devices[0], world);
    auto strap = makeDevice(world.devices[1], world);
    bool saw80 = false, saw81 = false, saw2 = false, saw3 = false;
    for (int i = 0; i < 300; ++i) {
        const Page p = trainer->transmit(fromSeconds(i * 0.25)).packets.front();
        if (p[0] == 80) {
            saw80 = true;
            EXPECT_EQ(payload16(p, 4), 89);
            EXPECT_EQ(payload16(p, 6), 2875);
        } else if (p[0] == 81) {
            saw81 = true;
            EXPECT_EQ(uint32_t(payload16(p, 4) | (payload16(p, 6) << 16)), 123456u);
        }
        const Page h = strap->transmit(fromSeconds(i * 0.25)).packets.front();
        if ((h[0] & 0x7F) == 2) {
            saw2 = true;
            EXPECT_EQ(h[1], 1);
            EXPECT_EQ(payload16(h, 2), 513);
        } else if ((h[0] & 0x7F) == 3) {
            saw3 = true;
            EXPECT_EQ(h[3], 9);
        }
    }
    EXPECT_TRUE(saw80 && saw81 && saw2 && saw3);
}

TEST(ScenarioIdentity, DropoutOfOneDeviceLeavesTheOthersOfItsKind)
{
    const Scenario world = parseScenario("trainer 1\ntrainer 2\nhr 1\ndropout 5 2 trainer 2\n");
    ASSERT_EQ(world.dropouts.size(), 1u);
    EXPECT_EQ(world.dropouts[0].deviceNumber, 2);
    const Nanos during = fromSeconds(6);
    EXPECT_TRUE(makeDevice(world.devices[0], world)->onAir(during));
    EXPECT_FALSE(makeDevice(world.devices[1], world)->onAir(during));
    EXPECT_TRUE(makeDevice(world.devices[2], world)->onAir(during));
    EXPECT_TRUE(makeDevice(world.devices[1], world)->onAir(fromSeconds(7)));
}

TEST(ScenarioIdentity, BadValuesAreRefusedWithTheLine)
{
    auto errorOf = [](const char *text) -> std::string {
        try {
            parseScenario(text);
        } catch (const ScenarioError &e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(errorOf("hr 1 manufacturer=256\n"), "line 1: manufacturer 256 is out of range (1 to 255)");
    EXPECT_EQ(errorOf("trainer 1 model=65536\n"), "line 1: model 65536 is out of range (0 to 65535)");
    EXPECT_EQ(errorOf("console 1 manufacturer=3\n"), "line 1: unknown option 'manufacturer' for console");
    EXPECT_EQ(errorOf("dropout 1 2 all 5\n"), "line 1: a device number needs a device kind");
    EXPECT_EQ(errorOf("dropout 1 2 trainer 0\n"), "line 1: device number 0 is out of range (1 to 65535)");
}

} // namespace
} // namespace antsim::test
