#pragma once
// The trainer's own calibration (zero offset, spin-down or both), guided: the rider chooses,
// presses Start and is told in plain words what to do until the result, or why it failed.
// Every text is in a standard widget, so a screen reader reads it as it changes.
#include "device/TrainerCalibrationRun.h"

#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QVBoxLayout;
class TTarvoDeviceAntP;

// What the window needs of the trainer.
class TTrainerCalibrationSource {
public:
    virtual ~TTrainerCalibrationSource() = default;
    virtual bool TrainerConnected() const = 0;
    virtual TTrainerCalibrationView View() const = 0;
    virtual bool Start(TTrainerCalibrationKinds Kinds) = 0;
    virtual void Cancel() = 0;
};

class TDeviceTrainerCalibrationSource : public TTrainerCalibrationSource {
public:
    explicit TDeviceTrainerCalibrationSource(TTarvoDeviceAntP &Device) : FDevice(Device) {}
    bool TrainerConnected() const override;
    TTrainerCalibrationView View() const override;
    bool Start(TTrainerCalibrationKinds Kinds) override;
    void Cancel() override;

private:
    TTarvoDeviceAntP &FDevice;
};

class TTrainerCalibrationWindow : public QWidget {
public:
    static constexpr const char *Title = "Trainer calibration";

    // Parent: the window it belongs to; it still opens as a window of its own.
    explicit TTrainerCalibrationWindow(std::unique_ptr<TTrainerCalibrationSource> Source, QWidget *Parent = nullptr);

    // Reads the source again and shows what it says; connected to the device's events.
    void Refresh();

    QRadioButton *ZeroOffsetChoice;
    QRadioButton *SpinDownChoice;
    QRadioButton *BothChoice;
    QLabel *ChoiceReason;
    QLabel *Instruction;
    QProgressBar *SpeedBar;
    QLabel *Detail;
    QLabel *Result;
    QPushButton *StartButton;
    QPushButton *CancelButton;
    QPushButton *RunAgainButton;
    QPushButton *CloseButton;

protected:
    void closeEvent(QCloseEvent *Event) override;

private:
    void CreateChoice();
    void CreateProgress();
    void CreateButtons();
    TTrainerCalibrationKinds ChosenKinds() const;
    void Choose(TTrainerCalibrationKinds Kinds);
    void StartRun(TTrainerCalibrationKinds Kinds);
    void ShowChoice(const TTrainerCalibrationView &View, bool Connected, bool Running);
    void ShowSpeed(double Kmh, double TargetKmh, const std::string &Text);

    std::unique_ptr<TTrainerCalibrationSource> FSource;
    QVBoxLayout *FBody;
    // The rider changed the choice: what the trainer asks for no longer overrides it.
    bool FChoiceTouched = false;
};
