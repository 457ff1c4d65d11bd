#include "settings/TrainerSettings.h"

#include "framework/SysUtils.h"

#include <cmath>

namespace {

using namespace SettingsLimits;

bool IsSpeed(TSettingsField Field)
{
    return Field == sfSpeed1 || Field == sfSpeed2 || Field == sfSpeed3;
}

bool IsLevel(TSettingsField Field)
{
    return Field == sfLevel1 || Field == sfLevel2 || Field == sfLevel3;
}

int PointIndex(TSettingsField Field)
{
    return (Field - sfSpeed1) / 2;
}

std::string Trimmed(const std::string &S)
{
    const size_t first = S.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return S.substr(first, S.find_last_not_of(" \t") - first + 1);
}

// The reader takes what StrToInt takes; blanks a rider leaves at either end are forgiven.
bool WholeNumberIn(const std::string &S, int64_t Min, int64_t Max, int64_t &Value)
{
    return TryStrToInt64(Trimmed(S), Value) && Value >= Min && Value <= Max;
}

bool DiameterOf(const std::string &S, long double &Value)
{
    return TryStrToFloat(Trimmed(S), Value) && std::isfinite(Value) && Value > 0 && Value <= DiameterMax;
}

std::string IntegerProblem(TSettingsField Field, const std::string &Name)
{
    switch (Field) {
    case sfUnitType:
        return Format("The trainer model must be a whole number from %d to %d.", {UnitTypeMin, UnitTypeMax});
    case sfDeviceNumber:
        return Format("The device number must be a whole number from 0 to %d (0 accepts any trainer).",
                      {DeviceNumberMax});
    default:
        break;
    }
    if (IsSpeed(Field))
        return Format("The %s must be a whole number of km/h from %d to %d.", {Name, SpeedMin, SpeedMax});
    return Format("The %s must be a whole number from 0 (no resistance) to %d (full resistance).", {Name, LevelMax});
}

void RangeOf(TSettingsField Field, int64_t &Min, int64_t &Max)
{
    if (Field == sfUnitType) {
        Min = UnitTypeMin;
        Max = UnitTypeMax;
    } else if (Field == sfDeviceNumber) {
        Min = 0;
        Max = DeviceNumberMax;
    } else if (IsSpeed(Field)) {
        Min = SpeedMin;
        Max = SpeedMax;
    } else {
        Min = 0;
        Max = LevelMax;
    }
}

} // namespace

bool FieldUsed(TSettingsField Field, bool TwoPoint)
{
    return !TwoPoint || (Field != sfSpeed3 && Field != sfLevel3);
}

std::string FieldName(TSettingsField Field, bool TwoPoint)
{
    switch (Field) {
    case sfUnitType: return "trainer model";
    case sfDeviceNumber: return "device number";
    case sfDiameter: return "roller diameter";
    default: break;
    }
    const int index = PointIndex(Field);
    const std::string point = TwoPoint ? std::string("P") + static_cast<char>('A' + index) : "P" + IntToStr(index + 1);
    return point + (IsSpeed(Field) ? " speed" : " level");
}

std::string FieldProblem(const TSettingsText &Text, TSettingsField Field)
{
    if (!FieldUsed(Field, Text.TwoPoint))
        return "";
    const std::string &text = Text.Fields[Field];
    if (Field == sfDiameter) {
        long double value;
        if (DiameterOf(text, value))
            return "";
        return Format("The roller diameter must be a number of millimetres above 0 and up to %d, with '%s' as "
                      "the decimal separator.",
                      {static_cast<int>(DiameterMax), std::string(1, DecimalSeparator())});
    }
    int64_t min, max, value;
    RangeOf(Field, min, max);
    return WholeNumberIn(text, min, max, value) ? "" : IntegerProblem(Field, FieldName(Field, Text.TwoPoint));
}

bool TSettingsCheck::Ok() const
{
    for (const std::string &problem : Problems)
        if (!problem.empty())
            return false;
    return true;
}

TSettingsCheck CheckSettings(const TSettingsText &Text)
{
    TSettingsCheck check;
    TTrainerSettings &s = check.Settings;
    s.TwoPoint = Text.TwoPoint;
    for (int f = 0; f < sfFieldCount; ++f) {
        const auto field = static_cast<TSettingsField>(f);
        check.Problems[f] = FieldProblem(Text, field);
        if (!check.Problems[f].empty() || !FieldUsed(field, Text.TwoPoint))
            continue;
        const std::string text = Trimmed(Text.Fields[f]);
        if (field == sfDiameter) {
            s.Diameter = StrToFloat(text);
            continue;
        }
        const auto value = static_cast<int32_t>(StrToInt64(text));
        if (field == sfUnitType)
            s.UnitType = value;
        else if (field == sfDeviceNumber)
            s.DeviceNumber = value;
        else if (IsSpeed(field))
            s.Points[PointIndex(field)].Speed = value;
        else if (IsLevel(field))
            s.Points[PointIndex(field)].Level = value;
    }
    return check;
}

bool SettingsValid(const TTrainerSettings &Settings)
{
    return CheckSettings(SettingsToText(Settings)).Ok() && std::isfinite(Settings.Diameter) &&
           Settings.Diameter > 0 && Settings.Diameter <= DiameterMax;
}

TSettingsText SettingsToText(const TTrainerSettings &Settings)
{
    TSettingsText text;
    text.TwoPoint = Settings.TwoPoint;
    text.Fields[sfUnitType] = IntToStr(Settings.UnitType);
    text.Fields[sfDeviceNumber] = IntToStr(Settings.DeviceNumber);
    text.Fields[sfDiameter] = FloatToStr(Settings.Diameter);
    for (int p = 0; p < 3; ++p) {
        text.Fields[sfSpeed1 + 2 * p] = IntToStr(Settings.Points[p].Speed);
        text.Fields[sfLevel1 + 2 * p] = IntToStr(Settings.Points[p].Level);
    }
    return text;
}
