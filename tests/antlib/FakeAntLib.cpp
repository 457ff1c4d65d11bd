// A stand-in ANT library that lacks three functions, for the binding's look-up reports.
#include <cstdint>

extern "C" {
#define FAKE __attribute__((visibility("default")))
FAKE bool ANT_Init(uint8_t deviceNumber, uint16_t baudRate) { return deviceNumber == 0 && baudRate == 57600; }
FAKE void ANT_Close() {}
FAKE bool ANT_ResetSystem() { return true; }
FAKE void ANT_Nap(uint32_t) {}
FAKE bool ANT_SetNetworkKey(uint8_t, const uint8_t *) { return true; }
FAKE bool ANT_SetTransmitPower(uint8_t) { return true; }
FAKE bool ANT_GetDeviceUSBInfo(uint8_t, uint8_t *, uint8_t *) { return true; }
FAKE bool ANT_GetDeviceUSBPID(uint16_t *pid) { *pid = 0x1008; return true; }
FAKE bool ANT_AssignChannel(uint8_t, uint8_t, uint8_t) { return true; }
FAKE bool ANT_UnAssignChannel(uint8_t) { return true; }
FAKE bool ANT_SetChannelId(uint8_t, uint16_t, uint8_t, uint8_t) { return true; }
FAKE bool ANT_SetChannelRFFreq(uint8_t, uint8_t) { return true; }
FAKE bool ANT_SetChannelPeriod(uint8_t, uint16_t) { return true; }
FAKE bool ANT_OpenChannel(uint8_t) { return true; }
FAKE bool ANT_OpenRxScanMode() { return true; }
FAKE bool ANT_CloseChannel(uint8_t) { return true; }
FAKE bool ANT_RequestMessage(uint8_t, uint8_t) { return true; }
FAKE void ANT_AssignResponseFunction(bool (*)(uint8_t, uint8_t), uint8_t *) {}
FAKE void ANT_AssignChannelEventFunction(uint8_t, bool (*)(uint8_t, uint8_t), uint8_t *) {}
// ANT_UnassignAllResponseFunctions missing
FAKE uint32_t ANT_LibVersion() { return 0x0105A; }
FAKE bool ANT_SendBroadcastData(uint8_t, const uint8_t *) { return true; }
FAKE bool ANT_SendAcknowledgedData(uint8_t, const uint8_t *) { return true; }
FAKE bool ANT_SendBurstTransfer(uint8_t, const uint8_t *, uint16_t) { return true; }
FAKE bool ANT_SetChannelSearchTimeout(uint8_t, uint8_t) { return true; }
FAKE bool ANT_SetLowPriorityChannelSearchTimeout(uint8_t, uint8_t) { return true; }
// ANT_RxExtMesgsEnable missing (the binding reports it under its old name)
// ANT_LibConfig missing
}
