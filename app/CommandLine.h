#pragma once
// The command line of fennick.
#include <optional>
#include <string>
#include <vector>

struct TAppOptions {
    bool Help = false;
    bool Version = false;
    std::string RegistryFile;                   // empty: $FENNICK_REGISTRY, else the default
    std::optional<std::string> VirtualTrainer;  // "default" or a scenario file
    std::string AntLibrary;                     // empty: $FENNICK_ANT_LIBRARY, else ANT_DLL
    std::string LogFile;                        // empty: no copy of the log; "-": standard error
    std::string TraceFile;                      // empty: $FENNICK_ANT_TRACE as it is
    bool TrainerCalibration = false;            // connect, then open the trainer calibration
    bool Results = false;                       // open the results window at start
    bool Settings = false;                      // the settings window on its own
    std::string HistoryFile;                    // empty: DefaultHistoryPath()
    std::string HistoryExport;                  // non-empty: write the history as CSV there, no window
    std::optional<double> ScanSeconds;          // --scan: list the devices heard, no window
};

// What --scan listens for when given no time.
constexpr double DefaultScanSeconds = 10;

struct TCommandLine {
    TAppOptions Options;
    std::string Error;  // empty when the arguments are understood
    bool Ok() const { return Error.empty(); }
};

// Parses the arguments after the program name.
TCommandLine ParseCommandLine(const std::vector<std::string> &Args);

std::string UsageText();
std::string VersionText();
// What fennick prints on standard error for a command line it does not understand.
std::string CommandLineErrorText(const std::string &Error);

// The exit code for a command line that is not understood.
constexpr int CommandLineErrorExitCode = 2;
