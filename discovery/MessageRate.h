#pragma once
// Messages per second over the last few seconds: a device that has just gone quiet drops
// towards zero instead of keeping its average since it was found.
#include <chrono>
#include <deque>

class TMessageRate {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kWindow{5};

    void Heard(TClock::time_point At);
    // Over the window, or since `Since` (the first message) when that is shorter; a span under
    // one second counts as one.
    double PerSecond(TClock::time_point Now, TClock::time_point Since) const;

private:
    std::deque<TClock::time_point> FTimes;
};
