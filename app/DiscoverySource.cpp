#include "app/DiscoverySource.h"

namespace {

// Until a build brings the search on the air, the window says so when Search is pressed.
class TNoDiscoverySource : public TDiscoverySource {
public:
    bool Start(std::string &Why) override
    {
        Why = "Searching for trainers is not available in this build. Enter the device number by hand.";
        return false;
    }
    void Stop() override {}
    bool Running() const override { return false; }
    std::vector<TDiscoveredDevice> Devices() const override { return {}; }
};

} // namespace

std::string TDiscoverySource::Manufacturer(uint16_t Id) const
{
    return "#" + std::to_string(Id);
}

std::string TDiscoverySource::FeType(uint8_t Type) const
{
    return "#" + std::to_string(Type);
}

std::unique_ptr<TDiscoverySource> MakeDiscoverySource()
{
    return std::make_unique<TNoDiscoverySource>();
}
