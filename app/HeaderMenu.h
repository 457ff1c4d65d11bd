#pragma once
// The calibration window's header menu: the windows beyond the calibration itself, each opened
// once and raised when asked for again.
#include <QObject>
#include <QPointer>

class QAction;
class QWidget;
class TDeviceEventBridge;
class THeaderBand;
class TTarvoDeviceAntP;
class TTrainerCalibrationWindow;

class THeaderMenu : public QObject {
public:
    // Window: the window whose keyboard shortcuts open the entries.
    THeaderMenu(THeaderBand &Band, TTarvoDeviceAntP &Device, TDeviceEventBridge &Events, QWidget *Window);

    QAction *TrainerCalibrationAction() const { return FTrainerCalibration; }
    // Shows the trainer calibration window, made on first use; raised when it is open.
    TTrainerCalibrationWindow *OpenTrainerCalibration();
    // The window once made; nullptr before.
    TTrainerCalibrationWindow *TrainerCalibrationWindow() const;

private:
    TTarvoDeviceAntP &FDevice;
    TDeviceEventBridge &FEvents;
    QAction *FTrainerCalibration;
    QPointer<TTrainerCalibrationWindow> FTrainerCalibrationWindow;
};
