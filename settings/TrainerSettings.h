#pragma once
// The trainer settings the calibration window reads, as a rider types them and as numbers, with
// the range each field must keep and a sentence for a field that does not.
#include <array>
#include <cstdint>
#include <string>

enum TSettingsField {
    sfUnitType,
    sfDeviceNumber,
    sfDiameter,
    // Points 1-3 of a three-point model; a two-point model keeps A in the first and B in the second.
    sfSpeed1,
    sfLevel1,
    sfSpeed2,
    sfLevel2,
    sfSpeed3,
    sfLevel3,
    sfFieldCount
};

struct TCalibrationPoint {
    int32_t Speed = 0;  // km/h
    int32_t Level = 0;  // resistance in half percent steps
    bool operator==(const TCalibrationPoint &) const = default;
};

struct TTrainerSettings {
    int32_t UnitType = 0;
    int32_t DeviceNumber = 0;  // 0: any trainer
    long double Diameter = 0;  // millimetres
    bool TwoPoint = false;
    std::array<TCalibrationPoint, 3> Points{};
    bool operator==(const TTrainerSettings &) const = default;
};

struct TSettingsText {
    bool TwoPoint = false;
    std::array<std::string, sfFieldCount> Fields{};
};

namespace SettingsLimits {
inline constexpr int32_t UnitTypeMin = 1;
inline constexpr int32_t UnitTypeMax = 9999;
inline constexpr int32_t DeviceNumberMax = 65535;
// The calibration window's speed scale ends at 50 km/h.
inline constexpr int32_t SpeedMin = 1;
inline constexpr int32_t SpeedMax = 50;
// The trainer takes 0 to 100 % resistance in half percent steps.
inline constexpr int32_t LevelMax = 200;
// The wheel size page carries whole centimetres up to 254 cm.
inline constexpr long double DiameterMax = 2540;
} // namespace SettingsLimits

// Whether a field is one of the model's: a two-point model has no third point.
bool FieldUsed(TSettingsField Field, bool TwoPoint);
// "Device number", "PA speed", ...
std::string FieldName(TSettingsField Field, bool TwoPoint);
// The sentence for a field whose text is not in range; "" for a good one.
std::string FieldProblem(const TSettingsText &Text, TSettingsField Field);

struct TSettingsCheck {
    TTrainerSettings Settings;  // the good fields' values
    std::array<std::string, sfFieldCount> Problems{};
    bool Ok() const;
};
TSettingsCheck CheckSettings(const TSettingsText &Text);
// Whether every field of the settings is in range.
bool SettingsValid(const TTrainerSettings &Settings);

// Integers in decimal, the diameter with the system decimal separator, as they are stored.
TSettingsText SettingsToText(const TTrainerSettings &Settings);
