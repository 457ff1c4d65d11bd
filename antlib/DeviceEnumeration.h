#pragma once
// The devices ANT_Init can open, numbered in this order: USB sticks in bus/address order,
// then the serial devices of $FENNICK_ANT_SERIAL, then the virtual stick when
// $FENNICK_VIRTUAL_TRAINER is set.
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
    // Tells two enumerations' entries for the same device apart from others.
    std::string key() const;
};

std::vector<DeviceEntry> enumerateDevices();

std::unique_ptr<antwire::Transport> openDevice(const DeviceEntry &entry, unsigned baud);

// Product and serial texts of a device that is not open.
bool describeDevice(const DeviceEntry &entry, std::string &product, std::string &serial);

} // namespace antlib
