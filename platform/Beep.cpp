#include "platform/Beep.h"

#include "platform/UiThread.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <mutex>

namespace {
std::mutex gMutex;
std::function<void()> gSink;

void RealBeep()
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        QApplication::beep();
        return;
    }
    std::fputs("\a", stderr);
    std::fflush(stderr);
}
} // namespace

void MessageBeep()
{
    std::function<void()> sink;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        sink = gSink;
    }
    if (sink) {
        sink();
        return;
    }
    // The GUI beep belongs to the UI thread; a beep from elsewhere must not wait for it.
    if (IsUiThread())
        RealBeep();
    else
        PostToUiThread(RealBeep);
}

void SetBeepSink(std::function<void()> sink)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gSink = std::move(sink);
}
