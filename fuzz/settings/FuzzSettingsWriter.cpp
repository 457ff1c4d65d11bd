// The settings writer takes whatever settings file the rider has (perhaps brought from Windows):
// where it writes at all, the file it makes must parse and give back exactly the settings.
// Input: 16 bytes of settings, then the hive's bytes.
#include "framework/SysUtils.h"
#include "settings/SettingsHive.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int32_t Field(const uint8_t *Data, int At, int32_t Modulo, int32_t Offset)
{
    uint16_t raw;
    std::memcpy(&raw, Data + At, sizeof raw);
    return static_cast<int32_t>(raw % Modulo) + Offset;
}

// Mostly in range, sometimes just outside, so that the writer's refusal is exercised too.
TTrainerSettings SettingsFrom(const uint8_t *Data)
{
    TTrainerSettings s;
    s.TwoPoint = Data[0] & 1;
    s.UnitType = Field(Data, 1, 10002, -1);
    s.DeviceNumber = Field(Data, 3, 65537, 0);
    s.Diameter = Field(Data, 5, 25420, -10) / 10.0L;
    for (int p = 0; p < 3; ++p) {
        s.Points[p].Speed = Field(Data, 7 + 2 * p, 53, -1);
        s.Points[p].Level = Data[13 + p] > 201 ? 201 : Data[13 + p];
    }
    if (s.TwoPoint)
        s.Points[2] = {};
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr size_t SettingsBytes = 16;
    if (size < SettingsBytes)
        return 0;
    const TTrainerSettings settings = SettingsFrom(data);
    const std::string hive(reinterpret_cast<const char *>(data) + SettingsBytes, size - SettingsBytes);
    std::string written;
    if (!WriteSettings(hive, settings, written)) {
        if (ParseHive(hive).Complete && SettingsValid(settings))
            std::abort();
        return 0;
    }
    const THiveParseResult again = ParseHive(written);
    if (!again.Complete)
        std::abort();
    const TSettingsCheck back = CheckSettings(SettingsTextOf(again));
    TTrainerSettings expected = settings;
    expected.Diameter = StrToFloat(FloatToStr(settings.Diameter));
    if (!back.Ok() || !(back.Settings == expected))
        std::abort();
    return 0;
}
