// Pages into list entries, and the line of `fennick --scan`.
#include "discovery/DiscoveryPages.h"
#include "discovery/MessageRate.h"

#include <gtest/gtest.h>

namespace {

void Feed(TDiscoveredDevice &d, std::initializer_list<uint8_t> page)
{
    DecodeDiscoveryPage(std::data(page), d);
}

TEST(DiscoveryPages, TrainerPagesFillFeTypeAndCommonIdentity)
{
    TDiscoveredDevice d;
    d.DeviceNumber = 4242;
    Feed(d, {16, 0xF9, 0, 0, 0, 0, 0, 0});     // upper bits of byte 1 are not the type
    Feed(d, {80, 0xFF, 0xFF, 3, 89, 0, 0x3B, 0x0B});
    Feed(d, {81, 0xFF, 0xFF, 12, 0x40, 0xE2, 0x01, 0x00});
    EXPECT_EQ(d.FeType, 25);
    EXPECT_EQ(d.HardwareRevision, 3);
    EXPECT_EQ(d.ManufacturerId, 89);
    EXPECT_EQ(d.ModelNumber, 2875);
    EXPECT_EQ(d.SoftwareVersion, "1.2");
    EXPECT_EQ(d.SerialNumber, 123456u);
    Feed(d, {81, 0xFF, 5, 12, 0xFF, 0xFF, 0xFF, 0xFF}); // no serial: the one known stays
    EXPECT_EQ(d.SoftwareVersion, "1.205");
    EXPECT_EQ(d.SerialNumber, 123456u);
    Feed(d, {25, 1, 2, 3, 4, 5, 6, 7});
    EXPECT_EQ(d.FeType, 25);
}

TEST(DiscoveryPages, StrapBackgroundPagesWithTheToggleBitAreIdentity)
{
    TDiscoveredDevice d;
    d.Kind = TDiscoveredKind::HeartRate;
    d.DeviceNumber = 77;
    Feed(d, {0x82, 1, 0x01, 0x02, 0, 0, 0, 120});
    Feed(d, {0x03, 4, 7, 9, 0, 0, 0, 120});
    Feed(d, {0x90, 25, 0, 0, 0, 0, 0, 120}); // a page 16 means nothing on a strap
    EXPECT_EQ(d.ManufacturerId, 1);
    EXPECT_EQ(d.SerialNumber, (0x0201u << 16) | 77u);
    EXPECT_EQ(d.HardwareRevision, 4);
    EXPECT_EQ(d.SoftwareVersion, "7");
    EXPECT_EQ(d.ModelNumber, 9);
    EXPECT_FALSE(d.FeType);
}

TEST(DiscoveryText, LineKeepsItsFieldsAndNamesFallBackToTheNumber)
{
    TDiscoveredDevice t;
    t.DeviceNumber = 4242;
    t.TransmissionType = 5;
    t.ManufacturerId = 89;
    t.ModelNumber = 2875;
    t.FeType = 25;
    t.MessagesPerSecond = 3.96;
    t.SecondsSinceHeard = 0.04;
    EXPECT_EQ(DiscoveryLine(t), "trainer 4242 transmission=5 manufacturer=89 model=2875 fe=25 rate=4.0 heard=0.0");
    TDiscoveredDevice h;
    h.Kind = TDiscoveredKind::HeartRate;
    h.DeviceNumber = 77;
    h.TransmissionType = 1;
    h.SecondsSinceHeard = 12.25;
    EXPECT_EQ(DiscoveryLine(h), "hr 77 transmission=1 manufacturer=- model=- fe=- rate=0.0 heard=12.2");
    EXPECT_EQ(ManufacturerName(89), "Tacx");
    EXPECT_EQ(ManufacturerName(4000), "#4000");
    EXPECT_EQ(FeTypeName(25), "trainer");
    EXPECT_EQ(FeTypeName(3), "#3");
}

TEST(DiscoveryRate, CountsOnlyTheLastSecondsAndNeverDividesByLessThanOne)
{
    using namespace std::chrono_literals;
    TMessageRate rate;
    const auto t0 = TMessageRate::TClock::time_point{} + 100s;
    for (int i = 0; i < 40; ++i)
        rate.Heard(t0 + i * 250ms);
    EXPECT_NEAR(rate.PerSecond(t0 + 10s, t0), 4.0, 0.21);
    EXPECT_NEAR(rate.PerSecond(t0 + 13s, t0), 1.6, 0.21); // quiet for the last 3 s
    EXPECT_DOUBLE_EQ(rate.PerSecond(t0 + 30s, t0), 0.0);
    // Found by its message at t0: a 4 Hz trainer reads 4 a few seconds later, not 4.2.
    TMessageRate fresh;
    for (int i = 0; i < 20; ++i)
        fresh.Heard(t0 + i * 250ms);
    EXPECT_DOUBLE_EQ(fresh.PerSecond(t0 + 4750ms, t0), 4.0);
    EXPECT_DOUBLE_EQ(fresh.PerSecond(t0 + 4800ms, t0), 19 / 4.8);
}

} // namespace
