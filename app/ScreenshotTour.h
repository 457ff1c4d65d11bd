#pragma once
// The screenshot tour behind $FENNICK_SCREENSHOT_DIR: the application walks itself through a
// calibration and saves a picture of its windows at each moment a user would see — the start
// message, the wait dialog, the first measured speed, the closing — for the documentation and
// for a look after a change. It dismisses the start message, presses Connect, and presses
// Close once the speed has been shown; the rest is the ordinary flow.
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <string>

class TForm1;
class QImage;

class TScreenshotTour : public QObject {
public:
    // The moments in the order they come; each is saved as <Dir>/<name>.png.
    static constexpr const char *StartMessage = "start-message";
    static constexpr const char *WaitDialog = "wait-dialog";
    static constexpr const char *Calibrating = "calibrating";
    static constexpr const char *Closing = "closing";

    // Watches from now on, so that a message shown while the window is made is seen too.
    explicit TScreenshotTour(std::string Dir);
    void SetWindow(TForm1 *Window) { FWindow = Window; }
    // How many moments were saved; the tour is complete at 4.
    int Saved() const { return FStep; }

    // Every visible top-level window painted where it stands on the screen, dialogs above
    // the others, cropped to them with a margin.
    static QImage GrabTopLevels();
    // GrabTopLevels() saved as <Dir>/<Moment>.png, said on standard error; false when it cannot be.
    static bool SaveTopLevels(const std::string &Dir, const char *Moment);

private:
    void Poll();
    bool Save(const char *Moment);
    // Runs `Press` from the event loop, outside whatever handler is running now.
    static void Later(QObject *Context, std::function<void()> Press);

    std::string FDir;
    QTimer FPoll;
    QPointer<TForm1> FWindow;
    int FStep = 0;
    bool FConnectPressed = false;
    int FSpeedPolls = 0;
};
