// The hold of acknowledged pages: alone on a clock of its own, then on a channel over the
// recording library, where the verdicts arrive as the library's events and responses would.
#include "ChannelEventsFixture.h"

#include "ant/AntComControl.h"
#include "ant/channels/AckPageQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using TQueue = TAckPageQueue;
using TPage = TChannelSendPacket;

const TPage Diameter = BuildUserConfigurationPage(0, 740, false);
const TPage Request = BuildRequestCapabilitiesPage();
TPage Level(uint8_t l) { return BuildBasicResistancePage(l); }

struct QueueFixture : ::testing::Test {
    TQueue Q;
    TQueue::TClock::time_point T0 = TQueue::TClock::now();
    std::vector<TPage> Sent;
    TQueue::TOutcome Note(TQueue::TOutcome Out)
    {
        if (Out.Send)
            Sent.push_back(*Out.Send);
        return Out;
    }
};

} // namespace

TEST_F(QueueFixture, HeldPagesKeepOneSlotPerNumberInFirstAskedOrder)
{
    Note(Q.Ask(Level(10), T0));
    const auto held = Note(Q.Ask(Diameter, T0));
    ASSERT_EQ(held.Notes.size(), 1u);
    EXPECT_EQ(held.Notes[0].Change, TQueue::TChange::Held);
    EXPECT_EQ(held.Notes[0].PageNumber, 55);
    Note(Q.Ask(Level(20), T0));
    Note(Q.Ask(Request, T0));
    const auto replaced = Note(Q.Ask(Level(30), T0));
    EXPECT_EQ(replaced.Notes[0].Change, TQueue::TChange::Replaced);
    EXPECT_EQ(Q.HeldPages(), (std::vector<TPage>{Diameter, Level(30), Request}));
    EXPECT_EQ(Sent, std::vector<TPage>{Level(10)}) << "one page in flight, the rest held";

    for (int i = 0; i < 3; ++i)
        Note(Q.Completed(T0));
    EXPECT_EQ(Sent, (std::vector<TPage>{Level(10), Diameter, Level(30), Request}));
    EXPECT_TRUE(Q.InFlight());
    EXPECT_FALSE(Note(Q.Completed(T0)).Send);
    EXPECT_FALSE(Q.InFlight());
    EXPECT_EQ(Note(Q.Ask(Level(40), T0)).Send, Level(40)) << "nothing in flight: out at once";
}

TEST_F(QueueFixture, FailedPageGoesAgainUnlessANewerOneOfItsNumberWaits)
{
    Note(Q.Ask(Level(10), T0));
    Note(Q.Ask(Request, T0));
    EXPECT_EQ(Note(Q.Failed(T0)).Send, Level(10)) << "the failed page, not the later request";
    Note(Q.Ask(Level(50), T0));
    const auto out = Note(Q.Failed(T0));
    EXPECT_EQ(out.Send, Level(50));
    EXPECT_EQ(Q.HeldPages(), std::vector<TPage>{Request});
    Note(Q.Completed(T0));
    EXPECT_EQ(Sent, (std::vector<TPage>{Level(10), Level(10), Level(50), Request}));
}

TEST_F(QueueFixture, RefusedPageIsHeldFirstAndWaitsForTheTransferInProgress)
{
    Note(Q.Ask(Diameter, T0));
    Note(Q.Ask(Request, T0));
    EXPECT_FALSE(Note(Q.Refused(T0)).Send);
    EXPECT_EQ(Q.HeldPages(), (std::vector<TPage>{Diameter, Request}));
    // The verdict of the foreign transfer frees the way; its failure has nothing of ours to repeat.
    EXPECT_EQ(Note(Q.Failed(T0)).Send, Diameter);

    // A refused page whose number already waits with a newer value gives way to it.
    Note(Q.Ask(Level(10), T0));
    Note(Q.Completed(T0)); // request out
    Note(Q.Completed(T0)); // level 10 out
    Note(Q.Ask(Level(20), T0));
    Note(Q.Refused(T0));
    EXPECT_EQ(Q.HeldPages(), std::vector<TPage>{Level(20)});
}

TEST_F(QueueFixture, NoVerdictWithinTheLimitEndsTheWaitAndDropForgetsEverything)
{
    Q.SetWaitLimit(AcknowledgedWaitLimit(8192));
    EXPECT_EQ(Q.WaitLimit(), std::chrono::steady_clock::duration(1s));
    EXPECT_EQ(AcknowledgedWaitLimit(4096), std::chrono::steady_clock::duration(500ms));
    EXPECT_EQ(AcknowledgedWaitLimit(0), AcknowledgedWaitLimit(8192)) << "no rate: the usual 4 Hz";

    Note(Q.Ask(Level(10), T0));
    Note(Q.Ask(Diameter, T0));
    EXPECT_FALSE(Note(Q.Expire(T0 + 999ms)).Send);
    const auto expired = Note(Q.Expire(T0 + 1s));
    EXPECT_EQ(expired.Send, Diameter);
    ASSERT_EQ(expired.Notes.size(), 1u);
    EXPECT_EQ(expired.Notes[0].Change, TQueue::TChange::Released);
    // The released page has a wait of its own; an ask past it goes out itself.
    EXPECT_EQ(Note(Q.Ask(Request, T0 + 2500ms)).Send, Request);

    Note(Q.Ask(Level(20), T0 + 2500ms));
    Note(Q.Ask(Diameter, T0 + 2500ms));
    const auto dropped = Q.Drop();
    EXPECT_FALSE(dropped.Send);
    ASSERT_EQ(dropped.Notes.size(), 2u);
    EXPECT_EQ(dropped.Notes[1].Change, TQueue::TChange::Dropped);
    EXPECT_FALSE(Q.InFlight());
    EXPECT_TRUE(Q.HeldPages().empty());
    EXPECT_EQ(Note(Q.Ask(Level(30), T0 + 2500ms)).Send, Level(30));
}

// ---- on a channel ----------------------------------------------------------------------------

struct ChannelHold : ChannelEventsFixture {
    void SetUp() override
    {
        Use(acpAntFE);
        Ch->SetConnected(true);
    }
    std::vector<TPage> Sent() const
    {
        std::vector<TPage> out;
        for (const auto &c : Lib.Calls("ANT_SendAcknowledgedData"))
            out.push_back(c.Data);
        return out;
    }
    void Refusal()
    {
        Resp[0] = Number;
        Resp[1] = 0x4F;
        Resp[2] = 0x1F;
        Ch->ResponseFunc(Number, 0x40);
    }
};

TEST_F(ChannelHold, CommandsAskedTogetherGoOutOneVerdictAtATime)
{
    Ch->SetWheelDiameter(740);
    Ch->SendResistance(80);
    Ch->SendResistance(90);
    Ch->QueueAcknowledged(Request);
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Ch->SendPacket(), Level(90)) << "the last page the channel built, as before";
    EXPECT_TRUE(Logged("Acknowledged page 48 held until the page in flight ends"));
    EXPECT_TRUE(Logged("Acknowledged page 48 held in place of the older one"));
    EXPECT_TRUE(Logged("ANT_SendAcknowledgedData - SendResistance [90]")) << "the command logs as before";

    Event(events::TransferTxCompleted);
    Event(events::TransferTxCompleted);
    EXPECT_TRUE(Logged("Acknowledged page 48 leaves the hold"));
    Event(events::TransferTxCompleted);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0][0], 55);
    EXPECT_EQ(sent[1], Level(90));
    EXPECT_EQ(sent[2], Request);
    for (const auto &c : Lib.Calls("ANT_SendAcknowledgedData"))
        EXPECT_EQ(c.Args[0], Number);
}

TEST_F(ChannelHold, RefusalHoldsThePageAgainAndClosingDropsTheHold)
{
    Ch->SendResistance(40);
    Refusal();
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Ch->AcknowledgedPages().HeldPages(), std::vector<TPage>{Level(40)});
    Event(events::TransferTxCompleted); // the other transfer's verdict
    EXPECT_EQ(Sent(), (std::vector<TPage>{Level(40), Level(40)}));

    Ch->SendResistance(50);
    Ch->QueueAcknowledged(Request);
    Event(events::ChannelClosed);
    EXPECT_TRUE(Logged("Acknowledged page 48 leaves the hold: dropped"));
    EXPECT_TRUE(Ch->AcknowledgedPages().HeldPages().empty());
    Ch->SetConnected(true);
    Ch->SendResistance(60);
    EXPECT_EQ(Sent().back(), Level(60)) << "nothing waits after the close";
    EXPECT_EQ(Sent().size(), 3u);
}

TEST_F(ChannelHold, AnEventPastTheWaitLimitLetsTheNextPageGo)
{
    Ch->SetMessagePeriod(328); // 4 periods: 40 ms
    Ch->SendResistance(40);
    Ch->QueueAcknowledged(Request);
    Event(events::RxBroadcast, {0x10});
    EXPECT_EQ(Sent().size(), 1u) << "within the limit the page still waits";
    std::this_thread::sleep_for(60ms);
    Event(events::RxBroadcast, {0x10});
    EXPECT_EQ(Sent(), (std::vector<TPage>{Level(40), Request}));
}

namespace {
class TTestControl : public TAntComControl {
public:
    using TAntComControl::TAntComControl;

protected:
    bool LoadLibrary() override { return true; }
    bool FreeLibrary() override { return true; }
};
} // namespace

TEST(ControllerHold, ControllerSendsShareTheHoldAndCloseOrDeleteDropIt)
{
    TFakeAntLib lib;
    TTestControl ctl(nullptr);
    ctl.SetDelay(0);
    ctl.LoadDll();
    for (bool closeIt : {true, false}) {
        TStringList log;
        TAntChannel *ch = ctl.AntChannelList()->Add();
        ch->SetLogStrings(&log);
        ch->SetDebugMode(true);
        ch->SetAntChannelProfile(acpAntFE);
        ch->SetConnected(true);
        ch->SendResistance(40);
        ctl.SendAcknowledgedData(ch, Request);
        ctl.SendUserConfiguration(ch);
        EXPECT_EQ(ch->AcknowledgedPages().HeldPages().size(), 2u);
        EXPECT_EQ(lib.Calls("ANT_SendAcknowledgedData").size(), 1u);
        if (closeIt) {
            ctl.CloseChannel(ch);
            EXPECT_TRUE(ch->AcknowledgedPages().HeldPages().empty());
            EXPECT_FALSE(ch->AcknowledgedPages().InFlight());
            ctl.DeleteChannel(ch);
        } else {
            // A channel the library already closed is deleted without the close.
            ch->SetConnected(false);
            ctl.DeleteChannel(ch);
        }
        EXPECT_EQ(LogLinesEndingWith(log, "leaves the hold: dropped"), 2);
        EXPECT_EQ(lib.Calls("ANT_SendAcknowledgedData").size(), 1u);
        lib.Clear();
    }
}
