#include "FakeAntLib.h"

#include <cstdio>
#include <cstring>

bool TFakeAntLib::Result = true;
int TFakeAntLib::DevicesPresent = -1;
bool TFakeAntLib::UsbInfoResult = true;
bool TFakeAntLib::UsbPidResult = true;
uint32_t TFakeAntLib::LibVersion = 0;
std::string TFakeAntLib::LastErrorText;
TFakeAntLib *TFakeAntLib::Current = nullptr;

namespace {

void Rec(const char *Name, std::vector<int> Args, const uint8_t *Data = nullptr)
{
    TFakeAntCall call;
    call.Name = Name;
    call.Args = std::move(Args);
    if (Data)
        std::memcpy(call.Data.data(), Data, 8);
    if (TFakeAntLib::Current)
        TFakeAntLib::Current->Record(std::move(call));
}

void RecRegistration(const char *Name, std::vector<int> Args, ANT_EVENT_FUNC Callback, uint8_t *Buffer)
{
    TFakeAntCall call;
    call.Name = Name;
    call.Args = std::move(Args);
    call.Callback = Callback;
    call.Buffer = Buffer;
    if (TFakeAntLib::Current)
        TFakeAntLib::Current->Record(std::move(call));
}

TAntFunctions RecordingTable()
{
    TAntFunctions f;
    f.ANT_Init = [](uint8_t d, uint16_t b) {
        Rec("ANT_Init", {d, b});
        return TFakeAntLib::DevicesPresent < 0 ? TFakeAntLib::Result : d < TFakeAntLib::DevicesPresent;
    };
    f.ANT_GetDeviceUSBInfo = [](uint8_t d, uint8_t *product, uint8_t *serial) {
        Rec("ANT_GetDeviceUSBInfo", {d});
        std::snprintf(reinterpret_cast<char *>(product), 256, "ANT USB-m Stick %d", d);
        std::snprintf(reinterpret_cast<char *>(serial), 256, "SER%d", d);
        return TFakeAntLib::UsbInfoResult;
    };
    f.ANT_GetDeviceUSBPID = [](uint16_t *pid) {
        Rec("ANT_GetDeviceUSBPID", {});
        *pid = 4104;
        return TFakeAntLib::UsbPidResult;
    };
    f.ANT_GetLastErrorText = [](char *buffer, uint16_t size) {
        if (TFakeAntLib::LastErrorText.empty() || size == 0)
            return false;
        std::snprintf(buffer, size, "%s", TFakeAntLib::LastErrorText.c_str());
        return true;
    };
    f.ANT_LibVersion = [] {
        Rec("ANT_LibVersion", {});
        return TFakeAntLib::LibVersion;
    };
    f.ANT_Close = [] { Rec("ANT_Close", {}); };
    f.ANT_ResetSystem = [] { Rec("ANT_ResetSystem", {}); return TFakeAntLib::Result; };
    f.ANT_Nap = [](uint32_t ms) { Rec("ANT_Nap", {static_cast<int>(ms)}); };
    f.ANT_SetNetworkKey = [](uint8_t n, const uint8_t *k) { Rec("ANT_SetNetworkKey", {n}, k); return TFakeAntLib::Result; };
    f.ANT_AssignChannel = [](uint8_t c, uint8_t t, uint8_t n) { Rec("ANT_AssignChannel", {c, t, n}); return TFakeAntLib::Result; };
    f.ANT_UnAssignChannel = [](uint8_t c) { Rec("ANT_UnAssignChannel", {c}); return TFakeAntLib::Result; };
    f.ANT_OpenChannel = [](uint8_t c) { Rec("ANT_OpenChannel", {c}); return TFakeAntLib::Result; };
    f.ANT_CloseChannel = [](uint8_t c) { Rec("ANT_CloseChannel", {c}); return TFakeAntLib::Result; };
    f.ANT_RequestMessage = [](uint8_t c, uint8_t m) { Rec("ANT_RequestMessage", {c, m}); return TFakeAntLib::Result; };
    f.ANT_AssignResponseFunction = [](ANT_RESPONSE_FUNC cb, uint8_t *buffer) {
        RecRegistration("ANT_AssignResponseFunction", {cb != nullptr}, cb, buffer);
    };
    f.ANT_AssignChannelEventFunction = [](uint8_t c, ANT_EVENT_FUNC cb, uint8_t *buffer) {
        RecRegistration("ANT_AssignChannelEventFunction", {c, cb != nullptr}, cb, buffer);
    };
    f.ANT_SetChannelId = [](uint8_t c, uint16_t d, uint8_t t, uint8_t tt) {
        Rec("ANT_SetChannelId", {c, d, t, tt});
        return TFakeAntLib::Result;
    };
    f.ANT_SetChannelPeriod = [](uint8_t c, uint16_t p) { Rec("ANT_SetChannelPeriod", {c, p}); return TFakeAntLib::Result; };
    f.ANT_SetChannelRFFreq = [](uint8_t c, uint8_t fr) { Rec("ANT_SetChannelRFFreq", {c, fr}); return TFakeAntLib::Result; };
    f.ANT_SetTransmitPower = [](uint8_t p) { Rec("ANT_SetTransmitPower", {p}); return TFakeAntLib::Result; };
    f.ANT_SetChannelSearchTimeout = [](uint8_t c, uint8_t t) {
        Rec("ANT_SetChannelSearchTimeout", {c, t});
        return TFakeAntLib::Result;
    };
    f.ANT_SetLowPriorityChannelSearchTimeout = [](uint8_t c, uint8_t t) {
        Rec("ANT_SetLowPriorityChannelSearchTimeout", {c, t});
        return TFakeAntLib::Result;
    };
    f.ANT_UnassignAllResponseFunctions = [] { Rec("ANT_UnassignAllResponseFunctions", {}); };
    f.ANT_SendBroadcastData = [](uint8_t c, const uint8_t *d) { Rec("ANT_SendBroadcastData", {c}, d); return TFakeAntLib::Result; };
    f.ANT_SendAcknowledgedData = [](uint8_t c, const uint8_t *d) { Rec("ANT_SendAcknowledgedData", {c}, d); return TFakeAntLib::Result; };
    f.ANT_RxExtMesgsEnable = [](uint8_t e) { Rec("ANT_RxExtMesgsEnable", {e}); return TFakeAntLib::Result; };
    return f;
}

} // namespace

TFakeAntLib::TFakeAntLib()
{
    Result = true;
    DevicesPresent = -1;
    UsbInfoResult = true;
    UsbPidResult = true;
    LibVersion = 0;
    Current = this;
    SetAntFunctionsForTesting(RecordingTable());
}

TFakeAntLib::~TFakeAntLib()
{
    SetAntFunctionsForTesting(TAntFunctions{});
    Current = nullptr;
}

void TFakeAntLib::Record(TFakeAntCall Call)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FCalls.push_back(Call);
    }
    if (OnCall)
        OnCall(Call);
}

std::vector<TFakeAntCall> TFakeAntLib::Calls() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FCalls;
}

std::vector<TFakeAntCall> TFakeAntLib::Calls(const std::string &Name) const
{
    std::lock_guard<std::mutex> lock(FMutex);
    std::vector<TFakeAntCall> out;
    for (const auto &c : FCalls)
        if (c.Name == Name)
            out.push_back(c);
    return out;
}

void TFakeAntLib::Clear()
{
    std::lock_guard<std::mutex> lock(FMutex);
    FCalls.clear();
}
