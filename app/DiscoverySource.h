#pragma once
// Where the settings window's trainer list comes from: the devices a search finds on the air.
// The application hands it the discovery unit through an adapter; the tests and the screenshot
// tour hand it lists of their own.
#include "discovery/DeviceDiscovery.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TDiscoverySource {
public:
    virtual ~TDiscoverySource() = default;
    // False, with a sentence in `Why`, when the search cannot start.
    virtual bool Start(std::string &Why) = 0;
    virtual void Stop() = 0;
    virtual bool Running() const = 0;
    // A snapshot; called on the UI thread every half second.
    virtual std::vector<TDiscoveredDevice> Devices() const = 0;
    // Names for the list; "#<n>" for a number without one.
    virtual std::string Manufacturer(uint16_t Id) const;
    virtual std::string FeType(uint8_t Type) const;
};

// The search the application uses.
std::unique_ptr<TDiscoverySource> MakeDiscoverySource();
