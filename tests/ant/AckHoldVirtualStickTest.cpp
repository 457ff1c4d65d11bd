// Acknowledged pages through the real library and the virtual stick: an FE-C channel
// connected through the controller, several pages asked for in one user-interface turn,
// and what the trainer took, as the stick's host log records it.
#include "VirtualTrainerSession.h"

#include "../antrequests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using vts::TPage;

const TPage Request = BuildRequestCapabilitiesPage();

int Count(const std::vector<TPage> &Pages, const TPage &Page)
{
    return int(std::count(Pages.begin(), Pages.end(), Page));
}

bool HeardCapabilities(vts::TVirtualTrainerSession &s)
{
    for (const TPage &p : s.PagesFromTrainer())
        if (p[0] == 54)
            return true;
    return false;
}

// Asks the trainer for its general settings (page 17, acknowledged) and returns the
// resistance level it reports, or -1.
int LevelTheTrainerHolds(vts::TVirtualTrainerSession &s)
{
    s.Ctl.SendAcknowledgedData(s.Ch, TPage{0x46, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 17, 0x01});
    int level = -1;
    vts::Pump([&] {
        for (const TPage &p : s.PagesFromTrainer())
            if (p[0] == 17)
                level = p[6];
        return level >= 0;
    }, 5000);
    return level;
}

} // namespace

TEST(AckHoldVirtualStick, PagesAskedTogetherAtConnectionAllReachTheTrainerInOrder)
{
    vts::TVirtualTrainerSession s("ack-order");
    ASSERT_TRUE(s.Ready());
    TPage diameter{}, level{};
    s.OnConnected = [&] {
        // What the window does for a trainer that needs its wheel first; the sequencer's
        // capabilities request follows in the same turn.
        s.Ch->SetWheelDiameter(740);
        diameter = s.Ch->SendPacket();
        s.Ch->SendResistance(80);
        s.Ch->SendResistance(90);
        level = s.Ch->SendPacket();
    };
    ASSERT_TRUE(s.Connect());
    // Far below the 14 s repeat: only the hold can bring all three in time.
    ASSERT_TRUE(vts::Pump([&] { return s.AcknowledgedPages().size() >= 3 && HeardCapabilities(s); }, 5000));
    EXPECT_EQ(s.AcknowledgedPages(), (std::vector<TPage>{diameter, level, Request}))
        << "the newer level took the older one's place";
    const auto pages = s.HostPages();
    EXPECT_LT(pages.back().StickSeconds - pages.front().StickSeconds, 1.0);

    EXPECT_EQ(LevelTheTrainerHolds(s), 90);
    EXPECT_EQ(s.EventsHeard(0x06), 0) << "no failure in this world";
}

TEST(AckHoldVirtualStick, HalfTheTransfersFailingStillDeliversEveryPageOnce)
{
    vts::TVirtualTrainerSession s("ack-failure", "ack_failure 0.5\n");
    ASSERT_TRUE(s.Ready());
    TPage diameter{}, level{};
    s.OnConnected = [&] {
        s.Ch->SetWheelDiameter(740);
        diameter = s.Ch->SendPacket();
        s.Ch->SendResistance(90);
        level = s.Ch->SendPacket();
    };
    ASSERT_TRUE(s.Connect());
    ASSERT_TRUE(vts::Pump([&] { return s.AcknowledgedPages().size() >= 3 && HeardCapabilities(s); }, 10000));
    vts::Pump([] { return false; }, 600); // a late resend would show up here
    EXPECT_EQ(s.AcknowledgedPages(), (std::vector<TPage>{diameter, level, Request}));

    // Each page went out until the trainer took it and never again after: the sends form one
    // run per page, in the order of the host log.
    const auto sent = s.SentPages();
    std::vector<TPage> runs;
    for (const TPage &p : sent)
        if (runs.empty() || runs.back() != p)
            runs.push_back(p);
    EXPECT_EQ(runs, (std::vector<TPage>{diameter, level, Request}));
    EXPECT_EQ(int(sent.size()), 3 + s.EventsHeard(0x06)) << "one send more for each failure";
    EXPECT_GT(Count(sent, diameter) + Count(sent, level) + Count(sent, Request), 3)
        << "with this seed some transfers fail";
}
