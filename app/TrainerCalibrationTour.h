#pragma once
// The trainer calibration's screenshot tour ($FENNICK_SCREENSHOT_DIR with
// --trainer-calibration): the application connects, opens the trainer calibration, presses
// Start and saves a picture while the rider is told to pedal up to the target speed, while the
// wheel coasts, and with the result; then it closes. The rider is the scenario's.
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <string>

class TForm1;

class TTrainerCalibrationTour : public QObject {
public:
    static constexpr const char *Pedal = "trainer-calibration-pedal";
    static constexpr const char *Coast = "trainer-calibration-coast";
    static constexpr const char *Result = "trainer-calibration-result";

    // Watches from now on: the start message comes while the window is made.
    explicit TTrainerCalibrationTour(std::string Dir);
    void SetWindow(TForm1 *Window) { FWindow = Window; }
    int Saved() const { return FSaved; }

private:
    void Poll();
    bool Save(const char *Moment);

    std::string FDir;
    QPointer<TForm1> FWindow;
    QTimer FPoll;
    int FStep = 0;
    int FSaved = 0;
    int FResultPolls = 0;
};
