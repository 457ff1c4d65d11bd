#pragma once
// The trainer settings in a hive: read as the calibration window reads them, and written as the
// Windows software writes them (every value a REG_SZ string), the rest of the hive kept.
#include "platform/RegistryDocument.h"
#include "settings/TrainerSettings.h"

#include <cstdint>
#include <string>

// The text of each setting in `Hive` ("" for one that is missing or not text). The points are
// the model's whose number the unit type holds; SpeedA set to anything but 0 makes it a
// two-point model, as for the calibration window.
TSettingsText SettingsTextOf(const THiveParseResult &Hive);
// The points of model `UnitType` in `Hive`, into `Text` (its other fields are left alone).
void ReadModelPoints(const THiveParseResult &Hive, int32_t UnitType, TSettingsText &Text);
// Whether `Hive` holds the device key or a calibration key of a model.
bool HasTrainerSettings(const THiveParseResult &Hive);

// Sets the device key's values and the model's points in `Doc`. A three-point model gets an
// empty SpeedA, which is how the calibration window tells it from a two-point one.
void PutSettings(RegHive::THiveDoc &Doc, const TTrainerSettings &Settings);
// The hive bytes with the settings written. False, leaving `Out` alone, when the hive does not
// parse completely or a setting is out of range.
bool WriteSettings(const std::string &HiveBytes, const TTrainerSettings &Settings, std::string &Out);
