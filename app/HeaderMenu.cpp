#include "app/HeaderMenu.h"

#include "app/DeviceEventBridge.h"
#include "app/HeaderBand.h"
#include "app/ResultsWindow.h"
#include "app/SettingsWindow.h"
#include "app/TrainerCalibrationWindow.h"
#include "device/TarvoDeviceAntP.h"

#include <QAction>
#include <QMenu>
#include <QScreen>

#include <algorithm>

namespace {

// Beside the calibration window, whose speed the rider still watches: right of it, else left of
// it, else at the screen's right edge, where it covers the least of the speed.
void PlaceBeside(QWidget &Window, const QWidget &Owner)
{
    constexpr int Gap = 12;
    Window.adjustSize();
    const QRect owner = Owner.frameGeometry();
    QPoint at = owner.topRight() + QPoint(Gap, 0);
    if (const QScreen *screen = Owner.screen()) {
        const QRect room = screen->availableGeometry();
        if (at.x() + Window.width() > room.right())
            at.setX(owner.left() - Gap - Window.width() >= room.left() ? owner.left() - Gap - Window.width()
                                                                        : room.right() - Window.width());
        at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - Window.height())));
    }
    Window.move(at);
}

// A window asked for again comes to the front, wherever it was.
void ShowOnTop(QWidget &Window)
{
    Window.show();
    Window.raise();
    Window.activateWindow();
}

} // namespace

THeaderMenu::THeaderMenu(THeaderBand &Band, TTarvoDeviceAntP &Device, TDeviceEventBridge &Events,
                         TResultsRecorder &Results, QWidget *Window)
    : QObject(Window), FDevice(Device), FEvents(Events), FResultsRecorder(Results)
{
    FTrainerCalibration = AddEntry(Band, "Trainer calibration\u2026", QKeySequence(Qt::CTRL | Qt::Key_T),
                                   "The trainer's own zero offset and spin-down calibration");
    connect(FTrainerCalibration, &QAction::triggered, this, [this] { OpenTrainerCalibration(); });
    FResults = AddEntry(Band, "Results\u2026", QKeySequence(Qt::CTRL | Qt::Key_R),
                        "This session's points and the history of past calibrations");
    connect(FResults, &QAction::triggered, this, [this] { OpenResults(); });
    FSettings = AddEntry(Band, "Settings\u2026", QKeySequence(Qt::CTRL | Qt::Key_Comma),
                         "The trainer, its model, the calibration points and the roller diameter");
    connect(FSettings, &QAction::triggered, this, [this] { OpenSettings(); });
}

QAction *THeaderMenu::AddEntry(THeaderBand &Band, const char *Text, QKeySequence Key, const char *Tip)
{
    auto *action = new QAction(QString::fromUtf8(Text), this);
    action->setShortcut(Key);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setStatusTip(Tip);
    Band.Menu()->addAction(action);
    // The menu is closed most of the time: the window carries the shortcut too.
    static_cast<QWidget *>(parent())->addAction(action);
    return action;
}

TResultsWindow *THeaderMenu::OpenResults()
{
    if (!FResultsWindow) {
        auto *window = new TResultsWindow(FResultsRecorder, static_cast<QWidget *>(parent()));
        FResultsWindow = window;
        PlaceBeside(*window, *static_cast<QWidget *>(parent()));
    }
    ShowOnTop(*FResultsWindow);
    return FResultsWindow;
}

TResultsWindow *THeaderMenu::ResultsWindow() const { return FResultsWindow; }

TTrainerCalibrationWindow *THeaderMenu::OpenTrainerCalibration()
{
    if (!FTrainerCalibrationWindow) {
        // A window of its own that goes with the calibration window, which owns the device.
        auto *window = new TTrainerCalibrationWindow(std::make_unique<TDeviceTrainerCalibrationSource>(FDevice),
                                                     static_cast<QWidget *>(parent()));
        connect(&FEvents, &TDeviceEventBridge::TrainerCalibrationChanged, window, &TTrainerCalibrationWindow::Refresh);
        connect(&FEvents, &TDeviceEventBridge::ChannelConnected, window, &TTrainerCalibrationWindow::Refresh);
        connect(&FEvents, &TDeviceEventBridge::Stats, window, &TTrainerCalibrationWindow::Refresh);
        FTrainerCalibrationWindow = window;
        PlaceBeside(*window, *static_cast<QWidget *>(parent()));
    }
    ShowOnTop(*FTrainerCalibrationWindow);
    return FTrainerCalibrationWindow;
}

TTrainerCalibrationWindow *THeaderMenu::TrainerCalibrationWindow() const { return FTrainerCalibrationWindow; }

TSettingsWindow *THeaderMenu::OpenSettings()
{
    if (!FSettingsWindow) {
        TTarvoDeviceAntP *device = &FDevice;
        auto *window = new TSettingsWindow(MakeDiscoverySource(), [device] { return device->Connected(); },
                                           static_cast<QWidget *>(parent()));
        FSettingsWindow = window;
        PlaceBeside(*window, *static_cast<QWidget *>(parent()));
    }
    ShowOnTop(*FSettingsWindow);
    return FSettingsWindow;
}

TSettingsWindow *THeaderMenu::SettingsWindow() const { return FSettingsWindow; }

void THeaderMenu::BeforeConnect()
{
    if (FSettingsWindow)
        FSettingsWindow->StopSearch();
}
