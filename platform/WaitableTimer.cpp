#include "platform/WaitableTimer.h"

#include "platform/Event.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

TWaitableTimer::TWaitableTimer()
{
    FTimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    FCancelFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TWaitableTimer::~TWaitableTimer()
{
    if (FTimerFd >= 0)
        close(FTimerFd);
    if (FCancelFd >= 0)
        close(FCancelFd);
}

bool TWaitableTimer::Arm(int32_t periodMs)
{
    if (periodMs <= 0 || FTimerFd < 0 || FCancelFd < 0)
        return false;
    itimerspec period{};
    period.it_interval.tv_sec = periodMs / 1000;
    period.it_interval.tv_nsec = static_cast<long>(periodMs % 1000) * 1000000L;
    period.it_value = period.it_interval;
    return timerfd_settime(FTimerFd, 0, &period, nullptr) == 0;
}

void TWaitableTimer::Cancel()
{
    if (FCancelFd < 0)
        return;
    const uint64_t one = 1;
    // Only fails when the counter is saturated, which still reads as cancelled.
    [[maybe_unused]] ssize_t n = write(FCancelFd, &one, sizeof one);
}

TWaitableTimer::TWait TWaitableTimer::Wait(uint32_t limitMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    pollfd fds[2] = {{FCancelFd, POLLIN, 0}, {FTimerFd, POLLIN, 0}};
    for (;;) {
        int timeout = -1;
        if (limitMs != INFINITE) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = left > 0 ? static_cast<int>(left) : 0;
        }
        const int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[0].revents & POLLIN))
            return wtCancelled; // the cancel counter stays set: every later wait ends too
        if (fds[1].revents & POLLIN) {
            uint64_t expiries = 0;
            if (read(FTimerFd, &expiries, sizeof expiries) == sizeof expiries && expiries > 0)
                return wtExpired;
            continue; // read raced nothing useful; wait again
        }
        if (ready == 0)
            return wtTimeout;
    }
}
