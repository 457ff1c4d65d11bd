#include "discovery/DiscoveryPages.h"

#include <cstdio>

namespace {

constexpr uint8_t kPageNumberMask = 0x7F; // bit 7: the page-change toggle of some profiles
constexpr uint8_t kFeGeneral = 16;
constexpr uint8_t kManufacturerInfo = 80;
constexpr uint8_t kProductInfo = 81;
constexpr uint8_t kHrManufacturer = 2;
constexpr uint8_t kHrProduct = 3;
constexpr uint32_t kNoSerial = 0xFFFFFFFFu;
constexpr uint8_t kNoSupplemental = 0xFF;

uint16_t Le16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

// Main revision in tenths; with a supplemental revision, thousandths.
std::string SoftwareRevision(uint8_t Main, uint8_t Supplemental)
{
    char text[16];
    if (Supplemental == kNoSupplemental)
        std::snprintf(text, sizeof text, "%u.%u", Main / 10u, Main % 10u);
    else
        std::snprintf(text, sizeof text, "%.3f", (Main * 100 + Supplemental) / 1000.0);
    return text;
}

void DecodeCommon(const uint8_t *p, TDiscoveredDevice &d)
{
    switch (p[0] & kPageNumberMask) {
    case kManufacturerInfo:
        d.HardwareRevision = p[3];
        d.ManufacturerId = Le16(p + 4);
        d.ModelNumber = Le16(p + 6);
        break;
    case kProductInfo: {
        d.SoftwareVersion = SoftwareRevision(p[3], p[2]);
        const uint32_t serial = uint32_t(Le16(p + 4)) | uint32_t(Le16(p + 6)) << 16;
        if (serial != kNoSerial)
            d.SerialNumber = serial;
        break;
    }
    default:
        break;
    }
}

void DecodeTrainer(const uint8_t *p, TDiscoveredDevice &d)
{
    if ((p[0] & kPageNumberMask) == kFeGeneral)
        d.FeType = uint8_t(p[1] & 0x1F);
    else
        DecodeCommon(p, d);
}

// A strap's background pages; its serial number's lower half is the device number.
void DecodeStrap(const uint8_t *p, TDiscoveredDevice &d)
{
    switch (p[0] & kPageNumberMask) {
    case kHrManufacturer:
        d.ManufacturerId = p[1];
        d.SerialNumber = uint32_t(Le16(p + 2)) << 16 | d.DeviceNumber;
        break;
    case kHrProduct:
        d.HardwareRevision = p[1];
        d.SoftwareVersion = std::to_string(p[2]);
        d.ModelNumber = p[3];
        break;
    default:
        break;
    }
}

} // namespace

void DecodeDiscoveryPage(const uint8_t *Page8, TDiscoveredDevice &Device)
{
    if (Device.Kind == TDiscoveredKind::Trainer)
        DecodeTrainer(Page8, Device);
    else
        DecodeStrap(Page8, Device);
}
