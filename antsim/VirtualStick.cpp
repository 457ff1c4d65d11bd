#include "antsim/VirtualStick.h"

#include "antwire/AntProtocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace antsim {

namespace msg = antwire::msg;
namespace response = antwire::response;
namespace event = antwire::event;

namespace {

// ANT's fastest message rate is about 200 Hz; shorter periods are refused rather than
// letting a bad value spin the radio.
constexpr uint16_t kMinPeriod = 164;
constexpr size_t kMaxBurstBytes = 65536;
// Minimal payload length of each command the stick understands.
size_t minLength(uint8_t id)
{
    switch (id) {
    case msg::UnassignChannel: case msg::OpenChannel: case msg::CloseChannel: case msg::ResetSystem:
        return 1;
    case msg::SearchTimeout: case msg::RadioFrequency: case msg::TransmitPower:
    case msg::RequestMessage:
    case msg::LowPrioritySearchTimeout: case msg::EnableExtendedMessages: case msg::LibConfig:
        return 2;
    case msg::AssignChannel: case msg::ChannelPeriod:
        return 3;
    case msg::ChannelId:
        return 5;
    case msg::AddChannelIdToList:
        return 6;
    case msg::ConfigList:
        return 3;
    case msg::NetworkKey: case msg::BroadcastData: case msg::AcknowledgedData: case msg::BurstData:
        return 9;
    default:
        return 0;
    }
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::optional<NetworkKey> NetworkKeys::parse(const std::string &hex)
{
    if (hex.size() != 16)
        return std::nullopt;
    NetworkKey key{};
    for (size_t i = 0; i < 8; ++i) {
        const int h = hexDigit(hex[2 * i]), l = hexDigit(hex[2 * i + 1]);
        if (h < 0 || l < 0)
            return std::nullopt;
        key[i] = uint8_t(h * 16 + l);
    }
    return key;
}

NetworkKeys NetworkKeys::fromEnvironment(std::string *warning)
{
    NetworkKeys keys;
    auto one = [&](const char *name, std::optional<NetworkKey> &slot) {
        const char *v = std::getenv(name);
        if (!v || !*v)
            return;
        slot = parse(v);
        if (!slot && warning)
            *warning += std::string(name) + " is not 16 hex digits; any key is accepted instead. ";
    };
    one("FENNICK_ANTPLUS_NETWORK_KEY", keys.antPlus);
    one("FENNICK_PUBLIC_NETWORK_KEY", keys.publicKey);
    return keys;
}

VirtualStick::VirtualStick(Scenario scenario, NetworkKeys keys)
    : FScenario(std::move(scenario)), FKeys(keys), FRandom(FScenario.seed),
      FDecoder([this](const antwire::AntMessage &m) { handle(m); },
               [this](antwire::FrameError e) { emit(msg::SerialError, {uint8_t(e)}); })
{
    FDecoder.setSkipZeroPadding(true);
    for (const auto &config : FScenario.devices)
        FDevices.push_back(makeDevice(config, FScenario));
    FAir.resize(FDevices.size());
    if (FScenario.unplugAt >= 0)
        FUnplugAt = fromSeconds(FScenario.unplugAt);
    if (!FScenario.hostLog.empty()) {
        FHostLog.open(FScenario.hostLog, std::ios::app);
        if (!FHostLog)
            throw ScenarioError("cannot write host log " + FScenario.hostLog);
    }
}

VirtualStick::~VirtualStick() = default;

SimTrainer *VirtualStick::trainer()
{
    for (auto &d : FDevices)
        if (d->kind() == DeviceKind::Trainer)
            return static_cast<SimTrainer *>(d.get());
    return nullptr;
}

bool VirtualStick::unplugged(Nanos now) const
{
    return now >= FUnplugAt;
}

std::vector<uint8_t> VirtualStick::takeOutput()
{
    std::vector<uint8_t> out;
    out.swap(FOutput);
    return out;
}

void VirtualStick::reset()
{
    FChannels = {};
    FNetworkKeys = {};
    FExtended = false;
}

void VirtualStick::emit(uint8_t id, const std::vector<uint8_t> &data)
{
    const auto frame = antwire::encodeMessage(id, data.data(), data.size());
    FOutput.insert(FOutput.end(), frame.begin(), frame.end());
}

void VirtualStick::respond(uint8_t channel, uint8_t messageId, uint8_t code)
{
    emit(msg::ResponseEvent, {channel, messageId, code});
}

void VirtualStick::event(uint8_t channel, uint8_t code)
{
    emit(msg::ResponseEvent, {channel, 0x01, code});
}

void VirtualStick::emitData(uint8_t id, uint8_t channelByte, const Page &payload, const Channel &c)
{
    std::vector<uint8_t> data;
    data.reserve(14);
    data.push_back(channelByte);
    data.insert(data.end(), payload.begin(), payload.end());
    if (FExtended && c.device) {
        data.push_back(0x80); // flag: channel id follows
        data.push_back(uint8_t(c.device->deviceNumber()));
        data.push_back(uint8_t(c.device->deviceNumber() >> 8));
        data.push_back(c.device->deviceType());
        data.push_back(c.device->transmissionType());
    }
    emit(id, data);
}

// Only what handle() answers: every kind of channel and data (no "cannot" flag), network
// keys, the serial number, the low-priority search, search lists and extended data. No
// per-channel power, scan mode, proximity search, scripts, SensRcore or later option bytes.
void VirtualStick::emitCapabilities()
{
    namespace cap = antwire::capability;
    const uint8_t standard = 0x00;
    const uint8_t advanced = cap::NetworkEnabled | cap::SerialNumberEnabled | cap::LowPrioritySearchEnabled |
                             cap::SearchListEnabled;
    const uint8_t advanced2 = cap::ExtendedMessagesEnabled;
    emit(msg::Capabilities, {uint8_t(kChannels), uint8_t(kNetworks), standard, advanced, advanced2,
                             0x00 /* SensRcore channels */, 0x00, 0x00});
}

void VirtualStick::receive(const uint8_t *data, size_t size, Nanos now)
{
    if (unplugged(now))
        return;
    advance(now);
    // Bad framing is answered with a serial error as the decoder meets it, in stream order.
    FDecoder.feed(data, size);
    refreshAir(); // channels opened or closed change who is on air
}

void VirtualStick::handle(const antwire::AntMessage &m)
{
    const auto &d = m.data;
    const uint8_t first = d.empty() ? 0 : d[0];
    if (d.size() < minLength(m.id)) {
        respond(first, m.id, response::InvalidMessage);
        return;
    }
    auto channel = [&](uint8_t ch) -> Channel * {
        if (ch >= kChannels) {
            respond(ch, m.id, response::InvalidMessage);
            return nullptr;
        }
        return &FChannels[ch];
    };
    // The addressed channel when it is in a state the command accepts; otherwise the host
    // is told why (refusal) and nothing is returned.
    auto channelIf = [&](uint8_t ch, bool (*accepts)(const Channel &),
                         uint8_t refusal) -> Channel * {
        Channel *c = channel(ch);
        if (c && !accepts(*c)) {
            respond(ch, m.id, refusal);
            return nullptr;
        }
        return c;
    };
    const auto assigned = [](const Channel &c) { return c.state == State::Assigned; };
    const auto notUnassigned = [](const Channel &c) { return c.state != State::Unassigned; };
    const auto isOpen = [](const Channel &c) { return c.open(); };
    switch (m.id) {
    case msg::ResetSystem:
        reset();
        emit(msg::Startup, {0x20}); // reset by command
        return;
    case msg::NetworkKey:
        if (first >= kNetworks) {
            respond(first, m.id, response::InvalidNetwork);
            return;
        }
        std::copy(d.begin() + 1, d.begin() + 9, FNetworkKeys[first].begin());
        respond(first, m.id, response::NoError);
        return;
    case msg::TransmitPower:
        respond(first, m.id, d[1] <= 4 ? response::NoError : response::InvalidParameter);
        return;
    case msg::EnableExtendedMessages:
        FExtended = d[1] != 0;
        respond(first, m.id, response::NoError);
        return;
    case msg::LibConfig:
        FExtended = (d[1] & 0x80) != 0;
        respond(first, m.id, response::NoError);
        return;
    case msg::AssignChannel: {
        Channel *c = channel(first);
        if (!c)
            return;
        if (d[2] >= kNetworks) {
            respond(first, m.id, response::InvalidNetwork);
            return;
        }
        if (c->state != State::Unassigned) {
            respond(first, m.id, response::ChannelInWrongState);
            return;
        }
        *c = Channel{};
        c->state = State::Assigned;
        c->type = d[1];
        c->network = d[2];
        respond(first, m.id, response::NoError);
        return;
    }
    case msg::UnassignChannel: {
        Channel *c = channelIf(first, assigned, response::ChannelInWrongState);
        if (!c)
            return;
        *c = Channel{};
        respond(first, m.id, response::NoError);
        return;
    }
    case msg::ChannelId: {
        Channel *c = channelIf(first, assigned, response::ChannelInWrongState);
        if (!c)
            return;
        c->deviceNumber = uint16_t(d[1] | (d[2] << 8));
        c->deviceType = d[3];
        c->transmissionType = d[4];
        respond(first, m.id, response::NoError);
        return;
    }
    case msg::ChannelPeriod: case msg::RadioFrequency:
    case msg::SearchTimeout: case msg::LowPrioritySearchTimeout: {
        Channel *c = channelIf(first, notUnassigned, response::ChannelInWrongState);
        if (!c)
            return;
        if (m.id == msg::ChannelPeriod) {
            const uint16_t period = uint16_t(d[1] | (d[2] << 8));
            if (period < kMinPeriod) {
                respond(first, m.id, response::InvalidParameter);
                return;
            }
            if (c->open()) {
                // keep the next slot where it is, continue at the new period from there
                c->slotBase = slotTime(*c);
                c->slotIndex = 0;
            }
            c->period = period;
        } else if (m.id == msg::RadioFrequency) {
            if (d[1] > 124) {
                respond(first, m.id, response::InvalidParameter);
                return;
            }
            c->rfFrequency = d[1];
        } else if (m.id == msg::SearchTimeout) {
            c->searchTimeout = d[1];
        } else {
            c->lpSearchTimeout = d[1];
        }
        respond(first, m.id, response::NoError);
        return;
    }
    case msg::AddChannelIdToList: case msg::ConfigList:
        handleList(m);
        return;
    case msg::OpenChannel: {
        Channel *c = channelIf(first, assigned, response::ChannelInWrongState);
        if (!c)
            return;
        respond(first, m.id, response::NoError);
        c->device = nullptr;
        startSearch(*c, FNow);
        return;
    }
    case msg::CloseChannel: {
        Channel *c = channelIf(first, isOpen, response::ChannelInWrongState);
        if (!c)
            return;
        respond(first, m.id, response::NoError);
        closeChannel(first);
        return;
    }
    case msg::RequestMessage: {
        const uint8_t what = d[1];
        if (what == msg::ChannelStatus) {
            const Channel *c = channel(first);
            if (c)
                emit(msg::ChannelStatus, {first, uint8_t((c->type & 0xF0) | ((c->network & 3) << 2) |
                                                     uint8_t(c->state))});
            return;
        }
        if (what == msg::ChannelId) {
            const Channel *c = channelIf(first, notUnassigned, response::ChannelInWrongState);
            if (!c)
                return;
            if (c->device)
                emit(msg::ChannelId, {first, uint8_t(c->device->deviceNumber()),
                                  uint8_t(c->device->deviceNumber() >> 8), c->device->deviceType(),
                                  c->device->transmissionType()});
            else
                emit(msg::ChannelId, {first, uint8_t(c->deviceNumber), uint8_t(c->deviceNumber >> 8),
                                  c->deviceType, c->transmissionType});
            return;
        }
        if (what == msg::Capabilities) {
            emitCapabilities();
            return;
        }
        if (what == msg::Version) {
            const char text[] = "FNVS1.00";
            emit(msg::Version, std::vector<uint8_t>(text, text + sizeof text)); // with its NUL
            return;
        }
        if (what == msg::SerialNumber) {
            const uint32_t serial = uint32_t(FScenario.seed * 2654435761u) | 1u;
            emit(msg::SerialNumber, {uint8_t(serial), uint8_t(serial >> 8), uint8_t(serial >> 16),
                                 uint8_t(serial >> 24)});
            return;
        }
        respond(first, m.id, response::InvalidMessage);
        return;
    }
    case msg::BroadcastData: case msg::AcknowledgedData: {
        Channel *c = channelIf(first, isOpen, response::ChannelNotOpened);
        if (!c)
            return;
        Page page;
        std::copy(d.begin() + 1, d.begin() + 9, page.begin());
        if (m.id == msg::BroadcastData) {
            c->broadcast = page;
            return;
        }
        if (c->transferBusy()) {
            respond(first, m.id, response::TransferInProgress);
            return;
        }
        c->ack = page;
        return;
    }
    case msg::BurstData: {
        const uint8_t ch = first & 0x1F;
        const uint8_t seq = (first >> 5) & 0x03;
        const bool last = (first & 0x80) != 0;
        Channel *c = channelIf(ch, isOpen, response::ChannelNotOpened);
        if (!c)
            return;
        if (seq == 0) {
            if (c->transferBusy()) {
                respond(ch, m.id, response::TransferInProgress);
                return;
            }
            c->burst.clear();
            c->burstCollecting = true;
            c->burstNextSeq = 1;
        } else {
            if (!c->burstCollecting || seq != c->burstNextSeq) {
                c->burstCollecting = false;
                c->burst.clear();
                respond(ch, m.id, response::TransferSequenceError);
                return;
            }
            c->burstNextSeq = c->burstNextSeq == 3 ? 1 : c->burstNextSeq + 1;
        }
        if (c->burst.size() + 8 > kMaxBurstBytes) {
            c->burstCollecting = false;
            c->burst.clear();
            respond(ch, m.id, response::TransferInError);
            return;
        }
        c->burst.insert(c->burst.end(), d.begin() + 1, d.begin() + 9);
        if (last) {
            c->burstCollecting = false;
            c->burstReady = true;
        }
        return;
    }
    default:
        respond(first, m.id, response::InvalidMessage);
        return;
    }
}

} // namespace antsim
