/* The C interface of libANT_DLL.so. The application never links against it: it loads the
 * library by name at run time and looks up each function by these names. */
#ifndef FENNICK_ANT_DLL_H
#define FENNICK_ANT_DLL_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ANT_EXPORT __attribute__((visibility("default")))

typedef bool (*ANT_RESPONSE_FUNC)(uint8_t channel, uint8_t messageId);
typedef bool (*ANT_EVENT_FUNC)(uint8_t channel, uint8_t event);

ANT_EXPORT bool     ANT_Init(uint8_t deviceNumber, uint16_t baudRate);
ANT_EXPORT void     ANT_Close(void);
ANT_EXPORT bool     ANT_ResetSystem(void);
ANT_EXPORT void     ANT_Nap(uint32_t milliseconds);
ANT_EXPORT bool     ANT_SetNetworkKey(uint8_t network, const uint8_t *key8);
ANT_EXPORT bool     ANT_SetTransmitPower(uint8_t power);
ANT_EXPORT bool     ANT_GetDeviceUSBInfo(uint8_t deviceNumber, uint8_t *product256, uint8_t *serial256);
ANT_EXPORT bool     ANT_GetDeviceUSBPID(uint16_t *pid);
ANT_EXPORT bool     ANT_AssignChannel(uint8_t channel, uint8_t channelType, uint8_t network);
ANT_EXPORT bool     ANT_UnAssignChannel(uint8_t channel);
ANT_EXPORT bool     ANT_SetChannelId(uint8_t channel, uint16_t deviceNumber, uint8_t deviceType, uint8_t transmissionType);
ANT_EXPORT bool     ANT_SetChannelRFFreq(uint8_t channel, uint8_t frequency);
ANT_EXPORT bool     ANT_SetChannelPeriod(uint8_t channel, uint16_t period);
ANT_EXPORT bool     ANT_OpenChannel(uint8_t channel);
ANT_EXPORT bool     ANT_OpenRxScanMode(void);
ANT_EXPORT bool     ANT_CloseChannel(uint8_t channel);
ANT_EXPORT bool     ANT_RequestMessage(uint8_t channel, uint8_t messageId);
ANT_EXPORT void     ANT_AssignResponseFunction(ANT_RESPONSE_FUNC callback, uint8_t *buffer10);
ANT_EXPORT void     ANT_AssignChannelEventFunction(uint8_t channel, ANT_EVENT_FUNC callback, uint8_t *buffer16);
ANT_EXPORT void     ANT_UnassignAllResponseFunctions(void);
ANT_EXPORT uint32_t ANT_LibVersion(void);
ANT_EXPORT bool     ANT_SendBroadcastData(uint8_t channel, const uint8_t *data8);
ANT_EXPORT bool     ANT_SendAcknowledgedData(uint8_t channel, const uint8_t *data8);
ANT_EXPORT bool     ANT_SendBurstTransfer(uint8_t channel, const uint8_t *data, uint16_t packets);
ANT_EXPORT bool     ANT_SetChannelSearchTimeout(uint8_t channel, uint8_t timeout);
ANT_EXPORT bool     ANT_SetLowPriorityChannelSearchTimeout(uint8_t channel, uint8_t timeout);
ANT_EXPORT bool     ANT_RxExtMesgsEnable(uint8_t enable);
ANT_EXPORT bool     ANT_LibConfig(uint8_t flags);
/* Inclusion/exclusion list of a receive channel's search. Optional for callers: older
 * libraries lack them. */
ANT_EXPORT bool     ANT_AddChannelID(uint8_t channel, uint16_t deviceNumber, uint8_t deviceType,
                                     uint8_t transmissionType, uint8_t listIndex);
ANT_EXPORT bool     ANT_ConfigList(uint8_t channel, uint8_t listSize, uint8_t exclude);

/* Why the last stick could not be used (opened, claimed, reset), with its fix, as lines of
 * text; cut to fit `size` and always zero-terminated. False when there is nothing to tell.
 * Optional: an application must work with a library that lacks it. */
ANT_EXPORT bool     ANT_GetLastErrorText(char *buffer, uint16_t size);

#ifdef __cplusplus
}
#endif

#endif
