#include "app/Application.h"

#include "app/CalibrationWindow.h"
#include "app/HeaderMenu.h"
#include "app/Logo.h"
#include "platform/LocaleFormats.h"
#include "platform/Registry.h"

#include <QApplication>

#include <cstdlib>

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
