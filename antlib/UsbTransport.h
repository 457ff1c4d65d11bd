#pragma once
// ANT USB sticks (vendor 0x0FCF, products 0x1008 and 0x1009) through libusb-1.0.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "antwire/Transport.h"

namespace antlib {

constexpr uint16_t kAntVendorId = 0x0FCF;
constexpr uint16_t kAntUsb2ProductId = 0x1008;
constexpr uint16_t kAntUsbMProductId = 0x1009;

struct UsbStick {
    uint8_t bus = 0;
    uint8_t address = 0;
    uint16_t productId = 0;
};

// The sticks present now, in bus/address order.
std::vector<UsbStick> listUsbSticks();

// Product and serial texts from the stick's string descriptors; a generic product name and
// an empty serial when the stick cannot be opened to read them.
bool describeUsbStick(const UsbStick &stick, std::string &product, std::string &serial);

// Opens the stick: detaches a kernel driver, claims interface 0 and finds its bulk endpoints.
// Null on failure, with the reason kept and on stderr (lack of permission names the udev
// rule; a stick another program holds says so).
std::unique_ptr<antwire::Transport> openUsbTransport(const UsbStick &stick);

} // namespace antlib
