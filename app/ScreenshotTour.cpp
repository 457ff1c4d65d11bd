#include "app/ScreenshotTour.h"

#include "app/CalibrationWindow.h"
#include "app/WaitDlg.h"

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QPainter>

#include <algorithm>
#include <iostream>

namespace {

constexpr int PollMs = 50;
constexpr int Margin = 16;
// How long the speed is shown before the calibrating picture: a few statistics ticks, so the
// arrow has come up to the speed.
constexpr int CalibratingAfterMs = 3000;

bool ShowsWait(const char *Text)
{
    const TWaitDlgForm *wait = CurrentWaitDialog();
    return wait != nullptr && wait->isVisible() && wait->LabelWait->text() == Text;
}

bool AboveOthers(const QWidget *Window)
{
    return Window->isModal() || Window->windowType() == Qt::Dialog ||
           Window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

} // namespace

TScreenshotTour::TScreenshotTour(std::string Dir) : FDir(std::move(Dir))
{
    connect(&FPoll, &QTimer::timeout, this, [this] { Poll(); });
    FPoll.start(PollMs);
}

QImage TScreenshotTour::GrabTopLevels()
{
    std::vector<QWidget *> windows;
    QRect box;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && !w->geometry().isEmpty()) {
            windows.push_back(w);
            box = box.united(w->geometry());
        }
    std::stable_sort(windows.begin(), windows.end(),
                     [](const QWidget *a, const QWidget *b) { return !AboveOthers(a) && AboveOthers(b); });
    box.adjust(-Margin, -Margin, Margin, Margin);
    QImage image(box.size(), QImage::Format_RGB32);
    image.fill(QColor(0x3A, 0x3F, 0x44));
    QPainter painter(&image);
    for (QWidget *w : windows)
        painter.drawPixmap(w->geometry().topLeft() - box.topLeft(), w->grab());
    return image;
}

bool TScreenshotTour::SaveTopLevels(const std::string &Dir, const char *Moment)
{
    const std::string path = Dir + "/" + Moment + ".png";
    if (!GrabTopLevels().save(QString::fromStdString(path), "PNG")) {
        std::cerr << "fennick: cannot save the screenshot " << path << "\n";
        return false;
    }
    std::cerr << "fennick: screenshot " << path << "\n";
    return true;
}

bool TScreenshotTour::Save(const char *Moment)
{
    if (!SaveTopLevels(FDir, Moment))
        return false;
    ++FStep;
    return true;
}

void TScreenshotTour::Later(QObject *Context, std::function<void()> Press)
{
    QTimer::singleShot(0, Context, std::move(Press));
}

void TScreenshotTour::Poll()
{
    switch (FStep) {
    case 0:
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); box && box->isVisible()) {
            Save(StartMessage);
            box->accept();
        }
        break;
    case 1:
        if (ShowsWait("Start to pedal and Wait Connection....")) {
            Save(WaitDialog);
        } else if (!FConnectPressed && FWindow && FWindow->isVisible() && !QApplication::activeModalWidget()) {
            FConnectPressed = true;
            TForm1 *window = FWindow;
            Later(window, [window] { window->Button5->click(); });
        }
        break;
    case 2:
        if (FWindow && !FWindow->Button5->isEnabled() && FWindow->TarvoDeviceANT1()->Speed() > 0 &&
            ++FSpeedPolls >= CalibratingAfterMs / PollMs && Save(Calibrating)) {
            TForm1 *window = FWindow;
            Later(window, [window] { window->Button4->click(); });
        }
        break;
    case 3:
        if (ShowsWait("Disconnection ...please wait!") && Save(Closing))
            FPoll.stop();
        break;
    default: break;
    }
}
