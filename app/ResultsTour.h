#pragma once
// The results window's screenshot tour ($FENNICK_SCREENSHOT_DIR with --results): the
// application connects, lets P1 settle, presses P2 and saves a picture of the results while P2
// is measured, then one of the history once P2 has settled; then it closes.
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <string>

class TForm1;

class TResultsTour : public QObject {
public:
    static constexpr const char *Calibrating = "results-calibrating";
    static constexpr const char *History = "results-history";

    // Watches from now on: the start message comes while the window is made.
    explicit TResultsTour(std::string Dir);
    void SetWindow(TForm1 *Window) { FWindow = Window; }

private:
    void Poll();
    bool Save(const char *Moment);

    std::string FDir;
    QPointer<TForm1> FWindow;
    QTimer FPoll;
    int FStep = 0;
};
