#include "app/HeaderMenu.h"

#include "app/DeviceEventBridge.h"
#include "app/HeaderBand.h"
#include "app/TrainerCalibrationWindow.h"

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

} // namespace

THeaderMenu::THeaderMenu(THeaderBand &Band, TTarvoDeviceAntP &Device, TDeviceEventBridge &Events, QWidget *Window)
    : QObject(Window), FDevice(Device), FEvents(Events)
{
    FTrainerCalibration = new QAction(QString::fromUtf8("Trainer calibration\u2026"), this);
    FTrainerCalibration->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    FTrainerCalibration->setShortcutContext(Qt::WindowShortcut);
    FTrainerCalibration->setStatusTip("The trainer's own zero offset and spin-down calibration");
    connect(FTrainerCalibration, &QAction::triggered, this, [this] { OpenTrainerCalibration(); });
    Band.Menu()->addAction(FTrainerCalibration);
    // The menu is closed most of the time: the window carries the shortcut too.
    Window->addAction(FTrainerCalibration);
}

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
    FTrainerCalibrationWindow->show();
    FTrainerCalibrationWindow->raise();
    FTrainerCalibrationWindow->activateWindow();
    return FTrainerCalibrationWindow;
}

TTrainerCalibrationWindow *THeaderMenu::TrainerCalibrationWindow() const { return FTrainerCalibrationWindow; }
