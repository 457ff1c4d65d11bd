#pragma once
// Page numbers of the ANT+ profiles the stack speaks: byte 0 of a data page.
#include <cstdint>

// ---- fitness equipment (FE-C) ----
constexpr uint8_t FePageCalibrationResponse = 1;
constexpr uint8_t FePageCalibrationProgress = 2;
constexpr uint8_t FePageGeneral = 16;
constexpr uint8_t FePageGeneralSettings = 17;
constexpr uint8_t FePageTrainerData = 25;
constexpr uint8_t FePageBasicResistance = 48;
constexpr uint8_t FePageTargetPower = 49;
constexpr uint8_t FePageTrackResistance = 51;
constexpr uint8_t FePageCapabilities = 54;
constexpr uint8_t FePageUserConfiguration = 55;
// Common pages that FE-C devices send or answer.
constexpr uint8_t CommonPageRequest = 70;
constexpr uint8_t CommonPageManufacturerInfo = 80;
constexpr uint8_t CommonPageProductInfo = 81;

// ---- heart-rate and cadence sensors ----
// Bit 7 of byte 0 is the page-change toggle of these sensors, not part of the number.
constexpr uint8_t PageNumberMask = 0x7F;
constexpr uint8_t SensorPageOperatingTime = 1;
constexpr uint8_t SensorPageManufacturerInfo = 2;
constexpr uint8_t SensorPageProductInfo = 3;
constexpr uint8_t HrPagePreviousHeartBeat = 4;

// ---- the maker's console ----
constexpr uint8_t ConsolePageKeys = 5;
constexpr uint8_t ConsolePageKeepAlive = 0x0A;

// ---- pedal packets: a series runs from the first to the last ----
constexpr uint8_t PedalPacketFirst = 1;
constexpr uint8_t PedalPacketSpeed = 2;
constexpr uint8_t PedalPacketLast = 8;
