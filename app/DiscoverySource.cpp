#include "app/DiscoverySource.h"

namespace {

// The search on the air, through the ANT library.
class TAirDiscoverySource : public TDiscoverySource {
public:
    bool Start(std::string &Why) override { return FDiscovery.Start(Why); }
    void Stop() override { FDiscovery.Stop(); }
    bool Running() const override { return FDiscovery.Running(); }
    std::vector<TDiscoveredDevice> Devices() const override { return FDiscovery.Devices(); }
    std::string Manufacturer(uint16_t Id) const override { return ManufacturerName(Id); }
    std::string FeType(uint8_t Type) const override { return FeTypeName(Type); }

private:
    TDeviceDiscovery FDiscovery;
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
    return std::make_unique<TAirDiscoverySource>();
}
