#include "platform/TickCount.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

const Clock::time_point &Epoch()
{
    static const Clock::time_point epoch = Clock::now();
    return epoch;
}

uint32_t ElapsedMs()
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Epoch()).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

std::atomic<uint32_t> &Offset()
{
    static std::atomic<uint32_t> offset{[] {
        Epoch();
        const char *env = std::getenv("FENNICK_TICK_START");
        if (!env || !*env)
            return 0u;
        char *end = nullptr;
        unsigned long long v = std::strtoull(env, &end, 0);
        return (end && *end == '\0') ? static_cast<uint32_t>(v) : 0u;
    }()};
    return offset;
}

} // namespace

uint32_t GetTickCount()
{
    uint32_t offset = Offset().load(std::memory_order_relaxed);
    return offset + ElapsedMs();
}

void SetTickCountStart(uint32_t start)
{
    std::atomic<uint32_t> &offset = Offset();
    offset.store(start - ElapsedMs(), std::memory_order_relaxed);
}
