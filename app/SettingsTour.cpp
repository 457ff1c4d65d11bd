#include "app/SettingsTour.h"

#include "app/CalibrationWindow.h"
#include "app/ScreenshotTour.h"
#include "app/SettingsWindow.h"
#include "app/TrainerList.h"

#include <QLineEdit>
#include <QTreeWidget>

namespace {

constexpr int TourPollMs = 200;
constexpr uint16_t TourTrainer = 4711;

class TTourSource : public TDiscoverySource {
public:
    bool Start(std::string &) override { return FRunning = true; }
    void Stop() override { FRunning = false; }
    bool Running() const override { return FRunning; }
    std::vector<TDiscoveredDevice> Devices() const override
    {
        auto trainer = [](uint16_t Number, uint16_t Maker, uint16_t Model, double Rate, double Since) {
            TDiscoveredDevice d;
            d.DeviceNumber = Number;
            d.TransmissionType = 5;
            d.ManufacturerId = Maker;
            d.ModelNumber = Model;
            d.FeType = 25;
            d.MessagesPerSecond = Rate;
            d.SecondsSinceHeard = Since;
            return d;
        };
        return {trainer(TourTrainer, 32, 2, 4.0, 0.2), trainer(31022, 89, 7, 3.9, 0.4), trainer(602, 1, 11, 0, 14.0)};
    }
    std::string Manufacturer(uint16_t Id) const override
    {
        return Id == 32 ? "Ulmora" : Id == 89 ? "Brendel" : Id == 1 ? "Sarto" : TDiscoverySource::Manufacturer(Id);
    }
    std::string FeType(uint8_t Type) const override { return Type == 25 ? "trainer" : TDiscoverySource::FeType(Type); }

private:
    bool FRunning = false;
};

} // namespace

TSettingsTour::TSettingsTour(std::string Dir) : FDir(std::move(Dir))
{
    connect(&FPoll, &QTimer::timeout, this, [this] { Step(); });
    FPoll.start(TourPollMs);
}

std::unique_ptr<TDiscoverySource> TSettingsTour::Source()
{
    return std::make_unique<TTourSource>();
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
        ++FStep;
        break;
    case 1:
        if (window->Trainers->Table->topLevelItemCount() == 3) {
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
