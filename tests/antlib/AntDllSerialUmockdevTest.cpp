// The first ANT USB stick (0FCF:1004) is a serial bridge the kernel shows as a tty. Through the
// real library and umockdev's sysfs, with nothing in $FENNICK_ANT_SERIAL: the stick is found
// by its USB id, opened at its own line speed and carries a session with the virtual stick on
// the terminal's other side.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "antlib/ant_dll.h"
#include "antwire/AntMessage.h"
#include "tests/antlib/EmulatedSerialStick.h"
#include "tests/antlib/HeardCallbacks.h"
#include "tests/antlib/WithoutFileOverride.h"

using namespace std::chrono_literals;
using fennick::test::EmulatedSerialStick;

namespace {

bool heardPage(uint8_t page)
{
    return std::any_of(gEvents.begin(), gEvents.end(),
                       [&](const Heard &h) { return h.code == 0x9A && h.row[1] == page; });
}

std::string lastErrorText()
{
    char text[1024];
    return ANT_GetLastErrorText(text, sizeof text) ? std::string(text) : std::string();
}

// The product and serial texts of every device the library lists.
std::vector<std::pair<std::string, std::string>> listed()
{
    std::vector<std::pair<std::string, std::string>> devices;
    uint8_t product[256], serial[256];
    for (int n = 0; n < 32 && ANT_GetDeviceUSBInfo(uint8_t(n), product, serial); ++n)
        devices.emplace_back(reinterpret_cast<char *>(product), reinterpret_cast<char *>(serial));
    return devices;
}

using Listing = std::vector<std::pair<std::string, std::string>>;

class AntDllSerialUmockdev : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unsetenv("FENNICK_ANT_SERIAL");
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
        std::lock_guard lock(gMutex);
        gEvents.clear();
        gResponses.clear();
    }
    // The library lets go of the tty before umockdev takes it away.
    void TearDown() override
    {
        ANT_Close();
        ANT_UnassignAllResponseFunctions();
        FStick.reset();
        ::unsetenv("FENNICK_ANT_SERIAL");
    }

    EmulatedSerialStick &plugIn(EmulatedSerialStick::Options options = {})
    {
        FStick = std::make_unique<EmulatedSerialStick>(std::move(options));
        return *FStick;
    }

private:
    std::unique_ptr<EmulatedSerialStick> FStick;
};

} // namespace

TEST_F(AntDllSerialUmockdev, TheStickIsFoundByItsUsbIdAndCarriesASessionAtItsOwnSpeed)
{
    EmulatedSerialStick &stick = plugIn();
    ASSERT_EQ(stick.setupError(), "");

    EXPECT_EQ(listed(), (Listing{{"ANT USB Stick", "/dev/ttyUSB0"}}));

    // The application asks every stick for 57600 baud; the bridge only talks at 50000.
    ASSERT_TRUE(ANT_Init(0, 57600)) << lastErrorText();
    EXPECT_EQ(stick.lineSpeed(), 50000u);
    uint16_t pid = 0;
    ASSERT_TRUE(ANT_GetDeviceUSBPID(&pid));
    EXPECT_EQ(pid, 0x1004);

    ANT_AssignResponseFunction(onResponse, gResponseRow);
    ANT_AssignChannelEventFunction(0, onEvent, gEventRow);
    ASSERT_TRUE(ANT_ResetSystem()) << lastErrorText();
    EXPECT_TRUE(waitFor([] {
        return std::any_of(gResponses.begin(), gResponses.end(),
                           [](const Heard &h) { return h.code == 0x6F; });
    })) << "no startup message";
    const Bytes reset = antwire::encodeMessage(0x4A, std::vector<uint8_t>{0}.data(), 1);
    const Bytes written = stick.hostBytes();
    EXPECT_NE(std::search(written.begin(), written.end(), reset.begin(), reset.end()), written.end())
        << "the reset did not go down the tty";

    // An FE-C slave channel that pairs with any trainer.
    const uint8_t key[8] = {};
    ASSERT_TRUE(ANT_SetNetworkKey(0, key));
    ASSERT_TRUE(ANT_AssignChannel(0, 0x00, 0));
    ASSERT_TRUE(ANT_SetChannelId(0, 0, 17, 0));
    ASSERT_TRUE(ANT_SetChannelRFFreq(0, 57));
    ASSERT_TRUE(ANT_SetChannelPeriod(0, 8192));
    ASSERT_TRUE(ANT_OpenChannel(0));
    EXPECT_TRUE(waitFor([] {
        return std::any_of(gResponses.begin(), gResponses.end(), [](const Heard &r) {
            return r.code == 0x40 && r.row[1] == 0x4B && r.row[2] == 0x00;
        });
    })) << "no answer to the channel open";
    // The trainer's general page (16, equipment type 25) and its trainer page 25.
    ASSERT_TRUE(waitFor([] { return heardPage(16) && heardPage(25); })) << "no FE-C pages";
    std::lock_guard lock(gMutex);
    for (const Heard &h : gEvents)
        if (h.code == 0x9A && h.row[1] == 16) {
            EXPECT_EQ(h.row[0], 0) << "on channel 0";
            EXPECT_EQ(h.row[2], 25) << "a trainer";
        }
}

TEST_F(AntDllSerialUmockdev, OnlyTheStickIsListedAndANamedCopyOfItOnlyOnce)
{
    EmulatedSerialStick::Options options;
    EmulatedSerialStick::Tty cable;
    cable.vendorId = 0x0403;
    cable.productId = 0x6001;
    cable.name = "ttyUSB1";
    cable.product = "FT232R USB UART";
    options.ttys.push_back(cable);
    options.aliases = {"serial/by-id/usb-ANT_USB_Stick-if00-port0"};
    EmulatedSerialStick &stick = plugIn(options);
    ASSERT_EQ(stick.setupError(), "");

    EXPECT_EQ(listed(), (Listing{{"ANT USB Stick", "/dev/ttyUSB0"}})) << "the cable is no stick";

    // Named ones follow the found one, which is not repeated under either of its names.
    ::setenv("FENNICK_ANT_SERIAL",
             "/dev/ttyUSB1:/dev/ttyUSB0:/dev/serial/by-id/usb-ANT_USB_Stick-if00-port0", 1);
    EXPECT_EQ(listed(), (Listing{{"ANT USB Stick", "/dev/ttyUSB0"},
                                 {"ANT serial device", "/dev/ttyUSB1"}}));
    ASSERT_TRUE(ANT_Init(0, 57600)) << lastErrorText();
    EXPECT_EQ(stick.lineSpeed(), 50000u);
}

TEST_F(AntDllSerialUmockdev, ATtyOfAnotherUsbDeviceIsNoStick)
{
    EmulatedSerialStick::Options options;
    options.ttys[0].vendorId = 0x0403;
    options.ttys[0].productId = 0x6001;
    options.ttys[0].product = "FT232R USB UART";
    EmulatedSerialStick &stick = plugIn(options);
    ASSERT_EQ(stick.setupError(), "");

    EXPECT_EQ(listed(), Listing{});
    EXPECT_FALSE(ANT_Init(0, 57600));
}

TEST_F(AntDllSerialUmockdev, ATtyTheUserMayNotOpenSaysWhyAndHowToFixIt)
{
    EmulatedSerialStick::Options options;
    options.deniedToUser = true;
    EmulatedSerialStick &stick = plugIn(options);
    ASSERT_EQ(stick.setupError(), "");
    fennick::test::WithoutFileOverride asAUser;

    EXPECT_EQ(listed().size(), 1u) << "still listed, so the user knows it is there";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ANT_Init(0, 57600));
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string reason = lastErrorText();
    EXPECT_NE(reason.find("cannot open /dev/ttyUSB0: Permission denied"), std::string::npos)
        << reason;
    EXPECT_NE(reason.find("udev rule packaging/99-fennick-ant.rules"), std::string::npos) << reason;
    EXPECT_NE(reason.find("sudo usermod -aG dialout $USER"), std::string::npos) << reason;
    EXPECT_NE(said.find("ANT_DLL: cannot open /dev/ttyUSB0: Permission denied"), std::string::npos)
        << said;
    EXPECT_FALSE(ANT_AssignChannel(0, 0, 0));
}
