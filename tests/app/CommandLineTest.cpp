#include "app/Application.h"
#include "app/CommandLine.h"

#include "GuiTestApp.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

TCommandLine Parse(std::vector<std::string> Args)
{
    return ParseCommandLine(Args);
}

TEST(CommandLineTest, NoArgumentsIsThePlainFlow)
{
    const TCommandLine c = Parse({});
    ASSERT_TRUE(c.Ok());
    EXPECT_FALSE(c.Options.Help);
    EXPECT_FALSE(c.Options.VirtualTrainer.has_value());
    EXPECT_TRUE(c.Options.RegistryFile.empty());
    EXPECT_TRUE(c.Options.LogFile.empty());
}

TEST(CommandLineTest, OptionsWithValues)
{
    TCommandLine c = Parse({"--registry", "/tmp/a.reg", "--ant-library=/opt/libANT_DLL.so", "--log", "-",
                            "--trace", "/tmp/ant.trace", "--virtual-trainer"});
    ASSERT_TRUE(c.Ok()) << c.Error;
    EXPECT_EQ(c.Options.TraceFile, "/tmp/ant.trace");
    EXPECT_EQ(c.Options.RegistryFile, "/tmp/a.reg");
    EXPECT_EQ(c.Options.AntLibrary, "/opt/libANT_DLL.so");
    EXPECT_EQ(c.Options.LogFile, "-");
    EXPECT_EQ(c.Options.VirtualTrainer, "default");
    EXPECT_FALSE(c.Options.TrainerCalibration);
    EXPECT_TRUE(Parse({"--virtual-trainer", "--trainer-calibration"}).Options.TrainerCalibration)
        << "a flag after the scenario-less --virtual-trainer is no scenario";

    c = Parse({"--virtual-trainer=hills.scenario", "--registry=x=y.reg"});
    ASSERT_TRUE(c.Ok()) << c.Error;
    EXPECT_EQ(c.Options.VirtualTrainer, "hills.scenario");
    EXPECT_EQ(c.Options.RegistryFile, "x=y.reg") << "only the first '=' separates";
}

TEST(CommandLineTest, MistakesAreNamed)
{
    EXPECT_EQ(Parse({"--bogus"}).Error, "unknown option '--bogus'");
    EXPECT_EQ(Parse({"-x"}).Error, "unknown option '-x'");
    EXPECT_EQ(Parse({"stray"}).Error, "unexpected argument 'stray'");
    EXPECT_EQ(Parse({"--registry"}).Error, "option '--registry' needs a file name");
    EXPECT_EQ(Parse({"--registry="}).Error, "option '--registry' needs a file name");
    EXPECT_EQ(Parse({"--log"}).Error, "option '--log' needs a file name (or - for standard error)");
    EXPECT_EQ(Parse({"--ant-library"}).Error, "option '--ant-library' needs a library path");
    EXPECT_EQ(Parse({"--trace="}).Error, "option '--trace' needs a file name");
    EXPECT_EQ(Parse({"--virtual-trainer="}).Error, "option '--virtual-trainer=' needs a scenario after '='");
    EXPECT_EQ(Parse({"--virtual-trainer", "hills.scenario"}).Error,
              "unexpected argument 'hills.scenario' (a scenario is given as --virtual-trainer=hills.scenario)");
    EXPECT_EQ(Parse({"--help=yes"}).Error, "option '--help' takes no value");
    EXPECT_EQ(Parse({"--trainer-calibration=spindown"}).Error, "option '--trainer-calibration' takes no value");
    EXPECT_TRUE(Parse({"--settings"}).Options.Settings);
    EXPECT_EQ(Parse({"--settings=x"}).Error, "option '--settings' takes no value");
    // A failed parse hands back no half-read options.
    const TCommandLine c = Parse({"--registry", "a.reg", "--bogus"});
    EXPECT_TRUE(c.Options.RegistryFile.empty());
}

TEST(CommandLineTest, ScanTakesAnOptionalTimeInSeconds)
{
    EXPECT_EQ(Parse({"--scan"}).Options.ScanSeconds, DefaultScanSeconds);
    EXPECT_EQ(Parse({"--scan", "3"}).Options.ScanSeconds, 3.0);
    EXPECT_EQ(Parse({"--scan=2.5", "--log", "-"}).Options.ScanSeconds, 2.5);
    const TCommandLine followed = Parse({"--scan", "--virtual-trainer=x"});
    EXPECT_EQ(followed.Options.ScanSeconds, DefaultScanSeconds);
    EXPECT_EQ(followed.Options.VirtualTrainer, "x");
    EXPECT_FALSE(Parse({}).Options.ScanSeconds);
    for (const char *bad : {"--scan=0", "--scan=soon", "--scan=", "--scan=3601", "--scan=4s"})
        EXPECT_NE(Parse({bad}).Error.find("'--scan' needs a time"), std::string::npos) << bad;
    EXPECT_NE(Parse({"--scan", "-1"}).Error, "");
}

TEST(CommandLineTest, OptionsReachTheProcess)
{
    ::unsetenv("FENNICK_VIRTUAL_TRAINER");
    ::unsetenv("FENNICK_ANT_LIBRARY");
    ::unsetenv("FENNICK_ANT_TRACE");
    TAppSession session;
    std::string error;
    TAppOptions options;
    ASSERT_TRUE(ApplyOptions(options, session, error));
    EXPECT_EQ(std::getenv("FENNICK_VIRTUAL_TRAINER"), nullptr) << "nothing set without options";
    EXPECT_EQ(std::getenv("FENNICK_ANT_TRACE"), nullptr);
    EXPECT_EQ(session.Log, nullptr);

    options.RegistryFile = "/tmp/fennick-option-test.reg";
    options.VirtualTrainer = "default";
    options.AntLibrary = "/opt/lib/libANT_DLL.so";
    options.LogFile = "-";
    options.TraceFile = "/tmp/fennick-option-test.trace";
    ASSERT_TRUE(ApplyOptions(options, session, error)) << error;
    EXPECT_STREQ(std::getenv("FENNICK_ANT_TRACE"), "/tmp/fennick-option-test.trace");
    ::unsetenv("FENNICK_ANT_TRACE");
    EXPECT_EQ(RegistryFile(), "/tmp/fennick-option-test.reg");
    EXPECT_STREQ(std::getenv("FENNICK_VIRTUAL_TRAINER"), "default");
    EXPECT_STREQ(std::getenv("FENNICK_ANT_LIBRARY"), "/opt/lib/libANT_DLL.so");
    EXPECT_NE(session.Log, nullptr);
    SetRegistryFile("");

    options = TAppOptions();
    options.LogFile = "/nonexistent-folder/fennick.log";
    TAppSession failed;
    EXPECT_FALSE(ApplyOptions(options, failed, error));
    EXPECT_EQ(error, "cannot open log file '/nonexistent-folder/fennick.log': No such file or directory");
}

// The real executable, as a user starts it.
struct TRun {
    int ExitCode;
    QString Out;
    QString Err;
};

TRun RunFennick(const QStringList &Args)
{
    GuiTestApp();
    QProcess process;
    process.start(QString::fromLocal8Bit(std::getenv("FENNICK_EXE")), Args);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

TEST(FennickExecutableTest, HelpAndVersion)
{
    const TRun help = RunFennick({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_TRUE(help.Out.startsWith("Usage: fennick [OPTION]...")) << help.Out.toStdString();
    for (const char *option : {"--registry FILE", "--virtual-trainer[=SCENARIO]", "--ant-library PATH", "--log FILE",
                               "--trace FILE"})
        EXPECT_TRUE(help.Out.contains(option)) << option;
    EXPECT_TRUE(help.Err.isEmpty());

    const TRun version = RunFennick({"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out.toStdString(), VersionText());
}

TEST(FennickExecutableTest, ACommandLineNotUnderstoodExitsWith2)
{
    const TRun bad = RunFennick({"--frobnicate"});
    EXPECT_EQ(bad.ExitCode, 2);
    EXPECT_TRUE(bad.Out.isEmpty());
    EXPECT_EQ(bad.Err.toStdString(), "fennick: unknown option '--frobnicate'\n"
                                     "Try 'fennick --help' for more information.\n");

    const TRun noLog = RunFennick({"--log", "/nonexistent-folder/x.log"});
    EXPECT_EQ(noLog.ExitCode, 2);
    EXPECT_TRUE(noLog.Err.startsWith("fennick: cannot open log file '/nonexistent-folder/x.log'"));
}

TEST(FennickExecutableTest, HistoryExportWritesTheCsvWithoutAWindowAndSaysWhyItCannot)
{
    char pattern[] = "/tmp/fennick-history-export-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const QString history = QString::fromStdString(dir + "/history.sqlite");
    const std::string csv = dir + "/history.csv";
    const TRun run = RunFennick({"--history", history, "--history-export", QString::fromStdString(csv)});
    EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    std::ifstream in(csv, std::ios::binary);
    std::string header;
    std::getline(in, header);
    EXPECT_TRUE(header.rfind("record,", 0) == 0) << header;

    const TRun nowhere = RunFennick({"--history", history, "--history-export", QString::fromStdString(dir + "/no/such/x.csv")});
    EXPECT_EQ(nowhere.ExitCode, 1);
    EXPECT_TRUE(nowhere.Err.contains("cannot write the history to")) << nowhere.Err.toStdString();

    std::ofstream(dir + "/garbage.sqlite", std::ios::binary) << std::string(4096, 'Z');
    const TRun corrupt = RunFennick({"--history", QString::fromStdString(dir + "/garbage.sqlite"), "--history-export",
                                    QString::fromStdString(csv)});
    EXPECT_EQ(corrupt.ExitCode, 1);
    EXPECT_TRUE(corrupt.Err.contains("garbage.sqlite")) << corrupt.Err.toStdString();
    std::filesystem::remove_all(dir);
}

} // namespace
