// The trainer's own calibration run, replayed on recorded page sequences.
#include "ant/profiles/TrainerCalibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr TTrainerCalibrationKinds ZeroOffset{true, false};
constexpr TTrainerCalibrationKinds SpinDown{false, true};
constexpr TTrainerCalibrationKinds Both{true, true};

// Page 2: pending bits, temperature condition (0-3), speed condition (0-3), raw fields.
TFePagePayload Progress(uint8_t Pending, uint8_t Temperature, uint8_t Speed, uint8_t RawTemperature,
                        uint16_t TargetSpeed, uint16_t TargetTime)
{
    return {0x02,
            Pending,
            static_cast<uint8_t>((Temperature << 4) | (Speed << 6) | 0x0F),
            RawTemperature,
            static_cast<uint8_t>(TargetSpeed & 0xFF),
            static_cast<uint8_t>(TargetSpeed >> 8),
            static_cast<uint8_t>(TargetTime & 0xFF),
            static_cast<uint8_t>(TargetTime >> 8)};
}

// Page 1 from the trainer.
TFePagePayload Response(uint8_t Succeeded, uint8_t RawTemperature, uint16_t Zero, uint16_t SpinDownMs)
{
    return {0x01,
            Succeeded,
            0xFF,
            RawTemperature,
            static_cast<uint8_t>(Zero & 0xFF),
            static_cast<uint8_t>(Zero >> 8),
            static_cast<uint8_t>(SpinDownMs & 0xFF),
            static_cast<uint8_t>(SpinDownMs >> 8)};
}

TFePagePayload General(uint16_t SpeedMmS)
{
    return {0x10, 25, 0, 0, static_cast<uint8_t>(SpeedMmS & 0xFF), static_cast<uint8_t>(SpeedMmS >> 8), 0xFF, 0x30};
}

TFePagePayload TrainerData(uint8_t Byte6) { return {0x19, 1, 90, 0, 0, 0x2C, Byte6, 0x30}; }

constexpr uint8_t TempOk = 2, TempLow = 1, SpeedLow = 1, SpeedOk = 2;
constexpr uint16_t Target32 = 8889; // 32.0 km/h in mm/s
constexpr uint8_t Raw20C = 90;      // (90 x 0.5) - 25

struct TrainerCalibrationRun : ::testing::Test {
    TTrainerCalibration Cal;
    std::vector<std::string> Lines;
    uint32_t Now = 100000;

    void SetUp() override
    {
        Cal.OnLog = [this](const std::string &Line) { Lines.push_back(Line); };
    }
    TTrainerCalibrationAction Feed(const TFePagePayload &Page, uint32_t AfterMs = 250)
    {
        Now += AfterMs;
        return Cal.Page(Page, Now);
    }
    TTrainerCalibrationAction TickAfter(uint32_t Ms)
    {
        Now += Ms;
        return Cal.Tick(Now);
    }
    bool Logged(const std::string &Line) const
    {
        return std::find(Lines.begin(), Lines.end(), "Trainer calibration: " + Line) != Lines.end();
    }
    bool AnyLineHas(const std::string &Text) const
    {
        return std::any_of(Lines.begin(), Lines.end(),
                           [&](const std::string &l) { return l.find(Text) != std::string::npos; });
    }
    void Requested(TTrainerCalibrationKinds Kinds)
    {
        const TTrainerCalibrationAction a = Cal.Start(Kinds, Now);
        ASSERT_EQ(a.Command, tccSendRequest);
        ASSERT_EQ(a.Kinds, Kinds);
        ASSERT_EQ(Cal.State(), tcsRequesting);
    }
};

} // namespace

// ---- endings of a run ------------------------------------------------------------------------

TEST_F(TrainerCalibrationRun, SpinDownFromRequestToResult)
{
    Requested(SpinDown);
    EXPECT_TRUE(Logged("spin-down requested"));
    Feed(General(3417)); // 12.3 km/h
    Feed(Progress(0x80, TempOk, SpeedLow, Raw20C, Target32, 0xFFFF));
    EXPECT_EQ(Cal.State(), tcsInProgress);
    EXPECT_EQ(Cal.Progress().Pending, SpinDown);
    EXPECT_EQ(Cal.Progress().SpeedCondition, cscTooLow);
    EXPECT_EQ(Cal.Progress().TemperatureCondition, ctcOk);
    EXPECT_NEAR(*Cal.Progress().TargetSpeed, 32.0, 0.01);
    EXPECT_NEAR(*Cal.Progress().CurrentSpeed, 12.3, 0.01);
    EXPECT_DOUBLE_EQ(*Cal.Progress().Temperature, 20.0);
    EXPECT_FALSE(Cal.Progress().TargetSpinDownTime);
    EXPECT_TRUE(Logged("trainer says speed too low (12.3 km/h of 32.0 km/h)"));
    EXPECT_TRUE(Logged("target speed 32.0 km/h"));

    // The same page four times a second and a moving wheel log nothing new.
    const size_t lines = Lines.size();
    for (uint16_t v = 4000; v < 8000; v += 500) {
        EXPECT_TRUE(Feed(General(v)).Changed) << "the speed beside the target moves";
        EXPECT_FALSE(Feed(Progress(0x80, TempOk, SpeedLow, Raw20C, Target32, 0xFFFF)).Changed);
    }
    EXPECT_EQ(Lines.size(), lines);

    Feed(General(9000));
    Feed(Progress(0x80, TempOk, SpeedOk, Raw20C, Target32, 7000));
    EXPECT_TRUE(Logged("trainer says speed OK (32.4 km/h of 32.0 km/h)"));
    EXPECT_TRUE(Logged("target spin-down time 7000 ms"));
    EXPECT_EQ(*Cal.Progress().TargetSpinDownTime, 7000);

    EXPECT_TRUE(Feed(Response(0x80, 92, 0xFFFF, 8123)).Changed);
    EXPECT_EQ(Cal.State(), tcsSucceeded);
    EXPECT_EQ(Cal.Result().Succeeded, SpinDown);
    EXPECT_FALSE(Cal.Result().Failed.Any());
    EXPECT_EQ(Cal.Result().SpinDownTime, 8123);
    EXPECT_FALSE(Cal.Result().ZeroOffset) << "the spin-down time is no zero offset";
    EXPECT_DOUBLE_EQ(*Cal.Result().Temperature, 21.0);
    EXPECT_TRUE(Logged("succeeded: spin-down time 8123 ms, 21.0 °C"));
    EXPECT_FALSE(Cal.Running());
    EXPECT_EQ(TickAfter(TTrainerCalibration::RunLimitMs).Command, tccNone) << "an ended run stays ended";
    EXPECT_EQ(Cal.State(), tcsSucceeded);
}

TEST_F(TrainerCalibrationRun, ZeroOffsetAndBothSucceed)
{
    Requested(ZeroOffset);
    Feed(Response(0x40, Raw20C, 1234, 0xFFFF));
    EXPECT_EQ(Cal.State(), tcsSucceeded) << "a zero offset may come without any page 2";
    EXPECT_EQ(Cal.Result().ZeroOffset, 1234);
    EXPECT_FALSE(Cal.Result().SpinDownTime);
    EXPECT_TRUE(Logged("zero offset requested"));
    EXPECT_TRUE(Logged("succeeded: zero offset 1234, 20.0 °C"));

    Requested(Both);
    EXPECT_TRUE(Logged("zero offset and spin-down requested"));
    Feed(Progress(0xC0, TempOk, SpeedOk, Raw20C, Target32, 0xFFFF));
    Feed(Progress(0x80, TempOk, SpeedOk, Raw20C, Target32, 0xFFFF));
    EXPECT_TRUE(Logged("spin-down pending"));
    Feed(Response(0xC0, Raw20C, 1300, 7500));
    EXPECT_EQ(Cal.State(), tcsSucceeded);
    EXPECT_EQ(Cal.Result().Succeeded, Both);
    EXPECT_EQ(Cal.Result().ZeroOffset, 1300);
    EXPECT_EQ(Cal.Result().SpinDownTime, 7500);
    EXPECT_TRUE(Logged("succeeded: zero offset 1300, spin-down time 7500 ms, 20.0 °C"));
}

TEST_F(TrainerCalibrationRun, TrainerThatAnswersOnlyZeroOffsetToBoth)
{
    Requested(Both);
    Feed(Progress(0xC0, TempOk, SpeedLow, Raw20C, Target32, 0xFFFF));
    // The spin-down field carries a number, but its kind did not succeed.
    Feed(Response(0x40, Raw20C, 1234, 5000));
    EXPECT_EQ(Cal.State(), tcsFailed);
    EXPECT_EQ(Cal.Result().Succeeded, ZeroOffset);
    EXPECT_EQ(Cal.Result().Failed, SpinDown);
    EXPECT_EQ(Cal.Result().ZeroOffset, 1234);
    EXPECT_FALSE(Cal.Result().SpinDownTime);
    EXPECT_TRUE(AnyLineHas("zero offset succeeded (zero offset 1234, 20.0 °C); spin-down failed (last heard: "
                           "speed too low"));
    EXPECT_EQ(Cal.EndText(), "The trainer reports that its spin-down calibration failed.");
}

TEST_F(TrainerCalibrationRun, FailureKeepsTheLastConditionsHeard)
{
    Requested(SpinDown);
    Feed(General(5000));
    Feed(Progress(0x80, TempOk, SpeedLow, Raw20C, Target32, 0xFFFF));
    Feed(Response(0x00, 0xFF, 0xFFFF, 0xFFFF));
    EXPECT_EQ(Cal.State(), tcsFailed);
    EXPECT_EQ(Cal.Result().Failed, SpinDown);
    EXPECT_FALSE(Cal.Result().Succeeded.Any());
    EXPECT_FALSE(Cal.Result().Temperature);
    EXPECT_EQ(Cal.Progress().SpeedCondition, cscTooLow);
    EXPECT_TRUE(Logged("spin-down failed (last heard: speed too low (18.0 km/h of 32.0 km/h), temperature OK "
                       "(20.0 °C))"));
}

TEST_F(TrainerCalibrationRun, TooColdThenWarmEnough)
{
    Requested(SpinDown);
    Feed(Progress(0x80, TempLow, SpeedLow, 79, Target32, 0xFFFF)); // 14.5 °C
    EXPECT_EQ(Cal.Progress().TemperatureCondition, ctcTooLow);
    EXPECT_DOUBLE_EQ(*Cal.Progress().Temperature, 14.5);
    EXPECT_TRUE(Logged("trainer says temperature too low (14.5 °C)"));
    // Warming by half degrees is no news until the trainer says it is warm enough.
    const size_t lines = Lines.size();
    for (uint8_t raw = 80; raw < 90; ++raw)
        EXPECT_TRUE(Feed(Progress(0x80, TempLow, SpeedLow, raw, Target32, 0xFFFF)).Changed);
    EXPECT_EQ(Lines.size(), lines);
    Feed(Progress(0x80, TempOk, SpeedLow, Raw20C, Target32, 0xFFFF));
    EXPECT_EQ(Cal.Progress().TemperatureCondition, ctcOk);
    EXPECT_TRUE(Logged("trainer says temperature OK (20.0 °C)"));
    Feed(Response(0x80, Raw20C, 0xFFFF, 6000));
    EXPECT_EQ(Cal.State(), tcsSucceeded);
}

// ---- the clock ----------------------------------------------------------------------------

TEST_F(TrainerCalibrationRun, UnansweredRequestIsSentThreeTimesMoreThenEnds)
{
    Now = 0xFFFFF000u; // the tick count wraps during the run
    Requested(ZeroOffset);
    EXPECT_EQ(TickAfter(1999).Command, tccNone);
    for (int n = 1; n <= 3; ++n) {
        Feed(TrainerData(0x00), 0);
        Feed(General(0), 0);
        const TTrainerCalibrationAction a = TickAfter(n == 1 ? 1 : 2000);
        ASSERT_EQ(a.Command, tccSendRequest) << n;
        EXPECT_EQ(a.Kinds, ZeroOffset);
        EXPECT_EQ(Cal.Resends(), n);
        EXPECT_EQ(TickAfter(1000).Command, tccNone);
        Now -= 1000;
    }
    EXPECT_TRUE(Logged("no answer within 2 s; zero offset request sent again (3 of 3)"));
    EXPECT_EQ(Cal.State(), tcsRequesting);
    const TTrainerCalibrationAction last = TickAfter(2000);
    EXPECT_EQ(last.Command, tccNone);
    EXPECT_TRUE(last.Changed);
    EXPECT_EQ(Cal.State(), tcsNotAnswered);
    EXPECT_EQ(Cal.EndText(),
              "The trainer did not answer the calibration request; it may not support this calibration.");
    EXPECT_TRUE(AnyLineHas(TTrainerCalibration::NotAnsweredText));
    EXPECT_EQ(TickAfter(2000).Command, tccNone);
    Feed(Response(0x40, Raw20C, 1, 0xFFFF));
    EXPECT_EQ(Cal.State(), tcsNotAnswered) << "a late answer does not reopen the run";
}

TEST_F(TrainerCalibrationRun, AnyAnswerEndsTheResends)
{
    Requested(SpinDown);
    Feed(Progress(0x80, TempOk, SpeedLow, Raw20C, Target32, 0xFFFF), 1500);
    for (int s = 0; s < 20; ++s)
        EXPECT_EQ(TickAfter(1000).Command, tccNone);
    EXPECT_EQ(Cal.Resends(), 0);
    EXPECT_EQ(Cal.State(), tcsInProgress);
}

TEST_F(TrainerCalibrationRun, RunEndsAtThreeMinutes)
{
    Requested(SpinDown);
    for (uint32_t t = 1000; t < TTrainerCalibration::RunLimitMs; t += 1000) {
        Feed(Progress(0x80, TempOk, SpeedLow, Raw20C, Target32, 0xFFFF), 1000);
        ASSERT_EQ(Cal.Tick(Now).Command, tccNone);
    }
    EXPECT_EQ(Cal.State(), tcsInProgress);
    const TTrainerCalibrationAction end = TickAfter(1000);
    EXPECT_TRUE(end.Changed);
    EXPECT_EQ(end.Command, tccSendCancel) << "the trainer is told to stop as well";
    EXPECT_EQ(Cal.State(), tcsTimedOut);
    EXPECT_EQ(Cal.EndText(), "The calibration did not end within 3 minutes.");
    EXPECT_TRUE(AnyLineHas("no result within 3 minutes (last heard: speed too low"));

    // A result that comes after the limit, before the clock has ticked, is too late as well.
    Requested(SpinDown);
    Now += TTrainerCalibration::RunLimitMs;
    EXPECT_EQ(Feed(Response(0x80, Raw20C, 0xFFFF, 7000), 0).Command, tccSendCancel);
    EXPECT_EQ(Cal.State(), tcsTimedOut);
    EXPECT_EQ(TickAfter(1000).Command, tccNone) << "one cancel";
    EXPECT_FALSE(Cal.Result().SpinDownTime);
}

TEST_F(TrainerCalibrationRun, CancelAsksForTheCancelRequestAndEndsTheRun)
{
    EXPECT_EQ(Cal.Cancel(Now).Command, tccNone) << "nothing to cancel";
    Requested(SpinDown);
    Feed(Progress(0x80, TempOk, SpeedLow, Raw20C, Target32, 0xFFFF));
    EXPECT_EQ(Cal.Cancel(Now).Command, tccSendCancel);
    EXPECT_EQ(Cal.State(), tcsCancelled);
    EXPECT_TRUE(Logged("cancelled; cancel request sent"));
    EXPECT_EQ(Cal.Cancel(Now).Command, tccNone) << "sent once";
    Feed(Response(0x80, Raw20C, 0xFFFF, 7000));
    EXPECT_EQ(Cal.State(), tcsCancelled);
    EXPECT_FALSE(Cal.Result().SpinDownTime);
}

TEST_F(TrainerCalibrationRun, RunStartedRightAfterAResultStartsFromNothing)
{
    Requested(SpinDown);
    EXPECT_EQ(Cal.Start(ZeroOffset, Now).Command, tccNone) << "one run at a time";
    EXPECT_EQ(Cal.Asked(), SpinDown);
    Feed(General(9000));
    Feed(Progress(0x80, TempLow, SpeedOk, 79, Target32, 7000));
    Feed(Response(0x80, 79, 0xFFFF, 7100));
    ASSERT_EQ(Cal.State(), tcsSucceeded);

    Lines.clear();
    Requested(ZeroOffset);
    EXPECT_EQ(Cal.Asked(), ZeroOffset);
    EXPECT_EQ(Cal.Progress().SpeedCondition, cscNotHeard);
    EXPECT_EQ(Cal.Progress().TemperatureCondition, ctcNotHeard);
    EXPECT_FALSE(Cal.Progress().Temperature);
    EXPECT_FALSE(Cal.Progress().TargetSpeed);
    EXPECT_FALSE(Cal.Progress().TargetSpinDownTime);
    EXPECT_FALSE(Cal.Progress().Pending.Any());
    EXPECT_NEAR(*Cal.Progress().CurrentSpeed, 32.4, 0.01) << "the wheel's speed is a live reading";
    EXPECT_EQ(Cal.Result(), TTrainerCalibrationResult{});
    EXPECT_TRUE(Cal.EndText().empty());
    // The new run has its own resends and its own limit.
    TickAfter(2000);
    EXPECT_EQ(Cal.Resends(), 1);
    Feed(Progress(0x40, TempOk, 0, Raw20C, Target32, 0xFFFF));
    EXPECT_FALSE(AnyLineHas("target speed")) << "a zero offset has no target speed";
    Feed(Response(0x40, Raw20C, 900, 0xFFFF));
    EXPECT_EQ(Cal.State(), tcsSucceeded);
    EXPECT_EQ(Cal.Result().ZeroOffset, 900);
    EXPECT_FALSE(Cal.Result().SpinDownTime);
}

// ---- what the trainer asks for -----------------------------------------------------------

TEST_F(TrainerCalibrationRun, RequiredKindsFromPage25)
{
    Feed(TrainerData(0x0F)); // power's high bits only
    EXPECT_FALSE(Cal.Required().Any());
    EXPECT_TRUE(Lines.empty());
    EXPECT_TRUE(Feed(TrainerData(0x2F)).Changed);
    EXPECT_EQ(Cal.Required(), SpinDown);
    EXPECT_TRUE(Logged("trainer asks for spin-down calibration"));
    Feed(TrainerData(0x20));
    Feed(TrainerData(0x30));
    EXPECT_EQ(Cal.Required(), Both);
    EXPECT_EQ(Lines.size(), 2u) << "only changes are logged";
    Requested(ZeroOffset);
    EXPECT_EQ(Cal.Required(), Both) << "the trainer's wish is no part of a run";
    Feed(TrainerData(0x40));
    EXPECT_FALSE(Cal.Required().Any()) << "bit 6 asks for the user configuration";
    EXPECT_TRUE(Logged("trainer asks for no calibration"));
}

// ---- pages that are not what they seem -----------------------------------------------------

TEST_F(TrainerCalibrationRun, UnknownAndReservedFieldsAreNotNumbers)
{
    Requested(SpinDown);
    Feed(General(0xFFFF));
    Feed(Progress(0x80, 0, 3, 0xFF, 0xFFFF, 0xFFFF));
    const TTrainerCalibrationProgress &p = Cal.Progress();
    EXPECT_EQ(p.SpeedCondition, cscReserved);
    EXPECT_EQ(p.TemperatureCondition, ctcNotApplicable);
    EXPECT_FALSE(p.Temperature);
    EXPECT_FALSE(p.TargetSpeed);
    EXPECT_FALSE(p.TargetSpinDownTime);
    EXPECT_FALSE(p.CurrentSpeed);
    EXPECT_TRUE(Logged("trainer says speed condition reserved value 3"));
    EXPECT_TRUE(Logged("trainer says temperature does not matter (temperature unknown)"));
    Feed(Progress(0x80, TempOk, SpeedLow, 0xFF, 0xFFFF, 0xFFFF));
    EXPECT_TRUE(Logged("trainer says speed too low (speed and target unknown)"));
    Feed(General(1000));
    Feed(Progress(0x80, TempOk, SpeedOk, 0xFF, 0xFFFF, 0xFFFF));
    EXPECT_TRUE(Logged("trainer says speed OK (3.6 km/h; target unknown)"));
    for (const std::string &l : Lines) {
        EXPECT_EQ(l.find("-25.0"), std::string::npos) << l; // 0xFF read as a temperature
        EXPECT_EQ(l.find("235.9"), std::string::npos) << l; // 0xFFFF read as a speed
        EXPECT_EQ(l.find("65535"), std::string::npos) << l;
    }
    Feed(Response(0x80, 0xFF, 0xFFFF, 0xFFFF));
    EXPECT_EQ(Cal.State(), tcsSucceeded);
    EXPECT_FALSE(Cal.Result().SpinDownTime);
    EXPECT_FALSE(Cal.Result().Temperature);
    EXPECT_TRUE(Logged("succeeded: spin-down time not given, temperature unknown"));
}

TEST_F(TrainerCalibrationRun, ProgressOfAKindNotAskedForIsIgnored)
{
    Requested(ZeroOffset);
    EXPECT_FALSE(Feed(Progress(0x80, TempOk, SpeedLow, Raw20C, Target32, 0xFFFF)).Changed);
    Feed(Progress(0x80, TempOk, SpeedOk, Raw20C, Target32, 0xFFFF));
    EXPECT_EQ(Cal.State(), tcsRequesting);
    EXPECT_EQ(Cal.Progress().SpeedCondition, cscNotHeard);
    EXPECT_EQ(std::count(Lines.begin(), Lines.end(),
                         "Trainer calibration: progress page for spin-down, which was not asked for; ignored"),
              1);
    Feed(Progress(0x00, TempOk, SpeedOk, Raw20C, Target32, 0xFFFF));
    EXPECT_TRUE(Logged("progress page for no calibration, which was not asked for; ignored"));
    EXPECT_EQ(TickAfter(2000).Command, tccSendRequest) << "no answer to our request";

    // Both pending while only zero offset was asked: ours is pending, the other is not shown.
    Feed(Progress(0xC0, TempOk, 0, Raw20C, Target32, 0xFFFF));
    EXPECT_EQ(Cal.State(), tcsInProgress);
    EXPECT_EQ(Cal.Progress().Pending, ZeroOffset);
}

TEST_F(TrainerCalibrationRun, ResultWithoutSuccessBitsOrForOtherKinds)
{
    Requested(Both);
    Feed(Response(0x00, Raw20C, 1234, 6000));
    EXPECT_EQ(Cal.State(), tcsFailed);
    EXPECT_EQ(Cal.Result().Failed, Both);
    EXPECT_FALSE(Cal.Result().ZeroOffset);
    EXPECT_FALSE(Cal.Result().SpinDownTime);
    EXPECT_TRUE(Logged("zero offset and spin-down failed (no progress heard; result at 20.0 °C)"));

    Requested(SpinDown);
    Feed(Response(0x7F, Raw20C, 1234, 6000)); // reserved bits and zero offset, no spin-down
    EXPECT_EQ(Cal.State(), tcsFailed);
    EXPECT_EQ(Cal.Result().Failed, SpinDown);
    EXPECT_FALSE(Cal.Result().Succeeded.Any());
    EXPECT_FALSE(Cal.Result().ZeroOffset) << "not asked for, not shown";
    EXPECT_TRUE(Logged("result also reports zero offset, which was not asked for; ignored"));
}

TEST(TrainerCalibrationPages, DecodedInFull)
{
    const TTrainerCalibrationProgress p =
        DecodeTrainerCalibrationProgress({0x02, 0xC0, 0x60, 0x00, 0xE8, 0x03, 0x10, 0x27});
    EXPECT_EQ(p.Pending, Both);
    EXPECT_EQ(p.TemperatureCondition, ctcOk);
    EXPECT_EQ(p.SpeedCondition, cscTooLow);
    EXPECT_DOUBLE_EQ(*p.Temperature, -25.0) << "raw 0 is a temperature, only 0xFF is not";
    EXPECT_DOUBLE_EQ(*p.TargetSpeed, 3.6);
    EXPECT_EQ(*p.TargetSpinDownTime, 10000);
    EXPECT_EQ(DecodeTrainerCalibrationProgress({0x02, 0, 0x30, 0xFE, 0, 0, 0, 0}).TemperatureCondition, ctcTooHigh);
    EXPECT_DOUBLE_EQ(*DecodeTrainerCalibrationProgress({0x02, 0, 0, 0xFE, 0, 0, 0, 0}).Temperature, 102.0);

    const TTrainerCalibrationResponse r =
        DecodeTrainerCalibrationResponse({0x01, 0xC0, 0x00, 0x64, 0x34, 0x12, 0xB8, 0x1F});
    EXPECT_EQ(r.Succeeded, Both);
    EXPECT_DOUBLE_EQ(*r.Temperature, 25.0);
    EXPECT_EQ(*r.ZeroOffset, 0x1234);
    EXPECT_EQ(*r.SpinDownTime, 8120);
    EXPECT_EQ(TrainerCalibrationKindsText({}), "no calibration");
}
