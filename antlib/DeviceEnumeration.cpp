#include "antlib/DeviceEnumeration.h"

#include <cstdio>
#include <cstdlib>

#include "antlib/SerialTransport.h"
#include "antlib/VirtualStickSlot.h"

namespace antlib {

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
    for (const std::string &path : listSerialDevices()) {
        DeviceEntry e;
        e.kind = DeviceEntry::Kind::Serial;
        e.location = path;
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
        return openSerialTransport(entry.location, baud);
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
        product = "ANT serial device";
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
