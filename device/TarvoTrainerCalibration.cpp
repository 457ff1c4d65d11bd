// The trainer device's side of the trainer's own calibration: the run gets the trainer
// channel's pages and sends on it; its lines go to the controller's log.
#include "device/TarvoDeviceAntP.h"

std::unique_ptr<TTrainerCalibrationRun> TTarvoDeviceAntP::MakeTrainerCalibrationRun()
{
    TTrainerCalibrationRun::THooks hooks;
    hooks.TrainerChannel = [this] { return ChannelTrainer(); };
    hooks.Log = [this](const std::string &Line) {
        if (TAntComControl *control = FAntComControl)
            control->Log(Line);
    };
    hooks.Changed = [this] {
        if (OnTrainerCalibrationChange)
            OnTrainerCalibrationChange(this);
    };
    return std::make_unique<TTrainerCalibrationRun>(std::move(hooks));
}

bool TTarvoDeviceAntP::StartTrainerCalibration(TTrainerCalibrationKinds Kinds)
{
    return FTrainerCalibrationRun->Start(Kinds);
}

void TTarvoDeviceAntP::CancelTrainerCalibration() { FTrainerCalibrationRun->Cancel(); }

TTrainerCalibrationView TTarvoDeviceAntP::TrainerCalibration() const { return FTrainerCalibrationRun->View(); }

bool TTarvoDeviceAntP::TrainerCalibrationRunning() const { return FTrainerCalibrationRun->Running(); }

void TTarvoDeviceAntP::HandleTrainerDataPage(TAntChannel *Channel, const TDataPagePayload &Page)
{
    FTrainerCalibrationRun->Page(Channel, Page);
}

void TTarvoDeviceAntP::EndTrainerCalibration(TAntChannel *Channel, const std::string &Text)
{
    FTrainerCalibrationRun->EndForLostTrainer(Channel, Text);
}
