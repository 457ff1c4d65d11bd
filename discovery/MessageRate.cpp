#include "discovery/MessageRate.h"

#include <algorithm>

void TMessageRate::Heard(TClock::time_point At)
{
    FTimes.push_back(At);
    while (!FTimes.empty() && At - FTimes.front() > kWindow)
        FTimes.pop_front();
}

double TMessageRate::PerSecond(TClock::time_point Now, TClock::time_point Since) const
{
    using Seconds = std::chrono::duration<double>;
    // Messages in (from, Now]: a device found by the message at `Since` counts the intervals
    // after it, not the fence post too (4.2/s for a 4 Hz trainer a few seconds after it was found).
    const auto from = std::max(Now - std::chrono::duration_cast<TClock::duration>(kWindow), Since);
    const double span = std::max(Seconds(Now - from).count(), 1.0);
    const auto n = std::count_if(FTimes.begin(), FTimes.end(), [&](auto t) { return t > from; });
    return double(n) / span;
}
