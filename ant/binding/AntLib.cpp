#include "ant/binding/AntLib.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <type_traits>
#include <unistd.h>

#include "platform/DebugOutput.h"

namespace {

const char *const kDefaultLibrary = "libANT_DLL.so";

TAntFunctions gFunctions;
void *gHandle = nullptr;
std::mutex gNameMutex;
std::string gLibraryName;

// The library's functions in table order, with the text that reports a missing one when it is
// not the usual "Error getting procaddress for " + name.
struct TEntry {
    const char *Name;
    const char *MissingText;
};
constexpr TEntry kEntries[] = {
    {"ANT_Init", nullptr},
    {"ANT_Close", nullptr},
    {"ANT_ResetSystem", nullptr},
    {"ANT_Nap", nullptr},
    {"ANT_SetNetworkKey", nullptr},
    {"ANT_SetTransmitPower", nullptr},
    {"ANT_GetDeviceUSBInfo", nullptr},
    {"ANT_GetDeviceUSBPID", nullptr},
    {"ANT_AssignChannel", nullptr},
    {"ANT_UnAssignChannel", nullptr},
    {"ANT_SetChannelId", nullptr},
    {"ANT_SetChannelRFFreq", nullptr},
    {"ANT_SetChannelPeriod", nullptr},
    {"ANT_OpenChannel", nullptr},
    {"ANT_OpenRxScanMode", nullptr},
    {"ANT_CloseChannel", nullptr},
    {"ANT_RequestMessage", nullptr},
    {"ANT_AssignResponseFunction", nullptr},
    {"ANT_AssignChannelEventFunction", nullptr},
    // These two texts have always read so; kept for whoever searches the log for them.
    {"ANT_UnassignAllResponseFunctions", "Error getting procaddres for ANT_UnassignAllResponseFunctions"},
    {"ANT_LibVersion", nullptr},
    {"ANT_SendBroadcastData", nullptr},
    {"ANT_SendAcknowledgedData", nullptr},
    {"ANT_SendBurstTransfer", nullptr},
    {"ANT_SetChannelSearchTimeout", nullptr},
    {"ANT_SetLowPriorityChannelSearchTimeout", nullptr},
    {"ANT_RxExtMesgsEnable", "Error getting procaddress for ANT_RxExtMesgEnable"},
    {"ANT_LibConfig", nullptr},
};
constexpr size_t kEntryCount = sizeof kEntries / sizeof kEntries[0];
static_assert(sizeof(TAntFunctions) == kEntryCount * sizeof(void (*)()), "one entry per function");

// Fills the table from the symbols found, in the order of kEntries.
TAntFunctions tableFrom(void *const (&found)[kEntryCount])
{
    TAntFunctions f;
    size_t i = 0;
    auto next = [&](auto &slot) { slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(found[i++]); };
    next(f.ANT_Init);
    next(f.ANT_Close);
    next(f.ANT_ResetSystem);
    next(f.ANT_Nap);
    next(f.ANT_SetNetworkKey);
    next(f.ANT_SetTransmitPower);
    next(f.ANT_GetDeviceUSBInfo);
    next(f.ANT_GetDeviceUSBPID);
    next(f.ANT_AssignChannel);
    next(f.ANT_UnAssignChannel);
    next(f.ANT_SetChannelId);
    next(f.ANT_SetChannelRFFreq);
    next(f.ANT_SetChannelPeriod);
    next(f.ANT_OpenChannel);
    next(f.ANT_OpenRxScanMode);
    next(f.ANT_CloseChannel);
    next(f.ANT_RequestMessage);
    next(f.ANT_AssignResponseFunction);
    next(f.ANT_AssignChannelEventFunction);
    next(f.ANT_UnassignAllResponseFunctions);
    next(f.ANT_LibVersion);
    next(f.ANT_SendBroadcastData);
    next(f.ANT_SendAcknowledgedData);
    next(f.ANT_SendBurstTransfer);
    next(f.ANT_SetChannelSearchTimeout);
    next(f.ANT_SetLowPriorityChannelSearchTimeout);
    next(f.ANT_RxExtMesgsEnable);
    next(f.ANT_LibConfig);
    return f;
}

std::string executableDir()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string p(path, size_t(n));
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

void *openLibrary(const std::string &name)
{
    if (void *h = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL))
        return h;
    if (name.find('/') != std::string::npos)
        return nullptr;
    // A bare name not found on the search path: look beside the program, then in the build
    // tree it came from, so a program run from its build folder finds its library.
    const std::string beside = executableDir();
    if (!beside.empty())
        if (void *h = ::dlopen((beside + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL))
            return h;
#ifdef FENNICK_ANT_LIBRARY_DIR
    if (void *h = ::dlopen((std::string(FENNICK_ANT_LIBRARY_DIR) + "/" + name).c_str(),
                           RTLD_NOW | RTLD_LOCAL))
        return h;
#endif
    return nullptr;
}

} // namespace

TAntFunctions &AntFunctions()
{
    return gFunctions;
}

void SetAntFunctionsForTesting(const TAntFunctions &functions)
{
    gFunctions = functions;
}

void SetAntLibraryName(const std::string &name)
{
    std::lock_guard lock(gNameMutex);
    gLibraryName = name;
}

std::string AntLibraryName()
{
    {
        std::lock_guard lock(gNameMutex);
        if (!gLibraryName.empty())
            return gLibraryName;
    }
    const char *env = std::getenv("FENNICK_ANT_LIBRARY");
    if (env && *env)
        return env;
    return kDefaultLibrary;
}

bool AntLibHandleHeld()
{
    return gHandle != nullptr;
}

bool LoadAntLib()
{
    void *handle = openLibrary(AntLibraryName());
    if (!handle) {
        OutputDebugString("Error loading AntLib");
        return false;
    }
    void *found[kEntryCount];
    for (size_t i = 0; i < kEntryCount; ++i)
        found[i] = ::dlsym(handle, kEntries[i].Name);
    for (size_t i = 0; i < kEntryCount; ++i)
        if (!found[i])
            OutputDebugString(kEntries[i].MissingText
                                  ? std::string(kEntries[i].MissingText)
                                  : "Error getting procaddress for " + std::string(kEntries[i].Name));
    const TAntFunctions f = tableFrom(found);

    // A second load must not leave the first handle's reference behind.
    void *previous = gHandle;
    gHandle = handle;
    gFunctions = f;
    if (previous)
        ::dlclose(previous);
    return true;
}

bool UnloadAntLib()
{
    if (!gHandle)
        return false;
    // Cleared first: nothing may call into the library while it goes away.
    const TAntFunctions kept = gFunctions;
    gFunctions = TAntFunctions();
    if (::dlclose(gHandle) != 0) {
        gFunctions = kept;
        return false;
    }
    gHandle = nullptr;
    return true;
}

// ---- null-safe calls -----------------------------------------------------------------------

namespace {

template <typename R, typename... P, typename... A>
R callOr(R (*fn)(P...), R fallback, A... args)
{
    return fn ? fn(args...) : fallback;
}

template <typename... P, typename... A>
void callIfPresent(void (*fn)(P...), A... args)
{
    if (fn)
        fn(args...);
}

} // namespace

bool TAntLib::ANT_Init(uint8_t deviceNumber, uint16_t baudRate) { return callOr(gFunctions.ANT_Init, false, deviceNumber, baudRate); }
void TAntLib::ANT_Close() { callIfPresent(gFunctions.ANT_Close); }
bool TAntLib::ANT_ResetSystem() { return callOr(gFunctions.ANT_ResetSystem, false); }
void TAntLib::ANT_Nap(uint32_t milliseconds) { callIfPresent(gFunctions.ANT_Nap, milliseconds); }
bool TAntLib::ANT_SetNetworkKey(uint8_t network, const uint8_t *key8) { return callOr(gFunctions.ANT_SetNetworkKey, false, network, key8); }
bool TAntLib::ANT_SetTransmitPower(uint8_t power) { return callOr(gFunctions.ANT_SetTransmitPower, false, power); }
bool TAntLib::ANT_GetDeviceUSBInfo(uint8_t deviceNumber, uint8_t *product256, uint8_t *serial256)
{
    return callOr(gFunctions.ANT_GetDeviceUSBInfo, false, deviceNumber, product256, serial256);
}
bool TAntLib::ANT_GetDeviceUSBPID(uint16_t *pid) { return callOr(gFunctions.ANT_GetDeviceUSBPID, false, pid); }
bool TAntLib::ANT_AssignChannel(uint8_t channel, uint8_t channelType, uint8_t network)
{
    return callOr(gFunctions.ANT_AssignChannel, false, channel, channelType, network);
}
bool TAntLib::ANT_UnAssignChannel(uint8_t channel) { return callOr(gFunctions.ANT_UnAssignChannel, false, channel); }
bool TAntLib::ANT_SetChannelId(uint8_t channel, uint16_t deviceNumber, uint8_t deviceType,
                               uint8_t transmissionType)
{
    return callOr(gFunctions.ANT_SetChannelId, false, channel, deviceNumber, deviceType, transmissionType);
}
bool TAntLib::ANT_SetChannelRFFreq(uint8_t channel, uint8_t frequency) { return callOr(gFunctions.ANT_SetChannelRFFreq, false, channel, frequency); }
bool TAntLib::ANT_SetChannelPeriod(uint8_t channel, uint16_t period) { return callOr(gFunctions.ANT_SetChannelPeriod, false, channel, period); }
bool TAntLib::ANT_OpenChannel(uint8_t channel) { return callOr(gFunctions.ANT_OpenChannel, false, channel); }
bool TAntLib::ANT_OpenRxScanMode() { return callOr(gFunctions.ANT_OpenRxScanMode, false); }
bool TAntLib::ANT_CloseChannel(uint8_t channel) { return callOr(gFunctions.ANT_CloseChannel, false, channel); }
bool TAntLib::ANT_RequestMessage(uint8_t channel, uint8_t messageId) { return callOr(gFunctions.ANT_RequestMessage, false, channel, messageId); }
void TAntLib::ANT_AssignResponseFunction(ANT_RESPONSE_FUNC callback, uint8_t *buffer10)
{
    callIfPresent(gFunctions.ANT_AssignResponseFunction, callback, buffer10);
}
void TAntLib::ANT_AssignChannelEventFunction(uint8_t channel, ANT_EVENT_FUNC callback, uint8_t *buffer16)
{
    callIfPresent(gFunctions.ANT_AssignChannelEventFunction, channel, callback, buffer16);
}
void TAntLib::ANT_UnassignAllResponseFunctions() { callIfPresent(gFunctions.ANT_UnassignAllResponseFunctions); }
uint32_t TAntLib::ANT_LibVersion() { return callOr(gFunctions.ANT_LibVersion, 0u); }
bool TAntLib::ANT_SendBroadcastData(uint8_t channel, const uint8_t *data8) { return callOr(gFunctions.ANT_SendBroadcastData, false, channel, data8); }
bool TAntLib::ANT_SendAcknowledgedData(uint8_t channel, const uint8_t *data8) { return callOr(gFunctions.ANT_SendAcknowledgedData, false, channel, data8); }
bool TAntLib::ANT_SendBurstTransfer(uint8_t channel, const uint8_t *data, uint16_t packets)
{
    return callOr(gFunctions.ANT_SendBurstTransfer, false, channel, data, packets);
}
bool TAntLib::ANT_SetChannelSearchTimeout(uint8_t channel, uint8_t timeout) { return callOr(gFunctions.ANT_SetChannelSearchTimeout, false, channel, timeout); }
bool TAntLib::ANT_SetLowPriorityChannelSearchTimeout(uint8_t channel, uint8_t timeout)
{
    return callOr(gFunctions.ANT_SetLowPriorityChannelSearchTimeout, false, channel, timeout);
}
bool TAntLib::ANT_RxExtMesgsEnable(uint8_t enable) { return callOr(gFunctions.ANT_RxExtMesgsEnable, false, enable); }
bool TAntLib::ANT_LibConfig(uint8_t flags) { return callOr(gFunctions.ANT_LibConfig, false, flags); }
