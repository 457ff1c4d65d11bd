// The simulated trainer's calibration, driven as the radio drives the trainer: a message every
// 0.25 s, page-1 requests from the host in between.
#include "antsim/FecPages.h"
#include "antsim/SimDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using namespace antsim;

namespace {

constexpr uint8_t kZero = 0x40;
constexpr uint8_t kSpin = 0x80;

uint16_t field16(const Page &p, size_t at)
{
    return uint16_t(p[at] | (p[at + 1] << 8));
}

class TrainerRun {
public:
    explicit TrainerRun(const std::string &scenario)
        : world(parseScenario(scenario)), trainer(world.devices.at(0), world)
    {
    }

    void send(const Page &page) { trainer.receive(page, true, now); }
    void request(uint8_t kinds) { send({fec::kCalibrationResponse, kinds, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}); }

    // Plays the trainer's messages for up to `seconds`; stops after the first result when asked.
    std::optional<Page> run(double seconds, bool untilResult = true)
    {
        const Nanos end = now + fromSeconds(seconds);
        while (now < end) {
            now += fromSeconds(0.25);
            const Page p = trainer.transmit(now).packets.at(0);
            if (p[0] == fec::kCalibrationProgress)
                progress.push_back(p);
            else if (p[0] == fec::kTrainerData)
                lastTrainerData = p;
            if (p[0] == fec::kCalibrationResponse) {
                results.push_back(p);
                if (untilResult)
                    return p;
            }
        }
        return std::nullopt;
    }
    double spinDownSeconds(double riderKg = 75.0) const
    {
        return expectedSpinDownSeconds(world.devices[0], riderKg);
    }

    Scenario world;
    SimTrainer trainer;
    Nanos now{0};
    std::vector<Page> progress;
    std::vector<Page> results;
    Page lastTrainerData{};
};

const char *kFollowingRider = "rider 0 300 90 follows\n";

// The spin-down time (s) a following rider gets on this trainer.
double measuredSpinDown(TrainerRun &run)
{
    run.run(3, false);
    run.request(kSpin);
    const std::optional<Page> result = run.run(120);
    if (!result || (*result)[1] != kSpin)
        return -1;
    return field16(*result, 6) / 1000.0;
}

} // namespace

TEST(SimCalibration, SpinDownWithAFollowingRiderTakesTheModelsTime)
{
    TrainerRun run(std::string("trainer 1 calibration=spindown\n") + kFollowingRider);
    const double seconds = measuredSpinDown(run);
    const double expected = run.spinDownSeconds();
    EXPECT_GT(expected, 5.0);
    EXPECT_LT(expected, 10.0);
    EXPECT_NEAR(seconds, expected, expected * 0.02);

    // The trainer asked for speed, then said it was enough; it gave its target and expectation.
    ASSERT_FALSE(run.progress.empty());
    EXPECT_EQ(run.progress.front()[1], kSpin);
    EXPECT_EQ(run.progress.front()[2] >> 6, 1);        // speed too low
    EXPECT_EQ(run.progress.back()[2] >> 6, 2);         // speed OK
    EXPECT_EQ((run.progress.back()[2] >> 4) & 3, 2);   // temperature OK
    EXPECT_EQ(run.progress.back()[3], (20 + 25) * 2);  // 20 °C
    EXPECT_EQ(field16(run.progress.back(), 4), 8889);  // 32 km/h in mm/s
    EXPECT_NEAR(field16(run.progress.back(), 6), expected * 1000.0, 1.0);

    // The rider was still at the end of the run-down and pedals again after the result.
    EXPECT_EQ(run.lastTrainerData[2], 0);
    run.run(2, false);
    EXPECT_EQ(run.lastTrainerData[2], 90);
    EXPECT_FALSE(run.trainer.calibration().running());
}

TEST(SimCalibration, SpinDownTimeFollowsFlywheelRiderAndRollingResistance)
{
    TrainerRun base(std::string("trainer 1\n") + kFollowingRider);
    TrainerRun heavyFlywheel(std::string("trainer 1 flywheel=30\n") + kFollowingRider);
    TrainerRun rough(std::string("trainer 1 rolling_resistance=0.012\n") + kFollowingRider);
    TrainerRun fast(std::string("trainer 1 calibration_speed=40\n") + kFollowingRider);
    TrainerRun heavyRider(std::string("trainer 1\n") + kFollowingRider);
    heavyRider.send({fec::kUserConfiguration, 0xE0, 0x2E, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}); // 120 kg

    const double t = measuredSpinDown(base);
    ASSERT_GT(t, 0);
    EXPECT_GT(measuredSpinDown(heavyFlywheel), t * 1.3);
    EXPECT_LT(measuredSpinDown(rough), t * 0.95);
    EXPECT_GT(measuredSpinDown(fast), t * 1.1);
    const double heavy = measuredSpinDown(heavyRider);
    EXPECT_LT(heavy, t * 0.98);
    EXPECT_NEAR(heavy, heavyRider.spinDownSeconds(120.0), heavy * 0.02);
    EXPECT_NEAR(field16(heavyRider.progress.back(), 6), heavyRider.spinDownSeconds(120.0) * 1000.0, 1.0);
}

TEST(SimCalibration, ZeroOffsetNeedsTwoStillSecondsAndReportsTheOffsetWithNoise)
{
    // This rider ignores the trainer and stops by the clock.
    TrainerRun run("trainer 1 zero_offset=500\nrider 0 200 80\nrider 10 0 0\n");
    run.run(2, false);
    run.request(kZero);
    const std::optional<Page> result = run.run(30);
    ASSERT_TRUE(result);
    EXPECT_GE(toSeconds(run.now), 12.0);
    EXPECT_LE(toSeconds(run.now), 12.75);
    EXPECT_EQ((*result)[1], kZero);
    EXPECT_NEAR(field16(*result, 4), 500, 3);
    EXPECT_EQ(field16(*result, 6), 0xFFFF);
    for (const Page &p : run.progress) {
        EXPECT_EQ(p[1], kZero);
        EXPECT_EQ(p[2] >> 6, 0); // speed does not matter
        EXPECT_EQ(field16(p, 4), 0xFFFF);
        EXPECT_EQ(field16(p, 6), 0xFFFF);
    }

    // The noise comes from the seed: the same seed gives the same offset, others differ.
    auto offsetWithSeed = [](int seed) {
        TrainerRun r("seed " + std::to_string(seed) + "\ntrainer 1 zero_offset=500\n");
        r.request(kZero);
        const std::optional<Page> p = r.run(10);
        return p ? int(field16(*p, 4)) : -1;
    };
    std::vector<int> offsets;
    for (int seed = 1; seed <= 12; ++seed) {
        offsets.push_back(offsetWithSeed(seed));
        EXPECT_NEAR(offsets.back(), 500, 3);
    }
    EXPECT_EQ(offsetWithSeed(5), offsets[4]);
    EXPECT_NE(std::count(offsets.begin(), offsets.end(), offsets[0]), long(offsets.size()));
}

TEST(SimCalibration, BothKindsRunSpinDownFirstAndAnswerInOneResult)
{
    TrainerRun run(std::string("trainer 1\n") + kFollowingRider);
    run.run(3, false);
    run.request(kZero | kSpin);
    const std::optional<Page> result = run.run(120);
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)[1], kZero | kSpin);
    EXPECT_NEAR(field16(*result, 4), 1234, 3);
    EXPECT_NEAR(field16(*result, 6) / 1000.0, run.spinDownSeconds(), run.spinDownSeconds() * 0.02);
    ASSERT_FALSE(run.progress.empty());
    EXPECT_EQ(run.progress.front()[1], kZero | kSpin);
    EXPECT_EQ(run.progress.back()[1], kZero); // the spin-down was done first
}

TEST(SimCalibration, TrainersAnswerOnlyTheKindsTheyCanDo)
{
    // Asked for both, a spin-down-only trainer runs and reports the spin-down alone.
    TrainerRun spinOnly(std::string("trainer 1 calibration=spindown\n") + kFollowingRider);
    spinOnly.run(3, false);
    spinOnly.request(kZero | kSpin);
    std::optional<Page> result = spinOnly.run(120);
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)[1], kSpin);
    EXPECT_EQ(field16(*result, 4), 0xFFFF);
    for (const Page &p : spinOnly.progress)
        EXPECT_EQ(p[1], kSpin);

    // Asked only for what it cannot do, it says "failed" at once, without progress.
    TrainerRun zeroOnly(std::string("trainer 1 calibration=zero\n") + kFollowingRider);
    zeroOnly.request(kSpin);
    result = zeroOnly.run(1);
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)[1], 0x00);
    EXPECT_EQ(field16(*result, 6), 0xFFFF);
    EXPECT_TRUE(zeroOnly.progress.empty());

    // Without calibration the trainer does not know the page, nor its cancel.
    TrainerRun none(std::string("trainer 1 calibration=none\n") + kFollowingRider);
    none.request(kZero | kSpin);
    EXPECT_FALSE(none.run(20));
    none.request(0);
    none.request(kZero);
    EXPECT_FALSE(none.run(20));
    EXPECT_TRUE(none.progress.empty());
    EXPECT_EQ(none.lastTrainerData[2], 90); // its rider never had a reason to stop
}

TEST(SimCalibration, FailingTrainerRunsItsProgressThenAnswersFailed)
{
    // It gives up with the condition it had: this rider cannot reach 32 km/h on a free flywheel.
    TrainerRun slow("trainer 1 calibration=fail\nrider 0 150 85\n");
    slow.run(3, false);
    slow.request(kSpin);
    std::optional<Page> result = slow.run(20);
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)[1], 0x00);
    EXPECT_EQ(field16(*result, 4), 0xFFFF);
    EXPECT_EQ(field16(*result, 6), 0xFFFF);
    EXPECT_NEAR(toSeconds(slow.now), 3.0 + SimCalibration::kFailAfterSeconds, 0.75);
    ASSERT_GE(slow.progress.size(), 8u);
    EXPECT_EQ(slow.progress.back()[1], kSpin);
    EXPECT_EQ(slow.progress.back()[2] >> 6, 1); // speed too low

    // A zero offset with still pedals ends sooner, and fails too.
    TrainerRun still("trainer 1 calibration=fail calibration_required=zero\n");
    still.request(kZero);
    result = still.run(20);
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)[1], 0x00);
    EXPECT_EQ(field16(*result, 4), 0xFFFF);
    EXPECT_LT(toSeconds(still.now), 3.0);
    still.run(1, false);
    EXPECT_EQ(still.lastTrainerData[6] & 0x30, 0x10); // still wanted after the failure
}

TEST(SimCalibration, ColdTrainerWantsPedallingBeforeItsSpinDown)
{
    TrainerRun run(std::string("trainer 1 temperature=10\n") + kFollowingRider);
    run.run(1, false);
    run.request(kSpin);
    const std::optional<Page> result = run.run(170);
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)[1], kSpin);
    EXPECT_NEAR(field16(*result, 6) / 1000.0, run.spinDownSeconds(), run.spinDownSeconds() * 0.02);
    EXPECT_GE((*result)[3], (15 + 25) * 2);

    // Too cold first, with the speed already there; then warm enough.
    const Page &first = run.progress.front();
    EXPECT_EQ((first[2] >> 4) & 3, 1);
    EXPECT_EQ(first[3], (10 + 25) * 2);
    bool coldAtSpeed = false;
    for (const Page &p : run.progress)
        coldAtSpeed = coldAtSpeed || (((p[2] >> 4) & 3) == 1 && (p[2] >> 6) == 2);
    EXPECT_TRUE(coldAtSpeed);
    EXPECT_EQ((run.progress.back()[2] >> 4) & 3, 2);
    // 15 °C needs 15 kJ at 300 W: the spin-down cannot have begun before 50 s.
    EXPECT_GT(toSeconds(run.now), 1.0 + 50.0 + run.spinDownSeconds());
}

TEST(SimCalibration, CancelStopsAtOnceAndRunsCanFollowEachOther)
{
    TrainerRun run(std::string("trainer 1\n") + kFollowingRider);
    run.run(3, false);
    run.request(kSpin);
    run.run(8, false); // up to speed and coasting
    ASSERT_TRUE(run.trainer.calibration().brakeReleased());
    run.request(0);
    run.progress.clear();
    EXPECT_FALSE(run.run(15));
    EXPECT_TRUE(run.progress.empty());
    EXPECT_EQ(run.lastTrainerData[2], 90);

    // A new request starts from the beginning, and another right after its result.
    run.request(kSpin);
    std::optional<Page> result = run.run(120);
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)[1], kSpin);
    EXPECT_NEAR(field16(*result, 6) / 1000.0, run.spinDownSeconds(), run.spinDownSeconds() * 0.02);
    run.request(kZero);
    result = run.run(20);
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)[1], kZero);
    EXPECT_EQ(run.results.size(), 2u); // the first run's repeat was dropped for the new one
}

TEST(SimCalibration, RequiredKindsClearWithTheirSuccess)
{
    TrainerRun run(std::string("trainer 1 calibration_required=both\n") + kFollowingRider);
    run.run(1, false);
    EXPECT_EQ(run.lastTrainerData[6] & 0x30, 0x30);
    run.request(kSpin);
    ASSERT_TRUE(run.run(120));
    run.run(1, false);
    EXPECT_EQ(run.lastTrainerData[6] & 0x30, 0x10); // the zero offset is still wanted
}
