// The trainer calibration run on the recording fake library: what it sends on the trainer
// channel, when its clock resends and ends it, and what it refuses. The run's clock reads a
// time the test moves; its timer is real and ticks on the pumped user-interface thread.
#include "../ant/FakeAntLib.h"
#include "TestSupport.h"

#include "ant/channels/AntChannelList.h"
#include "device/TrainerCalibrationRun.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Bytes = std::array<uint8_t, 8>;

const Bytes SpinDownRequest{0x01, 0x80, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const Bytes CancelRequest{0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const TTrainerCalibrationKinds SpinDown{false, true};

struct TrainerCalibrationRunFixture : ::testing::Test {
    TFakeAntLib Lib;
    TAntChannelList List{nullptr};
    TAntChannel *Ch = List.Add();
    std::atomic<TAntChannel *> Offered{Ch};
    // Near the wrap, so that resends and the limit are timed across it.
    std::atomic<uint32_t> NowMs{0xFFFFF000u};
    std::atomic<int> Changes{0};
    std::mutex LogMutex;
    std::vector<std::string> Lines;
    TTrainerCalibrationRun Run{Hooks()};

    TTrainerCalibrationRun::THooks Hooks()
    {
        TTrainerCalibrationRun::THooks h;
        h.TrainerChannel = [this] { return Offered.load(); };
        h.Log = [this](const std::string &Line) {
            std::lock_guard<std::mutex> lock(LogMutex);
            Lines.push_back(Line);
        };
        h.Changed = [this] { ++Changes; };
        h.Clock = [this] { return NowMs.load(); };
        return h;
    }

    void SetUp() override
    {
        Ch->SetChannelNumber(1);
        Ch->SetAntChannelProfile(acpAntFE);
        Ch->SetConnected(true);
    }

    // Every acknowledged page that went out; the one in flight is confirmed first, so that
    // a page held behind it goes out too.
    std::vector<Bytes> Sent()
    {
        Ch->AcknowledgedCompleted();
        std::vector<Bytes> out;
        for (const TFakeAntCall &c : Lib.Calls("ANT_SendAcknowledgedData"))
            out.push_back(c.Data);
        return out;
    }
    bool Logged(const std::string &Line)
    {
        std::lock_guard<std::mutex> lock(LogMutex);
        for (const std::string &l : Lines)
            if (l == Line)
                return true;
        return false;
    }
    void Advance(uint32_t Ms) { NowMs += Ms; }
};

TEST_F(TrainerCalibrationRunFixture, StartIsRefusedWithoutATrainerAKindOrWhileARunGoesOn)
{
    Offered = nullptr;
    EXPECT_FALSE(Run.Start(SpinDown));
    Offered = Ch;
    Ch->SetConnected(false);
    EXPECT_FALSE(Run.Start(SpinDown));
    EXPECT_TRUE(Logged("Trainer calibration: not started: no trainer connected"));
    Ch->SetConnected(true);
    EXPECT_FALSE(Run.Start({}));
    EXPECT_TRUE(Logged("Trainer calibration: not started: no calibration kind chosen"));
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Changes.load(), 0);
    EXPECT_FALSE(Run.ClockRunning());

    ASSERT_TRUE(Run.Start(SpinDown));
    EXPECT_EQ(Sent(), std::vector<Bytes>{SpinDownRequest});
    EXPECT_TRUE(Run.ClockRunning());
    EXPECT_EQ(Run.View().State, tcsRequesting);
    EXPECT_EQ(Changes.load(), 1);
    EXPECT_TRUE(Logged("Trainer calibration: spin-down requested"));

    EXPECT_FALSE(Run.Start({true, false}));
    EXPECT_TRUE(Logged("Trainer calibration: not started: a calibration is already running"));
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Run.View().Asked, SpinDown);
}

TEST_F(TrainerCalibrationRunFixture, TheClockResendsThreeTimesThenEndsAsNotAnswered)
{
    ASSERT_TRUE(Run.Start(SpinDown));
    Run.Tick();
    EXPECT_EQ(Sent().size(), 1u) << "no resend before the answer's wait is over";
    // The real timer does the ticking from here on.
    for (int resend = 1; resend <= 3; ++resend) {
        Advance(TTrainerCalibration::AnswerWaitMs);
        ASSERT_TRUE(PumpUntil([&] { return Sent().size() == size_t(resend) + 1; })) << "resend " << resend;
        EXPECT_EQ(Run.View().Resends, resend);
    }
    Advance(TTrainerCalibration::AnswerWaitMs);
    ASSERT_TRUE(PumpUntil([&] { return !Run.Running(); }));
    const TTrainerCalibrationView v = Run.View();
    EXPECT_EQ(v.State, tcsNotAnswered);
    EXPECT_EQ(v.EndText, TTrainerCalibration::NotAnsweredText);
    EXPECT_EQ(Sent(), std::vector<Bytes>(4, SpinDownRequest));
    EXPECT_TRUE(PumpUntil([&] { return !Run.ClockRunning(); })) << "the clock runs only during a run";
}

TEST_F(TrainerCalibrationRunFixture, TheLimitEndsARunInProgressAndTellsTheTrainerToStop)
{
    ASSERT_TRUE(Run.Start(SpinDown));
    Run.Page(Ch, {0x02, 0x80, 0xA0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(Run.View().State, tcsInProgress);
    Advance(TTrainerCalibration::RunLimitMs - 1);
    Run.Tick();
    EXPECT_TRUE(Run.Running());
    Advance(1);
    Run.Tick();
    EXPECT_EQ(Run.View().State, tcsTimedOut);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{SpinDownRequest, CancelRequest}));
    EXPECT_FALSE(Run.ClockRunning());
    EXPECT_TRUE(Run.Start(SpinDown)) << "a new run at once";
}

TEST_F(TrainerCalibrationRunFixture, CancelSendsTheCancelOnlyDuringARun)
{
    Run.Cancel();
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Changes.load(), 0);

    ASSERT_TRUE(Run.Start(SpinDown));
    Run.Cancel();
    EXPECT_EQ(Sent(), (std::vector<Bytes>{SpinDownRequest, CancelRequest}));
    EXPECT_EQ(Run.View().State, tcsCancelled);
    EXPECT_FALSE(Run.ClockRunning());
    EXPECT_TRUE(Run.Start(SpinDown));
    EXPECT_TRUE(Run.View().EndText.empty()) << "a new run has not ended";
}

} // namespace
