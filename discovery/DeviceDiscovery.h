#pragma once
// Finds the FE-C trainers and heart-rate straps on the air, so that a rider can tell his own
// trainer from the neighbour's before writing it into the settings.
//
// The search owns the stick while it runs: it opens the first stick, searches with wildcard
// channels and follows every device it finds on a channel of its own, so that the list says
// how often each one is heard and when it was last heard. Stop() closes every channel and
// releases the stick.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class TDiscoveredKind { Trainer, HeartRate };

struct TDiscoveredDevice {
    TDiscoveredKind Kind = TDiscoveredKind::Trainer;
    uint16_t DeviceNumber = 0;
    uint8_t TransmissionType = 0;
    std::optional<uint16_t> ManufacturerId;  // common page 80 (a strap's page 2)
    std::optional<uint16_t> ModelNumber;     // common page 80 (a strap's page 3)
    std::optional<uint8_t> HardwareRevision;
    std::optional<std::string> SoftwareVersion;  // common page 81 (a strap's page 3)
    std::optional<uint32_t> SerialNumber;        // common page 81
    std::optional<uint8_t> FeType;               // FE-C page 16, byte 1 bits 0-4 (25 = trainer)
    double SecondsSinceHeard = 0;                // at the moment of the snapshot
    double MessagesPerSecond = 0;                // over the last few seconds
    uint32_t Messages = 0;                       // heard since the device was found
    // False when every channel of the stick was taken: the device was heard by the search
    // but is not followed, so its rate and last-heard time stay as they were then.
    bool Followed = true;
};

class TDeviceDiscovery {
public:
    TDeviceDiscovery();
    ~TDeviceDiscovery();  // stops
    TDeviceDiscovery(const TDeviceDiscovery &) = delete;
    TDeviceDiscovery &operator=(const TDeviceDiscovery &) = delete;

    // Loads the library, opens the first stick and starts searching. False, with the reason
    // in `Why` ("No ANT stick was found."), when it cannot; also while another part of the
    // program holds the library (the trainer connection): the stick is never taken from it.
    bool Start(std::string &Why);
    // Closes every channel and releases the stick; the list is kept.
    void Stop();
    bool Running() const;

    // The devices found so far: trainers first, then straps, each in the order found. Safe
    // from any thread.
    std::vector<TDiscoveredDevice> Devices() const;

    // Lines for support (what the search did and why); called on the caller's thread and the
    // search's own worker, never on the library's. Unset: the debugger output. Set before Start.
    std::function<void(const std::string &)> OnLog;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// Names for the list (ANT+ manufacturer ids, FE types); "#<n>" for one not known.
std::string ManufacturerName(uint16_t Id);
std::string FeTypeName(uint8_t FeType);
// One line of `fennick --scan`.
std::string DiscoveryLine(const TDiscoveredDevice &Device);
