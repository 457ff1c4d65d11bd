#include "app/CalibrationSettings.h"

#include "framework/SysUtils.h"
#include "platform/Registry.h"
#include "platform/RegistryHiveFile.h"

#include <optional>

const char *const TarvoDeviceKey = "Software\\Ulmora\\Virel\\TarvoDeviceAntP";
const char *const TarvoCalibrationKey = "Software\\Ulmora\\Virel\\Calibration\\Tarvo";

namespace {

// The accessor reads a hive up to its first error, so a damaged file would quietly give
// "no such value" for everything past the damage. Better to say the file is broken.
void CheckHiveParses()
{
    const THiveParseResult hive = RegHive::LoadHive();
    if (hive.Complete)
        return;
    const std::string file = RegistryFile();
    if (hive.ErrorLine > 0)
        throw ERegistryException(Format("The registry file '%s' is not valid at line %d: %s",
                                        {file, hive.ErrorLine, hive.Error}));
    throw ERegistryException(Format("The registry file '%s' cannot be read: %s", {file, hive.Error}));
}

// The text of `Name` in `Key`; nullopt when the key is missing or cannot be opened with full
// access. A missing or empty value is "".
std::optional<std::string> ReadValueText(const std::string &Key, const std::string &Name)
{
    CheckHiveParses();
    TRegistry registry(KEY_ALL_ACCESS);
    registry.SetRootKey(HKEY_CURRENT_USER);
    if (!registry.OpenKey(Key, false))
        return std::nullopt;
    std::string text = registry.ReadString(Name);
    registry.CloseKey();
    return text;
}

int32_t ReadIntegerValue(const std::string &Key, const std::string &Name)
{
    const std::optional<std::string> text = ReadValueText(Key, Name);
    return text ? StrToInt(*text) : 0;
}

int32_t ReadCalibrationInteger(const std::string &Name)
{
    return ReadIntegerValue(CalibrationKeyPath(), Name);
}

} // namespace

int32_t ReadUnitType()
{
    return ReadIntegerValue(TarvoDeviceKey, "TvdAntP_UnitType");
}

int32_t ReadDeviceNumber()
{
    return ReadIntegerValue(TarvoDeviceKey, "TvdAntP_DeviceNumber");
}

long double ReadDiameter()
{
    const std::optional<std::string> text = ReadValueText(TarvoDeviceKey, "TvdAntP_Diameter");
    return text ? StrToFloat(*text) : 0.0L;
}

std::string CalibrationKeyPath()
{
    return TarvoCalibrationKey + IntToStr(ReadUnitType());
}

int32_t ReadSpeed(int Point)
{
    return ReadCalibrationInteger("Speed" + IntToStr(Point));
}

int32_t ReadResist(int Point)
{
    return ReadCalibrationInteger("Resist" + IntToStr(Point));
}

int32_t ReadSpeedA()
{
    const std::optional<std::string> text = ReadValueText(CalibrationKeyPath(), "SpeedA");
    return text && !text->empty() ? StrToInt(*text) : 0;
}

int32_t ReadSpeedB()
{
    return ReadCalibrationInteger("SpeedB");
}

int32_t ReadResistA()
{
    return ReadCalibrationInteger("ResistA");
}

int32_t ReadResistB()
{
    return ReadCalibrationInteger("ResistB");
}
