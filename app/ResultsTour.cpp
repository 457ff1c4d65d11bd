#include "app/ResultsTour.h"

#include "app/CalibrationWindow.h"
#include "app/HeaderMenu.h"
#include "app/HistoryView.h"
#include "app/ResultsRecorder.h"
#include "app/ResultsWindow.h"
#include "app/ScreenshotTour.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>


namespace {

constexpr int ResultsPollMs = 100;
// Samples of P2 in the picture: enough for the chart to show the speed on its way.
constexpr size_t CalibratingSamples = 8;

} // namespace

TResultsTour::TResultsTour(std::string Dir) : TGuidedTour(std::move(Dir), ResultsPollMs) {}

void TResultsTour::Step(TForm1 &Window)
{
    if (!Window.isVisible())
        return;
    TForm1 *window = &Window;
    const std::vector<TPointVerdict> points = window->Results()->Session().Verdicts();
    TResultsWindow *results = window->HeaderMenu()->ResultsWindow();
    switch (FStep) {
    case 0:
        ++FStep;
        QTimer::singleShot(0, window, [window] { window->Button5->click(); });
        break;
    case 1:
        if (points.size() == 1 && points[0].Ended) {
            ++FStep;
            QTimer::singleShot(0, window, [window] { window->Button2->click(); });
        }
        break;
    case 2:
        if (results && points.size() == 2 && points[1].Samples.size() >= CalibratingSamples)
            FStep += Save(Calibrating);
        break;
    case 3:
        if (results && points.size() == 2 && points[1].Ended) {
            results->Tabs->setCurrentWidget(results->History);
            results->History->TrainerFilter->setCurrentIndex(1);
            results->History->PointChoice->setCurrentText("P1");
            ++FStep;
        }
        break;
    case 4:
        if (Save(History)) {
            ++FStep;
            Stop();
            QTimer::singleShot(0, window, [window] { window->Button4->click(); });
        }
        break;
    default: break;
    }
}
