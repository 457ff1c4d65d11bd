#pragma once
// Run-time binding to the ANT library: loads it by name, looks up every function and keeps
// one pointer per function. The application never links against the library.
#include <cstdint>
#include <string>

// The binding knows the library only through these types and the list below; the
// declarations the library itself exports stay on its side.
extern "C" {
// Called on the library's thread: (channel, response message id) and (channel, event code).
typedef bool (*ANT_RESPONSE_FUNC)(uint8_t channel, uint8_t messageId);
typedef bool (*ANT_EVENT_FUNC)(uint8_t channel, uint8_t event);
}

// The library's functions in table order: X(name, result, (parameters), (arguments)).
#define FENNICK_ANT_FUNCTIONS(X)                                                                   \
    X(ANT_Init, bool, (uint8_t deviceNumber, uint16_t baudRate), (deviceNumber, baudRate))         \
    X(ANT_Close, void, (), ())                                                                     \
    X(ANT_ResetSystem, bool, (), ())                                                               \
    X(ANT_Nap, void, (uint32_t milliseconds), (milliseconds))                                      \
    X(ANT_SetNetworkKey, bool, (uint8_t network, const uint8_t *key8), (network, key8))            \
    X(ANT_SetTransmitPower, bool, (uint8_t power), (power))                                        \
    X(ANT_GetDeviceUSBInfo, bool, (uint8_t deviceNumber, uint8_t *product256, uint8_t *serial256), \
      (deviceNumber, product256, serial256))                                                       \
    X(ANT_GetDeviceUSBPID, bool, (uint16_t *pid), (pid))                                           \
    X(ANT_AssignChannel, bool, (uint8_t channel, uint8_t channelType, uint8_t network),            \
      (channel, channelType, network))                                                             \
    X(ANT_UnAssignChannel, bool, (uint8_t channel), (channel))                                     \
    X(ANT_SetChannelId, bool,                                                                      \
      (uint8_t channel, uint16_t deviceNumber, uint8_t deviceType, uint8_t transmissionType),      \
      (channel, deviceNumber, deviceType, transmissionType))                                       \
    X(ANT_SetChannelRFFreq, bool, (uint8_t channel, uint8_t frequency), (channel, frequency))      \
    X(ANT_SetChannelPeriod, bool, (uint8_t channel, uint16_t period), (channel, period))           \
    X(ANT_OpenChannel, bool, (uint8_t channel), (channel))                                         \
    X(ANT_OpenRxScanMode, bool, (), ())                                                            \
    X(ANT_CloseChannel, bool, (uint8_t channel), (channel))                                        \
    X(ANT_RequestMessage, bool, (uint8_t channel, uint8_t messageId), (channel, messageId))        \
    X(ANT_AssignResponseFunction, void, (ANT_RESPONSE_FUNC callback, uint8_t *buffer10),           \
      (callback, buffer10))                                                                        \
    X(ANT_AssignChannelEventFunction, void,                                                        \
      (uint8_t channel, ANT_EVENT_FUNC callback, uint8_t *buffer16), (channel, callback, buffer16)) \
    X(ANT_UnassignAllResponseFunctions, void, (), ())                                              \
    X(ANT_LibVersion, uint32_t, (), ())                                                            \
    X(ANT_SendBroadcastData, bool, (uint8_t channel, const uint8_t *data8), (channel, data8))      \
    X(ANT_SendAcknowledgedData, bool, (uint8_t channel, const uint8_t *data8), (channel, data8))   \
    X(ANT_SendBurstTransfer, bool, (uint8_t channel, const uint8_t *data, uint16_t packets),       \
      (channel, data, packets))                                                                    \
    X(ANT_SetChannelSearchTimeout, bool, (uint8_t channel, uint8_t timeout), (channel, timeout))   \
    X(ANT_SetLowPriorityChannelSearchTimeout, bool, (uint8_t channel, uint8_t timeout),            \
      (channel, timeout))                                                                          \
    X(ANT_RxExtMesgsEnable, bool, (uint8_t enable), (enable))                                      \
    X(ANT_LibConfig, bool, (uint8_t flags), (flags))

// Functions a library may lack without anything being reported: looked up when present.
#define FENNICK_ANT_OPTIONAL_FUNCTIONS(X)                                                          \
    X(ANT_GetLastErrorText, bool, (char *buffer, uint16_t size), (buffer, size))                  \
    X(ANT_AddChannelID, bool,                                                                      \
      (uint8_t channel, uint16_t deviceNumber, uint8_t deviceType, uint8_t transmissionType,       \
       uint8_t listIndex),                                                                         \
      (channel, deviceNumber, deviceType, transmissionType, listIndex))                            \
    X(ANT_ConfigList, bool, (uint8_t channel, uint8_t listSize, uint8_t exclude),                  \
      (channel, listSize, exclude))

// One pointer per library function, in table order, then the optional ones; null when missing.
struct TAntFunctions {
#define FENNICK_ANT_POINTER(Name, Result, Params, Args) Result(*Name) Params = nullptr;
    FENNICK_ANT_FUNCTIONS(FENNICK_ANT_POINTER)
    FENNICK_ANT_OPTIONAL_FUNCTIONS(FENNICK_ANT_POINTER)
#undef FENNICK_ANT_POINTER
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
// output and left null (an optional one silently). False (with "Error loading AntLib") only when nothing loaded.
bool LoadAntLib();
// Frees the library when a handle is held; true when that succeeded. The table is emptied so
// that no pointer into the freed library survives.
bool UnloadAntLib();
bool AntLibHandleHeld();

// Who in this process has a stick open through the library: the trainer connection or the
// search on the air. Opening it a second time would close the first user's session under it.
// A name is set once the stick is open and cleared when it is closed; "" when nobody holds it.
void SetAntStickHolder(const std::string &Holder);
std::string AntStickHolder();

// Calls through the table that are safe when a function is missing: they do nothing and
// give false, 0.
class TAntLib {
public:
#define FENNICK_ANT_CALL(Name, Result, Params, Args) static Result Name Params;
    FENNICK_ANT_FUNCTIONS(FENNICK_ANT_CALL)
    FENNICK_ANT_OPTIONAL_FUNCTIONS(FENNICK_ANT_CALL)
#undef FENNICK_ANT_CALL
};

// Why the library could not use the last stick, with its fix; empty when it has nothing to
// tell or cannot tell.
std::string AntLastErrorText();
