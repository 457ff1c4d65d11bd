#pragma once
// What the virtual stick's radio world contains and how it behaves over time. Read from the
// small text format described in SCENARIOS.md; the built-in default is one trainer and a
// rider pedalling steadily.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace antsim {

// A scenario that cannot be used; the message reads "line N: reason" for text errors.
class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class DeviceKind : uint8_t { Trainer, HeartRate, Console };

struct DeviceConfig {
    DeviceKind kind = DeviceKind::Trainer;
    uint16_t deviceNumber = 0;
    uint8_t transmissionType = 0;   // 0: the kind's usual value
    uint16_t period = 0;            // message period in 1/32768 s; 0: the kind's usual value
    // Trainer: when >= 0, the resistance-map burst goes out at this time (seconds); with
    // mapBurstEvery > 0 it goes out again that many seconds after each burst (first at
    // mapBurstEvery when no time is given).
    double mapBurstAt = -1.0;
    double mapBurstEvery = 0.0;
    uint16_t maxResistance = 1000;  // trainer: newtons, announced in page 54
    // Trainer calibration: the kinds it can do (page 1/2 byte 1 bits, 0x40 zero offset, 0x80
    // spin-down; 0: it ignores calibration requests), whether every run ends "failed", the
    // kinds page 25 asks for until one succeeds, and what the runs measure.
    uint8_t calibrationKinds = kZeroOffsetBit | kSpinDownBit;
    bool calibrationFails = false;
    uint8_t calibrationRequired = 0;
    double temperature = 20.0;         // °C
    double calibrationSpeedKmh = 32.0; // spin-down target speed
    uint16_t zeroOffset = 1234;        // the trainer's own units
    // Trainer: the flywheel-equivalent mass the speed is integrated on, and the rolling
    // resistance until page 51 sets one.
    double flywheelKg = 20.0;
    double rollingResistance = 0.004;

    static constexpr uint8_t kZeroOffsetBit = 0x40;
    static constexpr uint8_t kSpinDownBit = 0x80;
    uint8_t heartRate = 120;        // heart-rate strap: beats per minute
    // Identity in the trainer's pages 80/81 (a strap's pages 2/3); unset: the kind's default.
    std::optional<uint16_t> manufacturer;
    std::optional<uint16_t> model;
    std::optional<uint32_t> serial;
};

// Rider effort from `from` seconds on, until the next entry.
struct RiderStep {
    double from = 0.0;
    double power = 0.0;   // W
    double cadence = 0.0; // rpm
    // Stops pedalling whenever the trainer's calibration asks for stillness.
    bool follows = false;
};

// No message from the matching devices is heard in [start, start + length).
struct Dropout {
    double start = 0.0;
    double length = 0.0;
    bool allDevices = true;
    DeviceKind kind = DeviceKind::Trainer; // when not allDevices
    uint16_t deviceNumber = 0;             // with a kind: only that device; 0 every one
};

enum class ConsoleKey : uint8_t { Plus, Minus, Enter, Tab };

struct KeyPress {
    double at = 0.0;
    ConsoleKey key = ConsoleKey::Plus;
    double hold = 0.5;
};

struct Scenario {
    uint64_t seed = 1;
    std::vector<DeviceConfig> devices;
    std::vector<RiderStep> rider;     // sorted by `from`, strictly increasing
    std::vector<Dropout> dropouts;
    std::vector<KeyPress> keys;
    double ackFailure = 0.0;          // probability that an acknowledged transfer fails
    double unplugAt = -1.0;           // seconds; < 0: never
    // When set, every host page that reaches a device is appended to this file, one line
    // each, so a test can see what the devices were given.
    std::string hostLog;

    // Rider effort at time t (seconds); nothing before the first step.
    RiderStep riderAt(double t) const;
};

// Parses scenario text; throws ScenarioError("line N: reason") on the first bad line.
Scenario parseScenario(std::string_view text);

// The text of the built-in scenario (what "default" selects).
const char *defaultScenarioText();

// "default" (or an empty text) gives the built-in scenario, anything else is a file path.
// Throws ScenarioError for an unreadable file (naming it) or a bad line.
Scenario loadScenario(const std::string &nameOrPath);

// The whole of a file the virtual stick plays from; throws ScenarioError("cannot read
// <what> file <path>") when it cannot be read.
std::string readWholeFile(const std::string &path, const char *what);

const char *deviceKindName(DeviceKind kind);

} // namespace antsim
