#pragma once
// One QCoreApplication for the test program, made on the main thread before the first test,
// and a message-pumping wait for conditions that user-interface-thread ticks make true.
#include "platform/UiThread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <functional>

class TQtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "fennick-test";
        static char *argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            FApp = new QCoreApplication(argc, argv);
    }
    void TearDown() override
    {
        delete FApp;
        FApp = nullptr;
    }

private:
    QCoreApplication *FApp = nullptr;
};

inline ::testing::Environment *const gQtEnvironment = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

using TestClock = std::chrono::steady_clock;

inline long long MsSince(TestClock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(TestClock::now() - start).count();
}

// Processes messages until Done() or the limit; true when Done() came true.
inline bool PumpUntil(const std::function<bool()> &Done, int LimitMs = 5000)
{
    const auto start = TestClock::now();
    while (!Done()) {
        if (MsSince(start) > LimitMs)
            return false;
        PumpMessages(2);
    }
    return true;
}

// Processes messages for about Ms milliseconds.
inline void PumpFor(int Ms)
{
    const auto start = TestClock::now();
    while (MsSince(start) < Ms)
        PumpMessages(2);
}
