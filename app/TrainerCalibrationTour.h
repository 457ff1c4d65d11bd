#pragma once
// The trainer calibration's screenshot tour ($FENNICK_SCREENSHOT_DIR with
// --trainer-calibration): the application connects, opens the trainer calibration, presses
// Start and saves a picture while the rider is told to pedal up to the target speed, while the
// wheel coasts, and with the result; then it closes. The rider is the scenario's.
#include "app/GuidedTour.h"

class TTrainerCalibrationTour : public TGuidedTour {
public:
    static constexpr const char *Pedal = "trainer-calibration-pedal";
    static constexpr const char *Coast = "trainer-calibration-coast";
    static constexpr const char *Result = "trainer-calibration-result";

    explicit TTrainerCalibrationTour(std::string Dir);

protected:
    void Step(TForm1 &Window) override;

private:
    int FStep = 0;
    int FResultPolls = 0;
};
