#include "app/TrainerCalibrationTour.h"

#include "app/Application.h"
#include "app/CalibrationWindow.h"
#include "app/HeaderMenu.h"
#include "app/ScreenshotTour.h"
#include "app/TrainerCalibrationWindow.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>


namespace {

constexpr int TourPollMs = 50;
// The result is shown a moment before its picture, as a rider would look at it.
constexpr int ResultAfterPolls = 20;

bool Says(const TTrainerCalibrationWindow *W, const char *Start)
{
    return W != nullptr && W->Instruction->text().startsWith(QString::fromUtf8(Start));
}

} // namespace

TTrainerCalibrationTour::TTrainerCalibrationTour(std::string Dir) : TGuidedTour(std::move(Dir), TourPollMs) {}

void TTrainerCalibrationTour::Step(TForm1 &Window)
{
    TForm1 *window = &Window;
    TTrainerCalibrationWindow *calibration = window->HeaderMenu()->TrainerCalibrationWindow();
    switch (FStep) {
    case 0:
        if (window->isVisible()) {
            ++FStep;
            QTimer::singleShot(0, window, [window] { ConnectThenOpenTrainerCalibration(*window); });
        }
        break;
    case 1:
        if (calibration && calibration->StartButton->isEnabled()) {
            ++FStep;
            calibration->StartButton->click();
        }
        break;
    case 2:
        // Most of the way up, so that the bar shows how far there is to go.
        if (Says(calibration, "Pedal up to") && calibration->SpeedBar->value() * 10 >= calibration->SpeedBar->maximum() * 6)
            FStep += Save(Pedal);
        break;
    case 3:
        if (Says(calibration, "Stop pedalling"))
            FStep += Save(Coast);
        break;
    case 4:
        if (calibration && calibration->RunAgainButton->isEnabled() && ++FResultPolls >= ResultAfterPolls && Save(Result)) {
            ++FStep;
            Stop();
            QTimer::singleShot(0, window, [window] { window->Button4->click(); });
        }
        break;
    default: break;
    }
}
