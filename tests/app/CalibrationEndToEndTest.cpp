// The whole application in one process on the virtual trainer, with a rider who keeps pedalling.
#include "ApplicationOnVirtualTrainer.h"

#include "app/SoakPresser.h"

namespace {

using e2e::LevelsGiven;
using e2e::TrainerNumber;

class CalibrationEndToEndTest : public e2e::TApplicationOnVirtualTrainer {};

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

// The soak run's rider: Connect pressed for it, then the points in turn, each press one line
// saying how soon the labels changed, and the levels reaching the trainer in the same order.
TEST_F(CalibrationEndToEndTest, TheSoakPresserConnectsAndPressesThePointsInTurn)
{
    ::setenv("FENNICK_SOAK_PRESS_SECONDS", "0.4", 1);
    const std::unique_ptr<TSoakPresser> presser = TSoakPresser::FromEnvironment();
    ::unsetenv("FENNICK_SOAK_PRESS_SECONDS");
    ASSERT_NE(presser, nullptr);
    Window = std::make_unique<TForm1>();
    presser->SetWindow(Window.get());
    Window->show();
    ASSERT_TRUE(PumpUntil([&] { return presser->Presses() >= 4; }, 20000)) << "pressed " << presser->Presses();

    std::vector<std::string> presses;
    for (const std::string &line : Window->MemoLines().ToVector())
        if (const size_t at = line.find("soak: "); at != std::string::npos)
            presses.push_back(line.substr(at));
    ASSERT_GE(presses.size(), 4u);
    EXPECT_EQ(presses[0].substr(0, 34), "soak: pressed P2 (level 61); label");
    EXPECT_NE(presses[0].find("labels changed after "), std::string::npos) << presses[0];
    EXPECT_EQ(presses[1].substr(0, 33), "soak: pressed P3 (level 0); label");
    EXPECT_EQ(presses[2].substr(0, 35), "soak: pressed P1 (level 107); label");
    EXPECT_TRUE(PumpUntil([&] {
        const std::vector<int> given = LevelsGiven(HostLog);
        return given.size() >= 4 && std::vector<int>(given.begin(), given.begin() + 4) == std::vector<int>{107, 61, 0, 107};
    }, 5000)) << "levels given: " << LevelsGiven(HostLog).size();

    EXPECT_EQ(TSoakPresser::PressLine(3, 0, -1), "soak: pressed P3 (level 0); labels unchanged");
}
