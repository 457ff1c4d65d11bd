#include "antsim/VirtualTransport.h"

#include "antsim/TraceReplay.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace antsim {

VirtualTransport::VirtualTransport(Scenario scenario, NetworkKeys keys)
    : VirtualTransport(makeSimulatedStick(std::move(scenario), keys))
{
}

VirtualTransport::VirtualTransport(std::unique_ptr<StickEngine> engine)
    : FStart(Clock::now()), FStick(std::move(engine))
{
}

VirtualTransport::~VirtualTransport()
{
    close();
}

Nanos VirtualTransport::now() const
{
    return std::chrono::duration_cast<Nanos>(Clock::now() - FStart);
}

std::string VirtualTransport::serialNumber() const
{
    return FStick->serialNumber();
}

uint64_t VirtualTransport::framesDropped() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FFramesDropped;
}

void VirtualTransport::collect()
{
    // The engine's output is whole frames; one that does not fit is dropped whole, so a host
    // that stops reading loses messages but never reads a cut frame.
    const auto out = FStick->takeOutput();
    size_t at = 0;
    while (at + 2 <= out.size()) {
        const size_t frame = std::min(out.size() - at, size_t(out[at + 1]) + 4);
        if (FPending.size() + frame <= kMaxPending)
            FPending.insert(FPending.end(), out.begin() + long(at), out.begin() + long(at + frame));
        else
            ++FFramesDropped;
        at += frame;
    }
}

bool VirtualTransport::write(const uint8_t *data, size_t size)
{
    std::lock_guard<std::mutex> lock(FLock);
    const Nanos t = now();
    if (FClosed || FStick->unplugged(t))
        return false;
    FStick->receive(data, size, t);
    collect();
    FWake.notify_all();
    return true;
}

int VirtualTransport::read(uint8_t *buffer, size_t capacity, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(FLock);
    const bool forever = timeoutMs < 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (FClosed)
            return -1;
        const Nanos t = now();
        if (FStick->unplugged(t))
            return -1;
        FStick->advance(t);
        collect();
        if (!FPending.empty()) {
            const size_t n = std::min(capacity, FPending.size());
            std::copy_n(FPending.begin(), n, buffer);
            FPending.erase(FPending.begin(), FPending.begin() + n);
            return int(n);
        }
        if (capacity == 0)
            return 0;
        const Nanos due = FStick->nextDue();
        Clock::time_point wake = Clock::time_point::max();
        if (due != VirtualStick::kNever)
            wake = FStart + due;
        if (!forever) {
            if (Clock::now() >= deadline)
                return 0;
            wake = std::min(wake, deadline);
        }
        if (wake == Clock::time_point::max())
            FWake.wait(lock);
        else
            FWake.wait_until(lock, wake);
    }
}

void VirtualTransport::close()
{
    std::lock_guard<std::mutex> lock(FLock);
    FClosed = true;
    FWake.notify_all();
}

namespace {

double replaySpeed(const std::function<void(const std::string &)> &report)
{
    const char *env = std::getenv("FENNICK_REPLAY_SPEED");
    if (!env || !*env)
        return 1.0;
    char *end = nullptr;
    const double speed = std::strtod(env, &end);
    if (*end != '\0' || !(speed > 0) || speed > 1e6) {
        report(std::string("FENNICK_REPLAY_SPEED is not a speed-up factor, replaying in real time: ") + env);
        return 1.0;
    }
    return speed;
}

} // namespace

std::unique_ptr<antwire::Transport> makeVirtualTransport(
    const std::string &scenario, const std::function<void(const std::string &)> &report)
{
    try {
        constexpr std::string_view kReplay = "replay:";
        if (scenario.rfind(kReplay, 0) == 0)
            return std::make_unique<VirtualTransport>(
                makeTraceReplay(scenario.substr(kReplay.size()), replaySpeed(report), report));
        std::string warning;
        NetworkKeys keys = NetworkKeys::fromEnvironment(&warning);
        if (!warning.empty())
            report(warning);
        return std::make_unique<VirtualTransport>(loadScenario(scenario), keys);
    } catch (const ScenarioError &e) {
        report(e.what());
        return nullptr;
    }
}

} // namespace antsim
