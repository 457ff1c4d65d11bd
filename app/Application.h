#pragma once
// Start-up of the application: what the command line asks of the process, and the
// application object's name, title and icon.
#include "app/CommandLine.h"
#include "app/LogLines.h"

#include <memory>
#include <string>

class QApplication;
class TForm1;

inline constexpr char ApplicationTitle[] = "Fennick FE-C";

// What the options leave for the window to use.
struct TAppSession {
    TAppOptions Options;
    // The --log copy; nullptr without --log. The window adds Log->Observer() to its memo's lines.
    std::unique_ptr<TLogFileSink> Log;
};

// Makes the process follow the options: the hive location, and the environment the ANT
// library reads ($FENNICK_VIRTUAL_TRAINER, $FENNICK_ANT_LIBRARY), which is why it runs before
// any thread starts. False with `Error` set when the log file cannot be opened.
bool ApplyOptions(const TAppOptions &Options, TAppSession &Session, std::string &Error);

// Name, title ("Fennick FE-C"), window icon, and the locale's number and time formats.
void SetUpApplication(QApplication &App);

// --trainer-calibration: presses Connect, then opens the trainer calibration window, which
// follows the connection from there.
void ConnectThenOpenTrainerCalibration(TForm1 &Window);

// --history FILE, else the default history file.
std::string HistoryPath(const TAppOptions &Options);
// --history-export FILE: the whole history as CSV, without a window. The exit code: 0, or 1
// with the reason on standard error.
int ExportHistory(const TAppOptions &Options);
