// A ride on the virtual trainer, through the real library and its in-process virtual stick,
// with the device set up and driven the way the calibration window drives it.
#include "TarvoVirtualStick.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace {

using tvs::TPage;

constexpr uint8_t RxBroadcast = 0x9A;
constexpr uint8_t RxFail = 0x02;
constexpr uint8_t RxFailGoToSearch = 0x08;

// The device of one test, its scenario, and what the trainer's channel and the statistics
// tick saw. The trainer's speed is read from the general pages themselves, not from the
// channel's record, so that a fault in the decoding shows too.
class TRide {
public:
    TRide(const char *Name, const std::string &ScenarioLines) : Scenario(Name, ScenarioLines)
    {
        Device.OnChannelConnected = [this](TObject *, TAntChannel *Channel) {
            if (Channel->AntChannelProfile() != acpAntFE)
                return;
            ConnectedAt = TestClock::now();
            if (OnTrainerConnected)
                OnTrainerConnected();
            ++TrainerConnected;
        };
        Device.OnStats = [this](TObject *) {
            std::lock_guard lock(FMutex);
            FTrainerAtTick.push_back(RawSpeed.load());
            FSpeedAtTick.push_back(Device.Speed());
        };
        tvs::SetUpAsTheWindow(Device, Log);
        Device.ChannelTrainer()->OnChannelEvent = [this](TObject *Sender, uint8_t, uint8_t ucEvent) {
            NoteEvent(static_cast<TAntChannel *>(Sender), ucEvent);
        };
    }
    ~TRide()
    {
        if (Device.AntComControl()->AntDeviceList()->Count() > 0)
            Device.Disconnect();
    }

    bool Connect()
    {
        Device.Connect();
        return tvs::PumpFor([this] { return TrainerConnected.load() > 0; }, 20000);
    }
    int Ticks()
    {
        std::lock_guard lock(FMutex);
        return int(FSpeedAtTick.size());
    }
    std::vector<double> TrainerAtTick()
    {
        std::lock_guard lock(FMutex);
        return FTrainerAtTick;
    }
    std::vector<double> SpeedAtTick()
    {
        std::lock_guard lock(FMutex);
        return FSpeedAtTick;
    }

    tvs::TScenario Scenario;
    TStringList Log;
    TTarvoDeviceAntP Device{nullptr};
    std::function<void()> OnTrainerConnected;
    std::atomic<int> TrainerConnected{0};
    TestClock::time_point ConnectedAt{};
    std::atomic<double> RawSpeed{0};
    std::atomic<int> GeneralPages{0};
    std::atomic<int> RxFails{0};
    std::atomic<int> WentToSearch{0};

private:
    // Library's thread.
    void NoteEvent(TAntChannel *Channel, uint8_t ucEvent)
    {
        if (ucEvent == RxFail)
            ++RxFails;
        if (ucEvent == RxFailGoToSearch)
            ++WentToSearch;
        if (ucEvent != RxBroadcast)
            return;
        const double kmh = tvs::GeneralPageSpeedKmh(Channel->ReceiveRow());
        if (kmh < 0)
            return;
        RawSpeed = kmh;
        ++GeneralPages;
    }

    std::mutex FMutex;
    std::vector<double> FTrainerAtTick;
    std::vector<double> FSpeedAtTick;
};

double MeanOfLastThree(const std::vector<double> &Samples, size_t Upto)
{
    double sum = 0;
    for (size_t i = Upto + 1 >= 3 ? Upto - 2 : 0; i <= Upto; ++i)
        sum += Samples[i];
    return sum / 3;
}

} // namespace

TEST(TarvoDeviceRide, AConnectedHandlerSettingTheWheelAndALevelHasBothOnTheTrainerWithinASecond)
{
    // What the window does at the trainer's connection for unit type 13; the capabilities
    // request of the connection goes out in the same turn.
    TRide r("unit13", "seed 1\ntrainer 4242\nrider 0 150 85\n");
    r.OnTrainerConnected = [&r] {
        r.Device.SetDiameter(74);
        r.Device.SetTarvoResistance(90);
    };
    ASSERT_TRUE(r.Connect()) << r.Log.Text();
    ASSERT_EQ(r.Device.ChannelTrainer()->RepeatCommandInterval(), 14000) << "only the repeat could be late";

    const auto connectedAt = r.ConnectedAt;
    EXPECT_TRUE(tvs::PumpFor([&] { return !r.Scenario.TimesTaken(tvs::Level(90)).empty(); }, 1000))
        << "level 90 reached the trainer " << MsSince(connectedAt) << " ms after the connection";
    EXPECT_TRUE(tvs::PumpFor([&] {
        return !r.Scenario.TimesTaken([](const TPage &p) { return tvs::GivesDiameter(p, 74); }).empty();
    }, 1000)) << "the wheel of 74 mm never reached the trainer";
    // The level the trainer is left with is the level asked for last.
    ::PumpFor(300);
    uint8_t lastLevel = 0;
    for (const tvs::THostPage &p : r.Scenario.HostPages())
        if (p.Acknowledged && p.Page[0] == 0x30)
            lastLevel = p.Page[7];
    EXPECT_EQ(lastLevel, 90);
}

namespace {

// Each tick's speed is the mean of the trainer's last three speeds, zeros counted while the
// average fills up.
void ExpectSpeedAveragedOverThreeTicks(TRide &r)
{
    const std::vector<double> trainer = r.TrainerAtTick();
    const std::vector<double> speed = r.SpeedAtTick();
    ASSERT_GE(speed.size(), 4u);
    for (size_t i = 0; i < speed.size(); ++i)
        EXPECT_NEAR(speed[i], MeanOfLastThree(trainer, i), 0.5) << "tick " << i;
    EXPECT_GT(speed.back(), 3.0) << "the rider is pedalling";
}

// Pumps until the stick has seen Count deliveries of level L; their stick times.
std::vector<double> WaitForLevelTaken(TRide &r, uint8_t L, size_t Count, int LimitMs)
{
    tvs::PumpFor([&] { return r.Scenario.TimesTaken(tvs::Level(L)).size() >= Count; }, LimitMs);
    return r.Scenario.TimesTaken(tvs::Level(L));
}

} // namespace

TEST(TarvoDeviceRide, SpeedFollowsTheTrainerItsLevelSlowsItIsRepeatedAndSurvivesADropout)
{
    TRide r("ride", "seed 1\ntrainer 4242\nrider 0 150 85\ndropout 18 6 trainer\n");
    // The repeat of the last command, shortened so that several fit in the test.
    r.Device.ChannelTrainer()->SetRepeatCommandInterval(3000);
    ASSERT_TRUE(r.Connect()) << r.Log.Text();
    EXPECT_TRUE(r.Device.Connected());

    r.Device.SetTimerStatsInterval(1000);
    r.Device.Start();
    ASSERT_TRUE(tvs::PumpFor([&] { return r.Ticks() >= 5; }, 7000));
    ExpectSpeedAveragedOverThreeTicks(r);

    const double before = r.RawSpeed.load();
    r.Device.SetTarvoResistance(107);
    std::vector<double> taken = WaitForLevelTaken(r, 107, 1, 1000);
    ASSERT_EQ(taken.size(), 1u) << "level 107 did not reach the trainer within a second";
    const int tickAtLevel = r.Ticks();
    EXPECT_TRUE(tvs::PumpFor([&] { return r.RawSpeed.load() < before - 5; }, 6000))
        << "the trainer went on at " << r.RawSpeed.load() << " km/h after " << before;

    // The repeat runs from the connection on, so the first one may come early.
    taken = WaitForLevelTaken(r, 107, 3, 8000);
    ASSERT_GE(taken.size(), 3u) << "the last command was not repeated";
    EXPECT_LT(taken[1] - taken[0], 3.6);
    for (size_t i = 2; i < taken.size(); ++i)
        EXPECT_NEAR(taken[i] - taken[i - 1], 3.0, 0.6) << "repeat " << i;
    EXPECT_LT(r.Device.Speed(), r.SpeedAtTick()[size_t(tickAtLevel) - 1]) << "the device's speed fell too";

    // The trainer goes quiet: the channel searches for it again, and the device keeps the last
    // speed it heard, still connected.
    ASSERT_TRUE(tvs::PumpFor([&] { return r.WentToSearch.load() > 0; }, 15000)) << "no dropout seen";
    const int ticks = r.Ticks();
    ASSERT_TRUE(tvs::PumpFor([&] { return r.Ticks() >= ticks + 2; }, 3000));
    EXPECT_TRUE(r.Device.Connected());
    EXPECT_GT(r.Device.Speed(), 3.0);
    EXPECT_NEAR(r.Device.Speed(), r.RawSpeed.load(), 0.05) << "the average of the last speed heard";
    // And hears it again once it is back.
    const int pages = r.GeneralPages.load();
    EXPECT_TRUE(tvs::PumpFor([&] { return r.GeneralPages.load() > pages; }, 10000)) << "the trainer was not found again";
}
