#pragma once
// The virtual stick as an in-process antwire::Transport. Reads are timed against the engine's
// next due event, so the radio runs in real time without a thread of its own and costs
// nothing while nobody reads.
#include "antwire/Transport.h"
#include "antsim/StickEngine.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace antsim {

class VirtualTransport : public antwire::Transport {
public:
    // Bytes the stick holds for a host that does not read; frames beyond it are lost whole,
    // as on a real stick whose buffer overflows.
    static constexpr size_t kMaxPending = 64 * 1024;

    VirtualTransport(Scenario scenario, NetworkKeys keys);
    explicit VirtualTransport(std::unique_ptr<StickEngine> engine);
    ~VirtualTransport() override;

    bool write(const uint8_t *data, size_t size) override;
    int read(uint8_t *buffer, size_t capacity, int timeoutMs) override;
    void close() override;
    uint16_t productId() const override { return 0; }
    uint64_t framesDropped() const;
    std::string productName() const override { return "Fennick virtual ANT stick"; }
    std::string serialNumber() const override;

private:
    using Clock = std::chrono::steady_clock;
    Nanos now() const;
    void collect(); // engine output into FPending; FLock held

    const Clock::time_point FStart;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    const std::unique_ptr<StickEngine> FStick;
    std::deque<uint8_t> FPending;
    uint64_t FFramesDropped = 0;
    bool FClosed = false;
};

// The stick for `scenario` ("default", a scenario file path, or "replay:" and a trace file,
// played at the speed-up $FENNICK_REPLAY_SPEED) with the network keys of the environment;
// null when the scenario or trace cannot be loaded. Each problem (a bad scenario, an
// unusable key) is passed to `report` as one line.
std::unique_ptr<antwire::Transport> makeVirtualTransport(
    const std::string &scenario, const std::function<void(const std::string &)> &report);

} // namespace antsim
