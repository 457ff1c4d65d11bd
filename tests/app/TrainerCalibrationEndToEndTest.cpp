// The trainer's own calibration through the whole application: the header menu and its
// shortcut, the trainer calibration window, the device, the real library and the virtual
// trainer with a rider who follows the trainer's instructions.
#include "ApplicationOnVirtualTrainer.h"

#include "app/HeaderBand.h"
#include "app/HeaderMenu.h"
#include "app/TrainerCalibrationWindow.h"

#include <QAction>
#include <QTest>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

namespace {

using e2e::TrainerNumber;

class TrainerCalibrationEndToEndTest : public e2e::TApplicationOnVirtualTrainer {
protected:
    // Connect pressed and the trainer connected: the rider is calibrating.
    void Connect()
    {
        Window = std::make_unique<TForm1>();
        Window->show();
        ProcessMessages();
        Window->Button5->click();
        ASSERT_TRUE(PumpUntil([&] { return !Window->Button5->isEnabled(); }, 15000)) << "the trainer never connected";
    }
    TTrainerCalibrationWindow *OpenWithCtrlT()
    {
        Window->activateWindow();
        QApplication::setActiveWindow(Window.get());
        QTest::keyClick(Window.get(), Qt::Key_T, Qt::ControlModifier);
        return Window->HeaderMenu()->TrainerCalibrationWindow();
    }
    static std::string Said(const TTrainerCalibrationWindow *W) { return W->Instruction->text().toStdString(); }
    // Page-1 requests and cancels the trainer was given, as "ack XX" with byte 1.
    std::vector<std::string> CalibrationPagesGiven() const
    {
        std::vector<std::string> pages;
        for (const THostPage &p : ReadHostLog(HostLog))
            if (p.Device == "trainer" && p.Page[0] == 0x01)
                pages.push_back((p.Acknowledged ? "ack " : "broadcast ") + QString::asprintf("%02X", p.Page[1]).toStdString());
        return pages;
    }
};

} // namespace

TEST_F(TrainerCalibrationEndToEndTest, TheHeaderMenuAndCtrlTOpenOneWindowThatKnowsTheTrainerIsNotThereYet)
{
    Window = std::make_unique<TForm1>();
    Window->show();
    ProcessMessages();
    auto *band = static_cast<THeaderBand *>(Window->Shape3);
    ASSERT_NE(band->MenuButton(), nullptr);
    EXPECT_EQ(band->MenuButton()->accessibleName(), "Menu");
    EXPECT_EQ(band->MenuButton()->geometry().right(), band->width() - 3) << "at the right end of the strip";
    EXPECT_EQ(band->geometry(), QRect(0, 0, 314, 25)) << "the strip as it was";
    QAction *entry = band->Menu()->actions().value(0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text().toStdString(), "Trainer calibration\u2026");
    EXPECT_EQ(entry->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));

    TTrainerCalibrationWindow *w = OpenWithCtrlT();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(Said(w), "No trainer connected.");
    EXPECT_FALSE(w->StartButton->isEnabled());
    entry->trigger();
    EXPECT_EQ(Window->HeaderMenu()->TrainerCalibrationWindow(), w) << "one window, raised again";
    EXPECT_EQ(Dialogs.Shown.size(), 1u) << "the calibration window's own flow is untouched";
}

TEST_F(TrainerCalibrationEndToEndTest, ASpinDownWithARiderWhoFollowsEndsWithTheTrainersTime)
{
    UseScenario("rider 0 300 90 follows\n", "calibration=spindown calibration_required=spindown");
    ASSERT_NO_FATAL_FAILURE(Connect());
    TTrainerCalibrationWindow *w = OpenWithCtrlT();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return w->StartButton->isEnabled(); }, 3000));
    ASSERT_TRUE(PumpUntil([&] { return w->ChoiceReason->text().contains("asks for a spin-down"); }, 5000))
        << w->ChoiceReason->text().toStdString();
    EXPECT_TRUE(w->SpinDownChoice->isChecked());

    std::vector<std::string> said;
    QTimer listener;
    QObject::connect(&listener, &QTimer::timeout, [&] {
        if (said.empty() || said.back() != Said(w))
            said.push_back(Said(w));
    });
    listener.start(20);
    w->StartButton->click();
    ASSERT_TRUE(PumpUntil([&] { return w->RunAgainButton->isEnabled(); }, 90000)) << "the run never ended: " << Said(w);
    listener.stop();

    EXPECT_EQ(Said(w), "The trainer's spin-down calibration succeeded.") << w->Result->text().toStdString();
    EXPECT_TRUE(w->Result->text().startsWith("Spin-down time: ")) << w->Result->text().toStdString();
    auto saw = [&](const std::string &Start) {
        return std::any_of(said.begin(), said.end(), [&](const std::string &s) { return s.rfind(Start, 0) == 0; });
    };
    EXPECT_TRUE(saw("Pedal up to 32.0 km/h"));
    EXPECT_TRUE(saw("Stop pedalling and let the wheel coast"));
    EXPECT_FALSE(Window->Button5->isEnabled()) << "still calibrating the rider's points";
    EXPECT_EQ(CalibrationPagesGiven(), std::vector<std::string>{"ack 80"});
    EXPECT_EQ(Dialogs.Shown.size(), 1u) << Dialogs.Shown.back().Text;
}

TEST_F(TrainerCalibrationEndToEndTest, TheWatchdogWaitsForARunningCalibrationAndResumesAfterIt)
{
    // Nobody pedals: the speed is 0 and a spin-down waits for it for ever.
    UseScenario("", "calibration=spindown");
    Window = std::make_unique<TForm1>();
    Window->WatchdogIntervalMs = 1500;
    Window->show();
    ProcessMessages();
    TTarvoDeviceAntP *device = Window->TarvoDeviceANT1();
    // Started from inside Connect's last wait, before the watchdog's first tick.
    bool started = false;
    QTimer rider;
    QObject::connect(&rider, &QTimer::timeout, [&] {
        if (!started && device->ChannelTrainer() && device->ChannelTrainer()->Connected())
            started = device->StartTrainerCalibration({false, true});
    });
    rider.start(10);
    QTimer::singleShot(0, Window->Button5, [&] { Window->Button5->click(); });
    ASSERT_TRUE(PumpUntil([&] { return started && Window->Timer1->isActive(); }, 15000));
    rider.stop();

    PumpMessages(4000);
    EXPECT_TRUE(Window->isVisible()) << "two watchdog ticks at speed 0 went by while the trainer calibrated";
    EXPECT_TRUE(device->TrainerCalibrationRunning());
    EXPECT_EQ(Dialogs.Shown.size(), 1u);

    device->CancelTrainerCalibration();
    EXPECT_EQ(RunApplication(), 0) << "the watchdog's rule is back: speed 0 ends the application";
    EXPECT_EQ(Dialogs.Shown.back().Text, "Trainer Not Found, close the software and try again.");
    EXPECT_EQ(CalibrationPagesGiven(), (std::vector<std::string>{"ack 80", "ack 00"}));
}
