#pragma once
// What the screenshot tours of the new windows share: a poll that dismisses the start message
// before each step, and the pictures saved through the screenshot tour's grab.
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <string>

class TForm1;

class TGuidedTour : public QObject {
public:
    void SetWindow(TForm1 *Window) { FWindow = Window; }

protected:
    // Watches from now on: the start message comes while the window is made.
    TGuidedTour(std::string Dir, int PollMs);
    // One look at the windows, once the start message is gone and the window is there.
    virtual void Step(TForm1 &Window) = 0;
    bool Save(const char *Moment);
    void Stop() { FPoll.stop(); }

private:
    void Poll();

    std::string FDir;
    QPointer<TForm1> FWindow;
    QTimer FPoll;
};
