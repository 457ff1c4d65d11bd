#pragma once
// A scripted host for the virtual stick engine: sends framed commands at a virtual time,
// runs the clock forward and collects the decoded stick messages.
#include "antwire/AntMessage.h"
#include "antsim/VirtualStick.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace antsim::test {

struct Received {
    Nanos at;
    antwire::AntMessage msg;
};

class StickHost {
public:
    explicit StickHost(const std::string &scenarioText, NetworkKeys keys = {})
        : stick(parseScenario(scenarioText), keys),
          FDecoder([this](const antwire::AntMessage &m) { got.push_back({now, m}); })
    {
    }

    void send(uint8_t id, std::vector<uint8_t> data)
    {
        const auto frame = antwire::encodeMessage(id, data.data(), data.size());
        sendRaw(frame);
    }
    void sendRaw(const std::vector<uint8_t> &bytes)
    {
        stick.receive(bytes.data(), bytes.size(), now);
        drain();
    }
    // Runs the clock forward, stepping from one due event to the next so that every
    // message carries the time it was produced.
    void run(double seconds)
    {
        const Nanos end = now + fromSeconds(seconds);
        for (;;) {
            const Nanos due = stick.nextDue();
            if (due > end)
                break;
            now = std::max(now, due);
            stick.advance(now);
            drain();
        }
        now = end;
        stick.advance(now);
        drain();
    }
    std::vector<Received> take()
    {
        std::vector<Received> out;
        out.swap(got);
        return out;
    }

    // The last response to `messageId` on `channel` taken from `from` (or -1).
    static int responseCode(const std::vector<Received> &from, uint8_t channel, uint8_t messageId)
    {
        int code = -1;
        for (const auto &r : from)
            if (r.msg.id == 0x40 && r.msg.data.size() >= 3 && r.msg.data[0] == channel &&
                r.msg.data[1] == messageId)
                code = r.msg.data[2];
        return code;
    }
    static std::vector<uint8_t> events(const std::vector<Received> &from, uint8_t channel)
    {
        std::vector<uint8_t> out;
        for (const auto &r : from)
            if (r.msg.id == 0x40 && r.msg.data.size() >= 3 && r.msg.data[0] == channel &&
                r.msg.data[1] == 0x01)
                out.push_back(r.msg.data[2]);
        return out;
    }
    static size_t count(const std::vector<uint8_t> &v, uint8_t value)
    {
        return size_t(std::count(v.begin(), v.end(), value));
    }
    // Data messages (0x4E/0x4F/0x50) on a channel, optionally only of one id.
    static std::vector<Received> data(const std::vector<Received> &from, uint8_t channel, int id = -1)
    {
        std::vector<Received> out;
        for (const auto &r : from) {
            const bool isData = r.msg.id == 0x4E || r.msg.id == 0x4F || r.msg.id == 0x50;
            if (isData && (id < 0 || r.msg.id == id) && !r.msg.data.empty() &&
                (r.msg.data[0] & 0x1F) == channel)
                out.push_back(r);
        }
        return out;
    }

    // Key, assign, id, period, frequency, time-outs and open, each expected to succeed.
    // Returns the responses seen.
    std::vector<Received> openChannel(uint8_t ch, uint8_t net, const NetworkKey &key,
                                      uint16_t deviceNumber, uint8_t deviceType, uint8_t rf,
                                      uint16_t period, uint8_t searchTimeout, uint8_t lpTimeout,
                                      uint8_t channelType = 0)
    {
        std::vector<uint8_t> k{net};
        k.insert(k.end(), key.begin(), key.end());
        send(0x46, k);
        send(0x42, {ch, channelType, net});
        send(0x51, {ch, uint8_t(deviceNumber), uint8_t(deviceNumber >> 8), deviceType, 0});
        send(0x43, {ch, uint8_t(period), uint8_t(period >> 8)});
        send(0x47, {0, 3});
        send(0x44, {ch, searchTimeout});
        send(0x63, {ch, lpTimeout});
        send(0x45, {ch, rf});
        send(0x4B, {ch});
        return take();
    }
    std::vector<Received> openTrainer(uint8_t ch = 0, uint16_t deviceNumber = 0,
                                      uint8_t searchTimeout = 0, uint8_t lpTimeout = 255,
                                      NetworkKey key = {})
    {
        return openChannel(ch, 0, key, deviceNumber, 17, 57, 8192, searchTimeout, lpTimeout);
    }

    VirtualStick stick;
    Nanos now{0};
    std::vector<Received> got;

private:
    antwire::AntMessageDecoder FDecoder;

public:
    void drain()
    {
        const auto out = stick.takeOutput();
        FDecoder.feed(out.data(), out.size());
    }
};

inline uint16_t u16(const antwire::AntMessage &m, size_t payloadByte)
{
    return uint16_t(m.data[1 + payloadByte] | (m.data[2 + payloadByte] << 8));
}

} // namespace antsim::test
