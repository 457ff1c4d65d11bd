#pragma once
// The remote devices of the virtual radio world: an FE-C trainer with a physical model of the
// rider's speed, a heart-rate strap and the maker's console. Each produces the next message it
// would put on air and takes the pages the host sends to it; the radio decides what is heard.
#include "antsim/CoastModel.h"
#include "antsim/Scenario.h"
#include "antsim/SimCalibration.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace antsim {

using Nanos = std::chrono::nanoseconds;
using Page = std::array<uint8_t, 8>;

double toSeconds(Nanos t);
Nanos fromSeconds(double s);
// ANT periods count 1/32768 s; exact to the nanosecond below, without overflow.
Nanos fromTicks(uint64_t ticks);

// One message as a device puts it on air: a broadcast, an acknowledged message, or a burst
// of several 8-byte packets.
struct Transmission {
    enum class Kind : uint8_t { Broadcast, Acknowledged, Burst };
    Kind kind = Kind::Broadcast;
    std::vector<Page> packets;
};

class SimDevice {
public:
    SimDevice(const DeviceConfig &config, const Scenario &world);
    virtual ~SimDevice() = default;

    DeviceKind kind() const { return FConfig.kind; }
    uint16_t deviceNumber() const { return FConfig.deviceNumber; }
    uint8_t deviceType() const { return FDeviceType; }
    uint8_t transmissionType() const { return FTransmissionType; }
    uint8_t rfFrequency() const { return FRfFrequency; }
    uint16_t period() const { return FPeriod; }
    // True for the maker's devices (public network key), false for ANT+ devices.
    bool publicNetwork() const { return FPublicNetwork; }
    // Whether the device can be heard at time t (scenario dropouts).
    bool onAir(Nanos t) const;
    // Whether a dropout applies to this device.
    bool covers(const Dropout &d) const;
    // The device's own clock: its k-th message goes on air at k periods from the stick's
    // start, whether anyone hears it or not.
    Nanos transmissionTime(uint64_t k) const { return fromTicks(k * FPeriod); }
    // The first k whose transmission is later than t.
    uint64_t firstTransmissionAfter(Nanos t) const;

    virtual Transmission transmit(Nanos now) = 0;
    // A page from the host that reached the device (broadcast, or acknowledged and delivered).
    virtual void receive(const Page &page, bool acknowledged, Nanos now);
    // A complete burst from the host (the packets' payloads in order).
    virtual void receiveBurst(const std::vector<uint8_t> &data, Nanos now);

    uint64_t pagesReceived() const { return FPagesReceived; }

protected:
    DeviceConfig FConfig;
    const Scenario &FWorld;
    uint8_t FDeviceType = 0;
    uint8_t FTransmissionType = 1;
    uint8_t FRfFrequency = 57;
    uint16_t FPeriod = 8192;
    bool FPublicNetwork = false;
    uint64_t FPagesReceived = 0;
};

// FE-C trainer (device type 17). Speed follows the rider's power against the brake:
// P = (Crr*m*g + m*g*grade + k*level)*v + 0.5*rho*CdA*v^3, integrated on the kinetic energy
// of the flywheel-equivalent mass, so a higher level visibly slows the rider. While a spin-down
// runs the brake is released and the flywheel coasts as CoastModel says.
class SimTrainer : public SimDevice {
public:
    enum class Mode : uint8_t { BasicResistance, TargetPower, Simulation };

    SimTrainer(const DeviceConfig &config, const Scenario &world);
    Transmission transmit(Nanos now) override;
    void receive(const Page &page, bool acknowledged, Nanos now) override;

    // Model state, brought up to `now` first.
    double speed(Nanos now);              // m/s
    double distance(Nanos now);           // m
    Mode mode() const { return FMode; }
    uint8_t resistanceLevel() const { return FLevel; } // 0.5 % units
    double targetPower() const { return FTargetPower; }
    double grade() const { return FGrade; }            // %
    bool userConfigured() const { return FUserConfigured; }
    double userWeight() const { return FUserWeight; }  // kg
    double wheelDiameter() const { return FWheelDiameter; } // m
    const SimCalibration &calibration() const { return FCalibration; }
    // What slows the flywheel with the brake released, for the rider and rolling resistance now.
    CoastModel coastModel() const { return {FConfig.flywheelKg, FUserWeight, FCrr}; }

    // Power the brake absorbs at speed v (m/s) and level (0.5 % units) on a flat road;
    // the values of the resistance map.
    double brakePower(double v, double level) const;

    static constexpr double kBrakePerPercent = 0.6; // N per % of resistance
    static constexpr double kCdA = 0.40;
    static constexpr double kRho = 1.2;
    static constexpr double kGravity = 9.81;
    static constexpr double kBikeWeight = 10.0;

private:
    void update(Nanos now);
    double resistingForce(double v) const;
    // The scenario's rider, who stops when following the trainer's calibration asks for it.
    RiderStep riderAt(double t) const;
    double driveFrom(const RiderStep &rider) const;
    uint8_t trainerStatus() const;
    void handlePage(const Page &page);
    Page page(uint8_t number, Nanos now);
    uint8_t feState(Nanos now);
    Transmission mapBurst() const;

    Nanos FLast{0};
    double FEnergy = 0.0;       // J, 0.5 * flywheel mass * v^2
    double FSpeed = 0.0;
    double FDistance = 0.0;
    double FAccumulatedPower = 0.0;
    uint8_t FEventCount = 0;
    uint64_t FMessage = 0;

    Mode FMode = Mode::BasicResistance;
    uint8_t FLevel = 0;
    double FTargetPower = 0.0;
    double FGrade = 0.0;
    double FCrr;
    double FUserWeight = 75.0;
    double FWheelDiameter = 0.70;
    bool FUserConfigured = false;

    struct Reply {
        uint8_t page;
        bool acknowledged;
        int count;
    };
    std::deque<Reply> FReplies;
    SimCalibration FCalibration;
    bool FLastWasCalibration = false; // calibration pages go out between the usual ones
    double FNextMapAt; // s; < 0: no burst to come
};

// Heart-rate strap (device type 120): pages 0 to 4, page-change toggle every four messages.
class SimHeartRate : public SimDevice {
public:
    SimHeartRate(const DeviceConfig &config, const Scenario &world);
    Transmission transmit(Nanos now) override;

private:
    uint64_t FMessage = 0;
};

// The maker's console (device type 18, public network): key page 5 with the state of its
// four keys; it counts the keep-alive pages the host sends.
class SimConsole : public SimDevice {
public:
    SimConsole(const DeviceConfig &config, const Scenario &world);
    Transmission transmit(Nanos now) override;
    void receive(const Page &page, bool acknowledged, Nanos now) override;
    uint64_t keepAlives() const { return FKeepAlives; }

private:
    uint64_t FKeepAlives = 0;
};

std::unique_ptr<SimDevice> makeDevice(const DeviceConfig &config, const Scenario &world);

} // namespace antsim
