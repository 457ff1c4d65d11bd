#pragma once
// The device side of the ANT serial protocol over a simulated radio. Host frames go in with
// receive(), stick frames come out of takeOutput(); time is whatever the caller says it is
// (advance(now)), so tests run minutes of radio in microseconds and a transport drives it
// from a real clock. Nothing here sleeps or spawns threads; one caller at a time.
#include "antwire/AntMessage.h"
#include "antsim/Scenario.h"
#include "antsim/SimDevice.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace antsim {

using NetworkKey = std::array<uint8_t, 8>;

// The keys the virtual devices live on. An unset key means the virtual stick accepts any
// key for those devices (handy when no ANT+ key is configured at all).
struct NetworkKeys {
    std::optional<NetworkKey> antPlus;   // the trainer and the heart-rate strap
    std::optional<NetworkKey> publicKey; // the maker's console

    // 16 hex digits; nullopt for anything else.
    static std::optional<NetworkKey> parse(const std::string &hex);
    // $FENNICK_ANTPLUS_NETWORK_KEY and $FENNICK_PUBLIC_NETWORK_KEY. A malformed value counts
    // as unset and is described in *warning when given.
    static NetworkKeys fromEnvironment(std::string *warning = nullptr);
};

class VirtualStick {
public:
    static constexpr int kChannels = 8;
    static constexpr int kNetworks = 8;
    static constexpr int kMissesBeforeSearch = 8;
    // A tracking channel listens this long (1/32768 s) either side of its slot: enough for
    // crystal drift, far too little for a period that does not fit the device's.
    static constexpr uint16_t kRxWindowTicks = 32;
    static constexpr Nanos kNever = Nanos::max();
    // Entries of a channel's inclusion/exclusion list.
    static constexpr uint8_t kListCapacity = 4;

    VirtualStick(Scenario scenario, NetworkKeys keys);
    ~VirtualStick();
    VirtualStick(const VirtualStick &) = delete;
    VirtualStick &operator=(const VirtualStick &) = delete;

    // Host bytes (any chunking) received at `now`; the radio is first brought up to `now`.
    void receive(const uint8_t *data, size_t size, Nanos now);
    // Runs every radio event due at or before `now`.
    void advance(Nanos now);
    // Earliest time something is due (a channel slot or window, a message of a device that
    // someone listens for, the unplug time); kNever when idle.
    Nanos nextDue() const;
    // Whether the scenario's unplug time has come; an unplugged stick ignores everything.
    bool unplugged(Nanos now) const;

    // Stick frames produced so far, removed from the engine.
    std::vector<uint8_t> takeOutput();
    size_t outputSize() const { return FOutput.size(); }

    const Scenario &scenario() const { return FScenario; }
    size_t deviceCount() const { return FDevices.size(); }
    SimDevice &device(size_t index) { return *FDevices[index]; }
    // The first trainer of the scenario, or nullptr.
    SimTrainer *trainer();

private:
    enum class State : uint8_t { Unassigned = 0, Assigned = 1, Searching = 2, Tracking = 3 };
    // A channel id in a search list; a zero field matches anything.
    struct ListEntry {
        uint16_t deviceNumber = 0;
        uint8_t deviceType = 0;
        uint8_t transmissionType = 0;
    };
    struct Channel {
        State state = State::Unassigned;
        uint8_t type = 0;
        uint8_t network = 0;
        uint16_t deviceNumber = 0;
        uint8_t deviceType = 0;
        uint8_t transmissionType = 0;
        uint16_t period = 8192;
        uint8_t rfFrequency = 66;
        uint8_t searchTimeout = 10;   // 2.5 s units, high priority
        uint8_t lpSearchTimeout = 2;  // 2.5 s units, low priority
        // search list: the first listSize entries include (or exclude) devices
        std::array<ListEntry, kListCapacity> list{};
        uint8_t listSize = 0;
        bool listExcludes = false;
        // radio
        Nanos slotBase{0};
        uint64_t slotIndex = 0;
        Nanos searchDeadline = kNever;
        Nanos searchFrom{0}; // a search hears messages sent after this
        SimDevice *device = nullptr; // paired device (kept until the channel closes)
        int misses = 0;
        // host to device
        std::optional<Page> ack;
        std::optional<Page> broadcast;
        std::vector<uint8_t> burst;  // payload collected from the host
        bool burstCollecting = false;
        bool burstReady = false;
        uint8_t burstNextSeq = 0;
        bool master() const { return (type & 0x10) != 0; }
        bool open() const { return state == State::Searching || state == State::Tracking; }
        bool transferBusy() const { return ack.has_value() || burstCollecting || burstReady; }
    };

    void reset();
    void handle(const antwire::AntMessage &m);
    void respond(uint8_t channel, uint8_t messageId, uint8_t code);
    void event(uint8_t channel, uint8_t code);
    void emit(uint8_t id, const std::vector<uint8_t> &data);
    void emitCapabilities();
    void emitData(uint8_t id, uint8_t channelByte, const Page &payload, const Channel &c);

    Nanos slotTime(const Channel &c) const;
    Nanos channelDue(const Channel &c) const;
    bool listenedFor(const SimDevice &d) const;
    Nanos deviceDue(size_t d) const;
    void refreshAir();
    void runChannel(int ch, Nanos t);
    void runDevice(size_t d, Nanos t);
    void hear(int ch, Channel &c, const Transmission &tx, Nanos t);
    void startSearch(Channel &c, Nanos t);
    void closeChannel(int ch);
    bool matches(const Channel &c, const SimDevice &d) const;
    // Search lists (0x59, 0x5A); listAllows is false for a device the list keeps out.
    void handleList(const antwire::AntMessage &m);
    bool listAllows(const Channel &c, const SimDevice &d) const;
    bool chance(double probability);
    void deliverFromHost(int ch, Channel &c, bool heard, Nanos t);
    // The device takes the page; the scenario's host log gets a line for it.
    void handOver(SimDevice &device, const Page &page, bool acknowledged, Nanos t);

    Scenario FScenario;
    NetworkKeys FKeys;
    std::vector<std::unique_ptr<SimDevice>> FDevices;
    // Each device's next message while someone listens for it.
    struct Air {
        uint64_t next = 0;
        bool listened = false;
    };
    std::vector<Air> FAir;
    std::array<Channel, kChannels> FChannels;
    std::array<NetworkKey, kNetworks> FNetworkKeys{};
    bool FExtended = false;
    Nanos FNow{0};
    Nanos FUnplugAt = kNever;
    std::mt19937_64 FRandom;
    antwire::AntMessageDecoder FDecoder;
    std::vector<uint8_t> FOutput;
    std::ofstream FHostLog;
};

} // namespace antsim
