#pragma once
// The calibration settings the window reads from the current user's registry: the installed
// trainer model, the trainer's ANT device number, the roller diameter and the calibration points
// of the installed model. Every routine reads the hive anew and never writes it.
//
// A key that is missing (or that cannot be opened with full access, as with a read-only hive)
// reads as 0. A value that is missing or empty, or whose text is not a number, raises
// EConvertError ("'%s' is not a valid integer value" / "... floating point value"); a value
// stored with a non-text type raises ERegistryException ("Invalid data type for '%s'"). A hive
// file that does not parse, or cannot be read, raises ERegistryException naming the file.
// Conversion and data-type errors carry TErrorDetails naming the value, its key and the file.
//
// A hive file that exists but cannot be opened with full access (a read-only file or folder)
// is said once per file and reason on the debugger output and to the notice sink.
#include <cstdint>
#include <functional>
#include <string>

extern const char *const TarvoDeviceKey;       // Software\Ulmora\Virel\TarvoDeviceAntP
extern const char *const TarvoCalibrationKey;  // Software\Ulmora\Virel\Calibration\Tarvo

// Where the notices go besides the debugger output (the window's debug log); an empty function
// for none. Setting it lets every notice be said again.
void SetSettingsNoticeSink(std::function<void(const std::string &)> Sink);

int32_t ReadUnitType();
int32_t ReadDeviceNumber();
long double ReadDiameter();

// The calibration key of the installed model: TarvoCalibrationKey followed by the unit type
// (read again on every call).
std::string CalibrationKeyPath();

// Point 1, 2 or 3 of a three-point model ("Speed1", "Resist2", ...).
int32_t ReadSpeed(int Point);
int32_t ReadResist(int Point);

// Points A and B of a two-point model. An empty or missing "SpeedA" reads as 0 without error:
// that is how a three-point model says it is one.
int32_t ReadSpeedA();
int32_t ReadSpeedB();
int32_t ReadResistA();
int32_t ReadResistB();
