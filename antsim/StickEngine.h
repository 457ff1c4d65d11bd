#pragma once
// The device side behind a virtual stick's transport or pty: the simulated radio world or a
// recorded trace played back. Host bytes go in, stick frames come out, on the caller's clock.
#include "antsim/Scenario.h"
#include "antsim/VirtualStick.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace antsim {

class StickEngine {
public:
    virtual ~StickEngine() = default;
    // Host bytes (any chunking) received at `now`.
    virtual void receive(const uint8_t *data, size_t size, Nanos now) = 0;
    // Produces everything due at or before `now`.
    virtual void advance(Nanos now) = 0;
    // Earliest time something is due; VirtualStick::kNever when idle.
    virtual Nanos nextDue() const = 0;
    virtual bool unplugged(Nanos now) const = 0;
    // Stick frames produced so far, removed from the engine.
    virtual std::vector<uint8_t> takeOutput() = 0;
    // What the stick gives as its serial number.
    virtual std::string serialNumber() const = 0;
};

// The simulated stick of `scenario`.
std::unique_ptr<StickEngine> makeSimulatedStick(Scenario scenario, NetworkKeys keys);

} // namespace antsim
