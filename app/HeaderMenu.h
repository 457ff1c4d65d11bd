#pragma once
// The calibration window's header menu: the windows beyond the calibration itself, each opened
// once and raised when asked for again.
#include <QObject>
#include <QKeySequence>
#include <QPointer>

class QAction;
class QWidget;
class TDeviceEventBridge;
class THeaderBand;
class TTarvoDeviceAntP;
class TResultsRecorder;
class TResultsWindow;
class TSettingsWindow;
class TTrainerCalibrationWindow;

class THeaderMenu : public QObject {
public:
    // Window: the window whose keyboard shortcuts open the entries.
    THeaderMenu(THeaderBand &Band, TTarvoDeviceAntP &Device, TDeviceEventBridge &Events, TResultsRecorder &Results,
                QWidget *Window);

    QAction *TrainerCalibrationAction() const { return FTrainerCalibration; }
    // Shows the trainer calibration window, made on first use; raised when it is open.
    TTrainerCalibrationWindow *OpenTrainerCalibration();
    // The window once made; nullptr before.
    TTrainerCalibrationWindow *TrainerCalibrationWindow() const;

    QAction *ResultsAction() const { return FResults; }
    // Shows the results window, made on first use; raised when it is open.
    TResultsWindow *OpenResults();
    TResultsWindow *ResultsWindow() const;

    QAction *SettingsAction() const { return FSettings; }
    // Shows the settings window, made on first use; raised when it is open.
    TSettingsWindow *OpenSettings();
    TSettingsWindow *SettingsWindow() const;
    // Connect needs the ANT stick: a search of the settings window gives it up first.
    void BeforeConnect();

private:
    QAction *AddEntry(THeaderBand &Band, const char *Text, QKeySequence Key, const char *Tip);

    TTarvoDeviceAntP &FDevice;
    TDeviceEventBridge &FEvents;
    TResultsRecorder &FResultsRecorder;
    QAction *FTrainerCalibration;
    QPointer<TTrainerCalibrationWindow> FTrainerCalibrationWindow;
    QAction *FResults;
    QPointer<TResultsWindow> FResultsWindow;
    QAction *FSettings;
    QPointer<TSettingsWindow> FSettingsWindow;
};
