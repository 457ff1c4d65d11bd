#include "ant/channels/AckPageQueue.h"

#include <algorithm>

void TAckPageQueue::SetWaitLimit(TClock::duration Limit)
{
    std::lock_guard lock(FMutex);
    FWaitLimit = Limit;
}

TAckPageQueue::TClock::duration TAckPageQueue::WaitLimit() const
{
    std::lock_guard lock(FMutex);
    return FWaitLimit;
}

bool TAckPageQueue::InFlight() const
{
    std::lock_guard lock(FMutex);
    return FFlight != TFlight::None;
}

std::vector<TChannelSendPacket> TAckPageQueue::HeldPages() const
{
    std::lock_guard lock(FMutex);
    return FHeld;
}

void TAckPageQueue::Hold(const TChannelSendPacket &Page, bool AtFront, TOutcome &Out)
{
    const auto same = std::find_if(FHeld.begin(), FHeld.end(),
                                   [&](const TChannelSendPacket &p) { return p[0] == Page[0]; });
    if (same != FHeld.end()) {
        // A page coming back to the hold is older than one of its number already there.
        if (!AtFront)
            *same = Page;
        Out.Notes.push_back({TChange::Replaced, Page[0]});
        return;
    }
    FHeld.insert(AtFront ? FHeld.begin() : FHeld.end(), Page);
    Out.Notes.push_back({TChange::Held, Page[0]});
}

void TAckPageQueue::StartFlight(const TChannelSendPacket &Page, TClock::time_point Now, TOutcome &Out)
{
    FFlight = TFlight::Ours;
    FInFlight = Page;
    FDeadline = Now + FWaitLimit;
    Out.Send = Page;
}

void TAckPageQueue::ReleaseNext(TClock::time_point Now, TOutcome &Out)
{
    FFlight = TFlight::None;
    if (FHeld.empty())
        return;
    const TChannelSendPacket next = FHeld.front();
    FHeld.erase(FHeld.begin());
    Out.Notes.push_back({TChange::Released, next[0]});
    StartFlight(next, Now, Out);
}

TAckPageQueue::TOutcome TAckPageQueue::Ask(const TChannelSendPacket &Page, TClock::time_point Now)
{
    std::lock_guard lock(FMutex);
    TOutcome out;
    if (FFlight != TFlight::None && Now >= FDeadline)
        ReleaseNext(Now, out);
    if (FFlight == TFlight::None)
        StartFlight(Page, Now, out);
    else
        Hold(Page, false, out);
    return out;
}

TAckPageQueue::TOutcome TAckPageQueue::Completed(TClock::time_point Now)
{
    std::lock_guard lock(FMutex);
    TOutcome out;
    ReleaseNext(Now, out);
    return out;
}

TAckPageQueue::TOutcome TAckPageQueue::Failed(TClock::time_point Now)
{
    std::lock_guard lock(FMutex);
    TOutcome out;
    if (FFlight != TFlight::Ours) {
        // Not a page of ours: nothing to send again, the wait is over all the same.
        ReleaseNext(Now, out);
        return out;
    }
    const auto newer = std::find_if(FHeld.begin(), FHeld.end(),
                                    [&](const TChannelSendPacket &p) { return p[0] == FInFlight[0]; });
    if (newer == FHeld.end()) {
        StartFlight(FInFlight, Now, out);
        return out;
    }
    const TChannelSendPacket page = *newer;
    FHeld.erase(newer);
    out.Notes.push_back({TChange::Released, page[0]});
    StartFlight(page, Now, out);
    return out;
}

TAckPageQueue::TOutcome TAckPageQueue::Refused(TClock::time_point Now)
{
    std::lock_guard lock(FMutex);
    TOutcome out;
    if (FFlight == TFlight::Ours)
        Hold(FInFlight, true, out);
    // Whatever the stick carries ends with a verdict of its own; the hold waits for that.
    FFlight = TFlight::Foreign;
    FDeadline = Now + FWaitLimit;
    return out;
}

TAckPageQueue::TOutcome TAckPageQueue::Drop()
{
    std::lock_guard lock(FMutex);
    TOutcome out;
    FFlight = TFlight::None;
    for (const TChannelSendPacket &p : FHeld)
        out.Notes.push_back({TChange::Dropped, p[0]});
    FHeld.clear();
    return out;
}

TAckPageQueue::TOutcome TAckPageQueue::Expire(TClock::time_point Now)
{
    std::lock_guard lock(FMutex);
    TOutcome out;
    if (FFlight != TFlight::None && Now >= FDeadline)
        ReleaseNext(Now, out);
    return out;
}
