#pragma once
// FE-C page numbers as the simulated trainer sends and takes them: byte 0 of a data page.
// The virtual stick knows nothing of the application, so it keeps its own names for them.
#include <cstdint>

namespace antsim::fec {

constexpr uint8_t kCalibrationResponse = 1;
constexpr uint8_t kCalibrationProgress = 2;
constexpr uint8_t kGeneral = 16;
constexpr uint8_t kGeneralSettings = 17;
constexpr uint8_t kTrainerData = 25;
constexpr uint8_t kBasicResistance = 48;
constexpr uint8_t kTargetPower = 49;
constexpr uint8_t kTrackResistance = 51;
constexpr uint8_t kCapabilities = 54;
constexpr uint8_t kUserConfiguration = 55;
// Common pages.
constexpr uint8_t kRequest = 70;
constexpr uint8_t kManufacturerInfo = 80;
constexpr uint8_t kProductInfo = 81;

} // namespace antsim::fec
