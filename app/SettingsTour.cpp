#include "app/SettingsTour.h"

#include "app/CalibrationWindow.h"
#include "app/ScreenshotTour.h"
#include "app/SettingsWindow.h"
#include "app/TrainerList.h"

#include <QLineEdit>
#include <QTreeWidget>

namespace {

constexpr int TourPollMs = 200;
constexpr qint64 SearchMs = 10000;
constexpr uint16_t TourTrainer = 4711;

} // namespace

TSettingsTour::TSettingsTour(std::string Dir) : FDir(std::move(Dir))
{
    connect(&FPoll, &QTimer::timeout, this, [this] { Step(); });
    FPoll.start(TourPollMs);
}

void TSettingsTour::Step()
{
    if (!FWindow || !FWindow->isVisible())
        return;
    TSettingsWindow *window = FWindow;
    switch (FStep) {
    case 0:
        window->Edits[sfUnitType]->setText("13");
        window->DeviceNumber->setText(QString::number(TourTrainer));
        window->Diameter->setText("659.5");
        for (int p = 0; p < 3; ++p) {
            static constexpr int Speeds[] = {20, 30, 40};
            static constexpr int Levels[] = {107, 61, 0};
            window->Edits[sfSpeed1 + 2 * p]->setText(QString::number(Speeds[p]));
            window->Edits[sfLevel1 + 2 * p]->setText(QString::number(Levels[p]));
        }
        window->Trainers->StartSearch();
        FSearching.start();
        ++FStep;
        break;
    case 1:
        // Long enough for every identity to come and for the trainer that left to show it.
        if (window->Trainers->Table->topLevelItemCount() == 3 && FSearching.elapsed() >= SearchMs) {
            window->Trainers->Table->setCurrentItem(window->Trainers->Table->topLevelItem(1));
            FStep += TScreenshotTour::SaveTopLevels(FDir, Trainers);
        }
        break;
    case 2:
        window->Edits[sfSpeed2]->setText("75");
        ++FStep;
        break;
    case 3:
        if (TScreenshotTour::SaveTopLevels(FDir, InvalidPoint)) {
            FPoll.stop();
            window->close();
        }
        break;
    default: break;
    }
}
