// The trainer's own calibration through the whole stack: the trainer device on the real
// library and its in-process virtual stick, whose trainer calibrates by its own model.
#include "../ant/LogLines.h"
#include "TarvoVirtualStick.h"

#include "antsim/CoastModel.h"
#include "antsim/Scenario.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using tvs::TPage;

const TTrainerCalibrationKinds SpinDown{false, true};
const TTrainerCalibrationKinds ZeroOffset{true, false};

// One device on one scenario, connected the way the calibration window connects it.
class TCalibrationSession {
public:
    TCalibrationSession(const char *Name, const std::string &Lines) : Scenario(Name, Lines), ScenarioText(Lines)
    {
        Device.OnChannelConnected = [this](TObject *, TAntChannel *Channel) {
            if (Channel->AntChannelProfile() == acpAntFE)
                ++TrainerConnected;
        };
        Device.OnTrainerCalibrationChange = [this](TObject *) { ++Changes; };
        tvs::SetUpAsTheWindow(Device, Log);
    }
    ~TCalibrationSession()
    {
        if (Device.AntComControl()->AntDeviceList()->Count() > 0)
            Device.Disconnect();
    }

    bool Connect()
    {
        Device.Connect();
        return tvs::PumpFor([this] { return TrainerConnected.load() > 0; }, 20000);
    }
    // Starts and waits for the run's end; the milliseconds it took, or -1 past the limit.
    long long Calibrate(TTrainerCalibrationKinds Kinds, int LimitMs)
    {
        const auto start = TestClock::now();
        if (!Device.StartTrainerCalibration(Kinds))
            return -1;
        if (!tvs::PumpFor([this] { return !Device.TrainerCalibrationRunning(); }, LimitMs))
            return -1;
        return MsSince(start);
    }
    antsim::DeviceConfig Trainer() const { return antsim::parseScenario(ScenarioText).devices.at(0); }

    tvs::TScenario Scenario;
    std::string ScenarioText;
    TStringList Log;
    TTarvoDeviceAntP Device{nullptr};
    std::atomic<int> TrainerConnected{0};
    std::atomic<int> Changes{0};
};

bool IsCalibrationPage(const TPage &Page) { return Page[0] == 0x01; }

TEST(TarvoCalibrationVirtualStick, ATrainerWithoutCalibrationIsAskedFourTimesThenNotAnswered)
{
    TCalibrationSession s("calibration-none", "seed 1\ntrainer 4242 calibration=none\nrider 0 150 85\n");
    ASSERT_TRUE(s.Connect()) << s.Log.Text();

    const long long took = s.Calibrate(SpinDown, 10000);
    ASSERT_GE(took, 0) << "no end within 10 s\n" << s.Log.Text();
    const TTrainerCalibrationView v = s.Device.TrainerCalibration();
    EXPECT_EQ(v.State, tcsNotAnswered);
    EXPECT_EQ(v.EndText, TTrainerCalibration::NotAnsweredText);
    EXPECT_EQ(v.Resends, 3);
    EXPECT_GE(s.Changes.load(), 5) << "the start, three resends and the end";

    const std::vector<double> taken = s.Scenario.TimesTaken(IsCalibrationPage);
    EXPECT_EQ(taken.size(), 4u);
    EXPECT_EQ(s.Scenario.TimesTaken(TPage{0x01, 0x80, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}).size(), 4u);
    for (size_t i = 1; i < taken.size(); ++i)
        EXPECT_NEAR(taken[i] - taken[i - 1], 2.0, 0.6) << "resend " << i;
}

TEST(TarvoCalibrationVirtualStick, AFailingTrainerEndsTheRunAsFailedWithItsReason)
{
    TCalibrationSession s("calibration-fail", "seed 1\ntrainer 4242 calibration=fail\nrider 0 150 85 follows\n");
    ASSERT_TRUE(s.Connect()) << s.Log.Text();

    ASSERT_GE(s.Calibrate(ZeroOffset, 30000), 0) << s.Log.Text();
    const TTrainerCalibrationView v = s.Device.TrainerCalibration();
    EXPECT_EQ(v.State, tcsFailed);
    EXPECT_EQ(v.EndText, "The trainer reports that its zero offset calibration failed.");
    EXPECT_EQ(v.Result.Failed, ZeroOffset);
    EXPECT_FALSE(v.Result.ZeroOffset.has_value());
    EXPECT_GE(LogLinesEndingWith(s.Log, "Trainer calibration: zero offset requested"), 1);
}

TEST(TarvoCalibrationVirtualStick, ASpinDownWithAFollowingRiderTakesTheTimeTheFlywheelNeeds)
{
    TCalibrationSession s("calibration-spindown", "seed 1\ntrainer 4242 calibration=spindown\nrider 0 300 90 follows\n");
    ASSERT_TRUE(s.Connect()) << s.Log.Text();
    // The rider's weight goes into the run-down; the trainer is told it before the request.
    constexpr int RiderKg = 80;
    s.Device.SetRiderWeight(RiderKg);
    ASSERT_TRUE(tvs::PumpFor(
        [&] {
            return !s.Scenario
                        .TimesTaken([](const TPage &p) { return p[0] == 0x37 && (p[1] | p[2] << 8) == RiderKg * 100; })
                        .empty();
        },
        5000));

    ASSERT_GE(s.Calibrate(SpinDown, 90000), 0) << s.Log.Text();
    const TTrainerCalibrationView v = s.Device.TrainerCalibration();
    ASSERT_EQ(v.State, tcsSucceeded) << v.EndText << "\n" << s.Log.Text();
    EXPECT_EQ(v.Result.Succeeded, SpinDown);
    ASSERT_TRUE(v.Result.SpinDownTime.has_value());
    const double expected = antsim::expectedSpinDownSeconds(s.Trainer(), RiderKg);
    EXPECT_NEAR(*v.Result.SpinDownTime / 1000.0, expected, expected * 0.10);
    EXPECT_EQ(v.Resends, 0);
    EXPECT_GE(LogLinesEndingWith(s.Log, "Trainer calibration: trainer answered; spin-down in progress"), 1);
}

} // namespace
