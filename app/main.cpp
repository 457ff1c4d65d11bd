// fennick: the calibration application.
#include "app/Application.h"
#include "app/CalibrationWindow.h"
#include "app/HeaderMenu.h"
#include "app/ResultsRecorder.h"
#include "app/CommandLine.h"
#include "app/DeviceScan.h"
#include "app/ResultsTour.h"
#include "app/ScreenshotTour.h"
#include "app/SettingsTour.h"
#include "app/SettingsWindow.h"
#include "app/SoakPresser.h"
#include "app/TrainerCalibrationTour.h"

#include "app/DiscoverySource.h"

#include <QApplication>
#include <QTimer>

#include <cstdlib>
#include <iostream>
#include <memory>

namespace {

// No calibration window in this process: nothing of ours holds the stick.
int RunSettingsWindow(QApplication &App, const char *ScreenshotDir)
{
    std::unique_ptr<TSettingsTour> tour;
    if (ScreenshotDir)
        tour = std::make_unique<TSettingsTour>(ScreenshotDir);
    TSettingsWindow window(MakeDiscoverySource(), nullptr);
    if (tour)
        tour->SetWindow(&window);
    window.show();
    return App.exec();
}

} // namespace

int main(int argc, char **argv)
{
    const TCommandLine commandLine = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!commandLine.Ok()) {
        std::cerr << CommandLineErrorText(commandLine.Error);
        return CommandLineErrorExitCode;
    }
    if (commandLine.Options.Help) {
        std::cout << UsageText();
        return 0;
    }
    if (commandLine.Options.Version) {
        std::cout << VersionText();
        return 0;
    }
    if (!commandLine.Options.HistoryExport.empty())
        return ExportHistory(commandLine.Options);
    TAppSession session;
    std::string error;
    if (!ApplyOptions(commandLine.Options, session, error)) {
        std::cerr << "fennick: " << error << "\n";
        return CommandLineErrorExitCode;
    }
    if (commandLine.Options.ScanSeconds)
        return ScanDevices(session);
    // Qt sees no arguments: the command line is ours alone (QT_QPA_PLATFORM and the other
    // environment variables still reach it).
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    SetUpApplication(app);

    const char *screenshotDir = std::getenv("FENNICK_SCREENSHOT_DIR");
    const bool touring = screenshotDir != nullptr && *screenshotDir;
    if (commandLine.Options.Settings)
        return RunSettingsWindow(app, touring ? screenshotDir : nullptr);
    const bool trainerCalibration = commandLine.Options.TrainerCalibration;
    std::unique_ptr<TScreenshotTour> tour;
    std::unique_ptr<TTrainerCalibrationTour> calibrationTour;
    std::unique_ptr<TResultsTour> resultsTour;
    if (touring && trainerCalibration)
        calibrationTour = std::make_unique<TTrainerCalibrationTour>(screenshotDir);
    else if (touring && commandLine.Options.Results)
        resultsTour = std::make_unique<TResultsTour>(screenshotDir);
    else if (touring)
        tour = std::make_unique<TScreenshotTour>(screenshotDir);
    // Before the window: the start message comes while it is made.
    const std::unique_ptr<TSoakPresser> soak = TSoakPresser::FromEnvironment();
    TForm1 window;
    if (tour)
        tour->SetWindow(&window);
    if (calibrationTour)
        calibrationTour->SetWindow(&window);
    if (resultsTour)
        resultsTour->SetWindow(&window);
    if (soak)
        soak->SetWindow(&window);
    if (session.Log) {
        // The window may have logged already while it was made (a hive it cannot use).
        for (const std::string &line : window.MemoLines().ToVector())
            session.Log->WriteLine(line);
        window.MemoLines().AddLineObserver(session.Log->Observer());
    }
    window.Results()->OpenHistory(HistoryPath(commandLine.Options));
    window.show();
    if (commandLine.Options.Results)
        QTimer::singleShot(0, &window, [&window] { window.HeaderMenu()->OpenResults(); });
    if (trainerCalibration && !calibrationTour)
        QTimer::singleShot(0, &window, [&window] { ConnectThenOpenTrainerCalibration(window); });
    return app.exec();
}
