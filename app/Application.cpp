#include "app/Application.h"

#include "app/CalibrationWindow.h"
#include "app/HeaderMenu.h"
#include "app/Logo.h"
#include "history/HistoryCsv.h"
#include "history/HistoryPath.h"
#include "history/HistoryStore.h"
#include "platform/LocaleFormats.h"
#include "platform/Registry.h"

#include <QApplication>

#include <cstdlib>
#include <fstream>
#include <iostream>

bool ApplyOptions(const TAppOptions &Options, TAppSession &Session, std::string &Error)
{
    Session.Options = Options;
    if (!Options.LogFile.empty()) {
        Session.Log = TLogFileSink::Open(Options.LogFile, Error);
        if (!Session.Log)
            return false;
    }
    if (!Options.RegistryFile.empty())
        SetRegistryFile(Options.RegistryFile);
    if (Options.VirtualTrainer)
        ::setenv("FENNICK_VIRTUAL_TRAINER", Options.VirtualTrainer->c_str(), 1);
    if (!Options.AntLibrary.empty())
        ::setenv("FENNICK_ANT_LIBRARY", Options.AntLibrary.c_str(), 1);
    // The ANT library reads it when it opens the stick.
    if (!Options.TraceFile.empty())
        ::setenv("FENNICK_ANT_TRACE", Options.TraceFile.c_str(), 1);
    return true;
}

void SetUpApplication(QApplication &App)
{
    App.setApplicationName(QStringLiteral("fennick"));
    App.setApplicationDisplayName(QString::fromUtf8(ApplicationTitle));
    App.setApplicationVersion(QStringLiteral(FENNICK_VERSION));
    App.setWindowIcon(ApplicationIcon());
    UseSystemFormatSettings();
}

void ConnectThenOpenTrainerCalibration(TForm1 &Window)
{
    Window.Button5Click();
    // Connect may have ended the application (Close pressed while it waited).
    if (Window.isVisible())
        Window.HeaderMenu()->OpenTrainerCalibration();
}

std::string HistoryPath(const TAppOptions &Options)
{
    return Options.HistoryFile.empty() ? DefaultHistoryPath() : Options.HistoryFile;
}

int ExportHistory(const TAppOptions &Options)
{
    std::string error;
    const std::unique_ptr<THistoryStore> store = THistoryStore::Open(HistoryPath(Options), error);
    if (!store) {
        std::cerr << "fennick: " << error << "\n";
        return 1;
    }
    std::ofstream out(Options.HistoryExport, std::ios::binary | std::ios::trunc);
    if (out)
        WriteHistoryCsv(store->Sessions(), store->TrainerCalibrations(), out);
    out.close();
    if (!out) {
        std::cerr << "fennick: cannot write the history to '" << Options.HistoryExport << "'\n";
        return 1;
    }
    return 0;
}
