// The library's USB path through the real libusb-1.0, against a stick that umockdev emulates
// at the usbdevfs level: enumeration from sysfs, descriptors, claim, bulk transfers, unplug,
// and the two failures Linux users meet first (permissions, a stick held by someone else).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "antlib/ant_dll.h"
#include "antwire/AntMessage.h"
#include "tests/antlib/EmulatedUsbStick.h"
#include "tests/antlib/HeardCallbacks.h"
#include "tests/antlib/WithoutFileOverride.h"

using namespace std::chrono_literals;
using fennick::test::EmulatedUsbStick;

namespace {

size_t countEvents(uint8_t code)
{
    size_t n = 0;
    for (const Heard &h : gEvents)
        n += h.code == code;
    return n;
}

std::string lastErrorText()
{
    char text[1024];
    return ANT_GetLastErrorText(text, sizeof text) ? std::string(text) : std::string();
}

// Opens channel 0 as an FE-C slave that pairs with any trainer.
void openTrainerChannel()
{
    ANT_AssignResponseFunction(onResponse, gResponseRow);
    ANT_AssignChannelEventFunction(0, onEvent, gEventRow);
    const uint8_t key[8] = {};
    ASSERT_TRUE(ANT_SetNetworkKey(0, key));
    ASSERT_TRUE(ANT_AssignChannel(0, 0x00, 0));
    ASSERT_TRUE(ANT_SetChannelId(0, 0, 17, 0));
    ASSERT_TRUE(ANT_SetChannelRFFreq(0, 57));
    ASSERT_TRUE(ANT_SetChannelPeriod(0, 8192));
    ASSERT_TRUE(ANT_OpenChannel(0));
}

class AntDllUmockdev : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unsetenv("FENNICK_ANT_SERIAL");
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
        std::lock_guard lock(gMutex);
        gEvents.clear();
        gResponses.clear();
    }
    // The library lets go of the stick before umockdev takes it away.
    void TearDown() override
    {
        ANT_Close();
        ANT_UnassignAllResponseFunctions();
        FStick.reset();
    }

    EmulatedUsbStick &plugIn(EmulatedUsbStick::Options options = {})
    {
        FStick = std::make_unique<EmulatedUsbStick>(std::move(options));
        return *FStick;
    }

private:
    std::unique_ptr<EmulatedUsbStick> FStick;
};

} // namespace

TEST_F(AntDllUmockdev, FindsTheStickOpensItAndCarriesFramesBothWays)
{
    EmulatedUsbStick &stick = plugIn();
    ASSERT_EQ(stick.setupError(), "");

    uint8_t product[256], serial[256];
    ASSERT_TRUE(ANT_GetDeviceUSBInfo(0, product, serial)) << "libusb does not list the stick";
    EXPECT_STREQ(reinterpret_cast<char *>(product), "ANT USBStick2");
    EXPECT_STREQ(reinterpret_cast<char *>(serial), "3141592");
    EXPECT_FALSE(ANT_GetDeviceUSBInfo(1, product, serial));

    ASSERT_TRUE(ANT_Init(0, 57600)) << lastErrorText();
    EXPECT_TRUE(stick.claimed());
    uint16_t pid = 0;
    ASSERT_TRUE(ANT_GetDeviceUSBPID(&pid));
    EXPECT_EQ(pid, 0x1008);

    // The reset is written to the OUT endpoint and the startup message read from the IN one.
    ASSERT_TRUE(ANT_ResetSystem()) << lastErrorText();
    const Bytes reset = antwire::encodeMessage(0x4A, std::vector<uint8_t>{0}.data(), 1);
    const Bytes written = stick.hostBytes();
    ASSERT_GE(written.size(), reset.size());
    EXPECT_TRUE(std::search(written.begin(), written.end(), reset.begin(), reset.end()) != written.end());
    for (uint8_t ep : stick.outEndpoints())
        EXPECT_EQ(ep, EmulatedUsbStick::kOutEndpoint);

    // Commands are answered and the trainer's pages arrive.
    openTrainerChannel();
    EXPECT_TRUE(waitFor([] {
        for (const Heard &r : gResponses)
            if (r.code == 0x40 && r.row[1] == 0x4B && r.row[2] == 0x00)
                return true;
        return false;
    })) << "no answer to the channel open";
    ASSERT_TRUE(waitFor([] { return countEvents(0x9A) >= 3; })) << "no broadcasts from the trainer";
    std::lock_guard lock(gMutex);
    for (const Heard &h : gEvents) {
        if (h.code == 0x9A) {
            EXPECT_EQ(h.row[0], 0) << "broadcast on channel 0";
        }
    }
}

TEST_F(AntDllUmockdev, AnUnpluggedStickClosesTheChannelAndNothingHangs)
{
    EmulatedUsbStick &stick = plugIn();
    ASSERT_EQ(stick.setupError(), "");
    ASSERT_TRUE(ANT_Init(0, 57600)) << lastErrorText();
    openTrainerChannel();
    ASSERT_TRUE(waitFor([] { return countEvents(0x9A) >= 1; }));

    stick.unplug();
    ASSERT_TRUE(waitFor([] { return countEvents(0x07) >= 1; })) << "no channel closed event";
    std::this_thread::sleep_for(200ms);
    {
        std::lock_guard lock(gMutex);
        EXPECT_EQ(countEvents(0x07), 1u) << "closed once";
    }
    EXPECT_FALSE(ANT_OpenChannel(0));
    EXPECT_FALSE(ANT_ResetSystem());
    const auto start = std::chrono::steady_clock::now();
    ANT_Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "closing a lost stick hangs";
}

TEST_F(AntDllUmockdev, ADeviceNodeTheUserMayNotOpenNamesTheUdevRule)
{
    EmulatedUsbStick::Options options;
    options.deniedToUser = true;
    EmulatedUsbStick &stick = plugIn(options);
    ASSERT_EQ(stick.setupError(), "");
    fennick::test::WithoutFileOverride asAUser;

    uint8_t product[256], serial[256];
    EXPECT_TRUE(ANT_GetDeviceUSBInfo(0, product, serial)) << "still listed, so the user knows it is there";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ANT_Init(0, 57600));
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string reason = lastErrorText();
    EXPECT_NE(reason.find("no permission to open the ANT USB stick on bus 001 device 002"),
              std::string::npos) << reason;
    EXPECT_NE(reason.find("udev rule packaging/99-fennick-ant.rules"), std::string::npos) << reason;
    EXPECT_NE(said.find("99-fennick-ant.rules"), std::string::npos) << said;
    EXPECT_FALSE(stick.claimed());
    EXPECT_FALSE(ANT_AssignChannel(0, 0, 0));
}

TEST_F(AntDllUmockdev, AStickClaimedByAnotherProgramSaysSo)
{
    EmulatedUsbStick::Options options;
    options.claimErrno = EBUSY;
    EmulatedUsbStick &stick = plugIn(options);
    ASSERT_EQ(stick.setupError(), "");

    testing::internal::CaptureStderr();
    EXPECT_FALSE(ANT_Init(0, 57600));
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string reason = lastErrorText();
    EXPECT_NE(reason.find("another program holds the ANT USB stick"), std::string::npos) << reason;
    EXPECT_EQ(reason.find("udev"), std::string::npos) << "not a permission problem: " << reason;
    EXPECT_NE(said.find("another program holds the ANT USB stick"), std::string::npos) << said;

    // Once the other program lets go, the same stick opens.
    stick.setClaimErrno(0);
    EXPECT_TRUE(ANT_Init(0, 57600)) << lastErrorText();
    EXPECT_TRUE(stick.claimed());
    EXPECT_EQ(lastErrorText(), "");
}
