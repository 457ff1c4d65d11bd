// The whole application in one process: the calibration window on the trainer device, the ANT
// stack and the real library with its virtual stick, a rider who keeps pedalling. The trainer
// is judged by what it was given (the scenario's host log), the window by its labels.
#include "app/CalibrationWindow.h"
#include "app/WaitDlg.h"

#include "../ant/LogLines.h"
#include "../antsim/HostLog.h"
#include "DialogRecorder.h"
#include "GuiTestApp.h"
#include "HiveFile.h"
#include "platform/UiThread.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr int TrainerNumber = 4242;

// The levels of the basic-resistance pages (page 48) the trainer was given, in order; a level
// given again at once (the channel repeats its last command now and then) counts once.
std::vector<int> LevelsGiven(const std::string &HostLog)
{
    std::vector<int> levels;
    for (const THostPage &p : ReadHostLog(HostLog))
        if (p.Device == "trainer" && p.DeviceNumber == TrainerNumber && p.Page[0] == 0x30 &&
            (levels.empty() || levels.back() != p.Page[7]))
            levels.push_back(p.Page[7]);
    return levels;
}

class CalibrationEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HostLog = Hive.Dir + "/host.log";
        UseScenario("rider 0 150 85\n");
        ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
        ::unsetenv("FENNICK_ANT_SERIAL");
        ::unsetenv("FENNICK_ANTPLUS_NETWORK_KEY");
        ::unsetenv("FENNICK_PUBLIC_NETWORK_KEY");
    }
    void UseScenario(const std::string &Rider)
    {
        const std::string scenario = Hive.Dir + "/scenario.txt";
        std::ofstream(scenario) << "seed 1\ntrainer " << TrainerNumber << "\n" << Rider << "host_log " << HostLog << "\n";
        ::setenv("FENNICK_VIRTUAL_TRAINER", scenario.c_str(), 1);
    }
    bool Logged(const std::string &Text) const
    {
        for (const std::string &line : Window->MemoLines().ToVector())
            if (line.find(Text) != std::string::npos)
                return true;
        return false;
    }
    // The debug log's lines after the USB device was released (there should be none of a channel).
    std::vector<std::string> LinesAfterRelease() const
    {
        const std::vector<std::string> lines = Window->MemoLines().ToVector();
        std::vector<std::string> after;
        bool released = false;
        for (const std::string &line : lines) {
            if (released)
                after.push_back(line);
            released = released || line.ends_with("Done AntDevice released.");
        }
        return after;
    }
    // Runs the application's loop, as main does, until the window's close ends it (or 30 s).
    int RunApplication()
    {
        // A timer of its own: a single shot left pending would end the next test's loop.
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &App, [&] { App.exit(99); });
        limit.start(30000);
        return App.exec();
    }
    void TearDown() override
    {
        HideWaitDialog();
        if (HasFailure() && Window)
            for (const std::string &line : Window->MemoLines().ToVector())
                std::fprintf(stderr, "  memo: %s\n", line.c_str());
    }

    bool PumpUntil(const std::function<bool()> &Done, int Ms)
    {
        const auto start = std::chrono::steady_clock::now();
        while (!Done()) {
            if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(Ms))
                return false;
            PumpMessages(10);
        }
        return true;
    }
    std::string SpeedText() const { return Window->lblSpeed->text().toStdString(); }
    // The speed the window shows once three statistics ticks in a row agree within 0.3 km/h.
    double SettledSpeed()
    {
        std::vector<double> shown;
        PumpUntil(
            [&] {
                const double now = Window->lblSpeed->text().mid(6).toDouble();
                if (shown.empty() || now != shown.back())
                    shown.push_back(now);
                const size_t n = shown.size();
                return n >= 3 && std::abs(shown[n - 1] - shown[n - 2]) < 0.3 && std::abs(shown[n - 2] - shown[n - 3]) < 0.3;
            },
            12000);
        return shown.empty() ? 0 : shown.back();
    }

    QApplication &App = GuiTestApp();
    THiveFile Hive; // empty: no calibration software installed, any trainer, the built-in points
    TDialogRecorder Dialogs;
    std::string HostLog;
    std::unique_ptr<TForm1> Window;
};

} // namespace

TEST_F(CalibrationEndToEndTest, ConnectCalibrateAndCloseOnTheVirtualTrainer)
{
    Window = std::make_unique<TForm1>();
    Window->show();
    ProcessMessages();
    ASSERT_EQ(Dialogs.Shown.size(), 1u);
    TTarvoDeviceAntP *device = Window->TarvoDeviceANT1();

    // Connect runs its waits inside the click; what the user sees meanwhile is sampled.
    bool waitShown = false, windowDisabled = false;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (TWaitDlgForm *wait = CurrentWaitDialog(); wait && wait->isVisible() && !device->Connected()) {
            waitShown = waitShown || wait->LabelWait->text() == "Start to pedal and Wait Connection....";
            windowDisabled = windowDisabled || !Window->isEnabled();
        }
    });
    sampler.start(20);
    Window->Button5->click();
    ASSERT_TRUE(PumpUntil([&] { return !Window->Button5->isEnabled(); }, 15000)) << "the trainer never connected";
    sampler.stop();
    EXPECT_TRUE(waitShown) << "the wait dialog was up while the trainer was searched for";
    EXPECT_TRUE(windowDisabled);
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
    EXPECT_TRUE(Window->isEnabled());
    EXPECT_TRUE(device->Connected());
    EXPECT_EQ(device->DeviceNumber(), TrainerNumber);
    EXPECT_EQ(Window->Label1->text(), "- No installed software -");
    EXPECT_EQ(Window->lblTarget->text(), "Target Speed: 20");
    EXPECT_EQ(Window->Label2->text(), "R->107");
    EXPECT_TRUE(Window->Timer1->isActive());

    // P1, applied on the user's behalf, reaches the trainer; the speed label follows it.
    ASSERT_TRUE(PumpUntil([&] { return LevelsGiven(HostLog) == std::vector<int>{107}; }, 5000))
        << "levels given: " << LevelsGiven(HostLog).size();
    const double atP1 = SettledSpeed();
    EXPECT_GT(atP1, 3.0) << SpeedText();
    EXPECT_EQ(SpeedText(), QString::asprintf("Speed %.1f", device->Speed()).toStdString());

    Window->Button2->click();
    EXPECT_EQ(Window->lblTarget->text(), "Target Speed: 30");
    EXPECT_EQ(Window->Label2->text(), "R->61");
    ASSERT_TRUE(PumpUntil([&] { return LevelsGiven(HostLog) == std::vector<int>{107, 61}; }, 5000));
    const double atP2 = SettledSpeed();
    EXPECT_GT(atP2, atP1 + 2.0) << "a lighter brake at the same power is faster";

    // Close: level 0, the channels closed, the window gone and the application's loop ended.
    QTimer::singleShot(0, Window->Button4, [&] { Window->Button4->click(); });
    EXPECT_EQ(RunApplication(), 0) << "closing the window ends the application";
    EXPECT_EQ(LevelsGiven(HostLog), (std::vector<int>{107, 61, 0}));
    EXPECT_FALSE(Window->isVisible());
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
    EXPECT_FALSE(device->Connected());
    EXPECT_EQ(device->ChannelTrainer(), nullptr);
    EXPECT_EQ(device->AntComControl()->AntChannelList()->Count(), 0);
    EXPECT_EQ(LogLinesEndingWith(Window->MemoLines(), "Done AntDevice released."), 1);
    EXPECT_EQ(Dialogs.Shown.size(), 1u) << "no message after the start one: " << Dialogs.Shown.back().Text;
}

// Connect processes messages while it waits for each channel's device number; the trainer
// connects (the wait dialog goes, the window is the rider's again) while the console's wait
// still runs. A Close then must wait for Connect, not free the channels under it.
TEST_F(CalibrationEndToEndTest, CloseDuringConnectsLastWaitEndsTheApplicationOnce)
{
    Window = std::make_unique<TForm1>();
    Window->show();
    ProcessMessages();
    TTarvoDeviceAntP *device = Window->TarvoDeviceANT1();

    bool closePressed = false, closeDuringConnect = false;
    QTimer rider;
    QObject::connect(&rider, &QTimer::timeout, [&] {
        const bool inConsoleWait = Logged("Console Connection....") && !Window->Timer1->isActive();
        if (!closePressed && inConsoleWait && !Window->Button5->isEnabled() && Window->isEnabled()) {
            closePressed = true;
            closeDuringConnect = true;
            Window->Button4->click();
        }
    });
    rider.start(10);
    QTimer::singleShot(0, Window->Button5, [&] { Window->Button5->click(); });
    EXPECT_EQ(RunApplication(), 0) << "the window's close ends the application";
    rider.stop();

    ASSERT_TRUE(closeDuringConnect) << "Close was never pressed inside Connect";
    EXPECT_FALSE(Window->isVisible());
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
    EXPECT_FALSE(device->Connected());
    EXPECT_FALSE(Window->Timer1->isActive()) << "no watchdog after a Close";
    EXPECT_EQ(device->AntComControl()->AntChannelList()->Count(), 0);
    EXPECT_EQ(LogLinesEndingWith(Window->MemoLines(), "Done AntDevice released."), 1) << "one Disconnect";
    EXPECT_EQ(LinesAfterRelease(), std::vector<std::string>{}) << "nothing reads a channel after the release";
    EXPECT_EQ(Dialogs.Shown.size(), 1u) << "no message after the start one: " << Dialogs.Shown.back().Text;
    EXPECT_EQ(LevelsGiven(HostLog), (std::vector<int>{107, 0}));
}

// The watchdog's Disconnect pauses with the window enabled; the rider presses Close then.
TEST_F(CalibrationEndToEndTest, CloseDuringTheWatchdogsDisconnectEndsWithoutItsMessage)
{
    UseScenario("");  // a trainer on the air, a rider who does not pedal: the speed stays 0
    Window = std::make_unique<TForm1>();
    Window->WatchdogIntervalMs = 1500;
    Window->show();
    ProcessMessages();
    TTarvoDeviceAntP *device = Window->TarvoDeviceANT1();

    bool watchdogArmed = false, closeDuringDisconnect = false;
    QTimer rider;
    QObject::connect(&rider, &QTimer::timeout, [&] {
        watchdogArmed = watchdogArmed || Window->Timer1->isActive();
        // The channels go last to first: the console is gone, the strap's channel not yet.
        const bool inDisconnect = watchdogArmed && !Window->Timer1->isActive() && device->ChannelConsole() == nullptr &&
                                  device->ChannelHR() != nullptr;
        if (!closeDuringDisconnect && inDisconnect && Window->Button4->isEnabled() && Window->isEnabled()) {
            closeDuringDisconnect = true;
            Window->Button4->click();
        }
    });
    rider.start(10);
    QTimer::singleShot(0, Window->Button5, [&] { Window->Button5->click(); });
    EXPECT_EQ(RunApplication(), 0);
    rider.stop();

    ASSERT_TRUE(closeDuringDisconnect) << "Close was never pressed inside the watchdog's Disconnect";
    EXPECT_FALSE(Window->isVisible());
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
    EXPECT_EQ(device->AntComControl()->AntChannelList()->Count(), 0);
    EXPECT_EQ(LogLinesEndingWith(Window->MemoLines(), "Done AntDevice released."), 1) << "one Disconnect";
    EXPECT_EQ(LinesAfterRelease(), std::vector<std::string>{});
    ASSERT_EQ(Dialogs.Shown.size(), 1u) << "the rider who pressed Close is told nothing more: "
                                        << Dialogs.Shown.back().Text;
}

// A point pressed before Connect stores its level while no trainer channel exists; the point
// the connected handler applies must still reach the trainer.
TEST_F(CalibrationEndToEndTest, APointPressedBeforeConnectReachesTheTrainerOnConnection)
{
    Hive.Write("[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\TarvoDeviceAntP]\n\"TvdAntP_UnitType\"=\"5\"\n"
               "\"TvdAntP_DeviceNumber\"=\"" + std::to_string(TrainerNumber) + "\"\n\"TvdAntP_Diameter\"=\"659\"\n\n"
               "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo5]\n"
               "\"Speed1\"=\"22\"\n\"Resist1\"=\"20\"\n\"Speed2\"=\"30\"\n\"Resist2\"=\"60\"\n"
               "\"Speed3\"=\"40\"\n\"Resist3\"=\"5\"\n");
    Window = std::make_unique<TForm1>();
    Window->show();
    ProcessMessages();
    Window->Button1->click();
    EXPECT_EQ(Window->Label2->text(), "R->20");
    EXPECT_EQ(Window->TarvoDeviceANT1()->TarvoResistance(), 20);

    Window->Button5->click();
    ASSERT_TRUE(PumpUntil([&] { return !Window->Button5->isEnabled(); }, 15000)) << "the trainer never connected";
    EXPECT_EQ(Window->Label2->text(), "R->20");
    ASSERT_TRUE(PumpUntil([&] { return LevelsGiven(HostLog) == std::vector<int>{20}; }, 5000))
        << "levels given: " << LevelsGiven(HostLog).size();

    // Every later press keeps the device's rule: the same level again is not sent again.
    Window->Button2->click();
    ASSERT_TRUE(PumpUntil([&] { return LevelsGiven(HostLog) == std::vector<int>{20, 60}; }, 5000));
}
