#pragma once
// Where the Windows software keeps the trainer settings in the current user's registry, and the
// names of its values. The calibration window reads them; the settings window writes them.

// Relative to HKEY_CURRENT_USER.
inline constexpr char TarvoDeviceKeyPath[] = "Software\\Ulmora\\Virel\\TarvoDeviceAntP";
// Followed by the unit type: the calibration key of that model.
inline constexpr char TarvoCalibrationKeyPrefix[] = "Software\\Ulmora\\Virel\\Calibration\\Tarvo";

inline constexpr char UnitTypeValue[] = "TvdAntP_UnitType";
inline constexpr char DeviceNumberValue[] = "TvdAntP_DeviceNumber";
inline constexpr char DiameterValue[] = "TvdAntP_Diameter";
