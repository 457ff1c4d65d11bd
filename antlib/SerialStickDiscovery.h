#pragma once
// ANT sticks that are USB serial bridges (0FCF:1004, the first ANT USB stick): the kernel binds
// a serial driver to them, so libusb leaves them alone and they appear only as ttys. They are
// found through sysfs, by the USB device above each tty.
#include <cstdint>
#include <string>
#include <vector>

namespace antlib {

struct SerialStickModel {
    uint16_t vendorId;
    uint16_t productId;
    unsigned baud; // the rate the bridge talks to the ANT chip at, whatever a caller asks for
};

const std::vector<SerialStickModel> &serialStickModels();

struct SerialStick {
    std::string path;    // the device node: /dev/ and the tty's name
    std::string product; // the USB device's product text; empty when sysfs has none
    SerialStickModel model;
};

// The ttys of <sysRoot>/class/tty whose nearest USB device is one of serialStickModels(), in
// name order (ttyUSB2 before ttyUSB10). Production passes "/sys"; under umockdev's preload
// that is the test bed's sysfs.
std::vector<SerialStick> findSerialSticks(const std::string &sysRoot = "/sys");

} // namespace antlib
