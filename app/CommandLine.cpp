#include "app/CommandLine.h"

#include <cctype>
#include <stdexcept>

#ifndef FENNICK_VERSION
#error "FENNICK_VERSION comes from the build"
#endif

namespace {

// "--name=value" gives name and value; "--name" gives name alone.
struct TArgument {
    std::string Name;
    std::optional<std::string> Value;
};

TArgument SplitArgument(const std::string &Arg)
{
    const size_t eq = Arg.find('=');
    if (Arg.rfind("--", 0) != 0 || eq == std::string::npos)
        return {Arg, std::nullopt};
    return {Arg.substr(0, eq), Arg.substr(eq + 1)};
}

// A time of --scan: seconds, more than 0 and at most an hour.
std::optional<double> ScanTime(const std::string &Text)
{
    size_t used = 0;
    double seconds = 0;
    try {
        seconds = std::stod(Text, &used);
    } catch (const std::exception &) {
        return std::nullopt;
    }
    if (used != Text.size() || !(seconds > 0 && seconds <= 3600))
        return std::nullopt;
    return seconds;
}

bool LooksLikeNumber(const std::string &Text)
{
    return !Text.empty() && (std::isdigit(static_cast<unsigned char>(Text[0])) || Text[0] == '.');
}

} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string> &Args)
{
    TCommandLine result;
    TAppOptions &o = result.Options;
    bool trainerWithoutValue = false;
    for (size_t i = 0; i < Args.size() && result.Ok(); ++i) {
        const TArgument arg = SplitArgument(Args[i]);
        // The value of an option that needs one: after '=' or the next argument.
        auto value = [&](std::string &target, const char *what) {
            if (arg.Value)
                target = *arg.Value;
            else if (i + 1 < Args.size())
                target = Args[++i];
            else
                target.clear();
            if (target.empty())
                result.Error = "option '" + arg.Name + "' needs " + what;
        };
        const bool takesNoValue = arg.Name == "--help" || arg.Name == "-h" || arg.Name == "--version" ||
                                  arg.Name == "--trainer-calibration" || arg.Name == "--results" ||
                                  arg.Name == "--settings";
        if (takesNoValue && arg.Value) {
            result.Error = "option '" + arg.Name + "' takes no value";
        } else if (arg.Name == "--help" || arg.Name == "-h") {
            o.Help = true;
        } else if (arg.Name == "--version") {
            o.Version = true;
        } else if (arg.Name == "--trainer-calibration") {
            o.TrainerCalibration = true;
        } else if (arg.Name == "--results") {
            o.Results = true;
        } else if (arg.Name == "--settings") {
            o.Settings = true;
        } else if (arg.Name == "--history") {
            value(o.HistoryFile, "a file name");
        } else if (arg.Name == "--history-export") {
            value(o.HistoryExport, "a file name");
        } else if (arg.Name == "--registry") {
            value(o.RegistryFile, "a file name");
        } else if (arg.Name == "--ant-library") {
            value(o.AntLibrary, "a library path");
        } else if (arg.Name == "--log") {
            value(o.LogFile, "a file name (or - for standard error)");
        } else if (arg.Name == "--trace") {
            value(o.TraceFile, "a file name");
        } else if (arg.Name == "--scan") {
            std::string text = arg.Value.value_or("");
            if (!arg.Value && i + 1 < Args.size() && LooksLikeNumber(Args[i + 1]))
                text = Args[++i];
            o.ScanSeconds = text.empty() && !arg.Value ? std::optional<double>(DefaultScanSeconds) : ScanTime(text);
            if (!o.ScanSeconds)
                result.Error = "option '--scan' needs a time in seconds (more than 0, at most 3600), got '" +
                               text + "'";
        } else if (arg.Name == "--virtual-trainer") {
            if (arg.Value && arg.Value->empty())
                result.Error = "option '--virtual-trainer=' needs a scenario after '='";
            o.VirtualTrainer = arg.Value ? *arg.Value : "default";
            trainerWithoutValue = !arg.Value;
            continue;
        } else if (Args[i].rfind("-", 0) == 0 && Args[i] != "-") {
            result.Error = "unknown option '" + Args[i] + "'";
        } else if (trainerWithoutValue && i > 0 && Args[i - 1] == "--virtual-trainer") {
            result.Error = "unexpected argument '" + Args[i] + "' (a scenario is given as --virtual-trainer=" +
                           Args[i] + ")";
        } else {
            result.Error = "unexpected argument '" + Args[i] + "'";
        }
        trainerWithoutValue = false;
    }
    if (!result.Ok())
        result.Options = TAppOptions();
    return result;
}

std::string UsageText()
{
    return "Usage: fennick [OPTION]...\n"
           "Calibrates an ANT+ FE-C bike trainer through an ANT USB stick.\n"
           "\n"
           "  --registry FILE             read the calibration settings from FILE (a .reg export);\n"
           "                              default $FENNICK_REGISTRY, else\n"
           "                              $XDG_CONFIG_HOME/fennick/registry.reg\n"
           "  --virtual-trainer[=SCENARIO]  use the virtual ANT stick with its simulated trainer\n"
           "                              (the built-in scenario, or a scenario file)\n"
           "  --ant-library PATH          load this ANT library instead of libANT_DLL.so\n"
           "  --log FILE                  copy the debug log to FILE (- for standard error)\n"
           "  --trace FILE                write every ANT frame to and from the stick to FILE,\n"
           "                              for support\n"
           "  --trainer-calibration       connect as Connect does, then open the trainer's own\n"
           "                              calibration (zero offset, spin-down)\n"
           "  --results                   open the results window (this session and the history)\n"
           "  --settings                  open only the settings window: choose the trainer, the\n"
           "                              model, its points and the roller diameter, and save\n"
           "                              them into the settings file (see --registry)\n"
           "  --history FILE              keep the calibration history in FILE; default\n"
           "                              $XDG_DATA_HOME/fennick/history.sqlite\n"
           "  --history-export FILE       write the whole history as CSV to FILE and exit\n"
           "  --scan [SECONDS]            listen for SECONDS (default 10) and list the FE-C\n"
           "                              trainers and heart-rate straps heard, one per line:\n"
           "                              KIND NUMBER transmission=T manufacturer=M model=N\n"
           "                              fe=F rate=R heard=S (- when not known); no window\n"
           "  -h, --help                  show this help and exit\n"
           "      --version               show the version and exit\n"
           "\n"
           "Exit status: 0 when the application ends normally, 2 for a command line that is\n"
           "not understood. With --scan: 0 when a trainer was heard, 1 when none was (or no\n"
           "stick could be used).\n";
}

std::string VersionText()
{
    return std::string("fennick (Fennick FE-C) ") + FENNICK_VERSION + "\n";
}

std::string CommandLineErrorText(const std::string &Error)
{
    return "fennick: " + Error + "\nTry 'fennick --help' for more information.\n";
}
