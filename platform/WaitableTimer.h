#pragma once
// A periodic, auto-reset timer that a thread waits on (a timerfd). Cancel() ends a wait in
// progress at once, and every later one, so a loop blocked on it never outlives its owner's
// wish to stop. Any thread may cancel; one thread waits.
#include <cstdint>

class TWaitableTimer {
public:
    enum TWait { wtExpired, wtTimeout, wtCancelled };

    TWaitableTimer();
    ~TWaitableTimer();
    TWaitableTimer(const TWaitableTimer &) = delete;
    TWaitableTimer &operator=(const TWaitableTimer &) = delete;

    // First due after periodMs, then every periodMs. False when there is no positive period
    // or the system refused the timer.
    bool Arm(int32_t periodMs);
    void Cancel();
    // Waits for the next expiry, at most limitMs (INFINITE: no limit). Expiries missed while
    // nobody waited collapse into one.
    TWait Wait(uint32_t limitMs);

private:
    int FTimerFd = -1;
    int FCancelFd = -1;
};
