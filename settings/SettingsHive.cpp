#include "settings/SettingsHive.h"

#include "framework/SysUtils.h"
#include "platform/RegistryText.h"
#include "settings/SettingsKeys.h"

namespace {

const std::string UserRoot = "HKEY_CURRENT_USER\\";

std::string DeviceKey()
{
    return UserRoot + TarvoDeviceKeyPath;
}

std::string CalibrationKey(int32_t UnitType)
{
    return UserRoot + TarvoCalibrationKeyPrefix + IntToStr(UnitType);
}

// The last occurrence wins, deletions do not count: the lookup of the registry accessor.
std::string ValueText(const THiveParseResult &Hive, const std::string &Key, const std::string &Name)
{
    const std::string canonical = RegHive::CanonicalKey(Key);
    const std::string folded = RegHive::Fold(Name);
    std::string text;
    for (const auto &k : Hive.Keys) {
        if (k.Deletion || RegHive::CanonicalKey(k.Path) != canonical)
            continue;
        for (const auto &v : k.Values)
            if (!v.Deletion && RegHive::Fold(v.Name) == folded)
                text = v.Type == REG_SZ || v.Type == REG_EXPAND_SZ ? v.Text : std::string();
    }
    return text;
}

void PutText(RegHive::THiveDoc &Doc, const std::string &Key, const std::string &Name, const std::string &Text)
{
    TRegHiveValue value;
    value.Name = Name;
    value.Type = REG_SZ;
    value.Text = Text;
    RegHive::DocSetValue(Doc, Key, value);
}

} // namespace

void ReadModelPoints(const THiveParseResult &Hive, int32_t UnitType, TSettingsText &Text)
{
    const std::string key = CalibrationKey(UnitType);
    const std::string speedA = ValueText(Hive, key, "SpeedA");
    int32_t a = 0;
    Text.TwoPoint = !speedA.empty() && !(TryStrToInt(speedA, a) && a == 0);
    static const char *const Three[] = {"Speed1", "Resist1", "Speed2", "Resist2", "Speed3", "Resist3"};
    static const char *const Two[] = {"SpeedA", "ResistA", "SpeedB", "ResistB", nullptr, nullptr};
    for (int i = 0; i < 6; ++i) {
        const char *name = Text.TwoPoint ? Two[i] : Three[i];
        Text.Fields[sfSpeed1 + i] = name ? ValueText(Hive, key, name) : std::string();
    }
}

TSettingsText SettingsTextOf(const THiveParseResult &Hive)
{
    TSettingsText text;
    text.Fields[sfUnitType] = ValueText(Hive, DeviceKey(), UnitTypeValue);
    text.Fields[sfDeviceNumber] = ValueText(Hive, DeviceKey(), DeviceNumberValue);
    text.Fields[sfDiameter] = ValueText(Hive, DeviceKey(), DiameterValue);
    int32_t unitType = 0;
    if (TryStrToInt(text.Fields[sfUnitType], unitType))
        ReadModelPoints(Hive, unitType, text);
    return text;
}

bool HasTrainerSettings(const THiveParseResult &Hive)
{
    const std::string device = RegHive::CanonicalKey(DeviceKey());
    const std::string calibration = RegHive::CanonicalKey(UserRoot + TarvoCalibrationKeyPrefix);
    for (const auto &k : Hive.Keys) {
        const std::string path = RegHive::CanonicalKey(k.Path);
        if (!k.Deletion && (path == device || path.compare(0, calibration.size(), calibration) == 0))
            return true;
    }
    return false;
}

void PutSettings(RegHive::THiveDoc &Doc, const TTrainerSettings &Settings)
{
    PutText(Doc, DeviceKey(), UnitTypeValue, IntToStr(Settings.UnitType));
    PutText(Doc, DeviceKey(), DeviceNumberValue, IntToStr(Settings.DeviceNumber));
    PutText(Doc, DeviceKey(), DiameterValue, FloatToStr(Settings.Diameter));
    const std::string key = CalibrationKey(Settings.UnitType);
    const auto &p = Settings.Points;
    if (Settings.TwoPoint) {
        PutText(Doc, key, "SpeedA", IntToStr(p[0].Speed));
        PutText(Doc, key, "ResistA", IntToStr(p[0].Level));
        PutText(Doc, key, "SpeedB", IntToStr(p[1].Speed));
        PutText(Doc, key, "ResistB", IntToStr(p[1].Level));
        return;
    }
    for (int i = 0; i < 3; ++i) {
        PutText(Doc, key, "Speed" + IntToStr(i + 1), IntToStr(p[i].Speed));
        PutText(Doc, key, "Resist" + IntToStr(i + 1), IntToStr(p[i].Level));
    }
    PutText(Doc, key, "SpeedA", "");
}

bool WriteSettings(const std::string &HiveBytes, const TTrainerSettings &Settings, std::string &Out)
{
    RegHive::THiveDoc doc = RegHive::ParseDoc(HiveBytes);
    if (!doc.Result.Complete || !SettingsValid(Settings))
        return false;
    if (HiveBytes.empty())
        doc.Eol = "\n";
    PutSettings(doc, Settings);
    Out = RegHive::Serialize(doc);
    return true;
}
