#pragma once
// One QCoreApplication for the whole test program, made on the main thread (gtest runs the
// tests there), so the main thread is the UI thread as in the application.
#include <QCoreApplication>

inline QCoreApplication &TestApp()
{
    static int argc = 1;
    static char name[] = "fennick-platform-tests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}
