#pragma once
// The FE-C pages a trainer is sent, built by the channel's trainer commands (TAntChannel's
// Send... operations, defined in TrainerCommands.cpp) and by the controller.
#include "ant/profiles/AntTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Page builders of the FE-C pages the system sends (byte 0 the page number, 0xFF not given).
TChannelSendPacket BuildBasicResistancePage(uint8_t Level);          // page 48, level <= 200
TChannelSendPacket BuildTargetPowerPage(uint16_t Watts);             // page 49
TChannelSendPacket BuildTrackResistancePage(double SlopePercent);    // page 51
// Page 55; WithUserWeight false gives the controller form (user weight not given).
TChannelSendPacket BuildUserConfigurationPage(int32_t UserWeight, int32_t WheelDiameter,
                                              bool WithUserWeight);
TChannelSendPacket BuildRequestCapabilitiesPage();                   // page 70 asking for 54
// Page 1 asking for the trainer's own calibration; neither kind is the cancel.
TChannelSendPacket BuildCalibrationRequestPage(bool ZeroOffset, bool SpinDown);
TChannelSendPacket BuildCalibrationCancelPage();

// Blank-separated upper-case hexadecimal bytes, each preceded by a blank: " 30 FF ...".
std::string PacketToHex(const uint8_t *Data, size_t Count);
