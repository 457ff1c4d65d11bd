#include "antsim/Scenario.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace antsim {

namespace {

// Times beyond this (about 116 days) are surely typing errors, and keeping them bounded
// keeps every conversion to the engine's nanosecond clock exact and overflow-free.
constexpr double kMaxSeconds = 1e7;
constexpr size_t kMaxDevices = 16;
constexpr size_t kMaxLineLength = 4096;

[[noreturn]] void fail(size_t line, const std::string &reason)
{
    throw ScenarioError("line " + std::to_string(line) + ": " + reason);
}

std::vector<std::string_view> tokens(std::string_view line)
{
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size() || line[i] == '#')
            break;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '#')
            ++j;
        out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

double number(size_t line, std::string_view tok, const char *what, double lo, double hi)
{
    double v = 0;
    auto res = std::from_chars(tok.data(), tok.data() + tok.size(), v);
    if (res.ec != std::errc() || res.ptr != tok.data() + tok.size() || !std::isfinite(v))
        fail(line, std::string(what) + " is not a number: '" + std::string(tok) + "'");
    if (v < lo || v > hi) {
        std::ostringstream s;
        s << what << " " << tok << " is out of range (" << lo << " to " << hi << ")";
        fail(line, s.str());
    }
    return v;
}

uint64_t integer(size_t line, std::string_view tok, const char *what, uint64_t lo, uint64_t hi)
{
    uint64_t v = 0;
    auto res = std::from_chars(tok.data(), tok.data() + tok.size(), v);
    if (res.ec == std::errc::result_out_of_range)
        fail(line, std::string(what) + " " + std::string(tok) + " is too large");
    if (res.ec != std::errc() || res.ptr != tok.data() + tok.size())
        fail(line, std::string(what) + " is not a whole number: '" + std::string(tok) + "'");
    if (v < lo || v > hi)
        fail(line, std::string(what) + " " + std::string(tok) + " is out of range (" +
                       std::to_string(lo) + " to " + std::to_string(hi) + ")");
    return v;
}

bool kindFromName(std::string_view name, DeviceKind &kind)
{
    if (name == "trainer")
        kind = DeviceKind::Trainer;
    else if (name == "hr")
        kind = DeviceKind::HeartRate;
    else if (name == "console")
        kind = DeviceKind::Console;
    else
        return false;
    return true;
}

void needArgs(size_t line, const std::vector<std::string_view> &t, size_t lo, size_t hi,
              const char *usage)
{
    if (t.size() < lo + 1 || t.size() > hi + 1)
        fail(line, std::string("expected: ") + usage);
}

// Which calibration kinds a word names: zero, spindown, both or none.
bool kindsFromName(std::string_view name, uint8_t &bits)
{
    if (name == "zero")
        bits = DeviceConfig::kZeroOffsetBit;
    else if (name == "spindown")
        bits = DeviceConfig::kSpinDownBit;
    else if (name == "both")
        bits = DeviceConfig::kZeroOffsetBit | DeviceConfig::kSpinDownBit;
    else if (name == "none")
        bits = 0;
    else
        return false;
    return true;
}

void parseCalibrationSupport(size_t line, std::string_view val, DeviceConfig &d)
{
    d.calibrationFails = val == "fail";
    // "ok" is what scenario files said before the kinds could be chosen.
    if (val == "fail" || val == "ok")
        d.calibrationKinds = DeviceConfig::kZeroOffsetBit | DeviceConfig::kSpinDownBit;
    else if (!kindsFromName(val, d.calibrationKinds))
        fail(line, "calibration must be both, spindown, zero, none or fail, got '" + std::string(val) + "'");
}

// The trainer's calibration options; false for a key that is not one of them.
bool parseTrainerCalibration(size_t line, std::string_view key, std::string_view val, DeviceConfig &d)
{
    if (key == "calibration") {
        parseCalibrationSupport(line, val, d);
    } else if (key == "calibration_required") {
        if (!kindsFromName(val, d.calibrationRequired))
            fail(line, "calibration_required must be zero, spindown, both or none, got '" + std::string(val) + "'");
    } else if (key == "temperature") {
        // what page 2's temperature byte can carry
        d.temperature = number(line, val, "temperature", -25, 100);
    } else if (key == "calibration_speed") {
        // the run-down ends at 10 km/h, so the target has to be well above it
        d.calibrationSpeedKmh = number(line, val, "calibration_speed", 15, 80);
    } else if (key == "zero_offset") {
        d.zeroOffset = uint16_t(integer(line, val, "zero_offset", 0, 65534));
    } else if (key == "flywheel") {
        d.flywheelKg = number(line, val, "flywheel", 1, 500);
    } else if (key == "rolling_resistance") {
        d.rollingResistance = number(line, val, "rolling_resistance", 0, 0.1);
    } else {
        return false;
    }
    return true;
}

// manufacturer=, model= and serial=, within what the kind's pages carry; false for other keys.
bool parseIdentity(size_t line, std::string_view key, std::string_view val, DeviceKind kind, DeviceConfig &d)
{
    const bool strap = kind == DeviceKind::HeartRate;
    if (key == "manufacturer")
        d.manufacturer = uint16_t(integer(line, val, "manufacturer", 1, strap ? 255 : 65535));
    else if (key == "model")
        d.model = uint16_t(integer(line, val, "model", 0, strap ? 255 : 65535));
    else if (key == "serial")
        d.serial = uint32_t(integer(line, val, "serial", 0, strap ? 65535 : 0xFFFFFFFEu));
    else
        return false;
    return true;
}

void parseDropout(size_t line, const std::vector<std::string_view> &t, Scenario &s)
{
    needArgs(line, t, 2, 4, "dropout START LENGTH [trainer|hr|console [NUMBER]|all]");
    Dropout d;
    d.start = number(line, t[1], "start", 0, kMaxSeconds);
    d.length = number(line, t[2], "length", 0, kMaxSeconds);
    if (d.length <= 0)
        fail(line, "dropout length must be greater than 0");
    if (t.size() >= 4 && t[3] != "all") {
        d.allDevices = false;
        if (!kindFromName(t[3], d.kind))
            fail(line, "unknown device kind '" + std::string(t[3]) + "'");
        if (t.size() == 5)
            d.deviceNumber = uint16_t(integer(line, t[4], "device number", 1, 65535));
    } else if (t.size() == 5) {
        fail(line, "a device number needs a device kind");
    }
    s.dropouts.push_back(d);
}

void parseDevice(size_t line, const std::vector<std::string_view> &t, DeviceKind kind,
                 Scenario &s)
{
    if (t.size() < 2)
        fail(line, std::string("expected: ") + deviceKindName(kind) + " NUMBER [option=value ...]");
    if (s.devices.size() >= kMaxDevices)
        fail(line, "too many devices (at most " + std::to_string(kMaxDevices) + ")");
    DeviceConfig d;
    d.kind = kind;
    d.deviceNumber = uint16_t(integer(line, t[1], "device number", 1, 65535));
    for (const auto &other : s.devices)
        if (other.kind == kind && other.deviceNumber == d.deviceNumber)
            fail(line, std::string("duplicate ") + deviceKindName(kind) + " " + std::string(t[1]));
    for (size_t i = 2; i < t.size(); ++i) {
        auto eq = t[i].find('=');
        if (eq == std::string_view::npos || eq == 0 || eq + 1 == t[i].size())
            fail(line, "expected option=value, got '" + std::string(t[i]) + "'");
        std::string_view key = t[i].substr(0, eq), val = t[i].substr(eq + 1);
        if (kind == DeviceKind::Trainer && parseTrainerCalibration(line, key, val, d))
            continue;
        if (kind != DeviceKind::Console && parseIdentity(line, key, val, kind, d))
            continue;
        if (key == "transmission") {
            d.transmissionType = uint8_t(integer(line, val, "transmission type", 1, 255));
        } else if (key == "period") {
            // the stick's own lower limit for a channel period
            d.period = uint16_t(integer(line, val, "period", 164, 65535));
        } else if (key == "map" && kind == DeviceKind::Trainer) {
            d.mapBurstAt = number(line, val, "map time", 0, kMaxSeconds);
        } else if (key == "map_every" && kind == DeviceKind::Trainer) {
            // Below a second the bursts alone would fill the channel.
            d.mapBurstEvery = number(line, val, "map_every", 1, kMaxSeconds);
        } else if (key == "max_resistance" && kind == DeviceKind::Trainer) {
            d.maxResistance = uint16_t(integer(line, val, "max_resistance", 1, 65534));
        } else if (key == "bpm" && kind == DeviceKind::HeartRate) {
            d.heartRate = uint8_t(integer(line, val, "bpm", 30, 240));
        } else {
            fail(line, "unknown option '" + std::string(key) + "' for " + deviceKindName(kind));
        }
    }
    s.devices.push_back(d);
}

void parseRider(size_t line, const std::vector<std::string_view> &t, Scenario &s)
{
    needArgs(line, t, 3, 4, "rider TIME POWER CADENCE");
    RiderStep r;
    r.from = number(line, t[1], "time", 0, kMaxSeconds);
    r.power = number(line, t[2], "power", 0, 3000);
    r.cadence = number(line, t[3], "cadence", 0, 254);
    if (t.size() == 5) {
        if (t[4] != "follows")
            fail(line, "expected 'follows' after the cadence, got '" + std::string(t[4]) + "'");
        r.follows = true;
    }
    if (!s.rider.empty() && r.from <= s.rider.back().from)
        fail(line, "rider times must increase");
    s.rider.push_back(r);
}

} // namespace

const char *deviceKindName(DeviceKind kind)
{
    switch (kind) {
    case DeviceKind::Trainer:
        return "trainer";
    case DeviceKind::HeartRate:
        return "hr";
    case DeviceKind::Console:
        return "console";
    }
    return "device";
}

RiderStep Scenario::riderAt(double t) const
{
    // steps are sorted by `from`: the last one that has started applies
    auto after = std::upper_bound(rider.begin(), rider.end(), t,
                                  [](double when, const RiderStep &s) { return when < s.from; });
    if (after == rider.begin())
        return RiderStep{};
    return *(after - 1);
}

Scenario parseScenario(std::string_view text)
{
    Scenario s;
    bool seenSeed = false, seenAck = false, seenUnplug = false, seenHostLog = false;
    size_t lineNo = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > kMaxLineLength)
            fail(lineNo, "line too long");
        for (char c : line)
            if (c == '\0')
                fail(lineNo, "unexpected NUL character");
        auto t = tokens(line);
        if (t.empty())
            continue;
        const std::string_view cmd = t[0];
        DeviceKind kind;
        if (kindFromName(cmd, kind)) {
            parseDevice(lineNo, t, kind, s);
        } else if (cmd == "seed") {
            needArgs(lineNo, t, 1, 1, "seed NUMBER");
            if (seenSeed)
                fail(lineNo, "seed given twice");
            seenSeed = true;
            s.seed = integer(lineNo, t[1], "seed", 0, UINT64_MAX);
        } else if (cmd == "rider") {
            parseRider(lineNo, t, s);
        } else if (cmd == "dropout") {
            parseDropout(lineNo, t, s);
        } else if (cmd == "ack_failure") {
            needArgs(lineNo, t, 1, 1, "ack_failure PROBABILITY");
            if (seenAck)
                fail(lineNo, "ack_failure given twice");
            seenAck = true;
            s.ackFailure = number(lineNo, t[1], "probability", 0, 1);
        } else if (cmd == "unplug") {
            needArgs(lineNo, t, 1, 1, "unplug TIME");
            if (seenUnplug)
                fail(lineNo, "unplug given twice");
            seenUnplug = true;
            s.unplugAt = number(lineNo, t[1], "time", 0, kMaxSeconds);
        } else if (cmd == "host_log") {
            needArgs(lineNo, t, 1, 1, "host_log FILE");
            if (seenHostLog)
                fail(lineNo, "host_log given twice");
            seenHostLog = true;
            s.hostLog = std::string(t[1]);
        } else if (cmd == "key") {
            needArgs(lineNo, t, 2, 3, "key TIME plus|minus|enter|tab [HOLD]");
            KeyPress k;
            k.at = number(lineNo, t[1], "time", 0, kMaxSeconds);
            if (t[2] == "plus")
                k.key = ConsoleKey::Plus;
            else if (t[2] == "minus")
                k.key = ConsoleKey::Minus;
            else if (t[2] == "enter")
                k.key = ConsoleKey::Enter;
            else if (t[2] == "tab")
                k.key = ConsoleKey::Tab;
            else
                fail(lineNo, "unknown key '" + std::string(t[2]) + "'");
            if (t.size() == 4) {
                k.hold = number(lineNo, t[3], "hold", 0, 3600);
                if (k.hold <= 0)
                    fail(lineNo, "hold must be greater than 0");
            }
            s.keys.push_back(k);
        } else {
            fail(lineNo, "unknown directive '" + std::string(cmd) + "'");
        }
    }
    return s;
}

const char *defaultScenarioText()
{
    return "# Built-in scenario: one FE-C trainer and a rider pedalling steadily.\n"
           "seed 1\n"
           "trainer 4242\n"
           "rider 0 150 85\n";
}

std::string readWholeFile(const std::string &path, const char *what)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    if (!in || in.bad())
        throw ScenarioError(std::string("cannot read ") + what + " file " + path);
    return text.str();
}

Scenario loadScenario(const std::string &nameOrPath)
{
    if (nameOrPath.empty() || nameOrPath == "default")
        return parseScenario(defaultScenarioText());
    const std::string text = readWholeFile(nameOrPath, "scenario");
    try {
        return parseScenario(text);
    } catch (const ScenarioError &e) {
        throw ScenarioError(nameOrPath + ": " + e.what());
    }
}

} // namespace antsim
