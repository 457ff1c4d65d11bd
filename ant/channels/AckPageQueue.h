#pragma once
// A channel's acknowledged pages: at most one in flight, the others held until it ends.
//
// A stick refuses an acknowledged page while the previous one on the channel still waits for
// its verdict, and the refused page never reaches the device; several pages asked for in one
// go (diameter, level, capabilities request) would lose all but the first. Held pages keep
// one slot per page number, so the newest level, power or configuration wins, and go out in
// the order they were first asked for.
//
// Pure bookkeeping: every operation says what to send, the caller sends it after the call
// (never under the lock, the library may call back meanwhile). Used from the library's
// thread and the user-interface thread; each operation holds the mutex briefly.
#include "ant/profiles/AntTypes.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

class TAckPageQueue {
public:
    using TClock = std::chrono::steady_clock;

    // What happened to a page number, for the channel's log.
    enum class TChange : uint8_t {
        Held,      // asked for while another page is in flight
        Replaced,  // a newer page of the same number took the held one's slot
        Released,  // left the hold to go out
        Dropped,   // left the hold without going out (channel closed)
    };
    struct TNote {
        TChange Change;
        uint8_t PageNumber;
    };
    struct TOutcome {
        std::optional<TChannelSendPacket> Send; // hand this to the library now
        std::vector<TNote> Notes;
    };

    // How long a page in flight may wait for its verdict.
    void SetWaitLimit(TClock::duration Limit);
    TClock::duration WaitLimit() const;

    // A page to send: out at once when nothing is in flight, held otherwise.
    TOutcome Ask(const TChannelSendPacket &Page, TClock::time_point Now);
    // The verdicts of the page in flight.
    TOutcome Completed(TClock::time_point Now);
    // Sends the failed page again, or the newer page of its number when one is held.
    TOutcome Failed(TClock::time_point Now);
    // The stick refused the page in flight because another transfer is in progress there:
    // the page is held again and that transfer is waited for instead.
    TOutcome Refused(TClock::time_point Now);
    // Nothing in flight any more and nothing held (channel closed or deleted).
    TOutcome Drop();
    // Ends a wait that has had no verdict within the limit and lets the next page go.
    TOutcome Expire(TClock::time_point Now);

    bool InFlight() const;
    std::vector<TChannelSendPacket> HeldPages() const;

private:
    enum class TFlight : uint8_t { None, Ours, Foreign };

    void Hold(const TChannelSendPacket &Page, bool AtFront, TOutcome &Out);
    void StartFlight(const TChannelSendPacket &Page, TClock::time_point Now, TOutcome &Out);
    void ReleaseNext(TClock::time_point Now, TOutcome &Out);

    mutable std::mutex FMutex;
    TFlight FFlight = TFlight::None;
    TChannelSendPacket FInFlight{};
    TClock::time_point FDeadline{};
    TClock::duration FWaitLimit = std::chrono::seconds(1);
    std::vector<TChannelSendPacket> FHeld;
};
