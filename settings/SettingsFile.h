#pragma once
// The settings file on disk: loading it, saving into it without risk to what it held, and the
// .reg exports that carry the settings to and from a Windows machine.
#include "platform/Registry.h"
#include "settings/TrainerSettings.h"

#include <string>

struct TSettingsLoad {
    bool Ok = false;
    TSettingsText Text;
    THiveParseResult Hive;  // for the points of another model
    std::string Why;        // a sentence, when not Ok
};

struct TSettingsSave {
    bool Ok = false;
    std::string Message;  // what was saved where, or why not
};

// The settings in the hive file `Path`; a missing file holds none (empty fields).
TSettingsLoad LoadSettingsFile(const std::string &Path);
// Writes the settings into the hive file `Path`, the rest of it kept, under the registry's
// writers' lock. The file as it was becomes `<Path>.bak`. On failure the file is untouched.
TSettingsSave SaveSettingsFile(const std::string &Path, const TTrainerSettings &Settings);

// The settings of a .reg export (UTF-16LE with byte-order mark, or UTF-8).
TSettingsLoad ImportSettings(const std::string &Path);
// A .reg file the Windows software's registry takes: UTF-16LE with byte-order mark, CRLF,
// the device key and the model's calibration key.
std::string ExportBytes(const TTrainerSettings &Settings);
TSettingsSave ExportSettings(const std::string &Path, const TTrainerSettings &Settings);
