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
    const double span = std::clamp(Seconds(Now - Since).count(), 1.0, Seconds(kWindow).count());
    const auto from = Now - std::chrono::duration_cast<TClock::duration>(Seconds(span));
    const auto n = std::count_if(FTimes.begin(), FTimes.end(), [&](auto t) { return t > from; });
    return double(n) / span;
}
