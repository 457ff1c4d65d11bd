#include "antlib/AntSession.h"

#include <chrono>
#include <pthread.h>
#include <cstdio>
#include <exception>

#include "antwire/AntProtocol.h"

namespace antlib {

namespace msg = antwire::msg;
namespace event = antwire::event;

namespace {
constexpr int kReadTimeoutMs = 500; // close() wakes the reader; this only bounds a lost wake-up
constexpr size_t kReadChunk = 512;
} // namespace

AntSession::AntSession(std::unique_ptr<antwire::Transport> transport, CallbackRegistry &callbacks,
                       std::string deviceKey, std::shared_ptr<FrameTrace> trace)
    : FCallbacks(callbacks), FDeviceKey(std::move(deviceKey)), FTrace(std::move(trace)),
      FDecoder([this](const antwire::AntMessage &m) { dispatch(m); }), FTransport(std::move(transport))
{
}

AntSession::~AntSession()
{
    close();
    std::lock_guard lock(FJoinMutex);
    // Only reachable when the last owner lets go on the reader thread itself (a process that
    // exits from inside a callback); the thread is past its last delivery by then.
    if (FReader.joinable())
        FReader.detach();
}

void AntSession::start()
{
    std::lock_guard lock(FJoinMutex);
    if (FReader.joinable() || FStop)
        return;
    FReader = std::thread([this] {
        // The library's own thread; with the virtual stick it also runs the simulated radio.
        (void)pthread_setname_np(pthread_self(), "ant-lib-reader");
        readerLoop();
    });
}

bool AntSession::onReaderThread() const
{
    return std::this_thread::get_id() == FReaderId.load();
}

bool AntSession::close()
{
    FStop = true;
    FTransport->close();
    {
        std::lock_guard lock(FStateMutex);
    }
    FStateChanged.notify_all();
    if (onReaderThread())
        return false;
    std::lock_guard lock(FJoinMutex);
    if (FReader.joinable())
        FReader.join();
    return true;
}

bool AntSession::writeFrame(const std::vector<uint8_t> &frame)
{
    if (FStop || FFailed)
        return false;
    // Traced before it is written: the stick's answer must not reach the file first.
    if (FTrace) [[unlikely]]
        FTrace->frame(antwire::TraceDirection::HostToStick, frame.data(), frame.size());
    return FTransport->write(frame.data(), frame.size());
}

bool AntSession::send(uint8_t id, const uint8_t *data, size_t size)
{
    const auto frame = antwire::encodeMessage(id, data, size);
    bool ok;
    {
        std::lock_guard lock(FWriteMutex);
        ok = writeFrame(frame);
    }
    if (ok)
        noteWritten(id, data, size);
    return ok;
}

bool AntSession::sendBurst(uint8_t channel, const uint8_t *data, uint16_t packets)
{
    if (!data || packets == 0)
        return false;
    std::lock_guard lock(FWriteMutex);
    uint8_t packet[9];
    uint8_t sequence = 0;
    for (uint16_t i = 0; i < packets; ++i) {
        packet[0] = uint8_t((channel & antwire::kBurstChannelMask) | (sequence << 5));
        if (i + 1 == packets)
            packet[0] |= antwire::kBurstLastPacket;
        for (int b = 0; b < 8; ++b)
            packet[1 + b] = data[size_t(i) * 8 + b];
        if (!writeFrame(antwire::encodeMessage(msg::BurstData, packet, sizeof packet)))
            return false;
        // The first packet alone carries sequence 0; the rest count 1, 2, 3, 1, 2, 3 ...
        sequence = sequence == 3 ? 1 : sequence + 1;
    }
    return true;
}

bool AntSession::resetSystem(int waitMs)
{
    uint64_t startups;
    {
        std::lock_guard lock(FStateMutex);
        startups = FStartups;
    }
    const uint8_t zero = 0;
    if (!send(msg::ResetSystem, &zero, 1))
        return false;
    if (onReaderThread())
        return true;
    std::unique_lock lock(FStateMutex);
    FStateChanged.wait_for(lock, std::chrono::milliseconds(waitMs),
                           [&] { return FStartups != startups || FFailed || FStop; });
    return !FFailed && !FStop;
}

uint16_t AntSession::productId()
{
    return FTransport->productId();
}

std::string AntSession::productName()
{
    return FTransport->productName();
}

std::string AntSession::serialNumber()
{
    return FTransport->serialNumber();
}

uint32_t AntSession::openChannels()
{
    std::lock_guard lock(FStateMutex);
    return FOpenChannels;
}

void AntSession::noteWritten(uint8_t id, const uint8_t *data, size_t size)
{
    std::lock_guard lock(FStateMutex);
    if (id == msg::ResetSystem)
        FOpenChannels = 0;
    else if (id == msg::OpenChannel && size >= 1 && data[0] < 32)
        // Counted as open from the moment the stick was asked, so that a stick lost before
        // it answered still ends the channel for the caller.
        FOpenChannels |= 1u << data[0];
    else if (id == msg::OpenRxScanMode)
        FOpenChannels |= 1u;
}

void AntSession::readerLoop()
{
    // Known before the first delivery: a callback that closes the stick or resets it must be
    // recognised as running on this thread, even one that comes before start() has returned.
    FReaderId = std::this_thread::get_id();
    uint8_t buffer[kReadChunk];
    try {
        while (!FStop) {
            const int n = FTransport->read(buffer, sizeof buffer, kReadTimeoutMs);
            if (n < 0)
                break;
            if (n > 0)
                FDecoder.feed(buffer, size_t(n));
        }
    } catch (const std::exception &e) {
        // An exception out of the transport (or a caller's callback) would end the process
        // from this thread; it ends the stick instead.
        std::fprintf(stderr, "ANT_DLL: reader stopped: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "ANT_DLL: reader stopped: unknown exception\n");
    }
    if (!FStop)
        transportFailed();
}

void AntSession::transportFailed()
{
    uint32_t open;
    {
        std::lock_guard lock(FStateMutex);
        FFailed = true;
        open = FOpenChannels;
        FOpenChannels = 0;
    }
    FStateChanged.notify_all();
    for (uint8_t ch = 0; ch < 32; ++ch) {
        if (!(open & (1u << ch)))
            continue;
        if (FStop)
            return;
        const uint8_t row[3] = {ch, event::RfEventMarker, event::ChannelClosed};
        // Runs outside the reader's guard: one throwing callback must neither end the
        // process nor keep the other channels from hearing that they are closed.
        try {
            FCallbacks.deliverEvent(ch, event::ChannelClosed, row, sizeof row);
        } catch (...) {
            std::fprintf(stderr, "ANT_DLL: channel %u closed callback threw\n", unsigned(ch));
        }
    }
}

void AntSession::dispatch(const antwire::AntMessage &m)
{
    if (FTrace) [[unlikely]]
        FTrace->message(antwire::TraceDirection::StickToHost, m.id, m.data.data(), m.data.size());
    // A close requested from inside a callback takes effect before the next frame.
    if (FStop)
        return;
    const auto &d = m.data;
    switch (m.id) {
    case msg::ResponseEvent: {
        if (d.size() < 3)
            return;
        const uint8_t ch = d[0];
        if (d[1] == event::RfEventMarker) {
            if (d[2] == event::ChannelClosed && ch < 32) {
                std::lock_guard lock(FStateMutex);
                FOpenChannels &= ~(1u << ch);
            }
            FCallbacks.deliverEvent(ch, d[2], d.data(), d.size());
            return;
        }
        if (ch < 32) {
            std::lock_guard lock(FStateMutex);
            if (d[1] == msg::OpenChannel && d[2] == antwire::response::NoError)
                FOpenChannels |= 1u << ch;
            else if (d[1] == msg::UnassignChannel && d[2] == antwire::response::NoError)
                FOpenChannels &= ~(1u << ch);
        }
        FCallbacks.deliverResponse(ch, m.id, d.data(), d.size());
        return;
    }
    case msg::BroadcastData:
    case msg::AcknowledgedData:
    case msg::BurstData: {
        if (d.size() < 9)
            return;
        uint8_t ev = m.id == msg::BroadcastData      ? event::RxBroadcast
                     : m.id == msg::AcknowledgedData ? event::RxAcknowledged
                                                     : event::RxBurstPacket;
        if (d.size() > 9)
            ev += event::RxExtBroadcast - event::RxBroadcast;
        const uint8_t ch = m.id == msg::BurstData ? uint8_t(d[0] & antwire::kBurstChannelMask) : d[0];
        FCallbacks.deliverEvent(ch, ev, d.data(), d.size());
        return;
    }
    case msg::Startup: {
        {
            std::lock_guard lock(FStateMutex);
            ++FStartups;
            FOpenChannels = 0;
        }
        FStateChanged.notify_all();
        FCallbacks.deliverResponse(0, m.id, d.data(), d.size());
        return;
    }
    case msg::ChannelId:
    case msg::ChannelStatus:
        if (d.empty())
            return;
        FCallbacks.deliverResponse(d[0], m.id, d.data(), d.size());
        return;
    case msg::SerialError:
        FSerialErrors.report(d.data(), d.size());
        [[fallthrough]];
    default:
        // Capabilities, version, serial number, serial errors: not tied to a channel.
        FCallbacks.deliverResponse(0, m.id, d.data(), d.size());
        return;
    }
}

} // namespace antlib
