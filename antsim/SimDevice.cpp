#include "antsim/SimDevice.h"

#include "antsim/FecPages.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace antsim {

double toSeconds(Nanos t)
{
    return double(t.count()) * 1e-9;
}

Nanos fromSeconds(double s)
{
    return Nanos(int64_t(std::llround(s * 1e9)));
}

Nanos fromTicks(uint64_t ticks)
{
    return Nanos(int64_t((ticks / 32768) * 1000000000ull + ((ticks % 32768) * 1000000000ull) / 32768));
}

namespace {

uint8_t lo(unsigned v) { return uint8_t(v & 0xFF); }
uint8_t hi(unsigned v) { return uint8_t((v >> 8) & 0xFF); }

// Little-endian 16-bit field at p[at], p[at + 1].
void put16(Page &p, size_t at, unsigned v)
{
    p[at] = lo(v);
    p[at + 1] = hi(v);
}

Transmission single(const Page &p)
{
    Transmission tx;
    tx.packets.push_back(p);
    return tx;
}

unsigned clampUnsigned(double v, unsigned max)
{
    if (!(v > 0))
        return 0;
    if (v >= double(max))
        return max;
    return unsigned(std::lround(v));
}

} // namespace

SimDevice::SimDevice(const DeviceConfig &config, const Scenario &world) : FConfig(config), FWorld(world)
{
}

bool SimDevice::covers(const Dropout &d) const
{
    if (d.allDevices)
        return true;
    return d.kind == FConfig.kind && (d.deviceNumber == 0 || d.deviceNumber == FConfig.deviceNumber);
}

bool SimDevice::onAir(Nanos t) const
{
    const double s = toSeconds(t);
    for (const auto &d : FWorld.dropouts)
        if (covers(d) && s >= d.start && s < d.start + d.length)
            return false;
    return true;
}

uint64_t SimDevice::firstTransmissionAfter(Nanos t) const
{
    if (t.count() < 0)
        return 0;
    // A close guess in floating point, then exact steps to the boundary.
    uint64_t k = uint64_t(double(t.count()) * 32768.0 / (double(FPeriod) * 1e9));
    while (k > 0 && transmissionTime(k - 1) > t)
        --k;
    while (transmissionTime(k) <= t)
        ++k;
    return k;
}

void SimDevice::receive(const Page &, bool, Nanos)
{
    ++FPagesReceived;
}

void SimDevice::receiveBurst(const std::vector<uint8_t> &, Nanos)
{
    ++FPagesReceived;
}

// ---------------------------------------------------------------------------------------
// Trainer

SimTrainer::SimTrainer(const DeviceConfig &config, const Scenario &world)
    : SimDevice(config, world), FCrr(config.rollingResistance), FCalibration(config, world.seed)
{
    FDeviceType = 17;
    FTransmissionType = config.transmissionType ? config.transmissionType : 5;
    FRfFrequency = 57;
    FPeriod = config.period ? config.period : 8192;
    FPublicNetwork = false;
    FCalibration.setCoastModel(coastModel());
    FNextMapAt = config.mapBurstAt >= 0 ? config.mapBurstAt
                 : config.mapBurstEvery > 0 ? config.mapBurstEvery : -1.0;
}

RiderStep SimTrainer::riderAt(double t) const
{
    RiderStep r = FWorld.riderAt(t);
    if (r.follows && FCalibration.wantsStillness())
        r.power = r.cadence = 0.0;
    return r;
}

double SimTrainer::driveFrom(const RiderStep &r) const
{
    if (r.power <= 0)
        return 0.0;
    // In target-power mode the brake holds the rider at the target whatever they push.
    if (FMode == Mode::TargetPower && !FCalibration.brakeReleased())
        return FTargetPower;
    return r.power;
}

double SimTrainer::resistingForce(double v) const
{
    if (FCalibration.brakeReleased())
        return coastModel().force(v);
    const double mass = FUserWeight + kBikeWeight;
    double f = FCrr * mass * kGravity + 0.5 * kRho * kCdA * v * v;
    if (FMode == Mode::BasicResistance)
        f += kBrakePerPercent * FLevel * 0.5;
    else if (FMode == Mode::Simulation)
        f += mass * kGravity * std::sin(std::atan(FGrade / 100.0));
    return f;
}

double SimTrainer::brakePower(double v, double level) const
{
    const double mass = FUserWeight + kBikeWeight;
    return (FCrr * mass * kGravity + kBrakePerPercent * level * 0.5) * v + 0.5 * kRho * kCdA * v * v * v;
}

void SimTrainer::update(Nanos now)
{
    if (now <= FLast)
        return;
    double t = toSeconds(FLast);
    double end = toSeconds(now);
    // After a long gap the flywheel has long settled: integrate only the last minute, and
    // count the distance of the skipped part at the speed it had.
    if (end - t > 60.0) {
        FDistance += FSpeed * (end - 60.0 - t);
        t = end - 60.0;
    }
    constexpr double kStep = 0.01;
    const double inertia = FConfig.flywheelKg;
    while (t < end) {
        const double h = std::min(kStep, end - t);
        const RiderStep rider = riderAt(t);
        const double p = driveFrom(rider);
        FEnergy += (p - resistingForce(FSpeed) * FSpeed) * h;
        FEnergy = std::clamp(FEnergy, 0.0, 0.5 * inertia * 30.0 * 30.0);
        const double v = std::sqrt(2.0 * FEnergy / inertia);
        FDistance += 0.5 * (v + FSpeed) * h;
        FSpeed = v;
        t += h;
        FCalibration.step(t, h, v, rider.power, rider.cadence);
    }
    FLast = now;
}

double SimTrainer::speed(Nanos now)
{
    update(now);
    return FSpeed;
}

double SimTrainer::distance(Nanos now)
{
    update(now);
    return FDistance;
}

uint8_t SimTrainer::feState(Nanos now)
{
    // 2 ready, 3 in use
    return (FSpeed > 0.1 || riderAt(toSeconds(now)).power > 0) ? 3 : 2;
}

uint8_t SimTrainer::trainerStatus() const
{
    // page 25 byte 6 bits 4-6: zero offset, spin-down, user configuration required
    const uint8_t required = FCalibration.requiredKinds();
    return uint8_t(((required & DeviceConfig::kZeroOffsetBit) ? 0x01 : 0) |
                   ((required & DeviceConfig::kSpinDownBit) ? 0x02 : 0) | (FUserConfigured ? 0 : 0x04));
}

Page SimTrainer::page(uint8_t number, Nanos now)
{
    const double t = toSeconds(now);
    const RiderStep rider = riderAt(t);
    const uint8_t state = uint8_t(feState(now) << 4);
    Page p;
    p.fill(0xFF);
    p[0] = number;
    switch (number) {
    case fec::kGeneral: {
        const unsigned v = clampUnsigned(FSpeed * 1000.0, 65534);
        p[1] = 25; // trainer
        p[2] = uint8_t(uint64_t(t / 0.25) & 0xFF);
        p[3] = uint8_t(uint64_t(FDistance) & 0xFF);
        put16(p, 4, v);
        p[6] = 0xFF;                  // no heart rate
        p[7] = uint8_t(0x04 | state); // distance enabled, real speed
        break;
    }
    case fec::kGeneralSettings: {
        p[3] = uint8_t(clampUnsigned(FWheelDiameter * std::numbers::pi * 100.0, 254));
        unsigned incline = 0x7FFF;
        if (FMode == Mode::Simulation)
            incline = uint16_t(int16_t(std::lround(std::clamp(FGrade, -300.0, 300.0) * 100.0)));
        put16(p, 4, incline);
        p[6] = FMode == Mode::BasicResistance ? FLevel : 0xFF;
        p[7] = state;
        break;
    }
    case fec::kTrainerData: {
        const double watts = driveFrom(rider);
        const unsigned power = clampUnsigned(watts, 4094);
        ++FEventCount;
        FAccumulatedPower = std::fmod(FAccumulatedPower + power, 65536.0);
        const unsigned acc = unsigned(FAccumulatedPower);
        const uint8_t status = trainerStatus();
        p[1] = FEventCount;
        p[2] = uint8_t(clampUnsigned(rider.cadence, 254));
        put16(p, 3, acc);
        p[5] = lo(power);
        p[6] = uint8_t(((power >> 8) & 0x0F) | (status << 4));
        p[7] = state; // target-power flags 0: at target or none
        break;
    }
    case fec::kCapabilities: {
        put16(p, 5, FConfig.maxResistance);
        p[7] = 0x07; // basic resistance, target power, simulation
        break;
    }
    case fec::kManufacturerInfo:
        p[3] = 1; // hardware revision
        put16(p, 4, FConfig.manufacturer.value_or(255)); // 255: the development id
        put16(p, 6, FConfig.model.value_or(1));
        break;
    case fec::kProductInfo: {
        const uint32_t serial = FConfig.serial.value_or(0x00070000u | FConfig.deviceNumber);
        p[2] = 0xFF;
        p[3] = 10;
        p[4] = uint8_t(serial);
        p[5] = uint8_t(serial >> 8);
        p[6] = uint8_t(serial >> 16);
        p[7] = uint8_t(serial >> 24);
        break;
    }
    default:
        break;
    }
    return p;
}

Transmission SimTrainer::mapBurst() const
{
    Transmission tx;
    tx.kind = Transmission::Kind::Burst;
    constexpr unsigned kValues = 252;
    Page header;
    header.fill(0xFF);
    header[0] = 0x21;
    put16(header, 3, kValues * 2);
    tx.packets.push_back(header);
    Page packet{};
    for (unsigned k = 0; k < kValues; ++k) {
        const double kmh = 5.0 * (1 + k % 18);
        const double level = std::nearbyint((k / 18) * 15.384);
        const unsigned value = clampUnsigned(brakePower(kmh / 3.6, level), 65535);
        put16(packet, (k % 4) * 2, value);
        if (k % 4 == 3)
            tx.packets.push_back(packet);
    }
    return tx;
}

Transmission SimTrainer::transmit(Nanos now)
{
    update(now);
    if (FNextMapAt >= 0 && toSeconds(now) >= FNextMapAt) {
        // A late burst (no channel ran the trainer) does not bring the ones it missed.
        const double every = FConfig.mapBurstEvery;
        FNextMapAt = every > 0 ? FNextMapAt + every * std::ceil((toSeconds(now) - FNextMapAt + 1e-9) / every) : -1.0;
        return mapBurst();
    }
    if (!FReplies.empty()) {
        Reply &r = FReplies.front();
        Transmission tx = single(page(r.page, now));
        if (r.acknowledged) {
            tx.kind = Transmission::Kind::Acknowledged;
            FReplies.pop_front();
        } else if (--r.count <= 0) {
            FReplies.pop_front();
        }
        return tx;
    }
    if (!FLastWasCalibration) {
        if (const std::optional<Page> p = FCalibration.takePage()) {
            FLastWasCalibration = true;
            return single(*p);
        }
    }
    FLastWasCalibration = false;
    // 16 and 25 alternate in pairs, one pair of 17 per cycle, and the common pages 80/81
    // (each sent twice) after every 64 data messages.
    const uint64_t n = FMessage++;
    const uint64_t inCycle = n % 66;
    uint8_t number;
    if (inCycle >= 64)
        number = (n / 66) % 2 ? fec::kProductInfo : fec::kManufacturerInfo;
    else if (inCycle / 2 == 15)
        number = fec::kGeneralSettings;
    else
        number = (inCycle / 2) % 2 ? fec::kTrainerData : fec::kGeneral;
    return single(page(number, now));
}

void SimTrainer::receive(const Page &p, bool acknowledged, Nanos now)
{
    SimDevice::receive(p, acknowledged, now);
    update(now);
    handlePage(p);
    FCalibration.setCoastModel(coastModel());
}

void SimTrainer::handlePage(const Page &p)
{
    switch (p[0]) {
    case fec::kBasicResistance:
        if (p[7] <= 200) {
            FMode = Mode::BasicResistance;
            FLevel = p[7];
        }
        break;
    case fec::kTargetPower:
        FMode = Mode::TargetPower;
        FTargetPower = std::min(4000.0, (p[6] | (p[7] << 8)) * 0.25);
        break;
    case fec::kTrackResistance: {
        const unsigned g = p[5] | (p[6] << 8);
        if (g != 0xFFFF) {
            FMode = Mode::Simulation;
            FGrade = std::clamp(g * 0.01 - 200.0, -100.0, 100.0);
        }
        if (p[7] != 0xFF)
            FCrr = p[7] * 5e-5;
        break;
    }
    case fec::kUserConfiguration: {
        const unsigned w = p[1] | (p[2] << 8);
        if (w != 0xFFFF && w > 0)
            FUserWeight = w * 0.01;
        if (p[6] != 0xFF && p[6] > 0) {
            const unsigned offset = p[4] & 0x0F;
            FWheelDiameter = p[6] * 0.01 + (offset <= 9 ? offset * 0.001 : 0.0);
        }
        FUserConfigured = true;
        break;
    }
    case fec::kRequest: {
        if (p[7] != 1)
            break;
        const uint8_t wanted = p[6];
        static constexpr uint8_t kKnown[] = {fec::kGeneral,      fec::kGeneralSettings,  fec::kTrainerData,
                                             fec::kCapabilities, fec::kManufacturerInfo, fec::kProductInfo};
        if (std::find(std::begin(kKnown), std::end(kKnown), wanted) == std::end(kKnown))
            break;
        if (FReplies.size() >= 8)
            break;
        Reply r{wanted, (p[5] & 0x80) != 0, std::max(1, p[5] & 0x7F)};
        FReplies.push_back(r);
        break;
    }
    case fec::kCalibrationResponse:
        FCalibration.request(p[1]);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------
// Heart-rate strap

SimHeartRate::SimHeartRate(const DeviceConfig &config, const Scenario &world) : SimDevice(config, world)
{
    FDeviceType = 120;
    FTransmissionType = config.transmissionType ? config.transmissionType : 1;
    FRfFrequency = 57;
    FPeriod = config.period ? config.period : 8070;
    FPublicNetwork = false;
}

Transmission SimHeartRate::transmit(Nanos now)
{
    const double t = toSeconds(now);
    const double beatInterval = 60.0 / FConfig.heartRate;
    const uint64_t beats = uint64_t(t / beatInterval);
    const unsigned eventTime = unsigned(uint64_t(std::llround(beats * beatInterval * 1024.0)) & 0xFFFF);
    const unsigned previous =
        beats ? unsigned(uint64_t(std::llround((beats - 1) * beatInterval * 1024.0)) & 0xFFFF) : 0;

    const uint64_t n = FMessage++;
    const uint8_t toggle = ((n / 4) & 1) ? 0x80 : 0x00;
    uint8_t number = 4;
    // Background pages take four messages out of every 68, rotating 1, 2, 3, 0.
    if (n % 68 >= 64) {
        static constexpr uint8_t kBackground[] = {1, 2, 3, 0};
        number = kBackground[(n / 68) % 4];
    }
    Page p;
    p.fill(0xFF);
    p[0] = uint8_t(number | toggle);
    switch (number) {
    case 1: {
        const uint32_t op = uint32_t(t / 2.0);
        p[1] = uint8_t(op);
        p[2] = uint8_t(op >> 8);
        p[3] = uint8_t(op >> 16);
        break;
    }
    case 2:
        p[1] = uint8_t(FConfig.manufacturer.value_or(255));
        put16(p, 2, FConfig.serial.value_or(FConfig.deviceNumber)); // the serial's upper half
        break;
    case 3:
        p[1] = 1; // hardware version
        p[2] = 2; // software version
        p[3] = uint8_t(FConfig.model.value_or(3));
        break;
    case 4:
        put16(p, 2, previous);
        break;
    default:
        break;
    }
    put16(p, 4, eventTime);
    p[6] = uint8_t(beats & 0xFF);
    p[7] = FConfig.heartRate;
    return single(p);
}

// ---------------------------------------------------------------------------------------
// Console

SimConsole::SimConsole(const DeviceConfig &config, const Scenario &world) : SimDevice(config, world)
{
    FDeviceType = 18;
    FTransmissionType = config.transmissionType ? config.transmissionType : 1;
    FRfFrequency = 70;
    FPeriod = config.period ? config.period : 16150;
    FPublicNetwork = true;
}

Transmission SimConsole::transmit(Nanos now)
{
    const double t = toSeconds(now);
    Page p{};
    p[0] = 5;
    for (const auto &k : FWorld.keys)
        if (t >= k.at && t < k.at + k.hold)
            p[1 + unsigned(k.key)] = 1;
    p[5] = p[6] = p[7] = 0xFF;
    return single(p);
}

void SimConsole::receive(const Page &p, bool acknowledged, Nanos now)
{
    SimDevice::receive(p, acknowledged, now);
    if (p[0] == 0x0A)
        ++FKeepAlives;
}

std::unique_ptr<SimDevice> makeDevice(const DeviceConfig &config, const Scenario &world)
{
    switch (config.kind) {
    case DeviceKind::Trainer:
        return std::make_unique<SimTrainer>(config, world);
    case DeviceKind::HeartRate:
        return std::make_unique<SimHeartRate>(config, world);
    case DeviceKind::Console:
        return std::make_unique<SimConsole>(config, world);
    }
    return nullptr;
}

} // namespace antsim
