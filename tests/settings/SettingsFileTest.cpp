#include "settings/SettingsFile.h"

#include "framework/SysUtils.h"
#include "platform/Registry.h"
#include "settings/SettingsHive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <random>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string Header = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string Others = "; kept as it was\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Other\\Tool]\r\n\"Path\"=\"C:\\\\x\"\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo17]\r\n"
                           "\"Speed1\"=\"11\"\r\n\r\n";

std::string ReadAll(const fs::path &P)
{
    std::ifstream in(P, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteAll(const fs::path &P, const std::string &Bytes)
{
    std::ofstream(P, std::ios::binary | std::ios::trunc) << Bytes;
}

TTrainerSettings Settings(int32_t DeviceNumber)
{
    TTrainerSettings s;
    s.UnitType = 13;
    s.DeviceNumber = DeviceNumber;
    s.Diameter = 659.5L;
    s.Points = {{{20, 107}, {30, 61}, {40, 0}}};
    return s;
}

TTrainerSettings Reloaded(const std::string &Path)
{
    const TSettingsLoad load = LoadSettingsFile(Path);
    EXPECT_TRUE(load.Ok) << load.Why;
    return CheckSettings(load.Text).Settings;
}

// Runs `Body` in a child process and returns what it wrote to the pipe.
std::string InChild(const std::function<std::string()> &Body)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string said = Body();
        (void)!write(fds[1], said.data(), said.size());
        _exit(0);
    }
    close(fds[1]);
    std::string said;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        said.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    return said;
}

std::vector<std::string> Leftovers(const fs::path &Dir)
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(Dir))
        if (e.path().filename().string().find(".tmp-") != std::string::npos)
            names.push_back(e.path().filename().string());
    return names;
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetFormatSettingsOverride(TFormatSettings{});
        char pattern[] = "/tmp/fennick-settings-XXXXXX";
        Dir = mkdtemp(pattern);
        Path = (Dir / "registry.reg").string();
    }
    void TearDown() override
    {
        SetRegistryBeforeReplaceHook(nullptr);
        SetFormatSettingsOverride(std::nullopt);
        chmod(Dir.c_str(), 0700);
        fs::remove_all(Dir);
    }
    fs::path Dir;
    std::string Path;
};

TEST_F(SettingsFileTest, SaveKeepsEverythingElseAndThePreviousFileAsBackup)
{
    WriteAll(Path, Header + Others);
    const TSettingsSave save = SaveSettingsFile(Path, Settings(4711));
    ASSERT_TRUE(save.Ok) << save.Message;
    EXPECT_EQ(save.Message, "Saved to '" + Path + "'; the previous file is kept as '" + Path + ".bak'.");
    const std::string written = ReadAll(Path);
    EXPECT_EQ(written.compare(0, Header.size() + Others.size(), Header + Others), 0);
    EXPECT_NE(written.find("\"TvdAntP_DeviceNumber\"=\"4711\"\r\n"), std::string::npos);
    EXPECT_NE(written.find("\"TvdAntP_Diameter\"=\"659.5\"\r\n"), std::string::npos);
    EXPECT_EQ(ReadAll(Path + ".bak"), Header + Others);
    EXPECT_EQ(Reloaded(Path), Settings(4711));

    ASSERT_TRUE(SaveSettingsFile(Path, Settings(12)).Ok);
    EXPECT_EQ(ReadAll(Path + ".bak"), written);
    EXPECT_EQ(Reloaded(Path).DeviceNumber, 12);
    EXPECT_TRUE(Leftovers(Dir).empty());
}

TEST_F(SettingsFileTest, ModelsSwitchBetweenThreeAndTwoPoints)
{
    TTrainerSettings two = Settings(1);
    two.TwoPoint = true;
    two.Points = {{{18, 90}, {33, 40}, {}}};
    ASSERT_TRUE(SaveSettingsFile(Path, two).Ok);
    EXPECT_EQ(Reloaded(Path), two);
    ASSERT_TRUE(SaveSettingsFile(Path, Settings(1)).Ok);
    EXPECT_EQ(Reloaded(Path), Settings(1));
}

TEST_F(SettingsFileTest, AFileThatDoesNotParseIsNeitherLoadedNorOverwritten)
{
    const std::string broken = Header + "[HKEY_CURRENT_USER\\Software\\Broken\r\n";
    WriteAll(Path, broken);
    EXPECT_FALSE(LoadSettingsFile(Path).Ok);
    const TSettingsSave save = SaveSettingsFile(Path, Settings(4711));
    EXPECT_FALSE(save.Ok);
    EXPECT_EQ(save.Message.rfind("The settings could not be saved to '" + Path + "': the file is not valid at line 3", 0),
              0u)
        << save.Message;
    EXPECT_EQ(ReadAll(Path), broken);
    EXPECT_FALSE(fs::exists(Path + ".bak"));
}

TEST_F(SettingsFileTest, SettingsOutOfRangeAreRefused)
{
    TTrainerSettings s = Settings(70000);
    EXPECT_FALSE(SaveSettingsFile(Path, s).Ok);
    EXPECT_FALSE(ExportSettings((Dir / "out.reg").string(), s).Ok);
    EXPECT_FALSE(fs::exists(Path));
}

TEST_F(SettingsFileTest, AReadOnlyFolderLeavesTheFileAndSaysWhy)
{
    WriteAll(Path, Header + Others);
    SaveSettingsFile(Path, Settings(1));  // the lock file exists: the refusal must come from the folder
    const std::string before = ReadAll(Path);
    chmod(Dir.c_str(), 0555);
    const std::string said = InChild([&] {
        if (geteuid() == 0) {
            chown(Path.c_str(), 65534, 65534);
            (void)!setresgid(65534, 65534, 65534);
            (void)!setresuid(65534, 65534, 65534);
        }
        return SaveSettingsFile(Path, Settings(2)).Message;
    });
    EXPECT_EQ(said, "The settings could not be saved to '" + Path +
                        "': Permission denied. The previous settings are unchanged.");
    EXPECT_EQ(ReadAll(Path), before);
    EXPECT_TRUE(Leftovers(Dir).empty());
}

TEST_F(SettingsFileTest, AFullDiskLeavesTheFileAndSaysWhy)
{
    const std::string before = Header + Others + "; " + std::string(4000, 'x') + "\r\n";
    WriteAll(Path, before);
    const std::string said = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{2000, 2000};
        setrlimit(RLIMIT_FSIZE, &limit);
        return SaveSettingsFile(Path, Settings(2)).Message;
    });
    EXPECT_EQ(said, "The settings could not be saved to '" + Path +
                        "': File too large. The previous settings are unchanged.");
    EXPECT_EQ(ReadAll(Path), before);
    EXPECT_TRUE(Leftovers(Dir).empty());
}

// Killed at any moment, the writer leaves one of the complete files it went between, never a
// part of one; the backup is always a complete earlier file.
TEST_F(SettingsFileTest, AWriterKilledAtAnyMomentLeavesACompleteFile)
{
    const std::string base = Header + Others + "; " + std::string(1 << 20, 'p') + "\r\n";
    WriteAll(Path, base);
    std::string a, b;
    ASSERT_TRUE(WriteSettings(base, Settings(1), a));
    ASSERT_TRUE(WriteSettings(a, Settings(2), b));
    std::mt19937 random(20240611);
    int replaced = 0;
    for (int round = 0; round < 40; ++round) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (int i = 0;; ++i)
                SaveSettingsFile(Path, Settings(1 + i % 2));
        }
        usleep(std::uniform_int_distribution<int>(0, 60000)(random));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        const std::string now = ReadAll(Path);
        ASSERT_TRUE(now == base || now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
        replaced += now != base;
        if (fs::exists(Path + ".bak")) {
            const std::string backup = ReadAll(Path + ".bak");
            ASSERT_TRUE(backup == base || backup == a || backup == b) << "round " << round;
        }
    }
    EXPECT_GT(replaced, 0);
}

TEST_F(SettingsFileTest, ExportIsAWindowsRegistryFileThatImportsAgain)
{
    const std::string out = (Dir / "trainer.reg").string();
    ASSERT_TRUE(ExportSettings(out, Settings(4711)).Ok);
    const std::string bytes = ReadAll(out);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const THiveParseResult hive = ParseHive(bytes);
    EXPECT_TRUE(hive.Complete);
    EXPECT_TRUE(hive.Utf16);
    ASSERT_EQ(hive.Keys.size(), 2u);
    EXPECT_EQ(hive.Keys[0].Path, "HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\TarvoDeviceAntP");
    EXPECT_EQ(hive.Keys[1].Path, "HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo13");
    // Every line ends in CRLF: no lone LF in the UTF-16 text.
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        if (bytes[i] == '\n' && bytes[i + 1] == 0) {
            ASSERT_EQ(bytes[i - 2], '\r') << "at " << i;
        }
    }
    const TSettingsLoad import = ImportSettings(out);
    ASSERT_TRUE(import.Ok) << import.Why;
    EXPECT_EQ(CheckSettings(import.Text).Settings, Settings(4711));
}

TEST_F(SettingsFileTest, ImportSaysWhatIsWrongWithAFile)
{
    const std::string other = (Dir / "other.reg").string();
    WriteAll(other, Header + "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"A\"=\"1\"\r\n");
    EXPECT_EQ(ImportSettings(other).Why, "'" + other + "' holds no trainer settings.");
    EXPECT_EQ(ImportSettings(Path).Why, "'" + Path + "' cannot be imported: there is no such file.");
    WriteAll(other, "\x01\x02 not a registry file");
    EXPECT_EQ(ImportSettings(other).Why.rfind("'" + other + "' cannot be imported: it is not valid at line 1", 0), 0u);
}

} // namespace
