#include "maps/MapCalibration.h"

#include "framework/Exception.h"
#include "framework/SysUtils.h"
#include "maps/RegistryFunctions.h"

#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace {

// Registry value name (without prefix), getter and setter of each integer value, in the
// order they are read and written.
struct TIntValue {
    const char *Name;
    int32_t (TMapCalibration::*Get)() const;
    void (TMapCalibration::*Set)(int32_t);
};

const TIntValue kIntValues[] = {
    {"CalibrationP1", &TMapCalibration::CalibrationP1, &TMapCalibration::SetCalibrationP1},
    {"CalibrationP2", &TMapCalibration::CalibrationP2, &TMapCalibration::SetCalibrationP2},
    {"CalibrationP3", &TMapCalibration::CalibrationP3, &TMapCalibration::SetCalibrationP3},
    {"Speed1", &TMapCalibration::Speed1, &TMapCalibration::SetSpeed1},
    {"Speed2", &TMapCalibration::Speed2, &TMapCalibration::SetSpeed2},
    {"Speed3", &TMapCalibration::Speed3, &TMapCalibration::SetSpeed3},
    {"Resist1", &TMapCalibration::Resist1, &TMapCalibration::SetResist1},
    {"Resist2", &TMapCalibration::Resist2, &TMapCalibration::SetResist2},
    {"Resist3", &TMapCalibration::Resist3, &TMapCalibration::SetResist3},
    {"P1MaxValue", &TMapCalibration::P1MaxValue, &TMapCalibration::SetP1MaxValue},
    {"P2MaxValue", &TMapCalibration::P2MaxValue, &TMapCalibration::SetP2MaxValue},
    {"P3MaxValue", &TMapCalibration::P3MaxValue, &TMapCalibration::SetP3MaxValue},
    {"P1MinValue", &TMapCalibration::P1MinValue, &TMapCalibration::SetP1MinValue},
    {"P2MinValue", &TMapCalibration::P2MinValue, &TMapCalibration::SetP2MinValue},
    {"P3MinValue", &TMapCalibration::P3MinValue, &TMapCalibration::SetP3MinValue},
    {"CalibrationPA", &TMapCalibration::CalibrationPA, &TMapCalibration::SetCalibrationPA},
    {"CalibrationPB", &TMapCalibration::CalibrationPB, &TMapCalibration::SetCalibrationPB},
    {"ResistA", &TMapCalibration::ResistA, &TMapCalibration::SetResistA},
    {"ResistB", &TMapCalibration::ResistB, &TMapCalibration::SetResistB},
    {"SpeedA", &TMapCalibration::SpeedA, &TMapCalibration::SetSpeedA},
    {"SpeedB", &TMapCalibration::SpeedB, &TMapCalibration::SetSpeedB},
    {"PaMaxValue", &TMapCalibration::PaMaxValue, &TMapCalibration::SetPaMaxValue},
    {"PaMinValue", &TMapCalibration::PaMinValue, &TMapCalibration::SetPaMinValue},
    {"PbMaxValue", &TMapCalibration::PbMaxValue, &TMapCalibration::SetPbMaxValue},
    {"PbMinValue", &TMapCalibration::PbMinValue, &TMapCalibration::SetPbMinValue},
};

// The values that exist in the older layout: the three-point values and the switch.
constexpr size_t kOldIntValueCount = 15;
const char *const kUseMapCalibration = "UseMapCalibration";

const std::array<std::pair<double, const char *>, 20> kKeyNames = {{
    {1.0, "Tarvo1"}, {2.0, "Tarvo2"}, {3.0, "Tarvo3"}, {4.0, "Tarvo4"}, {4.5, "Tarvo4.5"},
    {5.0, "Tarvo5"}, {5.5, "Tarvo5.5"}, {6.0, "Tarvo6"}, {7.0, "Tarvo7"}, {8.0, "Tarvo8"},
    {9.0, "Tarvo9"}, {10.0, "Tarvo10"}, {11.0, "Tarvo11"}, {12.0, "Tarvo12"}, {13.0, "Tarvo13"},
    {14.0, "Tarvo14"}, {15.0, "Tarvo15"}, {16.0, "Tarvo16"}, {17.0, "Tarvo17"}, {18.0, "Tarvo18"},
}};

// Streams naming the class must find it.
const bool MapCalibrationRegistered = [] {
    RegisterClass("TMapCalibration", [] { return new TMapCalibration(nullptr); });
    return true;
}();

} // namespace

TMapCalibration::TMapCalibration(TComponent *AOwner) : TComponent(AOwner) {}

const TPropList &TMapCalibration::Properties() const
{
    static const TPropList props = InheritProps(
        TComponent::Properties(),
        {
            IntProp("CalibrationP1", "Integer", &TMapCalibration::CalibrationP1, &TMapCalibration::SetCalibrationP1, 0),
            IntProp("CalibrationP2", "Integer", &TMapCalibration::CalibrationP2, &TMapCalibration::SetCalibrationP2, 0),
            IntProp("CalibrationP3", "Integer", &TMapCalibration::CalibrationP3, &TMapCalibration::SetCalibrationP3, 0),
            IntProp("Speed1", "Integer", &TMapCalibration::Speed1, &TMapCalibration::SetSpeed1, 0),
            IntProp("Speed2", "Integer", &TMapCalibration::Speed2, &TMapCalibration::SetSpeed2, 0),
            IntProp("Speed3", "Integer", &TMapCalibration::Speed3, &TMapCalibration::SetSpeed3, 0),
            IntProp("Resist1", "Integer", &TMapCalibration::Resist1, &TMapCalibration::SetResist1, 0),
            IntProp("Resist2", "Integer", &TMapCalibration::Resist2, &TMapCalibration::SetResist2, 0),
            IntProp("Resist3", "Integer", &TMapCalibration::Resist3, &TMapCalibration::SetResist3, 0),
            IntProp("P1MaxValue", "Integer", &TMapCalibration::P1MaxValue, &TMapCalibration::SetP1MaxValue),
            IntProp("P2MaxValue", "Integer", &TMapCalibration::P2MaxValue, &TMapCalibration::SetP2MaxValue),
            IntProp("P3MaxValue", "Integer", &TMapCalibration::P3MaxValue, &TMapCalibration::SetP3MaxValue),
            IntProp("P1MinValue", "Integer", &TMapCalibration::P1MinValue, &TMapCalibration::SetP1MinValue),
            IntProp("P2MinValue", "Integer", &TMapCalibration::P2MinValue, &TMapCalibration::SetP2MinValue),
            IntProp("P3MinValue", "Integer", &TMapCalibration::P3MinValue, &TMapCalibration::SetP3MinValue),
            IntProp("CalibrationPA", "Integer", &TMapCalibration::CalibrationPA, &TMapCalibration::SetCalibrationPA, 0),
            IntProp("CalibrationPB", "Integer", &TMapCalibration::CalibrationPB, &TMapCalibration::SetCalibrationPB, 0),
            IntProp("ResistA", "Integer", &TMapCalibration::ResistA, &TMapCalibration::SetResistA, 0),
            IntProp("ResistB", "Integer", &TMapCalibration::ResistB, &TMapCalibration::SetResistB, 0),
            IntProp("SpeedA", "Integer", &TMapCalibration::SpeedA, &TMapCalibration::SetSpeedA, 0),
            IntProp("SpeedB", "Integer", &TMapCalibration::SpeedB, &TMapCalibration::SetSpeedB, 0),
            IntProp("PaMaxValue", "Integer", &TMapCalibration::PaMaxValue, &TMapCalibration::SetPaMaxValue, 0),
            IntProp("PaMinValue", "Integer", &TMapCalibration::PaMinValue, &TMapCalibration::SetPaMinValue, 0),
            IntProp("PbMaxValue", "Integer", &TMapCalibration::PbMaxValue, &TMapCalibration::SetPbMaxValue, 0),
            IntProp("PbMinValue", "Integer", &TMapCalibration::PbMinValue, &TMapCalibration::SetPbMinValue, 0),
            BoolProp("UseMapCalibration", &TMapCalibration::UseMapCalibration,
                     &TMapCalibration::SetUseMapCalibration, false),
            FloatProp("TarvoVersion", "Double", &TMapCalibration::TarvoVersion, &TMapCalibration::SetTarvoVersion),
            BoolProp("UseConsoleValues", &TMapCalibration::UseConsoleValues, &TMapCalibration::SetUseConsoleValues,
                     false),
        });
    return props;
}

void TMapCalibration::SetCalibrationP1(int32_t Value)
{
    if (FCalibrationP1 != Value)
        FCalibrationP1 = Value;
}

void TMapCalibration::SetCalibrationP2(int32_t Value)
{
    if (FCalibrationP2 != Value)
        FCalibrationP2 = Value;
}

void TMapCalibration::SetCalibrationP3(int32_t Value)
{
    if (FCalibrationP3 != Value)
        FCalibrationP3 = Value;
}

void TMapCalibration::SetSpeed1(int32_t Value)
{
    if (FSpeed1 != Value)
        FSpeed1 = Value;
}

void TMapCalibration::SetSpeed2(int32_t Value)
{
    if (FSpeed2 != Value)
        FSpeed2 = Value;
}

void TMapCalibration::SetSpeed3(int32_t Value)
{
    if (FSpeed3 != Value)
        FSpeed3 = Value;
}

void TMapCalibration::SetResist1(int32_t Value)
{
    if (FResist1 != Value)
        FResist1 = Value;
}

void TMapCalibration::SetResist3(int32_t Value)
{
    if (FResist3 != Value)
        FResist3 = Value;
}

void TMapCalibration::SetP1MaxValue(int32_t Value)
{
    if (FP1MaxValue != Value)
        FP1MaxValue = Value;
}

void TMapCalibration::SetP2MaxValue(int32_t Value)
{
    if (FP2MaxValue != Value)
        FP2MaxValue = Value;
}

void TMapCalibration::SetP3MaxValue(int32_t Value)
{
    if (FP3MaxValue != Value)
        FP3MaxValue = Value;
}

void TMapCalibration::SetP1MinValue(int32_t Value)
{
    if (FP1MinValue != Value)
        FP1MinValue = Value;
}

void TMapCalibration::SetP2MinValue(int32_t Value)
{
    if (FP2MinValue != Value)
        FP2MinValue = Value;
}

void TMapCalibration::SetP3MinValue(int32_t Value)
{
    if (FP3MinValue != Value)
        FP3MinValue = Value;
}

void TMapCalibration::SetCalibrationPA(int32_t Value)
{
    if (FCalibrationPA != Value)
        FCalibrationPA = Value;
}

void TMapCalibration::SetCalibrationPB(int32_t Value)
{
    if (FCalibrationPB != Value)
        FCalibrationPB = Value;
}

void TMapCalibration::SetResistA(int32_t Value)
{
    if (FResistA != Value)
        FResistA = Value;
}

void TMapCalibration::SetResistB(int32_t Value)
{
    if (FResistB != Value)
        FResistB = Value;
}

void TMapCalibration::SetSpeedA(int32_t Value)
{
    if (FSpeedA != Value)
        FSpeedA = Value;
}

void TMapCalibration::SetSpeedB(int32_t Value)
{
    if (FSpeedB != Value)
        FSpeedB = Value;
}

void TMapCalibration::SetPaMaxValue(int32_t Value)
{
    if (FPaMaxValue != Value)
        FPaMaxValue = Value;
}

void TMapCalibration::SetPaMinValue(int32_t Value)
{
    if (FPaMinValue != Value)
        FPaMinValue = Value;
}

void TMapCalibration::SetPbMaxValue(int32_t Value)
{
    if (FPbMaxValue != Value)
        FPbMaxValue = Value;
}

void TMapCalibration::SetPbMinValue(int32_t Value)
{
    if (FPbMinValue != Value)
        FPbMinValue = Value;
}

void TMapCalibration::SetUseMapCalibration(bool Value)
{
    if (FUseMapCalibration != Value)
        FUseMapCalibration = Value;
}

void TMapCalibration::SetTarvoVersion(double Value)
{
    if (FTarvoVersion != Value)
        FTarvoVersion = Value;
}

void TMapCalibration::SetUseConsoleValues(bool Value)
{
    if (FUseConsoleValues != Value)
        FUseConsoleValues = Value;
}

void TMapCalibration::Assign(const TPersistent *Source)
{
    const auto *src = dynamic_cast<const TMapCalibration *>(Source);
    if (!src) {
        TComponent::Assign(Source);
        return;
    }
    if (src == this)
        return;
    for (const TIntValue &v : kIntValues)
        (this->*v.Set)((src->*v.Get)());
    SetUseMapCalibration(src->UseMapCalibration());
    SetTarvoVersion(src->TarvoVersion());
    SetUseConsoleValues(src->UseConsoleValues());
}

std::string TMapCalibration::GetKeyDeviceName(double Version)
{
    for (const auto &entry : kKeyNames)
        if (entry.first == Version)
            return entry.second;
    throw Exception(Format("Error in TMapCalibration.GetKeyDeviceName: No key name for %2.1f", {Version}));
}

std::string TMapCalibration::ValueNamePrefix(bool WithPrefix) const
{
    return WithPrefix ? Format("%s_", {Name()}) : std::string();
}

bool TMapCalibration::LoadSettings(HKEY Root, const std::string &BasePath)
{
    return DoLoadSettings(Root, BasePath);
}

bool TMapCalibration::SaveSettings(HKEY Root, const std::string &BasePath)
{
    return DoSaveSettings(Root, BasePath);
}

bool TMapCalibration::DoLoadSettings(HKEY Root, const std::string &BasePath)
{
    UpdateExistingOldKeysOfTarvo5(Root, BasePath);
    const std::string key = AddBackslash(BasePath) + GetKeyDeviceName(FTarvoVersion);
    try {
        for (const TIntValue &v : kIntValues)
            (this->*v.Set)(StrToInt(RegistryReadString(Root, key, v.Name)));
        SetUseMapCalibration(RegistryReadString(Root, key, kUseMapCalibration) == "True");
    } catch (const std::exception &) {
        throw Exception("Error in TMapCalibration.DoLoadSettings");
    }
    return true;
}

bool TMapCalibration::DoSaveSettings(HKEY Root, const std::string &BasePath)
{
    const std::string key = AddBackslash(BasePath) + GetKeyDeviceName(FTarvoVersion);
    try {
        // A value that cannot be written keeps what the registry held; the others still go.
        for (const TIntValue &v : kIntValues)
            RegistryWriteString(Root, key, v.Name, true, IntToStr((this->*v.Get)()));
        RegistryWriteString(Root, key, kUseMapCalibration, true, FUseMapCalibration ? "True" : "False");
    } catch (const std::exception &) {
        throw Exception("Error in TMapCalibration.DoSaveSettings");
    }
    return true;
}

void TMapCalibration::UpdateExistingOldKeysOfTarvo5(HKEY Root, const std::string &BasePath)
{
    const std::string oldKey = AddBackslash(BasePath) + GetKeyDeviceName(5.0);
    {
        TRegistry reg(KEY_READ);
        reg.SetRootKey(Root);
        if (!reg.OpenKey(oldKey, false))
            return;
    }
    try {
        auto old = std::make_unique<TMapCalibration>(nullptr);
        old->SetTarvoVersion(5.0);
        old->SetName("MapCalibrationTarvo5");
        const std::string prefix = old->ValueNamePrefix(true);
        // Every old value is read and understood before any is deleted, and the old names
        // go only after the current layout is written: a bad value or a failed write must
        // not lose the values already taken out of the older layout.
        std::vector<std::string> found;
        for (size_t i = 0; i < kOldIntValueCount; ++i) {
            const TIntValue &v = kIntValues[i];
            const std::string name = prefix + v.Name;
            if (!RegistryValueExists(Root, oldKey, name))
                continue;
            (old.get()->*v.Set)(StrToInt(RegistryReadString(Root, oldKey, name)));
            found.push_back(name);
        }
        const std::string switchName = prefix + kUseMapCalibration;
        if (RegistryValueExists(Root, oldKey, switchName)) {
            old->SetUseMapCalibration(RegistryReadString(Root, oldKey, switchName) == "True");
            found.push_back(switchName);
        }
        if (!found.empty()) {
            old->DoSaveSettings(Root, BasePath);
            for (const std::string &name : found)
                RegistryDeleteValue(Root, oldKey, name);
        }
    } catch (const std::exception &) {
        throw Exception("Error in TMapCalibration.UpdateExistingOldKeysOfTarvo5");
    }
}
