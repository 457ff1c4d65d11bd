// The calibration window clicked and read like a user would, with recorded dialogs, a hive
// of the test's own and no ANT stick.
#include "app/CalibrationWindow.h"
#include "app/WaitDlg.h"

#include "DialogRecorder.h"
#include "GuiTestApp.h"
#include "HiveFile.h"
#include "platform/UiThread.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

const std::string StartMessage = "Click on connect and wait the connection !! ";
const std::string FinalMessage = "Trainer Not Found, close the software and try again.";

class CalibrationWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("FENNICK_ANT_LIBRARY", "/nonexistent/libANT_DLL.so", 1);
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
    }
    void TearDown() override { HideWaitDialog(); }

    std::unique_ptr<TForm1> MakeWindow()
    {
        auto window = std::make_unique<TForm1>();
        window->show();
        ProcessMessages();
        return window;
    }
    static std::string Text(const QLabel *Label) { return Label->text().toStdString(); }
    static void PressKey(QWidget &Window, Qt::KeyboardModifiers Modifiers)
    {
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : &Window;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_O, Modifiers, "o");
        QApplication::sendEvent(target, &press);
    }
    // The trainer channel connecting, as the device reports it.
    static void TrainerConnects(TForm1 &Window)
    {
        TTarvoDeviceAntP *device = Window.TarvoDeviceANT1();
        TAntChannel *trainer = device->ChannelTrainer() ? device->ChannelTrainer() : device->AddChannel(acpAntFE);
        device->OnChannelConnected(device, trainer);
    }
    bool PumpUntil(const std::function<bool()> &Done, int Ms = 5000)
    {
        const auto start = std::chrono::steady_clock::now();
        while (!Done()) {
            if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(Ms))
                return false;
            PumpMessages(10);
        }
        return true;
    }

    QApplication &App = GuiTestApp();
    THiveFile Hive;
    TDialogRecorder Dialogs;
};

const std::string TwoPointHive = "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\TarvoDeviceAntP]\n"
                                 "\"TvdAntP_UnitType\"=\"13\"\n\"TvdAntP_DeviceNumber\"=\"4242\"\n"
                                 "\"TvdAntP_Diameter\"=\"659.5\"\n\n"
                                 "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo13]\n"
                                 "\"SpeedA\"=\"25\"\n\"ResistA\"=\"90\"\n\"SpeedB\"=\"35\"\n\"ResistB\"=\"40\"\n";

std::string ThreePointHive(int UnitType, const std::string &Extra = "")
{
    const std::string ut = std::to_string(UnitType);
    return "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\TarvoDeviceAntP]\n\"TvdAntP_UnitType\"=\"" + ut +
           "\"\n\"TvdAntP_DeviceNumber\"=\"70000\"\n\"TvdAntP_Diameter\"=\"659.5\"\n\n"
           "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo" + ut + "]\n"
           "\"Speed1\"=\"18\"\n\"Resist1\"=\"100\"\n\"Speed2\"=\"28\"\n\"Resist2\"=\"60\"\n"
           "\"Speed3\"=\"38\"\n\"Resist3\"=\"10\"\n" + Extra;
}

} // namespace

TEST_F(CalibrationWindowTest, StartsBorderlessWithEveryElementInItsInitialState)
{
    auto w = MakeWindow();
    EXPECT_EQ(Dialogs.Shown, (std::vector<TDialogRecorder::TShown>{{TDialogRecorder::dkMessage, StartMessage}}));
    EXPECT_EQ(w->size(), QSize(314, 246));
    EXPECT_TRUE(w->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(w->windowTitle(), "Fennick FE-C");
    EXPECT_EQ(w->Button1->text(), "P1");
    EXPECT_EQ(w->Button2->text(), "P2");
    EXPECT_EQ(w->Button3->text(), "P3");
    EXPECT_TRUE(w->Button3->isVisible());
    EXPECT_FALSE(w->lblCirc->isVisible());
    EXPECT_FALSE(w->editCirc->isVisible());
    EXPECT_EQ(w->editCirc->text(), "2070");
    EXPECT_EQ(Text(w->lblSpeed), "Speed 00,0");
    EXPECT_EQ(Text(w->lblTarget), "Target Speed: 00,0");
    EXPECT_EQ(Text(w->Label1), "Label1");
    EXPECT_EQ(Text(w->Label2), "---");
    EXPECT_EQ(w->Button5->text(), "Connect");
    EXPECT_EQ(w->Button4->text(), "Close");
    EXPECT_EQ(w->Shape1->geometry(), QRect(8, 136, 305, 17));
    EXPECT_EQ(w->Shape2->size(), QSize(10, 17));
    EXPECT_EQ(w->VrArrow1->size(), QSize(33, 41));
    EXPECT_GE(w->VrArrow1->y(), w->Shape1->geometry().bottom());
    EXPECT_FALSE(w->rect().intersects(w->Memo1->geometry())) << "the memo lies outside the client area";
    EXPECT_FALSE(w->Timer1->isActive());
    EXPECT_FALSE(w->VrArrow1->accessibleName().isEmpty());
    EXPECT_FALSE(w->editCirc->accessibleName().isEmpty());
    TTarvoDeviceAntP *d = w->TarvoDeviceANT1();
    EXPECT_EQ(d->DeviceNumber(), 101);
    EXPECT_EQ(d->ResistanceMode(), rmAsPercent);
    EXPECT_FALSE(d->TimerStatsEnabled());
}

TEST_F(CalibrationWindowTest, ScaleMarksCentreOnTheSpeedAndGoBeyondTheBar)
{
    auto w = MakeWindow();
    w->set_range(20);
    EXPECT_EQ(w->Shape2->pos(), QPoint(125, 136));
    w->set_arrow(0);
    EXPECT_EQ(w->VrArrow1->x(), -8) << "-8.5 rounds to the even neighbour";
    const int arrowTop = w->VrArrow1->y();
    w->set_arrow(51);
    EXPECT_EQ(w->VrArrow1->x(), 303);
    EXPECT_GT(w->VrArrow1->x() + w->VrArrow1->width() / 2, w->Shape1->x() + w->Shape1->width());
    EXPECT_EQ(w->VrArrow1->y(), arrowTop);
    w->set_arrow(-5);
    EXPECT_LT(w->VrArrow1->x() + w->VrArrow1->width() / 2, w->Shape1->x());
    EXPECT_EQ(TForm1::CircumferenceToDiameter(2070), 74);
    EXPECT_EQ(TForm1::CircumferenceToDiameter(2096), 75);
    EXPECT_EQ(TForm1::CircumferenceToDiameter(0), 0);
}

TEST_F(CalibrationWindowTest, NoUnitTypeUsesTheBuiltInPointsAndAnyTrainerAndTheWatchdogEnds)
{
    // The real library with no stick at all: Connect finds nothing and returns.
    ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
    ::unsetenv("FENNICK_ANT_SERIAL");
    auto w = MakeWindow();
    w->WatchdogIntervalMs = 50;
    w->Button5->click();
    EXPECT_EQ(Text(w->Label1), "- No installed software -");
    EXPECT_TRUE(w->IgnoreSettings());
    EXPECT_EQ(w->TarvoDeviceANT1()->DeviceNumber(), 0);
    ASSERT_NE(CurrentWaitDialog(), nullptr) << "no stick: the wait dialog stays for the watchdog";
    EXPECT_EQ(CurrentWaitDialog()->LabelWait->text(), "Start to pedal and Wait Connection....");
    EXPECT_FALSE(w->isEnabled());
    EXPECT_TRUE(w->Timer1->isActive());
    EXPECT_EQ(w->Timer1->interval(), 50);

    ASSERT_TRUE(PumpUntil([&] { return !w->isVisible(); }));
    EXPECT_EQ(Dialogs.Shown.back().Text, FinalMessage);
    EXPECT_EQ(Dialogs.Shown.back().Details, "") << "no stick at all: the library has nothing to explain";
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
    EXPECT_FALSE(w->Timer1->isActive());

    // The built-in points, as the edge case asks, on the closed window.
    w->Button1->click();
    EXPECT_EQ(Text(w->lblTarget), "Target Speed: 20");
    EXPECT_EQ(Text(w->Label2), "R->107");
    EXPECT_EQ(w->TarvoDeviceANT1()->TarvoResistance(), 107);
    w->Button2->click();
    EXPECT_EQ(Text(w->lblTarget), "Target Speed: 30");
    EXPECT_EQ(w->TarvoDeviceANT1()->TarvoResistance(), 61);
    w->Button3->click();
    EXPECT_EQ(Text(w->lblTarget), "Target Speed: 40");
    EXPECT_EQ(w->TarvoDeviceANT1()->TarvoResistance(), 0);
}

TEST_F(CalibrationWindowTest, TwoPointModelsShowPaAndPbWithTheirOwnValues)
{
    Hive.Write(TwoPointHive);
    auto w = MakeWindow();
    EXPECT_TRUE(TForm1::TwoPointMode());
    EXPECT_EQ(w->Button1->text(), "PA");
    EXPECT_EQ(w->Button2->text(), "PB");
    EXPECT_FALSE(w->Button3->isVisible());
    w->Button1->click();
    EXPECT_EQ(Text(w->lblTarget), "Target Speed: 25");
    EXPECT_EQ(Text(w->Label2), "R->90");
    EXPECT_EQ(w->TarvoDeviceANT1()->TarvoResistance(), 90);
    w->Button2->click();
    EXPECT_EQ(Text(w->lblTarget), "Target Speed: 35      R->40");
    EXPECT_EQ(w->TarvoDeviceANT1()->TarvoResistance(), 40);
    // Read at every press, not cached.
    Hive.Write(std::string(TwoPointHive).replace(TwoPointHive.find("\"35\""), 4, "\"33\""));
    w->Button2->click();
    EXPECT_EQ(Text(w->lblTarget), "Target Speed: 33      R->40");
}

TEST_F(CalibrationWindowTest, AnEmptyOrZeroSpeedAKeepsThreePoints)
{
    for (const std::string speedA : {"\"SpeedA\"=\"\"\n", "\"SpeedA\"=\"0\"\n"}) {
        Hive.Write(ThreePointHive(13, speedA));
        auto w = MakeWindow();
        EXPECT_FALSE(TForm1::TwoPointMode()) << speedA;
        EXPECT_TRUE(w->Button3->isVisible());
        w->Button1->click();
        EXPECT_EQ(Text(w->lblTarget), "Target Speed: 18") << "P1 never shows the level";
        w->Button3->click();
        EXPECT_EQ(Text(w->lblTarget), "Target Speed: 38      R->10");
        EXPECT_EQ(Text(w->Label2), "R->10");
    }
}

TEST_F(CalibrationWindowTest, CtrlOIgnoresTheSettingsButCtrlShiftODoesNot)
{
    Hive.Write(ThreePointHive(13));
    auto w = MakeWindow();
    Dialogs.Shown.clear();
    PressKey(*w, Qt::ControlModifier | Qt::ShiftModifier);
    PressKey(*w, Qt::ControlModifier | Qt::AltModifier);
    PressKey(*w, Qt::NoModifier);
    EXPECT_TRUE(Dialogs.Shown.empty());
    EXPECT_FALSE(w->IgnoreSettings());
    w->Button1->click();
    EXPECT_EQ(Text(w->Label2), "R->100");

    PressKey(*w, Qt::ControlModifier);
    ASSERT_EQ(Dialogs.Shown.size(), 1u) << "seen once, whichever control has the focus";
    EXPECT_EQ(Dialogs.Shown[0].Text, "Virel Settings Ignored!");
    EXPECT_TRUE(w->IgnoreSettings());
    w->Button2->click();
    EXPECT_EQ(Text(w->lblTarget), "Target Speed: 30");
    EXPECT_EQ(Text(w->Label2), "R->61");
    EXPECT_EQ(w->Button1->text(), "P1");
}

TEST_F(CalibrationWindowTest, CircumferenceSetsTheDiameterForUnitTypes13And17)
{
    for (int unitType : {13, 17}) {
        Hive.Write(ThreePointHive(unitType));
        auto w = MakeWindow();
        TTarvoDeviceAntP *d = w->TarvoDeviceANT1();
        TrainerConnects(*w);
        EXPECT_TRUE(w->editCirc->isVisible());
        EXPECT_TRUE(w->lblCirc->isVisible());
        EXPECT_EQ(d->Diameter(), 74.0);
        EXPECT_EQ(d->TarvoResistance(), 100) << "P1 is applied on the user's behalf";
        EXPECT_EQ(Text(w->Label2), "R->100");
        EXPECT_FALSE(w->Button5->isEnabled());
        EXPECT_EQ(d->TimerStatsInterval(), 1000u);
        w->editCirc->setText("2096");
        w->Button2->click();
        EXPECT_EQ(d->Diameter(), 75.0);
        w->editCirc->setText("2200");
        w->Button3->click();
        EXPECT_EQ(d->Diameter(), 75.0) << "P3 leaves the diameter alone";
        d->Stop();
    }
}

TEST_F(CalibrationWindowTest, OtherUnitTypesKeepTheCircumferenceHidden)
{
    Hive.Write(ThreePointHive(12));
    auto w = MakeWindow();
    TrainerConnects(*w);
    EXPECT_FALSE(w->editCirc->isVisible());
    EXPECT_NE(w->TarvoDeviceANT1()->Diameter(), 74.0);
    w->TarvoDeviceANT1()->Stop();
}

TEST_F(CalibrationWindowTest, ErrorsStopTheHandlerAndKeepItsEarlierSteps)
{
    Hive.Write(ThreePointHive(17, "\"Speed2\"=\"12a\"\n") + "\"Resist1\"=dword:00000005\n");
    auto w = MakeWindow();
    Dialogs.Shown.clear();
    w->Button2->click();
    ASSERT_EQ(Dialogs.Shown.size(), 1u);
    // The box keeps the error's own text; where the value stands is in its details.
    const std::string inKey17 = "\" of the key [HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo17] "
                                "in the registry file '" + Hive.Path + "'.";
    EXPECT_EQ(Dialogs.Shown[0], (TDialogRecorder::TShown{TDialogRecorder::dkError, "'12a' is not a valid integer value",
                                                         "The value \"Speed2" + inKey17}));
    EXPECT_EQ(Text(w->lblTarget), "Target Speed: 00,0");
    w->Button1->click();
    EXPECT_EQ(Dialogs.Shown.back(), (TDialogRecorder::TShown{TDialogRecorder::dkError, "Invalid data type for 'Resist1'",
                                                             "The value \"Resist1" + inKey17}));
    w->Button3->click();
    EXPECT_EQ(Text(w->lblTarget), "Target Speed: 38      R->10");

    // A circumference that is not a number: the level is already assigned.
    w->editCirc->show();
    w->editCirc->setText("20x0");
    Hive.Write(ThreePointHive(17));
    w->Button2->click();
    EXPECT_EQ(Dialogs.Shown.back(), (TDialogRecorder::TShown{TDialogRecorder::dkError, "'20x0' is not a valid integer value"}));
    EXPECT_EQ(w->TarvoDeviceANT1()->TarvoResistance(), 60);
}

TEST_F(CalibrationWindowTest, AFailedConnectGivesTheWindowBack)
{
    // Both values of the summary are bad: they are read in its order, the device number first.
    Hive.Write(ThreePointHive(13) + "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\TarvoDeviceAntP]\n"
                                    "\"TvdAntP_DeviceNumber\"=\"x1\"\n\"TvdAntP_Diameter\"=\"6x\"\n");
    auto w = MakeWindow();
    w->Button5->click();
    ASSERT_EQ(Dialogs.Shown.back().Kind, TDialogRecorder::dkError);
    EXPECT_EQ(Dialogs.Shown.back().Text, "'x1' is not a valid integer value");
    EXPECT_NE(Dialogs.Shown.back().Details.find("\"TvdAntP_DeviceNumber\""), std::string::npos);
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
    EXPECT_TRUE(w->isEnabled());
    EXPECT_TRUE(w->Button5->isEnabled());
    EXPECT_FALSE(w->Timer1->isActive()) << "the watchdog starts only after a Connect that went through";
    EXPECT_EQ(Text(w->Label1), "Label1");
}

TEST_F(CalibrationWindowTest, AStickTheUserMayNotOpenEndsWithTheUdevFixInTheDetails)
{
    ::setenv("FENNICK_ANT_LIBRARY", REFUSING_ANT_LIBRARY, 1);
    ::setenv("FENNICK_TEST_REFUSAL", "permission", 1);
    auto w = MakeWindow();
    w->WatchdogIntervalMs = 50;
    w->Button5->click();
    // The stick is never listed, so the watchdog ends the wait as with no stick at all.
    EXPECT_TRUE(w->Timer1->isActive());
    ASSERT_TRUE(PumpUntil([&] { return !w->isVisible(); }));
    const TDialogRecorder::TShown &last = Dialogs.Shown.back();
    EXPECT_EQ(last.Kind, TDialogRecorder::dkMessage);
    EXPECT_EQ(last.Text, FinalMessage);
    EXPECT_NE(last.Details.find("no permission to open the ANT USB stick"), std::string::npos) << last.Details;
    EXPECT_NE(last.Details.find("packaging/99-fennick-ant.rules"), std::string::npos) << last.Details;
    ::unsetenv("FENNICK_TEST_REFUSAL");
}

TEST_F(CalibrationWindowTest, AStickThatCannotBeOpenedKeepsTheErrorAndAddsTheReason)
{
    ::setenv("FENNICK_ANT_LIBRARY", REFUSING_ANT_LIBRARY, 1);
    ::setenv("FENNICK_TEST_REFUSAL", "reset", 1);
    auto w = MakeWindow();
    w->Button5->click();
    EXPECT_EQ(Dialogs.Shown.back(),
              (TDialogRecorder::TShown{TDialogRecorder::dkError, "Error: not able to connect with the Usb Ant device",
                                       "the ANT stick stopped answering when it was reset."}));
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
    EXPECT_TRUE(w->Button5->isEnabled());
    EXPECT_FALSE(w->Timer1->isActive());

    // A library that keeps no reason leaves the error box as it always was.
    ::setenv("FENNICK_TEST_REFUSAL", "reset-quietly", 1);
    w->Button5->click();
    EXPECT_EQ(Dialogs.Shown.back(),
              (TDialogRecorder::TShown{TDialogRecorder::dkError, "Error: not able to connect with the Usb Ant device"}));
    ::unsetenv("FENNICK_TEST_REFUSAL");
}

TEST_F(CalibrationWindowTest, AConnectionTimeOutSaysSoAndEnablesConnect)
{
    auto w = MakeWindow();
    TrainerConnects(*w);
    ASSERT_FALSE(w->Button5->isEnabled());
    TTarvoDeviceAntP *d = w->TarvoDeviceANT1();
    d->OnConnectChannelTimeOut(d, nullptr);
    EXPECT_EQ(Dialogs.Shown.back().Text, "TRainer Not Found");
    EXPECT_TRUE(w->Button5->isEnabled());
    d->Stop();
}

TEST_F(CalibrationWindowTest, EventsFromTheLibraryThreadAreQueuedWithoutWaiting)
{
    auto w = MakeWindow();
    TTarvoDeviceAntP *d = w->TarvoDeviceANT1();
    TAntChannel *trainer = d->AddChannel(acpAntFE);
    std::atomic<bool> returned{false};
    std::thread library([&] {
        d->OnChannelConnected(d, trainer);
        d->OnConnectChannelTimeOut(d, nullptr);
        returned = true;
    });
    library.join();
    EXPECT_TRUE(returned.load()) << "the library's thread went on without the window";
    EXPECT_TRUE(w->Button5->isEnabled()) << "nothing ran on the library's thread";
    ProcessMessages();
    EXPECT_EQ(Text(w->Label2), "R->0") << "P1 from the (missing) key of unit type 0";
    EXPECT_EQ(Dialogs.Shown.back().Text, "TRainer Not Found");
    EXPECT_TRUE(w->Button5->isEnabled()) << "in the order they were raised";
    d->Stop();

    // A call still queued when the window goes is dropped.
    std::thread late([&] { d->OnConnectChannelTimeOut(d, nullptr); });
    late.join();
    const size_t shown = Dialogs.Shown.size();
    w.reset();
    ProcessMessages();
    EXPECT_EQ(Dialogs.Shown.size(), shown);
}

TEST_F(CalibrationWindowTest, TheStatisticsTickMovesTheArrowAndWritesTheSpeed)
{
    auto w = MakeWindow();
    TTarvoDeviceAntP *d = w->TarvoDeviceANT1();
    d->SetSpeed(25.26);
    d->OnStats(d);
    EXPECT_EQ(Text(w->lblSpeed), "Speed 25.3");
    EXPECT_EQ(w->VrArrow1->x(), 146);
}

TEST_F(CalibrationWindowTest, TheDebugMemoKeepsTheNewestLinesAndBuildsItsTextOnlyWhileShown)
{
    auto w = MakeWindow();
    std::vector<std::string> copied;  // what --log would write
    w->MemoLines().AddLineObserver([&](const std::string &Line) { copied.push_back(Line); });
    const int extra = 700;
    std::thread library([&] {
        for (int i = 0; i < TForm1::MemoLineLimit + extra; ++i)
            w->MemoLines().Add("row " + std::to_string(i));
    });
    library.join();
    ProcessMessages();
    EXPECT_EQ(copied.size(), size_t(TForm1::MemoLineLimit + extra)) << "the log copy keeps every line";
    ASSERT_EQ(w->MemoLines().Count(), TForm1::MemoLineLimit);
    EXPECT_EQ(w->MemoLines()[0], "row " + std::to_string(extra));

    // Hidden, as it always is in use: the lines are kept, the text document is not built.
    TTarvoDeviceAntP *d = w->TarvoDeviceANT1();
    d->OnStats(d);
    EXPECT_FALSE(w->Memo1->isVisible());
    EXPECT_EQ(w->Memo1->toPlainText(), "");

    w->Memo1->show();
    const QTextDocument *memo = w->Memo1->document();
    ASSERT_EQ(memo->blockCount(), TForm1::MemoLineLimit);
    EXPECT_EQ(memo->firstBlock().text().toStdString(), "row " + std::to_string(extra));
    EXPECT_EQ(memo->lastBlock().text().toStdString(), "row " + std::to_string(TForm1::MemoLineLimit + extra - 1));

    // Shown, lines join at the next statistics tick, not one wake-up per line; the oldest
    // make room.
    w->MemoLines().Add("late row");
    ProcessMessages();
    EXPECT_EQ(memo->lastBlock().text().toStdString(), "row " + std::to_string(TForm1::MemoLineLimit + extra - 1));
    d->OnStats(d);
    EXPECT_EQ(memo->blockCount(), TForm1::MemoLineLimit);
    EXPECT_EQ(memo->lastBlock().text().toStdString(), "late row");

    // Hidden again, the document lets its text go; the lines stay.
    w->Memo1->hide();
    w->MemoLines().Add("unseen row");
    d->OnStats(d);
    EXPECT_EQ(w->Memo1->toPlainText(), "");
    EXPECT_EQ(w->MemoLines()[TForm1::MemoLineLimit - 1], "unseen row");

    // A window closed with its memo shown hides the memo after its own parts are gone.
    w->Memo1->show();
    w.reset();
}
