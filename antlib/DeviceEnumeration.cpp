#include "antlib/DeviceEnumeration.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include "antlib/SerialStickDiscovery.h"
#include "antlib/SerialTransport.h"
#include "antlib/VirtualStickSlot.h"

namespace antlib {

namespace {

constexpr const char *kSerialProduct = "ANT serial device";
constexpr const char *kSerialStickProduct = "ANT USB stick";

// One tty under two names (its own and a /dev/serial/by-id link) is one file.
bool sameNode(const std::string &a, const std::string &b)
{
    if (a == b)
        return true;
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace

std::string DeviceEntry::key() const
{
    switch (kind) {
    case Kind::Usb: {
        char text[32];
        std::snprintf(text, sizeof text, "usb:%03u-%03u", unsigned(usb.bus), unsigned(usb.address));
        return text;
    }
    case Kind::Serial:
        return "serial:" + location;
    case Kind::Virtual:
        return "virtual:" + location;
    }
    return {};
}

std::vector<DeviceEntry> enumerateDevices()
{
    std::vector<DeviceEntry> entries;
    for (const UsbStick &stick : listUsbSticks()) {
        DeviceEntry e;
        e.kind = DeviceEntry::Kind::Usb;
        e.usb = stick;
        entries.push_back(e);
    }
    const size_t firstFound = entries.size();
    for (const SerialStick &stick : findSerialSticks()) {
        DeviceEntry e;
        e.kind = DeviceEntry::Kind::Serial;
        e.location = stick.path;
        e.baud = stick.model.baud;
        e.productId = stick.model.productId;
        e.product = stick.product.empty() ? kSerialStickProduct : stick.product;
        entries.push_back(e);
    }
    const size_t endFound = entries.size();
    for (const std::string &path : listSerialDevices()) {
        if (std::any_of(entries.begin() + firstFound, entries.begin() + endFound,
                        [&](const DeviceEntry &found) { return sameNode(found.location, path); }))
            continue;
        DeviceEntry e;
        e.kind = DeviceEntry::Kind::Serial;
        e.location = path;
        e.product = kSerialProduct;
        entries.push_back(e);
    }
    const char *scenario = std::getenv("FENNICK_VIRTUAL_TRAINER");
    if (scenario && *scenario) {
        DeviceEntry e;
        e.kind = DeviceEntry::Kind::Virtual;
        e.location = scenario;
        entries.push_back(e);
    }
    return entries;
}

std::unique_ptr<antwire::Transport> openDevice(const DeviceEntry &entry, unsigned baud)
{
    switch (entry.kind) {
    case DeviceEntry::Kind::Usb:
        return openUsbTransport(entry.usb);
    case DeviceEntry::Kind::Serial:
        return openSerialTransport(entry.location, entry.baud != 0 ? entry.baud : baud,
                                   {entry.productId, entry.product});
    case DeviceEntry::Kind::Virtual:
        return makeVirtualStickTransport(entry.location);
    }
    return nullptr;
}

bool describeDevice(const DeviceEntry &entry, std::string &product, std::string &serial)
{
    switch (entry.kind) {
    case DeviceEntry::Kind::Usb:
        return describeUsbStick(entry.usb, product, serial);
    case DeviceEntry::Kind::Serial:
        product = entry.product;
        serial = entry.location;
        return true;
    case DeviceEntry::Kind::Virtual:
        product = "Fennick virtual ANT stick";
        serial = entry.location;
        return true;
    }
    return false;
}

} // namespace antlib
