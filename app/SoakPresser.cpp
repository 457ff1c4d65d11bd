#include "app/SoakPresser.h"

#include "app/CalibrationWindow.h"
#include "framework/SysUtils.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdlib>

namespace {

constexpr int WatchMs = 200;

} // namespace

std::unique_ptr<TSoakPresser> TSoakPresser::FromEnvironment()
{
    const char *value = std::getenv("FENNICK_SOAK_PRESS_SECONDS");
    const double seconds = value ? std::atof(value) : 0.0;
    if (!(seconds > 0))
        return nullptr;
    return std::make_unique<TSoakPresser>(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
}

TSoakPresser::TSoakPresser(std::chrono::milliseconds Interval) : FInterval(Interval)
{
    connect(&FWatch, &QTimer::timeout, this, [this] { WatchForConnection(); });
    FWatch.start(WatchMs);
    // The delay of a press is what is measured: the timer must not add its own slack.
    FPressTimer.setTimerType(Qt::PreciseTimer);
    FPressTimer.setSingleShot(true);
    connect(&FPressTimer, &QTimer::timeout, this, [this] { Press(); });
}

std::string TSoakPresser::PressLine(int Point, int Level, long long ChangedAfterMs)
{
    std::string line = "soak: pressed P" + std::to_string(Point) + " (level " + std::to_string(Level) + "); labels ";
    if (ChangedAfterMs < 0)
        return line + "unchanged";
    return line + "changed after " + std::to_string(ChangedAfterMs) + " ms";
}

void TSoakPresser::WatchForConnection()
{
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); box && box->isVisible()) {
        box->accept();
        return;
    }
    if (!FWindow || !FWindow->isVisible())
        return;
    if (!FConnectPressed) {
        FConnectPressed = true;
        TForm1 *window = FWindow;
        QTimer::singleShot(0, window, [window] { window->Button5->click(); });
        return;
    }
    // Connect disables itself once connected; the window is disabled only while it waits,
    // which would pass for the same thing.
    if (FWindow->Button5->isEnabled() || !FWindow->isEnabled())
        return;
    // Connected: from here on only the presses wake this thread.
    FWatch.stop();
    FDue = TClock::now();
    PlanNextPress();
}

void TSoakPresser::PlanNextPress()
{
    FDue += FInterval;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(FDue - TClock::now());
    FPressTimer.start(std::max<long long>(0, wait.count()));
}

void TSoakPresser::Press()
{
    if (!FWindow)
        return;
    TForm1 &window = *FWindow;
    // The connection applied P1: P2 comes first, so every press changes what is shown.
    const int points = TForm1::TwoPointMode() ? 2 : 3;
    const int point = 1 + (FPresses + 1) % points;
    QPushButton *button = point == 1 ? window.Button1 : point == 2 ? window.Button2 : window.Button3;
    const QString target = window.lblTarget->text(), level = window.Label2->text();
    button->click();
    const bool changed = window.lblTarget->text() != target && window.Label2->text() != level;
    const auto late = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - FDue).count();
    ++FPresses;
    window.MemoLines().Add(TimeStamp() + " " + PressLine(point, window.TarvoDeviceANT1()->TarvoResistance(), changed ? late : -1));
    if (QWidget *modal = QApplication::activeModalWidget())
        window.MemoLines().Add(TimeStamp() + " soak: a modal window is open: " + modal->windowTitle().toStdString());
    PlanNextPress();
}
