#include "app/CalibrationSettings.h"

#include "app/Dialogs.h"
#include "framework/SysUtils.h"
#include "platform/DebugOutput.h"
#include "platform/Registry.h"
#include "platform/RegistryHiveFile.h"
#include "settings/SettingsKeys.h"

#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include <sys/stat.h>

const char *const TarvoDeviceKey = TarvoDeviceKeyPath;
const char *const TarvoCalibrationKey = TarvoCalibrationKeyPrefix;

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

std::mutex NoticeLock;
std::function<void(const std::string &)> NoticeSink;
std::set<std::string> NoticesGiven;

// A hive that cannot be opened with full access counts as missing; a rider who copied his
// settings there would otherwise never learn why they are not used. Said once per file and
// reason.
void NoteUnusableHive()
{
    const std::string file = RegistryFile();
    struct stat st{};
    if (file.empty() || ::stat(file.c_str(), &st) != 0)
        return;
    const std::string refusal = TRegistry::HiveWriteRefusal();
    if (refusal.empty())
        return;
    const std::string line = Format("The registry file '%s' is not used: %s. The settings are read only from a "
                                    "file this user may write; the built-in points are used and any trainer "
                                    "is accepted.",
                                    {file, refusal});
    std::function<void(const std::string &)> sink;
    {
        std::lock_guard lock(NoticeLock);
        if (!NoticesGiven.insert(file + '\n' + refusal).second)
            return;
        sink = NoticeSink;
    }
    OutputDebugString(line);
    if (sink)
        sink(line);
}

// The box names what is wrong; its details say where, so the rider can mend the right line.
std::string WhereTheValueIs(const std::string &Key, const std::string &Name)
{
    return Format("The value \"%s\" of the key [HKEY_CURRENT_USER\\%s] in the registry file '%s'.",
                  {Name, Key, RegistryFile()});
}

template <class F>
auto NamingTheValue(const std::string &Key, const std::string &Name, F Read)
{
    try {
        return Read();
    } catch (const EConvertError &e) {
        throw EWithDetails<EConvertError>(e, WhereTheValueIs(Key, Name));
    } catch (const ERegistryException &e) {
        throw EWithDetails<ERegistryException>(e, WhereTheValueIs(Key, Name));
    }
}

// The text of `Name` in `Key`; nullopt when the key is missing or cannot be opened with full
// access. A missing or empty value is "".
std::optional<std::string> ReadValueText(const std::string &Key, const std::string &Name)
{
    CheckHiveParses();
    TRegistry registry(KEY_ALL_ACCESS);
    registry.SetRootKey(HKEY_CURRENT_USER);
    if (!registry.OpenKey(Key, false)) {
        NoteUnusableHive();
        return std::nullopt;
    }
    std::string text = NamingTheValue(Key, Name, [&] { return registry.ReadString(Name); });
    registry.CloseKey();
    return text;
}

int32_t ReadIntegerValue(const std::string &Key, const std::string &Name)
{
    const std::optional<std::string> text = ReadValueText(Key, Name);
    return text ? NamingTheValue(Key, Name, [&] { return StrToInt(*text); }) : 0;
}

int32_t ReadCalibrationInteger(const std::string &Name)
{
    return ReadIntegerValue(CalibrationKeyPath(), Name);
}

} // namespace

void SetSettingsNoticeSink(std::function<void(const std::string &)> Sink)
{
    std::lock_guard lock(NoticeLock);
    NoticeSink = std::move(Sink);
    NoticesGiven.clear();
}

int32_t ReadUnitType()
{
    return ReadIntegerValue(TarvoDeviceKey, UnitTypeValue);
}

int32_t ReadDeviceNumber()
{
    return ReadIntegerValue(TarvoDeviceKey, DeviceNumberValue);
}

long double ReadDiameter()
{
    const std::optional<std::string> text = ReadValueText(TarvoDeviceKey, DiameterValue);
    return text ? NamingTheValue(TarvoDeviceKey, DiameterValue, [&] { return StrToFloat(*text); }) : 0.0L;
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
    const std::string key = CalibrationKeyPath();
    const std::optional<std::string> text = ReadValueText(key, "SpeedA");
    return text && !text->empty() ? NamingTheValue(key, "SpeedA", [&] { return StrToInt(*text); }) : 0;
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
