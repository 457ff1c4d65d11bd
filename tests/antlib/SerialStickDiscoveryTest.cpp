// Which ttys are ANT sticks, read from a copy of the kernel's sysfs layout: links from
// class/tty into the device tree, a usb-serial port between the tty and the interface.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "antlib/SerialStickDiscovery.h"

namespace fs = std::filesystem;
using antlib::findSerialSticks;
using antlib::SerialStick;

namespace {

class FakeSysfs {
public:
    FakeSysfs()
    {
        std::string pattern = (fs::temp_directory_path() / "fennick-sysfs-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            FRoot = pattern;
        fs::create_directories(FRoot / "class/tty");
    }
    ~FakeSysfs()
    {
        std::error_code ignored;
        fs::remove_all(FRoot, ignored);
    }

    std::string root() const { return FRoot.string(); }

    // A USB device at `devpath` (below devices/), with the attributes only a device has.
    void usbDevice(const std::string &devpath, const char *vendor, const char *product,
                   const char *productText = nullptr)
    {
        const fs::path dir = FRoot / "devices" / devpath;
        fs::create_directories(dir);
        write(dir / "idVendor", vendor);
        write(dir / "idProduct", product);
        if (productText)
            write(dir / "product", productText);
    }

    // A tty whose device is `parent` (below devices/), linked from class/tty as the kernel does.
    void tty(const std::string &parent, const std::string &name)
    {
        const fs::path device = FRoot / "devices" / parent;
        const fs::path node = device / "tty" / name;
        fs::create_directories(node);
        write(node / "dev", "188:0");
        fs::create_directory_symlink(fs::relative(device, node), node / "device");
        link(node, name);
    }

    // A usb-serial port on interface 0 of the USB device at `usbPath`, with its tty.
    void usbSerialTty(const std::string &usbPath, const std::string &name)
    {
        const std::string port = fs::path(usbPath).filename().string();
        const std::string interface = usbPath + "/" + port + ":1.0";
        fs::create_directories(FRoot / "devices" / interface);
        write(FRoot / "devices" / interface / "bInterfaceClass", "ff");
        tty(interface + "/" + name, name);
    }

    // A tty with no device behind it (a virtual terminal).
    void virtualTty(const std::string &name)
    {
        const fs::path node = FRoot / "devices/virtual/tty" / name;
        fs::create_directories(node);
        link(node, name);
    }

private:
    void link(const fs::path &node, const std::string &name)
    {
        fs::create_directory_symlink(fs::relative(node, FRoot / "class/tty"), FRoot / "class/tty" / name);
    }

    static void write(const fs::path &file, const std::string &text)
    {
        std::ofstream(file) << text << "\n";
    }

    fs::path FRoot;
};

std::vector<std::string> paths(const std::vector<SerialStick> &sticks)
{
    std::vector<std::string> p;
    for (const SerialStick &s : sticks)
        p.push_back(s.path);
    return p;
}

constexpr const char *kHub = "pci0000:00/0000:00:14.0/usb1";

} // namespace

TEST(SerialStickDiscovery, OnlyTtysOfTheSerialBridgeStickCount)
{
    FakeSysfs sys;
    sys.usbDevice(std::string(kHub) + "/1-2", "0fcf", "1004", "ANT USB Stick");
    sys.usbSerialTty(std::string(kHub) + "/1-2", "ttyUSB3");
    // An FTDI cable and a USB2 stick a kernel serial driver grabbed: not ours to open as ttys.
    sys.usbDevice(std::string(kHub) + "/1-3", "0403", "6001");
    sys.usbSerialTty(std::string(kHub) + "/1-3", "ttyUSB0");
    sys.usbDevice(std::string(kHub) + "/1-4", "0fcf", "1008");
    sys.usbSerialTty(std::string(kHub) + "/1-4", "ttyUSB1");
    // A built-in port and a virtual terminal have no USB device above them.
    fs::create_directories(fs::path(sys.root()) / "devices/platform/serial8250");
    sys.tty("platform/serial8250", "ttyS0");
    sys.virtualTty("tty0");

    const auto sticks = findSerialSticks(sys.root());
    ASSERT_EQ(paths(sticks), std::vector<std::string>{"/dev/ttyUSB3"});
    EXPECT_EQ(sticks[0].product, "ANT USB Stick");
    EXPECT_EQ(sticks[0].model.vendorId, 0x0FCF);
    EXPECT_EQ(sticks[0].model.productId, 0x1004);
    EXPECT_EQ(sticks[0].model.baud, 50000u);
}

TEST(SerialStickDiscovery, TheNearestUsbDeviceDecidesAndSticksComeInNameOrder)
{
    FakeSysfs sys;
    // A hub that happens to carry the stick's ids does not make the cable behind it a stick.
    sys.usbDevice(std::string(kHub) + "/1-1", "0fcf", "1004");
    sys.usbDevice(std::string(kHub) + "/1-1/1-1.1", "0403", "6001");
    sys.usbSerialTty(std::string(kHub) + "/1-1/1-1.1", "ttyUSB1");
    // Two sticks, one behind a hub, the other with no product text in sysfs.
    sys.usbDevice(std::string(kHub) + "/1-1/1-1.2", "0FCF", "1004", "ANT USB Stick");
    sys.usbSerialTty(std::string(kHub) + "/1-1/1-1.2", "ttyUSB10");
    sys.usbDevice(std::string(kHub) + "/1-3", "0fcf", "1004");
    sys.usbSerialTty(std::string(kHub) + "/1-3", "ttyUSB2");
    // A cdc-acm tty hangs off the interface itself.
    sys.usbDevice(std::string(kHub) + "/1-5", "0fcf", "1004");
    fs::create_directories(fs::path(sys.root()) / "devices" / kHub / "1-5/1-5:1.0");
    sys.tty(std::string(kHub) + "/1-5/1-5:1.0", "ttyACM0");

    const auto sticks = findSerialSticks(sys.root());
    EXPECT_EQ(paths(sticks),
              (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB10"}));
    ASSERT_EQ(sticks.size(), 3u);
    EXPECT_EQ(sticks[1].product, "");
    EXPECT_EQ(sticks[2].product, "ANT USB Stick");
}

TEST(SerialStickDiscovery, NoSysfsNoSticks)
{
    EXPECT_TRUE(findSerialSticks("/nonexistent/fennick-sys").empty());
    FakeSysfs sys;
    EXPECT_TRUE(findSerialSticks(sys.root()).empty());
}
