// The exported C functions: one library-wide state holding the open stick's session and the
// callback registrations, which outlive sessions (a caller may register before ANT_Init).
#include "antlib/ant_dll.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "antlib/AntSession.h"
#include "antlib/CallbackRegistry.h"
#include "antlib/DeviceEnumeration.h"
#include "antlib/FrameTrace.h"
#include "antlib/LastError.h"
#include "antwire/AntProtocol.h"

using namespace antlib;
namespace msg = antwire::msg;

namespace {

// Low byte 'F' (printable); the byte above it counts releases of this library.
constexpr uint32_t kLibVersion = (1u << 8) | uint32_t('F');
constexpr int kStartupWaitMs = 1000;
constexpr size_t kUsbTextSize = 256;

class Library {
public:
    ~Library()
    {
        retire(take());
        reap();
    }

    CallbackRegistry &callbacks() { return FCallbacks; }

    std::shared_ptr<AntSession> current()
    {
        std::lock_guard lock(FMutex);
        return FCurrent;
    }

    std::shared_ptr<AntSession> take()
    {
        std::lock_guard lock(FMutex);
        return std::exchange(FCurrent, nullptr);
    }

    // Installs `s`; a session another thread installed meanwhile is closed.
    void install(std::shared_ptr<AntSession> s)
    {
        std::shared_ptr<AntSession> previous;
        {
            std::lock_guard lock(FMutex);
            previous = std::exchange(FCurrent, std::move(s));
        }
        retire(std::move(previous));
    }

    // Closes `s`; one closed from its own reader thread is kept until it can be joined.
    void retire(std::shared_ptr<AntSession> s)
    {
        if (s && !s->close()) {
            std::lock_guard lock(FMutex);
            FRetired.push_back(std::move(s));
        }
    }

    // Joins the reader threads of sessions closed from inside a callback.
    void reap()
    {
        std::vector<std::shared_ptr<AntSession>> retired;
        {
            std::lock_guard lock(FMutex);
            retired.swap(FRetired);
        }
        for (auto &s : retired)
            retire(std::move(s));
    }

private:
    CallbackRegistry FCallbacks;
    std::mutex FMutex;
    std::shared_ptr<AntSession> FCurrent;
    std::vector<std::shared_ptr<AntSession>> FRetired;
};

Library &lib()
{
    static Library library;
    return library;
}

bool send(uint8_t id, std::initializer_list<uint8_t> bytes)
{
    auto s = lib().current();
    if (!s)
        return false;
    const std::vector<uint8_t> data(bytes);
    return s->send(id, data.data(), data.size());
}

bool sendWithPayload(uint8_t id, uint8_t first, const uint8_t *payload8)
{
    if (!payload8)
        return false;
    auto s = lib().current();
    if (!s)
        return false;
    uint8_t data[9];
    data[0] = first;
    std::memcpy(data + 1, payload8, 8);
    return s->send(id, data, sizeof data);
}

void copyText(uint8_t *target, const std::string &text)
{
    const size_t n = std::min(text.size(), kUsbTextSize - 1);
    std::memcpy(target, text.data(), n);
    target[n] = 0;
}

} // namespace

extern "C" {

bool ANT_Init(uint8_t deviceNumber, uint16_t baudRate)
{
    Library &l = lib();
    l.retire(l.take());
    l.reap();
    const auto devices = enumerateDevices();
    if (deviceNumber >= devices.size()) {
        // Scanning asks for one index past the last stick: that must not hide why the last
        // one failed. With no stick at all there is nothing left to explain.
        if (deviceNumber == 0)
            clearStickFailure();
        return false;
    }
    const DeviceEntry &entry = devices[deviceNumber];
    clearStickFailure();
    // Nothing may escape through the C interface: a scenario that fails to load or a thread
    // that cannot start is an open that failed.
    try {
        auto transport = openDevice(entry, baudRate);
        if (!transport) {
            if (lastStickFailure().empty())
                reportStickFailure("cannot open " + entry.key());
            return false;
        }
        // Opened after the stick, so that a trace that cannot be written is the reason kept
        // only when the stick itself is fine.
        auto trace = FrameTrace::forEnvironment();
        if (trace)
            trace->note("open " + entry.key());
        auto session = std::make_shared<AntSession>(std::move(transport), l.callbacks(), entry.key(),
                                                    std::move(trace));
        session->start();
        l.install(std::move(session));
        return true;
    } catch (const std::exception &e) {
        reportStickFailure("cannot open device " + std::to_string(deviceNumber) + ": " + e.what());
        return false;
    }
}

void ANT_Close(void)
{
    Library &l = lib();
    l.retire(l.take());
    l.reap();
}

bool ANT_ResetSystem(void)
{
    auto s = lib().current();
    if (!s)
        return false;
    if (s->resetSystem(kStartupWaitMs))
        return true;
    reportStickFailure("the ANT stick stopped answering when it was reset.\n"
                       "unplug the stick, plug it in again and retry.");
    return false;
}

void ANT_Nap(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool ANT_SetNetworkKey(uint8_t network, const uint8_t *key8)
{
    return sendWithPayload(msg::NetworkKey, network, key8);
}

bool ANT_SetTransmitPower(uint8_t power)
{
    return send(msg::TransmitPower, {0, power});
}

bool ANT_GetDeviceUSBInfo(uint8_t deviceNumber, uint8_t *product256, uint8_t *serial256)
{
    if (!product256 || !serial256)
        return false;
    const auto devices = enumerateDevices();
    if (deviceNumber >= devices.size())
        return false;
    const DeviceEntry &entry = devices[deviceNumber];
    std::string product, serial;
    auto s = lib().current();
    if (s && s->deviceKey() == entry.key()) {
        product = s->productName();
        serial = s->serialNumber();
    } else if (!describeDevice(entry, product, serial)) {
        return false;
    }
    copyText(product256, product);
    copyText(serial256, serial);
    return true;
}

bool ANT_GetDeviceUSBPID(uint16_t *pid)
{
    auto s = lib().current();
    if (!pid || !s)
        return false;
    const uint16_t id = s->productId();
    // Devices named in $FENNICK_ANT_SERIAL and pseudo-terminals have no USB product id to give.
    if (id == 0)
        return false;
    *pid = id;
    return true;
}

bool ANT_AssignChannel(uint8_t channel, uint8_t channelType, uint8_t network)
{
    return send(msg::AssignChannel, {channel, channelType, network});
}

bool ANT_UnAssignChannel(uint8_t channel)
{
    return send(msg::UnassignChannel, {channel});
}

bool ANT_SetChannelId(uint8_t channel, uint16_t deviceNumber, uint8_t deviceType,
                      uint8_t transmissionType)
{
    return send(msg::ChannelId, {channel, uint8_t(deviceNumber & 0xFF), uint8_t(deviceNumber >> 8),
                                 deviceType, transmissionType});
}

bool ANT_SetChannelRFFreq(uint8_t channel, uint8_t frequency)
{
    return send(msg::RadioFrequency, {channel, frequency});
}

bool ANT_SetChannelPeriod(uint8_t channel, uint16_t period)
{
    return send(msg::ChannelPeriod, {channel, uint8_t(period & 0xFF), uint8_t(period >> 8)});
}

bool ANT_OpenChannel(uint8_t channel)
{
    return send(msg::OpenChannel, {channel});
}

bool ANT_OpenRxScanMode(void)
{
    return send(msg::OpenRxScanMode, {0});
}

bool ANT_CloseChannel(uint8_t channel)
{
    return send(msg::CloseChannel, {channel});
}

bool ANT_RequestMessage(uint8_t channel, uint8_t messageId)
{
    return send(msg::RequestMessage, {channel, messageId});
}

void ANT_AssignResponseFunction(ANT_RESPONSE_FUNC callback, uint8_t *buffer10)
{
    lib().callbacks().setResponse(callback, buffer10);
}

void ANT_AssignChannelEventFunction(uint8_t channel, ANT_EVENT_FUNC callback, uint8_t *buffer16)
{
    lib().callbacks().setChannelEvent(channel, callback, buffer16);
}

void ANT_UnassignAllResponseFunctions(void)
{
    // Channel event callbacks too: a caller about to unload must not be called back at all.
    lib().callbacks().clearAll();
}

uint32_t ANT_LibVersion(void)
{
    return kLibVersion;
}

bool ANT_SendBroadcastData(uint8_t channel, const uint8_t *data8)
{
    return sendWithPayload(msg::BroadcastData, channel, data8);
}

bool ANT_SendAcknowledgedData(uint8_t channel, const uint8_t *data8)
{
    return sendWithPayload(msg::AcknowledgedData, channel, data8);
}

bool ANT_SendBurstTransfer(uint8_t channel, const uint8_t *data, uint16_t packets)
{
    auto s = lib().current();
    return s && s->sendBurst(channel, data, packets);
}

bool ANT_SetChannelSearchTimeout(uint8_t channel, uint8_t timeout)
{
    return send(msg::SearchTimeout, {channel, timeout});
}

bool ANT_SetLowPriorityChannelSearchTimeout(uint8_t channel, uint8_t timeout)
{
    return send(msg::LowPrioritySearchTimeout, {channel, timeout});
}

bool ANT_RxExtMesgsEnable(uint8_t enable)
{
    return send(msg::EnableExtendedMessages, {0, uint8_t(enable ? 1 : 0)});
}

bool ANT_LibConfig(uint8_t flags)
{
    return send(msg::LibConfig, {0, flags});
}

bool ANT_AddChannelID(uint8_t channel, uint16_t deviceNumber, uint8_t deviceType,
                      uint8_t transmissionType, uint8_t listIndex)
{
    return send(msg::AddChannelIdToList, {channel, uint8_t(deviceNumber & 0xFF), uint8_t(deviceNumber >> 8),
                                          deviceType, transmissionType, listIndex});
}

bool ANT_ConfigList(uint8_t channel, uint8_t listSize, uint8_t exclude)
{
    return send(msg::ConfigList, {channel, listSize, uint8_t(exclude ? 1 : 0)});
}

bool ANT_GetLastErrorText(char *buffer, uint16_t size)
{
    if (!buffer || size == 0)
        return false;
    const std::string text = lastStickFailure();
    const size_t n = std::min(text.size(), size_t(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    return !text.empty();
}

} // extern "C"
