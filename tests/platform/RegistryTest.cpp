#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char *const kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

std::string ReadAll(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path &p, const std::string &bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Utf16(const std::string &ascii8)
{
    // Test texts are UTF-8; encode the code points as UTF-16LE (BMP only).
    std::string out;
    for (size_t i = 0; i < ascii8.size();) {
        unsigned char c = static_cast<unsigned char>(ascii8[i]);
        uint32_t cp;
        if (c < 0x80) {
            cp = c;
            i += 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = ((c & 0x1F) << 6) | (ascii8[i + 1] & 0x3F);
            i += 2;
        } else {
            cp = ((c & 0x0F) << 12) | ((ascii8[i + 1] & 0x3F) << 6) | (ascii8[i + 2] & 0x3F);
            i += 3;
        }
        out += static_cast<char>(cp & 0xFF);
        out += static_cast<char>(cp >> 8);
    }
    return out;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/fennick-reg-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
        Hive = Dir / "registry.reg";
        SetRegistryFile(Hive.string());
    }
    void TearDown() override
    {
        SetRegistryFile("");
        SetRegistryBeforeReplaceHook(nullptr);
        std::error_code ec;
        fs::permissions(Dir, fs::perms::owner_all, ec);
        fs::remove_all(Dir, ec);
    }
    void Hive5(const std::string &body) { WriteAll(Hive, std::string(kHeader) + body); }

    fs::path Dir;
    fs::path Hive;
};

TEST_F(RegistryTest, ValueTypesAsText)
{
    Hive5("[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\TarvoDeviceAntP]\r\n"
          "\"TvdAntP_UnitType\"=\"13\"\r\n"
          "\"Path\"=\"C:\\\\Program Files\\\\\\\"Tarvo\\\"\"\r\n"
          // %USERPROFILE%\x as REG_EXPAND_SZ, continued over two lines
          "\"Expand\"=hex(2):25,00,55,00,53,00,45,00,52,00,50,00,52,00,4f,00,46,00,49,00,\\\r\n"
          "  4c,00,45,00,25,00,5c,00,78,00,00,00\r\n"
          "\"Resist1\"=dword:0000002a\r\n"
          "\"Blob\"=hex:01,02,03\r\n"
          "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
          "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
          "\"Empty\"=\"\"\r\n"
          "@=\"default\"\r\n");
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Ulmora\\Virel\\TarvoDeviceAntP", false));
    EXPECT_EQ(reg.ReadString("TvdAntP_UnitType"), "13");
    EXPECT_EQ(reg.ReadString("Path"), "C:\\Program Files\\\"Tarvo\"");
    EXPECT_EQ(reg.ReadString("Expand"), "%USERPROFILE%\\x"); // not expanded
    EXPECT_EQ(reg.GetDataType("Expand"), rdExpandString);
    EXPECT_EQ(reg.ReadString("Empty"), "");
    EXPECT_EQ(reg.ReadString("Missing"), "");
    EXPECT_EQ(reg.ReadString(""), "default");
    EXPECT_EQ(reg.ReadInteger("Resist1"), 42);

    for (const char *name : {"Resist1", "Blob", "Multi", "Big"}) {
        try {
            reg.ReadString(name);
            ADD_FAILURE() << name << " read as text";
        } catch (const ERegistryException &e) {
            EXPECT_EQ(e.Message(), std::string("Invalid data type for '") + name + "'");
        }
    }
    try {
        reg.ReadInteger("Nothing");
        ADD_FAILURE();
    } catch (const ERegistryException &e) {
        EXPECT_EQ(e.Message(), "Failed to get data for 'Nothing'");
    }
    EXPECT_THROW(reg.ReadInteger("TvdAntP_UnitType"), ERegistryException);
}

TEST_F(RegistryTest, KeysAndNamesAreCaseInsensitive)
{
    Hive5("[HKEY_CURRENT_USER\\SOFTWARE\\ulmora\\VIREL\\calibration\\tarvo13]\r\n"
          "\"speed1\"=\"20\"\r\n");
    TRegistry reg;
    EXPECT_TRUE(reg.KeyExists("\\Software\\Ulmora"));
    EXPECT_TRUE(reg.KeyExists("Software\\Ulmora\\Virel\\Calibration\\Tarvo13"));
    EXPECT_FALSE(reg.KeyExists("Software\\Ulmora\\Virel\\Calibration\\Tarvo1"));
    ASSERT_TRUE(reg.OpenKey("Software\\Ulmora\\Virel\\Calibration\\Tarvo13", false));
    EXPECT_TRUE(reg.ValueExists("SPEED1"));
    EXPECT_EQ(reg.ReadString("Speed1"), "20");

    // Writing in another case replaces the value instead of adding a second one.
    reg.WriteString("SPEED1", "21");
    EXPECT_EQ(reg.GetValueNames(), std::vector<std::string>{"speed1"});
    EXPECT_EQ(reg.ReadString("speed1"), "21");

    // Relative and absolute paths.
    ASSERT_TRUE(reg.OpenKey("\\Software", false));
    ASSERT_TRUE(reg.OpenKey("Ulmora\\Virel", false));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Ulmora\\Virel");
    EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"calibration"});
}

TEST_F(RegistryTest, Utf16HiveIsReadAndKeptUtf16)
{
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Größe]\r\n"
                             "\"Name\"=\"Wert ü\"\r\n"
                             "; a comment\r\n";
    WriteAll(Hive, std::string("\xFF\xFE", 2) + Utf16(text));
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\GRÖSSE", false) || reg.OpenKey("Software\\größe", false));
    EXPECT_EQ(reg.ReadString("name"), "Wert ü");

    reg.WriteString("Other", "1");
    const std::string after = ReadAll(Hive);
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after.substr(0, 2), std::string("\xFF\xFE", 2));
    const std::string expected = "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_CURRENT_USER\\Software\\Größe]\r\n"
                                 "\"Name\"=\"Wert ü\"\r\n"
                                 "\"Other\"=\"1\"\r\n"
                                 "; a comment\r\n";
    EXPECT_EQ(after, std::string("\xFF\xFE", 2) + Utf16(expected));
}

TEST(RegistryHexText, TextWrittenAsUtf16BytesKeepsALeadingByteOrderMarkCharacter)
{
    // U+FEFF at the start of a value is text; the hex(2) bytes must carry it.
    const std::string hive = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n";
    for (const std::string text : {"\xEF\xBB\xBF%HOME%", "line\none", "\xEF\xBB\xBF"}) {
        TRegHiveValue value;
        value.Name = "V";
        value.Type = REG_EXPAND_SZ;
        value.Text = text;
        std::string written;
        ASSERT_TRUE(SetHiveValue(hive, "HKEY_CURRENT_USER\\Software", value, written));
        const THiveParseResult back = ParseHive(written);
        ASSERT_TRUE(back.Complete) << back.Error;
        ASSERT_EQ(back.Keys.size(), 1u);
        ASSERT_EQ(back.Keys[0].Values.size(), 1u);
        EXPECT_EQ(back.Keys[0].Values[0].Text, text);
    }
}

TEST_F(RegistryTest, OlderRegedit4HiveKeepsEightBitStrings)
{
    WriteAll(Hive, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Ulmora]\n"
                   "\"Exp\"=hex(2):25,50,25,00\n"
                   "\"Odd\"=\"a\\q\"\n");
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Ulmora", false));
    EXPECT_EQ(reg.ReadString("Exp"), "%P%");
    EXPECT_EQ(reg.ReadString("Odd"), "a\\q"); // not an escape: kept as written
    reg.WriteString("Lines", "one\ntwo");   // needs hex(1): bytes, not UTF-16, in this format
    reg.WriteString("Odd", reg.ReadString("Odd"));
    EXPECT_EQ(reg.ReadString("Lines"), "one\ntwo");
    EXPECT_EQ(reg.ReadString("Odd"), "a\\q");
    EXPECT_EQ(ReadAll(Hive).substr(0, 9), "REGEDIT4\n");
}

TEST_F(RegistryTest, MissingHiveIsEmptyAndCreatedOnWrite)
{
    TRegistry reg;
    EXPECT_FALSE(reg.KeyExists("Software\\Ulmora"));
    EXPECT_FALSE(reg.OpenKey("Software\\Ulmora", false));
    EXPECT_FALSE(fs::exists(Hive));

    SetRegistryFile((Dir / "sub" / "dir" / "registry.reg").string());
    ASSERT_TRUE(reg.OpenKey("Software\\Ulmora\\Virel\\Calibration\\Tarvo5", true));
    reg.WriteString("Speed1", "C:\\a \"b\"");
    reg.WriteInteger("Count", -2);
    reg.WriteString("Lines", "one\ntwo");

    TRegistry again(KEY_READ);
    ASSERT_TRUE(again.OpenKey("Software\\Ulmora\\Virel\\Calibration\\Tarvo5", false));
    EXPECT_EQ(again.ReadString("Speed1"), "C:\\a \"b\"");
    EXPECT_EQ(again.ReadInteger("Count"), -2);
    EXPECT_EQ(again.ReadString("Lines"), "one\ntwo");
    const THiveParseResult parsed = ParseHive(ReadAll(Dir / "sub" / "dir" / "registry.reg"));
    EXPECT_TRUE(parsed.Complete);
}

TEST_F(RegistryTest, RewritingKeepsEverythingElse)
{
    const std::string before = std::string(kHeader) +
                               "; exported by hand\r\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
                               "\"Keep\"=\"machine\"\r\n"
                               "\r\n"
                               "[HKEY_CURRENT_USER\\Software\\Ulmora]\r\n"
                               "\"A\"=\"1\"\r\n"
                               "\"Gone\"=-\r\n"
                               "\"Multi\"=hex(7):61,00,00,00,\\\r\n"
                               "    00,00\r\n"
                               "\"B\"=\"2\"\r\n"
                               "\r\n"
                               "[-HKEY_CURRENT_USER\\Software\\Old]\r\n";
    WriteAll(Hive, before);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Ulmora", false));
    EXPECT_FALSE(reg.ValueExists("Gone")); // deletions are ignored on read
    EXPECT_FALSE(reg.KeyExists("\\Software\\Old"));
    reg.WriteString("B", "3");
    std::string expected = before;
    expected.replace(expected.find("\"B\"=\"2\""), 7, "\"B\"=\"3\"");
    EXPECT_EQ(ReadAll(Hive), expected);

    EXPECT_TRUE(reg.DeleteValue("a"));
    EXPECT_FALSE(reg.DeleteValue("a"));
    expected.erase(expected.find("\"A\"=\"1\"\r\n"), 9);
    EXPECT_EQ(ReadAll(Hive), expected);

    // Nothing is cached: a change made behind the accessor's back is seen at once.
    std::string edited = expected;
    edited.replace(edited.find("\"B\"=\"3\""), 7, "\"B\"=\"4\"");
    WriteAll(Hive, edited);
    EXPECT_EQ(reg.ReadString("B"), "4");
}

TEST_F(RegistryTest, MalformedHiveIsReadUpToTheErrorButNeverRewritten)
{
    const std::string bad = std::string(kHeader) +
                            "[HKEY_CURRENT_USER\\Software\\Ulmora]\r\n"
                            "\"A\"=\"1\"\r\n"
                            "this line is garbage\r\n"
                            "\"B\"=\"2\"\r\n";
    WriteAll(Hive, bad);
    const THiveParseResult parsed = ParseHive(bad);
    EXPECT_FALSE(parsed.Complete);
    EXPECT_EQ(parsed.ErrorLine, 5);

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Ulmora", false));
    EXPECT_EQ(reg.ReadString("A"), "1");
    try {
        reg.WriteString("A", "9");
        ADD_FAILURE() << "malformed hive was written";
    } catch (const ERegistryException &e) {
        EXPECT_EQ(e.Message(), "Failed to set data for 'A'");
    }
    EXPECT_FALSE(reg.DeleteValue("A"));
    EXPECT_EQ(ReadAll(Hive), bad);

    for (const char *text : {"[HKEY_CURRENT_USER\\X]\n\"A\"=\"1\"\n",      // no header
                             "REGEDIT4\n\"A\"=\"1\"\n",                     // value outside a key
                             "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"A\"=\"1\n", // open quote
                             "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"A\"=hex:01,\\\n"}) // no continuation
        EXPECT_FALSE(ParseHive(text).Complete) << text;
    EXPECT_TRUE(ParseHive("").Complete);
    EXPECT_TRUE(ParseHive("REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"A\"=hex(2):41,00,00\n").Complete);
}

// Runs `body` in a child process that cannot write the hive, and returns its exit code.
// Permission bits do not bind root, so a root test drops to an unprivileged user first.
int RunWithoutWriteRights(const fs::path &dir, const fs::path &hive, const std::function<int()> &body)
{
    chmod(hive.c_str(), 0444);
    chmod(dir.c_str(), 0555);
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(90);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    chmod(dir.c_str(), 0700);
    chmod(hive.c_str(), 0600);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

TEST_F(RegistryTest, ReadOnlyHiveRefusesFullAccess)
{
    Hive5("[HKEY_CURRENT_USER\\Software\\Ulmora]\r\n\"A\"=\"1\"\r\n");
    const std::string before = ReadAll(Hive);
    const int rc = RunWithoutWriteRights(Dir, Hive, [] {
        TRegistry reg; // KEY_ALL_ACCESS
        if (TRegistry::HiveWritable())
            return 1;
        if (reg.OpenKey("Software\\Ulmora", false))
            return 2;
        if (!reg.OpenKeyReadOnly("Software\\Ulmora"))
            return 3;
        if (reg.ReadString("A") != "1")
            return 4;
        try {
            reg.WriteString("A", "2");
            return 5;
        } catch (const ERegistryException &e) {
            if (e.Message() != "Failed to set data for 'A'")
                return 6;
        }
        return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadAll(Hive), before);

    // A hive whose directory cannot be made (a file stands in the way) is read-only too.
    WriteAll(Dir / "plainfile", "x");
    SetRegistryFile((Dir / "plainfile" / "registry.reg").string());
    TRegistry reg;
    EXPECT_FALSE(TRegistry::HiveWritable());
    EXPECT_FALSE(reg.OpenKey("Software", true));
    EXPECT_FALSE(reg.OpenKeyReadOnly("Software"));
}

TEST_F(RegistryTest, ConcurrentWritersKeepEachOthersValues)
{
    Hive5("[HKEY_CURRENT_USER\\Software\\Ulmora]\r\n\"Start\"=\"0\"\r\n");
    constexpr int kValues = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        if (children[c] == 0) {
            TRegistry reg;
            if (!reg.OpenKey("Software\\Ulmora", false))
                _exit(2);
            for (int i = 0; i < kValues; ++i)
                reg.WriteString(std::string(1, char('A' + c)) + std::to_string(i), std::to_string(i * 10 + c));
            _exit(0);
        }
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Ulmora", false));
    EXPECT_EQ(reg.ReadString("Start"), "0");
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kValues; ++i)
            EXPECT_EQ(reg.ReadString(std::string(1, char('A' + c)) + std::to_string(i)), std::to_string(i * 10 + c));
    EXPECT_TRUE(ParseHive(ReadAll(Hive)).Complete);
}

TEST_F(RegistryTest, WriterKilledMidWriteLeavesTheHiveIntact)
{
    Hive5("[HKEY_CURRENT_USER\\Software\\Ulmora]\r\n\"A\"=\"1\"\r\n");
    const std::string before = ReadAll(Hive);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        SetRegistryBeforeReplaceHook([&] {
            char c = 'x';
            (void)!write(pipeFds[1], &c, 1);
            for (;;)
                pause();
        });
        TRegistry reg;
        if (reg.OpenKey("Software\\Ulmora", false))
            reg.WriteString("A", "2");
        _exit(0);
    }
    close(pipeFds[1]);
    char c = 0;
    ASSERT_EQ(read(pipeFds[0], &c, 1), 1); // the child sits between temp file and rename
    close(pipeFds[0]);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(ReadAll(Hive), before);

    // The next writer gets the lock (it died with its holder) and clears the debris.
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Ulmora", false));
    EXPECT_EQ(reg.ReadString("A"), "1");
    reg.WriteString("A", "3");
    EXPECT_EQ(reg.ReadString("A"), "3");
    for (const auto &e : fs::directory_iterator(Dir))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

TEST_F(RegistryTest, HiveLocation)
{
    struct TSavedEnv {
        std::string Name, Value;
        bool Had;
        explicit TSavedEnv(const char *name) : Name(name), Had(std::getenv(name) != nullptr)
        {
            if (Had)
                Value = std::getenv(name);
        }
        ~TSavedEnv()
        {
            if (Had)
                setenv(Name.c_str(), Value.c_str(), 1);
            else
                unsetenv(Name.c_str());
        }
    } savedRegistry("FENNICK_REGISTRY"), savedXdg("XDG_CONFIG_HOME"), savedHome("HOME");
    SetRegistryFile("");
    setenv("FENNICK_REGISTRY", "/somewhere/hive.reg", 1);
    EXPECT_EQ(RegistryFile(), "/somewhere/hive.reg");
    unsetenv("FENNICK_REGISTRY");
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(RegistryFile(), "/cfg/fennick/registry.reg");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/rider", 1);
    EXPECT_EQ(RegistryFile(), "/home/rider/.config/fennick/registry.reg");
    SetRegistryFile(Hive.string());
    EXPECT_EQ(RegistryFile(), Hive.string());
}

} // namespace
