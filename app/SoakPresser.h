#pragma once
// The soak run's user ($FENNICK_SOAK_PRESS_SECONDS): dismisses the start message, presses
// Connect, and from the connection on presses the points in turn (P2, P3, P1, P2, …) every
// interval, as a rider working through a calibration would. Each press is one line in the debug
// log, "soak: pressed P2 (level 61); labels changed after 4 ms", counted from the moment the
// press was due, so a user-interface thread that stalls shows as a late change.
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>
#include <string>

class TForm1;

class TSoakPresser : public QObject {
public:
    // nullptr unless the variable holds a positive number of seconds.
    static std::unique_ptr<TSoakPresser> FromEnvironment();
    explicit TSoakPresser(std::chrono::milliseconds Interval);
    void SetWindow(TForm1 *Window) { FWindow = Window; }
    int Presses() const { return FPresses; }

    // The line a press leaves in the log; ChangedAfterMs < 0: the labels did not change.
    static std::string PressLine(int Point, int Level, long long ChangedAfterMs);

private:
    using TClock = std::chrono::steady_clock;
    void WatchForConnection();
    void Press();
    void PlanNextPress();

    std::chrono::milliseconds FInterval;
    QPointer<TForm1> FWindow;
    QTimer FWatch;
    QTimer FPressTimer;
    bool FConnectPressed = false;
    TClock::time_point FDue;
    int FPresses = 0;
};
