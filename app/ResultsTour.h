#pragma once
// The results window's screenshot tour ($FENNICK_SCREENSHOT_DIR with --results): the
// application connects, lets P1 settle, presses P2 and saves a picture of the results while P2
// is measured, then one of the history once P2 has settled; then it closes.
#include "app/GuidedTour.h"

class TResultsTour : public TGuidedTour {
public:
    static constexpr const char *Calibrating = "results-calibrating";
    static constexpr const char *History = "results-history";

    explicit TResultsTour(std::string Dir);

protected:
    void Step(TForm1 &Window) override;

private:
    int FStep = 0;
};
