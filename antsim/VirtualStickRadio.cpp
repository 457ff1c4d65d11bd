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
    // slotBase + slotIndex * period / 32768 s, exact and without overflow
    const uint64_t ticks = c.slotIndex * c.period;
    const uint64_t ns = (ticks / 32768) * 1000000000ull + ((ticks % 32768) * 1000000000ull) / 32768;
    return c.slotBase + Nanos(int64_t(ns));
}

Nanos VirtualStick::nextDue() const
{
    if (FNow >= FUnplugAt)
        return kNever;
    Nanos due = FUnplugAt;
    for (const auto &c : FChannels)
        if (c.open())
            due = std::min(due, slotTime(c));
    return due;
}

void VirtualStick::advance(Nanos now)
{
    const Nanos limit = std::min(now, FUnplugAt);
    for (;;) {
        int next = -1;
        Nanos when = kNever;
        for (int ch = 0; ch < kChannels; ++ch) {
            const Channel &c = FChannels[ch];
            if (!c.open())
                continue;
            const Nanos t = slotTime(c);
            if (t < when) {
                when = t;
                next = ch;
            }
        }
        if (next < 0 || when > limit)
            break;
        FNow = std::max(FNow, when);
        runSlot(next, when);
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
    return c.deviceNumber == 0 || c.deviceNumber == d.deviceNumber();
}

SimDevice *VirtualStick::findDevice(const Channel &c, Nanos t) const
{
    // Once paired, a channel looks only for that device again until it is closed.
    if (c.device)
        return matches(c, *c.device) && c.device->onAir(t) ? c.device : nullptr;
    for (const auto &d : FDevices)
        if (matches(c, *d) && d->onAir(t))
            return d.get();
    return nullptr;
}

void VirtualStick::startSearch(Channel &c, Nanos t)
{
    c.state = State::Searching;
    c.misses = 0;
    c.slotBase = t;
    c.slotIndex = 1;
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

void VirtualStick::runSlot(int ch, Nanos t)
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
        SimDevice *found = findDevice(c, t);
        if (!found) {
            deliverFromHost(ch, c, false, t);
            if (t >= c.searchDeadline) {
                event(uint8_t(ch), event::RxSearchTimeout);
                closeChannel(ch);
            }
            return;
        }
        c.state = State::Tracking;
        c.device = found;
        c.misses = 0;
    }
    if (!c.device->onAir(t)) {
        event(uint8_t(ch), event::RxFail);
        deliverFromHost(ch, c, false, t);
        if (++c.misses >= kMissesBeforeSearch) {
            event(uint8_t(ch), event::RxFailGoToSearch);
            startSearch(c, t);
        }
        return;
    }
    c.misses = 0;
    const Transmission tx = c.device->transmit(t);
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
