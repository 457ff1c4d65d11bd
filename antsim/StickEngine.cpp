#include "antsim/StickEngine.h"

namespace antsim {

namespace {

class SimulatedStick : public StickEngine {
public:
    SimulatedStick(Scenario scenario, NetworkKeys keys) : FStick(std::move(scenario), keys) {}
    void receive(const uint8_t *data, size_t size, Nanos now) override { FStick.receive(data, size, now); }
    void advance(Nanos now) override { FStick.advance(now); }
    Nanos nextDue() const override { return FStick.nextDue(); }
    bool unplugged(Nanos now) const override { return FStick.unplugged(now); }
    std::vector<uint8_t> takeOutput() override { return FStick.takeOutput(); }
    std::string serialNumber() const override { return std::to_string(FStick.scenario().seed); }

private:
    VirtualStick FStick;
};

} // namespace

std::unique_ptr<StickEngine> makeSimulatedStick(Scenario scenario, NetworkKeys keys)
{
    return std::make_unique<SimulatedStick>(std::move(scenario), keys);
}

} // namespace antsim
