// Names and the line of `fennick --scan`. The line is parsed by scripts: its fields keep
// their order and form, and a value not known is "-".
#include "discovery/DeviceDiscovery.h"

#include <cstdio>
#include <utility>

namespace {

// A few ANT+ manufacturer ids, as the public list names them.
constexpr std::pair<uint16_t, const char *> kManufacturers[] = {
    {1, "Garmin"},         {6, "SRM"},        {7, "Quarq"},   {9, "Saris"},
    {15, "Dynastream"},    {23, "Suunto"},    {32, "Wahoo Fitness"}, {48, "Pioneer"},
    {67, "BKOOL"},         {69, "Stages Cycling"}, {86, "Elite"}, {89, "Tacx"},
    {123, "Polar"},        {255, "Development"},
};

std::string Optional(const std::optional<uint16_t> &Value)
{
    return Value ? std::to_string(*Value) : "-";
}

} // namespace

std::string ManufacturerName(uint16_t Id)
{
    for (const auto &[id, name] : kManufacturers)
        if (id == Id)
            return name;
    return "#" + std::to_string(Id);
}

std::string FeTypeName(uint8_t FeType)
{
    switch (FeType) {
    case 16: return "general";
    case 19: return "treadmill";
    case 20: return "elliptical";
    case 22: return "rower";
    case 23: return "climber";
    case 24: return "nordic skier";
    case 25: return "trainer";
    default: return "#" + std::to_string(FeType);
    }
}

std::string DiscoveryLine(const TDiscoveredDevice &Device)
{
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, " rate=%.1f heard=%.1f", Device.MessagesPerSecond,
                  Device.SecondsSinceHeard);
    const std::string fe = Device.FeType ? std::to_string(*Device.FeType) : "-";
    return std::string(Device.Kind == TDiscoveredKind::Trainer ? "trainer " : "hr ") +
           std::to_string(Device.DeviceNumber) +
           " transmission=" + std::to_string(Device.TransmissionType) +
           " manufacturer=" + Optional(Device.ManufacturerId) + " model=" + Optional(Device.ModelNumber) +
           " fe=" + fe + numbers;
}
