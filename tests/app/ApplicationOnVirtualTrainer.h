#pragma once
// The whole application in one process: the calibration window on the trainer device, the ANT
// stack and the real library with its virtual stick. The trainer is judged by what it was given
// (the scenario's host log), the window by its labels.
#include "app/CalibrationWindow.h"
#include "app/WaitDlg.h"

#include "../ant/LogLines.h"
#include "../antsim/HostLog.h"
#include "DialogRecorder.h"
#include "GuiTestApp.h"
#include "HiveFile.h"
#include "platform/UiThread.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace e2e {

constexpr int TrainerNumber = 4242;

// The levels of the basic-resistance pages (page 48) the trainer was given, in order; a level
// given again at once (the channel repeats its last command now and then) counts once.
inline std::vector<int> LevelsGiven(const std::string &HostLog)
{
    std::vector<int> levels;
    for (const THostPage &p : ReadHostLog(HostLog))
        if (p.Device == "trainer" && p.DeviceNumber == TrainerNumber && p.Page[0] == 0x30 &&
            (levels.empty() || levels.back() != p.Page[7]))
            levels.push_back(p.Page[7]);
    return levels;
}

class TApplicationOnVirtualTrainer : public ::testing::Test {
protected:
    void SetUp() override
    {
        HostLog = Hive.Dir + "/host.log";
        UseScenario("rider 0 150 85\n");
        ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
        ::unsetenv("FENNICK_ANT_SERIAL");
        ::unsetenv("FENNICK_ANTPLUS_NETWORK_KEY");
        ::unsetenv("FENNICK_PUBLIC_NETWORK_KEY");
    }
    // TrainerOptions: what follows the trainer's number on its line.
    void UseScenario(const std::string &Rider, const std::string &TrainerOptions = "")
    {
        const std::string scenario = Hive.Dir + "/scenario.txt";
        std::ofstream(scenario) << "seed 1\ntrainer " << TrainerNumber << (TrainerOptions.empty() ? "" : " ")
                                << TrainerOptions << "\n" << Rider
                                << "host_log " << HostLog << "\n";
        ::setenv("FENNICK_VIRTUAL_TRAINER", scenario.c_str(), 1);
    }
    bool Logged(const std::string &Text) const
    {
        for (const std::string &line : Window->MemoLines().ToVector())
            if (line.find(Text) != std::string::npos)
                return true;
        return false;
    }
    // The debug log's lines after the USB device was released (there should be none of a channel).
    std::vector<std::string> LinesAfterRelease() const
    {
        const std::vector<std::string> lines = Window->MemoLines().ToVector();
        std::vector<std::string> after;
        bool released = false;
        for (const std::string &line : lines) {
            if (released)
                after.push_back(line);
            released = released || line.ends_with("Done AntDevice released.");
        }
        return after;
    }
    // Runs the application's loop, as main does, until the window's close ends it (or 30 s).
    int RunApplication()
    {
        // A timer of its own: a single shot left pending would end the next test's loop.
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &App, [&] { App.exit(99); });
        limit.start(30000);
        return App.exec();
    }
    void TearDown() override
    {
        HideWaitDialog();
        if (HasFailure() && Window)
            for (const std::string &line : Window->MemoLines().ToVector())
                std::fprintf(stderr, "  memo: %s\n", line.c_str());
    }

    bool PumpUntil(const std::function<bool()> &Done, int Ms)
    {
        const auto start = std::chrono::steady_clock::now();
        while (!Done()) {
            if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(Ms))
                return false;
            PumpMessages(10);
        }
        return true;
    }
    std::string SpeedText() const { return Window->lblSpeed->text().toStdString(); }
    // The speed the window shows once three statistics ticks in a row agree within 0.3 km/h.
    double SettledSpeed()
    {
        std::vector<double> shown;
        PumpUntil(
            [&] {
                const double now = Window->lblSpeed->text().mid(6).toDouble();
                if (shown.empty() || now != shown.back())
                    shown.push_back(now);
                const size_t n = shown.size();
                return n >= 3 && std::abs(shown[n - 1] - shown[n - 2]) < 0.3 && std::abs(shown[n - 2] - shown[n - 3]) < 0.3;
            },
            12000);
        return shown.empty() ? 0 : shown.back();
    }

    QApplication &App = GuiTestApp();
    THiveFile Hive; // empty: no calibration software installed, any trainer, the built-in points
    TDialogRecorder Dialogs;
    std::string HostLog;
    std::unique_ptr<TForm1> Window;
};

} // namespace e2e
