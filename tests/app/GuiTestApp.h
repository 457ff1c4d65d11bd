#pragma once
// One QApplication for the whole test program, made on the main thread (gtest runs the tests
// there), so the main thread is the UI thread as in the application. The tests run with
// QT_QPA_PLATFORM=offscreen. It is never destroyed: a QApplication torn down among the static
// destructors at exit crashes inside Qt's input-device registry.
#include <QApplication>

inline QApplication &GuiTestApp()
{
    static int argc = 1;
    static char name[] = "fennick-app-tests";
    static char *argv[] = {name, nullptr};
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}
