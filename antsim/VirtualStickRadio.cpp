// The simulated radio of the virtual stick: channel slots, search, tracking and the
// transfers from the host, on the engine's virtual clock.
#include "antsim/VirtualStick.h"

#include "antwire/AntProtocol.h"

#include <algorithm>
#include <cstdio>

namespace antsim {

namespace msg = antwire::msg;
namespace event = antwire::event;

Nanos VirtualStick::slotTime(const Channel &c) const
{
    return c.slotBase + fromTicks(c.slotIndex * c.period);
}

// A tracking channel learns that it missed a message when its receive window closes; the
// other kinds act at the slot itself.
Nanos VirtualStick::channelDue(const Channel &c) const
{
    if (!c.open())
        return kNever;
    const Nanos slot = slotTime(c);
    return !c.master() && c.state == State::Tracking ? slot + fromTicks(kRxWindowTicks) : slot;
}

// A device goes on air only while a channel could hear it: one that tracks it or searches
// for it. Nobody else's transmissions need simulating.
bool VirtualStick::listenedFor(const SimDevice &d) const
{
    for (const auto &c : FChannels) {
        if (!c.open() || c.master())
            continue;
        if (c.device ? c.device == &d : c.state == State::Searching && matches(c, d))
            return true;
    }
    return false;
}

Nanos VirtualStick::deviceDue(size_t d) const
{
    const SimDevice &device = *FDevices[d];
    if (!listenedFor(device))
        return kNever;
    // One coming into range is first heard after the present, not at a past message.
    const uint64_t k = FAir[d].listened ? FAir[d].next : device.firstTransmissionAfter(FNow);
    return device.transmissionTime(k);
}

// A device coming into range keeps the message it will first be heard with: were it worked
// out afresh each time, another device sending at the same instant would move the clock past
// it, and two devices in step would hide one of them for good.
void VirtualStick::refreshAir()
{
    for (size_t d = 0; d < FDevices.size(); ++d) {
        const bool listened = listenedFor(*FDevices[d]);
        if (listened && !FAir[d].listened)
            FAir[d].next = FDevices[d]->firstTransmissionAfter(FNow);
        FAir[d].listened = listened;
    }
}

Nanos VirtualStick::nextDue() const
{
    if (FNow >= FUnplugAt)
        return kNever;
    Nanos due = FUnplugAt;
    for (const auto &c : FChannels)
        due = std::min(due, channelDue(c));
    for (size_t d = 0; d < FDevices.size(); ++d)
        due = std::min(due, deviceDue(d));
    return due;
}

void VirtualStick::advance(Nanos now)
{
    const Nanos limit = std::min(now, FUnplugAt);
    for (;;) {
        int channel = -1;
        Nanos channelWhen = kNever;
        for (int ch = 0; ch < kChannels; ++ch) {
            const Nanos t = channelDue(FChannels[ch]);
            if (t < channelWhen) {
                channelWhen = t;
                channel = ch;
            }
        }
        int device = -1;
        Nanos deviceWhen = kNever;
        for (size_t d = 0; d < FDevices.size(); ++d) {
            const Nanos t = deviceDue(d);
            if (t < deviceWhen) {
                deviceWhen = t;
                device = int(d);
            }
        }
        // A message sent as a receive window closes still counts as heard.
        const bool deviceFirst = device >= 0 && deviceWhen <= channelWhen;
        const Nanos when = deviceFirst ? deviceWhen : channelWhen;
        if ((channel < 0 && device < 0) || when > limit)
            break;
        FNow = std::max(FNow, when);
        if (deviceFirst)
            runDevice(size_t(device), when);
        else
            runChannel(channel, when);
        refreshAir();
    }
    FNow = std::max(FNow, limit);
}

bool VirtualStick::chance(double probability)
{
    if (probability <= 0)
        return false;
    const double u = double(FRandom() >> 11) * (1.0 / 9007199254740992.0);
    return u < probability;
}

bool VirtualStick::matches(const Channel &c, const SimDevice &d) const
{
    if (c.master() || c.rfFrequency != d.rfFrequency())
        return false;
    const auto &wanted = d.publicNetwork() ? FKeys.publicKey : FKeys.antPlus;
    if (wanted && FNetworkKeys[c.network] != *wanted)
        return false;
    const uint8_t type = c.deviceType & 0x7F; // bit 7: pairing request
    if (type != 0 && type != d.deviceType())
        return false;
    if (c.transmissionType != 0 && c.transmissionType != d.transmissionType())
        return false;
    if (c.deviceNumber != 0 && c.deviceNumber != d.deviceNumber())
        return false;
    return listAllows(c, d);
}

void VirtualStick::startSearch(Channel &c, Nanos t)
{
    c.state = State::Searching;
    c.misses = 0;
    c.slotBase = t;
    c.slotIndex = 1;
    c.searchFrom = t;
    if (c.searchTimeout == 255 || c.lpSearchTimeout == 255)
        c.searchDeadline = kNever;
    else
        c.searchDeadline = t + Nanos(int64_t(c.searchTimeout + c.lpSearchTimeout) * 2500000000ll);
}

void VirtualStick::closeChannel(int ch)
{
    Channel &c = FChannels[ch];
    c.state = State::Assigned;
    c.device = nullptr;
    c.ack.reset();
    c.broadcast.reset();
    c.burst.clear();
    c.burstCollecting = c.burstReady = false;
    event(uint8_t(ch), event::ChannelClosed);
}

void VirtualStick::handOver(SimDevice &device, const Page &page, bool acknowledged, Nanos t)
{
    device.receive(page, acknowledged, t);
    if (!FHostLog.is_open())
        return;
    char line[96];
    int n = std::snprintf(line, sizeof line, "%.6f %s %u %s", toSeconds(t), deviceKindName(device.kind()),
                          unsigned(device.deviceNumber()), acknowledged ? "ack" : "broadcast");
    for (uint8_t b : page)
        n += std::snprintf(line + n, sizeof line - size_t(n), " %02X", unsigned(b));
    // One flush per line: a reader in another process or thread sees whole lines only.
    FHostLog << line << '\n' << std::flush;
}

void VirtualStick::deliverFromHost(int ch, Channel &c, bool heard, Nanos t)
{
    if (c.ack) {
        const Page page = *c.ack;
        c.ack.reset();
        if (heard && !chance(FScenario.ackFailure)) {
            handOver(*c.device, page, true, t);
            event(uint8_t(ch), event::TransferTxCompleted);
        } else {
            event(uint8_t(ch), event::TransferTxFailed);
        }
    }
    if (c.broadcast) {
        if (heard)
            handOver(*c.device, *c.broadcast, false, t);
        c.broadcast.reset();
    }
    if (c.burstReady) {
        c.burstReady = false;
        event(uint8_t(ch), event::TransferTxStart);
        if (heard && !chance(FScenario.ackFailure)) {
            c.device->receiveBurst(c.burst, t);
            event(uint8_t(ch), event::TransferTxCompleted);
        } else {
            event(uint8_t(ch), event::TransferTxFailed);
        }
        c.burst.clear();
    }
}

void VirtualStick::runChannel(int ch, Nanos t)
{
    Channel &c = FChannels[ch];
    ++c.slotIndex;
    if (c.master()) {
        // Nobody listens to our master channels: every slot is a transmission, and an
        // acknowledged one is never acknowledged.
        event(uint8_t(ch), event::Tx);
        c.broadcast.reset();
        const bool pendingTransfer = c.ack.has_value() || c.burstReady;
        c.ack.reset();
        c.burstReady = false;
        c.burst.clear();
        if (pendingTransfer)
            event(uint8_t(ch), event::TransferTxFailed);
        return;
    }
    if (c.state == State::Searching) {
        // Finding the device happens at its transmissions (runDevice); a search slot only
        // fails what the host wanted sent and watches the time-out.
        deliverFromHost(ch, c, false, t);
        if (t >= c.searchDeadline) {
            event(uint8_t(ch), event::RxSearchTimeout);
            closeChannel(ch);
        }
        return;
    }
    // The window closed without the device's message.
    event(uint8_t(ch), event::RxFail);
    deliverFromHost(ch, c, false, t);
    if (++c.misses >= kMissesBeforeSearch) {
        event(uint8_t(ch), event::RxFailGoToSearch);
        startSearch(c, t);
    }
}

// The device's k-th message: heard by every channel tracking it whose receive window is
// open now, and by every channel searching for it.
void VirtualStick::runDevice(size_t d, Nanos t)
{
    SimDevice &device = *FDevices[d];
    FAir[d].next = device.firstTransmissionAfter(t);
    FAir[d].listened = true;
    const Transmission tx = device.transmit(t);
    if (!device.onAir(t))
        return;
    const Nanos window = fromTicks(kRxWindowTicks);
    for (int ch = 0; ch < kChannels; ++ch) {
        Channel &c = FChannels[ch];
        if (!c.open() || c.master() || !matches(c, device))
            continue;
        if (c.state == State::Tracking) {
            const Nanos slot = slotTime(c);
            if (c.device == &device && t >= slot - window && t <= slot + window)
                hear(ch, c, tx, t);
        } else if ((!c.device || c.device == &device) && t > c.searchFrom && t < c.searchDeadline) {
            c.state = State::Tracking;
            c.device = &device;
            hear(ch, c, tx, t);
        }
    }
}

// A message received: the channel's slots follow the device's clock from here on, so a
// period that divides or is a multiple of the device's stays in step.
void VirtualStick::hear(int ch, Channel &c, const Transmission &tx, Nanos t)
{
    c.misses = 0;
    c.slotBase = t;
    c.slotIndex = 1;
    switch (tx.kind) {
    case Transmission::Kind::Broadcast:
        emitData(msg::BroadcastData, uint8_t(ch), tx.packets.front(), c);
        break;
    case Transmission::Kind::Acknowledged:
        emitData(msg::AcknowledgedData, uint8_t(ch), tx.packets.front(), c);
        break;
    case Transmission::Kind::Burst: {
        uint8_t seq = 0;
        for (size_t i = 0; i < tx.packets.size(); ++i) {
            uint8_t chb = uint8_t(ch | (seq << 5));
            if (i + 1 == tx.packets.size())
                chb |= 0x80;
            emitData(msg::BurstData, chb, tx.packets[i], c);
            seq = seq == 3 ? 1 : seq + 1;
        }
        break;
    }
    }
    deliverFromHost(ch, c, true, t);
}

} // namespace antsim
