// The trainer calibration window driven through every ending by a scripted trainer, read as a
// rider (or a screen reader) reads it.
#include "app/TrainerCalibrationAdvice.h"
#include "app/TrainerCalibrationWindow.h"

#include "GuiTestApp.h"
#include "framework/SysUtils.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

namespace {

// A trainer the test scripts: the view it shows and what the window asked of it.
struct TScriptedTrainer {
    bool Connected = true;
    TTrainerCalibrationView View;
    std::vector<TTrainerCalibrationKinds> Starts;
    int Cancels = 0;
};

class TScriptedSource : public TTrainerCalibrationSource {
public:
    explicit TScriptedSource(TScriptedTrainer &Trainer) : FTrainer(Trainer) {}
    bool TrainerConnected() const override { return FTrainer.Connected; }
    TTrainerCalibrationView View() const override { return FTrainer.View; }
    bool Start(TTrainerCalibrationKinds Kinds) override
    {
        FTrainer.Starts.push_back(Kinds);
        FTrainer.View = {};
        FTrainer.View.State = tcsRequesting;
        FTrainer.View.Asked = Kinds;
        return true;
    }
    void Cancel() override
    {
        ++FTrainer.Cancels;
        FTrainer.View.State = tcsCancelled;
        FTrainer.View.EndText = "The calibration was cancelled.";
    }

private:
    TScriptedTrainer &FTrainer;
};

TTrainerCalibrationProgress SpinDownProgress(TCalibrationSpeedCondition Speed, double CurrentKmh)
{
    TTrainerCalibrationProgress p;
    p.Pending = {false, true};
    p.TemperatureCondition = ctcOk;
    p.SpeedCondition = Speed;
    p.Temperature = 21.5;
    p.TargetSpeed = 32.0;
    p.TargetSpinDownTime = 7400;
    p.CurrentSpeed = CurrentKmh;
    return p;
}

class TrainerCalibrationWindowTest : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettingsOverride(TFormatSettings{}); }
    void TearDown() override { SetFormatSettingsOverride(std::nullopt); }

    std::unique_ptr<TTrainerCalibrationWindow> MakeWindow()
    {
        auto w = std::make_unique<TTrainerCalibrationWindow>(std::make_unique<TScriptedSource>(Trainer));
        w->show();
        return w;
    }
    // The trainer's state changes, and the device's event reaches the window.
    void Show(TTrainerCalibrationWindow &W, TTrainerCalibrationState State,
              const TTrainerCalibrationProgress &Progress = {})
    {
        Trainer.View.State = State;
        Trainer.View.Progress = Progress;
        W.Refresh();
    }
    static std::string Text(const QLabel *Label) { return Label->text().toStdString(); }
    // What a screen reader finds in the window: every visible label's text.
    static std::string Spoken(const QWidget &W)
    {
        std::string all;
        for (const QLabel *label : W.findChildren<QLabel *>())
            if (label->isVisible())
                all += label->text().toStdString() + "\n";
        return all;
    }

    QApplication &App = GuiTestApp();
    TScriptedTrainer Trainer;
};

} // namespace

TEST_F(TrainerCalibrationWindowTest, ASpinDownSaysWhatToDoAtEachStepAndEndsWithTheTime)
{
    auto w = MakeWindow();
    EXPECT_EQ(Text(w->Instruction), "Choose a calibration and press Start.");
    EXPECT_TRUE(w->SpinDownChoice->isChecked()) << "the usual calibration when the trainer asks for none";
    ASSERT_TRUE(w->StartButton->isEnabled());
    EXPECT_FALSE(w->CancelButton->isEnabled());
    EXPECT_FALSE(w->RunAgainButton->isEnabled());

    w->StartButton->click();
    ASSERT_EQ(Trainer.Starts.size(), 1u);
    EXPECT_EQ(Trainer.Starts[0], (TTrainerCalibrationKinds{false, true}));
    EXPECT_EQ(Text(w->Instruction), "Asking the trainer to start its calibration\u2026");
    EXPECT_TRUE(w->CancelButton->isEnabled());
    EXPECT_FALSE(w->StartButton->isEnabled());
    EXPECT_FALSE(w->BothChoice->isEnabled()) << "the choice is fixed while it runs";

    Show(*w, tcsInProgress, SpinDownProgress(cscTooLow, 28.44));
    EXPECT_EQ(Text(w->Instruction), "Pedal up to 32.0 km/h");
    ASSERT_TRUE(w->SpeedBar->isVisible());
    EXPECT_EQ(w->SpeedBar->text().toStdString(), "28.4 of 32.0 km/h");
    EXPECT_EQ(w->SpeedBar->value(), 284);
    EXPECT_GT(w->SpeedBar->maximum(), 320) << "reaching the target shows on the bar";
    EXPECT_EQ(Text(w->Detail), "Trainer temperature 21.5 \u00B0C; target spin-down time 7.40 s");

    Show(*w, tcsInProgress, SpinDownProgress(cscOk, 33.0));
    EXPECT_EQ(Text(w->Instruction), "Stop pedalling and let the wheel coast");
    EXPECT_FALSE(w->SpeedBar->isVisible());

    Trainer.View.Result.Succeeded = {false, true};
    Trainer.View.Result.SpinDownTime = 7321;
    Trainer.View.Result.Temperature = 22.0;
    Trainer.View.EndText = "The trainer's spin-down calibration succeeded.";
    Show(*w, tcsSucceeded, SpinDownProgress(cscOk, 0));
    EXPECT_EQ(Text(w->Instruction), "The trainer's spin-down calibration succeeded.");
    EXPECT_EQ(Text(w->Result), "Spin-down time: 7.32 s\nTrainer temperature: 22.0 \u00B0C");
    const std::string spoken = Spoken(*w);
    EXPECT_EQ(spoken.find("Stop pedalling"), std::string::npos) << "no stale instruction: " << spoken;
    EXPECT_EQ(spoken.find("Pedal up"), std::string::npos) << spoken;
    EXPECT_FALSE(w->SpeedBar->isVisible());
    EXPECT_FALSE(w->CancelButton->isEnabled());
    EXPECT_TRUE(w->StartButton->isEnabled());
    ASSERT_TRUE(w->RunAgainButton->isEnabled());

    w->RunAgainButton->click();
    ASSERT_EQ(Trainer.Starts.size(), 2u);
    EXPECT_EQ(Trainer.Starts[1], (TTrainerCalibrationKinds{false, true}));
    EXPECT_EQ(Text(w->Instruction), "Asking the trainer to start its calibration\u2026");
    EXPECT_FALSE(w->Result->isVisible()) << "nothing of the last run carries over";
}

TEST_F(TrainerCalibrationWindowTest, ColdTrainerZeroOffsetAndResendsAreSaidInPlainWords)
{
    auto w = MakeWindow();
    w->ZeroOffsetChoice->click();
    w->StartButton->click();
    Trainer.View.Resends = 2;
    Show(*w, tcsRequesting);
    EXPECT_EQ(Text(w->Instruction), "No answer yet; asking the trainer again (2 of 3)\u2026");

    TTrainerCalibrationProgress cold;
    cold.Pending = {false, true};
    cold.TemperatureCondition = ctcTooLow;
    cold.Temperature = 14.5;
    cold.SpeedCondition = cscTooLow;
    cold.TargetSpeed = 32.0;
    Show(*w, tcsInProgress, cold);
    EXPECT_EQ(Text(w->Instruction), "Warm up first: the trainer is too cold (14.5 \u00B0C)");
    EXPECT_FALSE(w->SpeedBar->isVisible()) << "warming up comes before the target speed";

    cold.Temperature.reset();
    Show(*w, tcsInProgress, cold);
    EXPECT_EQ(Text(w->Instruction), "Warm up first: the trainer is too cold") << "no number it does not have";

    TTrainerCalibrationProgress zero;
    zero.Pending = {true, false};
    Show(*w, tcsInProgress, zero);
    EXPECT_EQ(Text(w->Instruction), "Keep the pedals still");
    EXPECT_FALSE(w->Detail->isVisible());

    // The trainer speaks of a spin-down, but no target: no invented number.
    TTrainerCalibrationProgress unknown;
    unknown.Pending = {false, true};
    unknown.SpeedCondition = cscTooLow;
    Show(*w, tcsInProgress, unknown);
    EXPECT_EQ(Text(w->Instruction), "Pedal faster until the trainer says the speed is reached");
    EXPECT_FALSE(w->SpeedBar->isVisible());
}

TEST_F(TrainerCalibrationWindowTest, EveryOtherEndingSaysWhyAndWhatToTry)
{
    auto w = MakeWindow();
    w->StartButton->click();

    Trainer.View.EndText = TTrainerCalibration::NotAnsweredText;
    Show(*w, tcsNotAnswered);
    EXPECT_EQ(Text(w->Instruction), TTrainerCalibration::NotAnsweredText);
    EXPECT_NE(Text(w->Result).find("What to try:"), std::string::npos);
    EXPECT_TRUE(w->RunAgainButton->isEnabled());

    w->RunAgainButton->click();
    Trainer.View.Result.Failed = {false, true};
    Trainer.View.EndText = "The trainer reports that its spin-down calibration failed.";
    Show(*w, tcsFailed, SpinDownProgress(cscTooLow, 25));
    EXPECT_EQ(Text(w->Instruction), "The trainer reports that its spin-down calibration failed.");
    EXPECT_NE(Text(w->Result).find("Last heard from the trainer: speed too low (target 32.0 km/h)"), std::string::npos)
        << Text(w->Result);
    EXPECT_NE(Text(w->Result).find("stop pedalling completely"), std::string::npos) << Text(w->Result);
    EXPECT_EQ(Text(w->Result).find("Spin-down time"), std::string::npos) << "no time for a failed spin-down";

    w->RunAgainButton->click();
    Trainer.View.EndText = "The calibration did not end within 3 minutes.";
    Show(*w, tcsTimedOut, SpinDownProgress(cscTooLow, 20));
    EXPECT_EQ(Text(w->Instruction), "The calibration did not end within 3 minutes.");
    EXPECT_NE(Text(w->Result).find("What to try:"), std::string::npos);
    EXPECT_FALSE(w->SpeedBar->isVisible());
}

TEST_F(TrainerCalibrationWindowTest, ATrainerThatDidOnlyOneOfTwoShowsWhatItDidAndWhatFailed)
{
    auto w = MakeWindow();
    w->BothChoice->click();
    w->StartButton->click();
    ASSERT_EQ(Trainer.Starts.back(), (TTrainerCalibrationKinds{true, true}));
    Trainer.View.Result.Succeeded = {true, false};
    Trainer.View.Result.Failed = {false, true};
    Trainer.View.Result.ZeroOffset = 1234;
    Trainer.View.EndText = "The trainer reports that its spin-down calibration failed.";
    Show(*w, tcsFailed);
    EXPECT_NE(Text(w->Result).find("Zero offset: 1234"), std::string::npos) << Text(w->Result);
    EXPECT_NE(Text(w->Result).find("Last heard from the trainer: nothing"), std::string::npos) << Text(w->Result);

    // A success whose numbers the trainer left out says so instead of showing 65535.
    w->RunAgainButton->click();
    Trainer.View.Result.Succeeded = {true, true};
    Trainer.View.EndText = "The trainer's zero offset and spin-down calibration succeeded.";
    Show(*w, tcsSucceeded);
    EXPECT_EQ(Text(w->Result), "Spin-down time: not given by the trainer\nZero offset: not given by the trainer");
}

TEST_F(TrainerCalibrationWindowTest, CancelAndCloseStopTheTrainerAndLeaveNoInstruction)
{
    auto w = MakeWindow();
    w->StartButton->click();
    Show(*w, tcsInProgress, SpinDownProgress(cscTooLow, 10));
    w->CancelButton->click();
    EXPECT_EQ(Trainer.Cancels, 1);
    EXPECT_EQ(Text(w->Instruction), "The calibration was cancelled.");
    EXPECT_FALSE(w->SpeedBar->isVisible());

    w->StartButton->click();
    Show(*w, tcsInProgress, SpinDownProgress(cscTooLow, 10));
    w->CloseButton->click();
    EXPECT_EQ(Trainer.Cancels, 2) << "a trainer left calibrating waits for a rider who is gone";
    EXPECT_FALSE(w->isVisible());
    w->close();
    EXPECT_EQ(Trainer.Cancels, 2) << "nothing to cancel after the end";
}

TEST_F(TrainerCalibrationWindowTest, TheChoiceFollowsWhatTheTrainerAsksForUntilTheRiderChooses)
{
    Trainer.Connected = false;
    auto w = MakeWindow();
    EXPECT_EQ(Text(w->Instruction), "No trainer connected.");
    EXPECT_NE(Text(w->ChoiceReason).find("Connect to the trainer first"), std::string::npos);
    EXPECT_FALSE(w->StartButton->isEnabled());

    Trainer.Connected = true;
    Trainer.View.Required = {true, true};
    w->Refresh();
    EXPECT_TRUE(w->BothChoice->isChecked());
    EXPECT_EQ(Text(w->ChoiceReason), "The trainer asks for a zero offset and a spin-down calibration.");
    EXPECT_TRUE(w->StartButton->isEnabled());

    w->ZeroOffsetChoice->click();
    Trainer.View.Required = {false, true};
    w->Refresh();
    EXPECT_TRUE(w->ZeroOffsetChoice->isChecked()) << "the rider's choice stands";
    EXPECT_EQ(Text(w->ChoiceReason), "The trainer asks for a spin-down calibration.");
}

TEST_F(TrainerCalibrationWindowTest, NumbersFollowTheLocalesDecimalSeparator)
{
    TFormatSettings comma;
    comma.DecimalSeparator = ',';
    SetFormatSettingsOverride(comma);
    auto w = MakeWindow();
    w->StartButton->click();
    Show(*w, tcsInProgress, SpinDownProgress(cscTooLow, 28.44));
    EXPECT_EQ(Text(w->Instruction), "Pedal up to 32,0 km/h");
    EXPECT_EQ(w->SpeedBar->text().toStdString(), "28,4 of 32,0 km/h");
    EXPECT_EQ(LocaleDecimal(-3.25, 2), "-3,25");
}
