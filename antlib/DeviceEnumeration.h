#pragma once
// The devices ANT_Init can open, numbered in this order:
//   1. USB sticks driven through libusb (0FCF:1008, 1009), in bus/address order;
//   2. ANT sticks that are USB serial bridges (0FCF:1004), found by their ttys in sysfs, in tty
//      name order;
//   3. the serial devices of $FENNICK_ANT_SERIAL, in their order, less those already in 2;
//   4. the virtual stick when $FENNICK_VIRTUAL_TRAINER is set.
// Sticks that are plugged in come before devices that are merely named, and with no 1004
// stick present the numbers are those of a library that never looked for one.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "antwire/Transport.h"
#include "antlib/UsbTransport.h"

namespace antlib {

struct DeviceEntry {
    enum class Kind { Usb, Serial, Virtual };
    Kind kind = Kind::Usb;
    UsbStick usb;         // Usb
    std::string location; // Serial: the path; Virtual: the scenario
    // Serial: the product text; for a stick found by its USB id also its product id and its
    // own line speed, which wins over the caller's (0 for the devices of $FENNICK_ANT_SERIAL).
    std::string product;
    uint16_t productId = 0;
    unsigned baud = 0;
    // Tells two enumerations' entries for the same device apart from others.
    std::string key() const;
};

std::vector<DeviceEntry> enumerateDevices();

std::unique_ptr<antwire::Transport> openDevice(const DeviceEntry &entry, unsigned baud);

// Product and serial texts of a device that is not open.
bool describeDevice(const DeviceEntry &entry, std::string &product, std::string &serial);

} // namespace antlib
