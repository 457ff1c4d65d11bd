#pragma once
// Run-time binding to the ANT library: loads it by name, looks up every function and keeps
// one pointer per function. The application never links against the library.
#include <cstdint>
#include <string>

#include "antlib/ant_dll.h"

// One pointer per library function, in the library's table order; null when missing.
struct TAntFunctions {
    bool (*ANT_Init)(uint8_t deviceNumber, uint16_t baudRate) = nullptr;
    void (*ANT_Close)() = nullptr;
    bool (*ANT_ResetSystem)() = nullptr;
    void (*ANT_Nap)(uint32_t milliseconds) = nullptr;
    bool (*ANT_SetNetworkKey)(uint8_t network, const uint8_t *key8) = nullptr;
    bool (*ANT_SetTransmitPower)(uint8_t power) = nullptr;
    bool (*ANT_GetDeviceUSBInfo)(uint8_t deviceNumber, uint8_t *product256, uint8_t *serial256) = nullptr;
    bool (*ANT_GetDeviceUSBPID)(uint16_t *pid) = nullptr;
    bool (*ANT_AssignChannel)(uint8_t channel, uint8_t channelType, uint8_t network) = nullptr;
    bool (*ANT_UnAssignChannel)(uint8_t channel) = nullptr;
    bool (*ANT_SetChannelId)(uint8_t channel, uint16_t deviceNumber, uint8_t deviceType,
                             uint8_t transmissionType) = nullptr;
    bool (*ANT_SetChannelRFFreq)(uint8_t channel, uint8_t frequency) = nullptr;
    bool (*ANT_SetChannelPeriod)(uint8_t channel, uint16_t period) = nullptr;
    bool (*ANT_OpenChannel)(uint8_t channel) = nullptr;
    bool (*ANT_OpenRxScanMode)() = nullptr;
    bool (*ANT_CloseChannel)(uint8_t channel) = nullptr;
    bool (*ANT_RequestMessage)(uint8_t channel, uint8_t messageId) = nullptr;
    void (*ANT_AssignResponseFunction)(ANT_RESPONSE_FUNC callback, uint8_t *buffer10) = nullptr;
    void (*ANT_AssignChannelEventFunction)(uint8_t channel, ANT_EVENT_FUNC callback,
                                           uint8_t *buffer16) = nullptr;
    void (*ANT_UnassignAllResponseFunctions)() = nullptr;
    uint32_t (*ANT_LibVersion)() = nullptr;
    bool (*ANT_SendBroadcastData)(uint8_t channel, const uint8_t *data8) = nullptr;
    bool (*ANT_SendAcknowledgedData)(uint8_t channel, const uint8_t *data8) = nullptr;
    bool (*ANT_SendBurstTransfer)(uint8_t channel, const uint8_t *data, uint16_t packets) = nullptr;
    bool (*ANT_SetChannelSearchTimeout)(uint8_t channel, uint8_t timeout) = nullptr;
    bool (*ANT_SetLowPriorityChannelSearchTimeout)(uint8_t channel, uint8_t timeout) = nullptr;
    bool (*ANT_RxExtMesgsEnable)(uint8_t enable) = nullptr;
    bool (*ANT_LibConfig)(uint8_t flags) = nullptr;
};

// The table in force. Written on load, unload and by tests; read from any thread.
TAntFunctions &AntFunctions();
// Puts a table in place without any library (a recording fake in tests); an empty table
// makes every call through TAntLib a no-op.
void SetAntFunctionsForTesting(const TAntFunctions &functions);

// The library to load: the value given here (--ant-library), else $FENNICK_ANT_LIBRARY, else
// "libANT_DLL.so". An empty text restores the default.
void SetAntLibraryName(const std::string &name);
std::string AntLibraryName();

// Loads the library and looks up every function; a missing one is reported on the debugger
// output and left null. False (with "Error loading AntLib") only when nothing loaded.
bool LoadAntLib();
// Frees the library when a handle is held; true when that succeeded. The table is emptied so
// that no pointer into the freed library survives.
bool UnloadAntLib();
bool AntLibHandleHeld();

// Calls through the table that are safe when a function is missing: they do nothing and
// give false, 0.
class TAntLib {
public:
    static bool ANT_Init(uint8_t deviceNumber, uint16_t baudRate);
    static void ANT_Close();
    static bool ANT_ResetSystem();
    static void ANT_Nap(uint32_t milliseconds);
    static bool ANT_SetNetworkKey(uint8_t network, const uint8_t *key8);
    static bool ANT_SetTransmitPower(uint8_t power);
    static bool ANT_GetDeviceUSBInfo(uint8_t deviceNumber, uint8_t *product256, uint8_t *serial256);
    static bool ANT_GetDeviceUSBPID(uint16_t *pid);
    static bool ANT_AssignChannel(uint8_t channel, uint8_t channelType, uint8_t network);
    static bool ANT_UnAssignChannel(uint8_t channel);
    static bool ANT_SetChannelId(uint8_t channel, uint16_t deviceNumber, uint8_t deviceType,
                                 uint8_t transmissionType);
    static bool ANT_SetChannelRFFreq(uint8_t channel, uint8_t frequency);
    static bool ANT_SetChannelPeriod(uint8_t channel, uint16_t period);
    static bool ANT_OpenChannel(uint8_t channel);
    static bool ANT_OpenRxScanMode();
    static bool ANT_CloseChannel(uint8_t channel);
    static bool ANT_RequestMessage(uint8_t channel, uint8_t messageId);
    static void ANT_AssignResponseFunction(ANT_RESPONSE_FUNC callback, uint8_t *buffer10);
    static void ANT_AssignChannelEventFunction(uint8_t channel, ANT_EVENT_FUNC callback,
                                               uint8_t *buffer16);
    static void ANT_UnassignAllResponseFunctions();
    static uint32_t ANT_LibVersion();
    static bool ANT_SendBroadcastData(uint8_t channel, const uint8_t *data8);
    static bool ANT_SendAcknowledgedData(uint8_t channel, const uint8_t *data8);
    static bool ANT_SendBurstTransfer(uint8_t channel, const uint8_t *data, uint16_t packets);
    static bool ANT_SetChannelSearchTimeout(uint8_t channel, uint8_t timeout);
    static bool ANT_SetLowPriorityChannelSearchTimeout(uint8_t channel, uint8_t timeout);
    static bool ANT_RxExtMesgsEnable(uint8_t enable);
    static bool ANT_LibConfig(uint8_t flags);
};
