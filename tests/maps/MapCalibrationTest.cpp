#include "maps/MapCalibration.h"

#include "framework/Exception.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include "maps/RegistryFunctions.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kBase = "Software\\FennickTest\\Maps";

const char *const kIntNames[] = {
    "CalibrationP1", "CalibrationP2", "CalibrationP3", "Speed1",     "Speed2",     "Speed3",     "Resist1",
    "Resist2",       "Resist3",       "P1MaxValue",    "P2MaxValue", "P3MaxValue", "P1MinValue", "P2MinValue",
    "P3MinValue",    "CalibrationPA", "CalibrationPB", "ResistA",    "ResistB",    "SpeedA",     "SpeedB",
    "PaMaxValue",    "PaMinValue",    "PbMaxValue",    "PbMinValue"};

// Each integer property through its property-table entry, so every name is checked too.
int32_t GetInt(const TMapCalibration &c, const std::string &name)
{
    const TPropInfo *p = FindProperty(c, name);
    EXPECT_NE(p, nullptr) << name;
    return p ? static_cast<int32_t>(p->GetOrd(c)) : 0;
}

void SetInt(TMapCalibration &c, const std::string &name, int32_t v)
{
    const TPropInfo *p = FindProperty(c, name);
    ASSERT_NE(p, nullptr) << name;
    p->SetOrd(c, v);
}

// Distinct value per property: 101, 102, ...
void FillDistinct(TMapCalibration &c, int32_t first)
{
    int32_t v = first;
    for (const char *n : kIntNames)
        SetInt(c, n, v++);
}

class MapCalibrationRegistry : public ::testing::Test {
protected:
    void SetUp() override
    {
        FDir = fs::temp_directory_path() /
               ("fennick-maps-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(FDir);
        fs::create_directories(FDir);
        FHive = (FDir / "hive.reg").string();
        SetRegistryFile(FHive);
        SetFormatSettingsOverride(TFormatSettings{'.', "hh:nn:ss"});
    }
    void TearDown() override
    {
        SetRegistryBeforeReplaceHook(nullptr);
        SetRegistryFile("");
        SetFormatSettingsOverride(std::nullopt);
        std::error_code ec;
        fs::permissions(FDir, fs::perms::owner_all, ec);
        fs::permissions(FHive, fs::perms::owner_read | fs::perms::owner_write, ec);
        fs::remove_all(FDir, ec);
    }

    void WriteHive(const std::string &body)
    {
        std::ofstream out(FHive, std::ios::binary | std::ios::trunc);
        out << "Windows Registry Editor Version 5.00\r\n\r\n" << body;
    }
    std::string HiveText() const
    {
        std::ifstream in(FHive, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Values of one key as the registry holds them.
    std::map<std::string, std::string> Values(const std::string &key)
    {
        std::map<std::string, std::string> result;
        TRegistry reg(KEY_READ);
        if (reg.OpenKey(key, false))
            for (const std::string &n : reg.GetValueNames())
                result[n] = reg.ReadString(n);
        return result;
    }

    fs::path FDir;
    std::string FHive;
};

} // namespace

TEST(MapCalibrationKeys, EveryModelVersionHasItsKeyName)
{
    const std::pair<double, const char *> names[] = {
        {1, "Tarvo1"},    {2, "Tarvo2"},    {3, "Tarvo3"},    {4, "Tarvo4"},    {4.5, "Tarvo4.5"},
        {5, "Tarvo5"},    {5.5, "Tarvo5.5"}, {6, "Tarvo6"},   {7, "Tarvo7"},    {8, "Tarvo8"},
        {9, "Tarvo9"},    {10, "Tarvo10"},  {11, "Tarvo11"},  {12, "Tarvo12"},  {13, "Tarvo13"},
        {14, "Tarvo14"},  {15, "Tarvo15"},  {16, "Tarvo16"},  {17, "Tarvo17"},  {18, "Tarvo18"}};
    for (const auto &[version, name] : names)
        EXPECT_EQ(TMapCalibration::GetKeyDeviceName(version), name) << version;
}

TEST(MapCalibrationKeys, UnknownVersionMessageUsesSystemSeparator)
{
    auto message = [](double version) {
        try {
            TMapCalibration::GetKeyDeviceName(version);
        } catch (const Exception &e) {
            return e.Message();
        }
        return std::string("no error");
    };
    SetFormatSettingsOverride(TFormatSettings{'.', "hh:nn:ss"});
    EXPECT_EQ(message(4.4), "Error in TMapCalibration.GetKeyDeviceName: No key name for 4.4");
    EXPECT_EQ(message(0), "Error in TMapCalibration.GetKeyDeviceName: No key name for 0.0");
    EXPECT_EQ(message(19), "Error in TMapCalibration.GetKeyDeviceName: No key name for 19.0");
    EXPECT_EQ(message(5.0000001), "Error in TMapCalibration.GetKeyDeviceName: No key name for 5.0");
    SetFormatSettingsOverride(TFormatSettings{',', "hh:nn:ss"});
    EXPECT_EQ(message(4.4), "Error in TMapCalibration.GetKeyDeviceName: No key name for 4,4");
    SetFormatSettingsOverride(std::nullopt);
}

TEST(MapCalibrationComponent, AssignCopiesEveryPropertyButName)
{
    TMapCalibration source(nullptr);
    source.SetName("Source");
    FillDistinct(source, 101);
    source.SetUseMapCalibration(true);
    source.SetUseConsoleValues(true);
    source.SetTarvoVersion(5.5);

    TMapCalibration dest(nullptr);
    dest.SetName("Dest");
    dest.Assign(&source);
    for (const char *n : kIntNames)
        EXPECT_EQ(GetInt(dest, n), GetInt(source, n)) << n;
    EXPECT_TRUE(dest.UseMapCalibration());
    EXPECT_TRUE(dest.UseConsoleValues());
    EXPECT_EQ(dest.TarvoVersion(), 5.5);
    EXPECT_EQ(dest.Name(), "Dest");

    TStringList list;
    EXPECT_THROW(dest.Assign(&list), EConvertError);
}

TEST(MapCalibrationComponent, StreamingDefaults)
{
    TMapCalibration c(nullptr);
    for (const char *n : kIntNames) {
        const TPropInfo *p = FindProperty(c, n);
        ASSERT_NE(p, nullptr) << n;
        const std::string name = n;
        const bool minMax = name.size() == 10 && name[0] == 'P' && name[1] >= '1' && name[1] <= '3';
        if (minMax)
            EXPECT_FALSE(p->Default.has_value()) << n;
        else
            EXPECT_EQ(p->Default, std::optional<int64_t>(0)) << n;
    }
    for (const char *n : {"UseMapCalibration", "UseConsoleValues"}) {
        const TPropInfo *p = FindProperty(c, n);
        ASSERT_NE(p, nullptr) << n;
        EXPECT_EQ(p->Kind, TPropKind::Boolean);
        EXPECT_EQ(p->Default, std::optional<int64_t>(0)) << n;
    }
    const TPropInfo *version = FindProperty(c, "TarvoVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->Kind, TPropKind::Float);
    EXPECT_EQ(c.TarvoVersion(), 0.0);
}

TEST_F(MapCalibrationRegistry, SaveAndLoadRoundTrip)
{
    TMapCalibration saved(nullptr);
    FillDistinct(saved, 101);
    saved.SetUseMapCalibration(true);
    saved.SetUseConsoleValues(true);
    saved.SetTarvoVersion(4.5);
    EXPECT_TRUE(saved.SaveSettings(HKEY_CURRENT_USER, kBase));

    auto stored = Values(kBase + "\\Tarvo4.5");
    EXPECT_EQ(stored.size(), 26u); // UseConsoleValues is never saved
    EXPECT_EQ(stored["CalibrationP1"], "101");
    EXPECT_EQ(stored["PbMinValue"], "125");
    EXPECT_EQ(stored["UseMapCalibration"], "True");

    TMapCalibration loaded(nullptr);
    loaded.SetTarvoVersion(4.5);
    FillDistinct(loaded, 900);
    // A base path that already ends with a backslash names the same key.
    EXPECT_TRUE(loaded.LoadSettings(HKEY_CURRENT_USER, kBase + "\\"));
    for (const char *n : kIntNames)
        EXPECT_EQ(GetInt(loaded, n), GetInt(saved, n)) << n;
    EXPECT_TRUE(loaded.UseMapCalibration());
    EXPECT_FALSE(loaded.UseConsoleValues());

    saved.SetUseMapCalibration(false);
    saved.SetSpeed2(-40);
    saved.SaveSettings(HKEY_CURRENT_USER, kBase);
    EXPECT_EQ(Values(kBase + "\\Tarvo4.5")["UseMapCalibration"], "False");
    loaded.LoadSettings(HKEY_CURRENT_USER, kBase);
    EXPECT_FALSE(loaded.UseMapCalibration());
    EXPECT_EQ(loaded.Speed2(), -40);
}

TEST_F(MapCalibrationRegistry, MissingOrEmptyValuesLoadAsZero)
{
    WriteHive("[HKEY_CURRENT_USER\\Software\\FennickTest\\Maps\\Tarvo3]\r\n"
              "\"Speed1\"=\"\"\r\n"
              "\"Speed2\"=\"27\"\r\n"
              "\"UseMapCalibration\"=\"true\"\r\n\r\n");
    TMapCalibration c(nullptr);
    FillDistinct(c, 500);
    c.SetUseMapCalibration(true);
    c.SetTarvoVersion(3);
    EXPECT_TRUE(c.LoadSettings(HKEY_CURRENT_USER, kBase));
    for (const char *n : kIntNames)
        EXPECT_EQ(GetInt(c, n), std::string(n) == "Speed2" ? 27 : 0) << n;
    EXPECT_FALSE(c.UseMapCalibration()); // only "True" with that letter case is true

    // A missing key as well.
    c.SetTarvoVersion(7);
    c.SetSpeed2(3);
    c.SetUseMapCalibration(true);
    EXPECT_TRUE(c.LoadSettings(HKEY_CURRENT_USER, kBase));
    EXPECT_EQ(c.Speed2(), 0);
    EXPECT_FALSE(c.UseMapCalibration());
    EXPECT_EQ(Values(kBase + "\\Tarvo7").size(), 0u); // loading creates nothing
}

TEST_F(MapCalibrationRegistry, NonIntegerTextStopsTheLoad)
{
    WriteHive("[HKEY_CURRENT_USER\\Software\\FennickTest\\Maps\\Tarvo2]\r\n"
              "\"CalibrationP1\"=\"12\"\r\n"
              "\"CalibrationP2\"=\"0x10\"\r\n"
              "\"Speed1\"=\"1.5\"\r\n"
              "\"Speed2\"=\"33\"\r\n\r\n");
    TMapCalibration c(nullptr);
    c.SetTarvoVersion(2);
    c.SetSpeed2(77);
    try {
        c.LoadSettings(HKEY_CURRENT_USER, kBase);
        FAIL() << "no error";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "Error in TMapCalibration.DoLoadSettings");
    }
    EXPECT_EQ(c.CalibrationP1(), 12); // read before the bad value
    EXPECT_EQ(c.CalibrationP2(), 16);
    EXPECT_EQ(c.Speed2(), 77);        // not reached
}

TEST_F(MapCalibrationRegistry, VersionWithoutKeyTouchesNothing)
{
    WriteHive("[HKEY_CURRENT_USER\\Software\\FennickTest\\Maps\\Tarvo4]\r\n\"Speed1\"=\"9\"\r\n\r\n");
    const std::string before = HiveText();
    TMapCalibration c(nullptr);
    c.SetTarvoVersion(4.4);
    c.SetSpeed1(5);
    EXPECT_THROW(c.LoadSettings(HKEY_CURRENT_USER, kBase), Exception);
    EXPECT_THROW(c.SaveSettings(HKEY_CURRENT_USER, kBase), Exception);
    EXPECT_EQ(c.Speed1(), 5);
    EXPECT_EQ(HiveText(), before);
}

TEST_F(MapCalibrationRegistry, OlderLayoutMovesToTheCurrentOne)
{
    WriteHive("[HKEY_CURRENT_USER\\Software\\FennickTest\\Maps\\Tarvo5]\r\n"
              "\"MapCalibrationTarvo5_CalibrationP1\"=\"41\"\r\n"
              "\"MapCalibrationTarvo5_P3MinValue\"=\"-3\"\r\n"
              "\"MapCalibrationTarvo5_UseMapCalibration\"=\"True\"\r\n"
              "\"CalibrationPA\"=\"66\"\r\n"
              "\"Speed1\"=\"19\"\r\n"
              "\"Unrelated\"=\"keep\"\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\FennickTest\\Maps\\Tarvo6]\r\n"
              "\"CalibrationP1\"=\"600\"\r\n\r\n");

    TMapCalibration c(nullptr);
    c.SetTarvoVersion(6);
    EXPECT_TRUE(c.LoadSettings(HKEY_CURRENT_USER, kBase));
    EXPECT_EQ(c.CalibrationP1(), 600); // its own key is read after the migration
    EXPECT_FALSE(c.UseMapCalibration());

    auto v5 = Values(kBase + "\\Tarvo5");
    EXPECT_EQ(v5.count("MapCalibrationTarvo5_CalibrationP1"), 0u);
    EXPECT_EQ(v5.count("MapCalibrationTarvo5_P3MinValue"), 0u);
    EXPECT_EQ(v5.count("MapCalibrationTarvo5_UseMapCalibration"), 0u);
    EXPECT_EQ(v5["CalibrationP1"], "41");
    EXPECT_EQ(v5["P3MinValue"], "-3");
    EXPECT_EQ(v5["UseMapCalibration"], "True");
    EXPECT_EQ(v5["CalibrationPA"], "0"); // two-point values have no old form and are reset
    EXPECT_EQ(v5["Speed1"], "0");
    EXPECT_EQ(v5["Unrelated"], "keep");
    EXPECT_EQ(v5.size(), 27u);

    // The second load finds no old values and writes nothing.
    ASSERT_TRUE(RegistryWriteString(HKEY_CURRENT_USER, kBase + "\\Tarvo5", "CalibrationPA", false, "7"));
    const std::string before = HiveText();
    TMapCalibration five(nullptr);
    five.SetTarvoVersion(5);
    EXPECT_TRUE(five.LoadSettings(HKEY_CURRENT_USER, kBase));
    EXPECT_EQ(HiveText(), before);
    EXPECT_EQ(five.CalibrationP1(), 41);
    EXPECT_EQ(five.CalibrationPA(), 7);
    EXPECT_EQ(five.P3MinValue(), -3);
    EXPECT_TRUE(five.UseMapCalibration());
}

TEST_F(MapCalibrationRegistry, BadOldValueReportsTheMigration)
{
    WriteHive("[HKEY_CURRENT_USER\\Software\\FennickTest\\Maps\\Tarvo5]\r\n"
              "\"MapCalibrationTarvo5_CalibrationP1\"=\"41\"\r\n"
              "\"MapCalibrationTarvo5_Speed3\"=\"fast\"\r\n\r\n");
    const std::string before = HiveText();
    TMapCalibration c(nullptr);
    c.SetTarvoVersion(1);
    try {
        c.LoadSettings(HKEY_CURRENT_USER, kBase);
        FAIL() << "no error";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "Error in TMapCalibration.UpdateExistingOldKeysOfTarvo5");
    }
    // Nothing is deleted before every old value has been understood: the good value found
    // before the bad one must not vanish without having been moved.
    EXPECT_EQ(HiveText(), before);

    // Once the bad value is corrected the migration moves both.
    ASSERT_TRUE(
        RegistryWriteString(HKEY_CURRENT_USER, kBase + "\\Tarvo5", "MapCalibrationTarvo5_Speed3", false, "12"));
    EXPECT_TRUE(c.LoadSettings(HKEY_CURRENT_USER, kBase));
    auto v5 = Values(kBase + "\\Tarvo5");
    EXPECT_EQ(v5["CalibrationP1"], "41");
    EXPECT_EQ(v5["Speed3"], "12");
    EXPECT_EQ(v5.count("MapCalibrationTarvo5_CalibrationP1"), 0u);
    EXPECT_EQ(v5.count("MapCalibrationTarvo5_Speed3"), 0u);
}

TEST_F(MapCalibrationRegistry, FailedWritesKeepStoredValuesAndStillSucceed)
{
    TMapCalibration c(nullptr);
    c.SetTarvoVersion(8);
    FillDistinct(c, 10);
    ASSERT_TRUE(c.SaveSettings(HKEY_CURRENT_USER, kBase));
    const auto stored = Values(kBase + "\\Tarvo8");
    FillDistinct(c, 300);
    c.SetUseMapCalibration(true);

    // Every replacement of the hive is refused.
    SetRegistryBeforeReplaceHook([] { throw ERegistryException("refused"); });
    EXPECT_TRUE(c.SaveSettings(HKEY_CURRENT_USER, kBase));
    SetRegistryBeforeReplaceHook(nullptr);
    EXPECT_EQ(Values(kBase + "\\Tarvo8"), stored);

    // A hive that cannot be understood completely is never rewritten.
    std::string text = HiveText();
    {
        std::ofstream out(FHive, std::ios::binary | std::ios::app);
        out << "\r\nthis line is not part of any hive\r\n";
    }
    text = HiveText();
    EXPECT_TRUE(c.SaveSettings(HKEY_CURRENT_USER, kBase));
    EXPECT_EQ(HiveText(), text);

    // A hive file the user may not write: still readable, never changed.
    if (geteuid() != 0) {
        SetRegistryFile((FDir / "ro.reg").string());
        FillDistinct(c, 10);
        ASSERT_TRUE(c.SaveSettings(HKEY_CURRENT_USER, kBase));
        fs::permissions(FDir / "ro.reg", fs::perms::owner_read);
        fs::permissions(FDir, fs::perms::owner_read | fs::perms::owner_exec);
        FillDistinct(c, 300);
        EXPECT_TRUE(c.SaveSettings(HKEY_CURRENT_USER, kBase));
        TMapCalibration reader(nullptr);
        reader.SetTarvoVersion(8);
        EXPECT_TRUE(reader.LoadSettings(HKEY_CURRENT_USER, kBase));
        EXPECT_EQ(reader.CalibrationP1(), 10);
        EXPECT_EQ(reader.PbMinValue(), 34);
    }
}

TEST_F(MapCalibrationRegistry, RegistryFunctions)
{
    const std::string key = kBase + "\\Fn";
    EXPECT_EQ(RegistryReadString(HKEY_CURRENT_USER, key, "A"), "0");
    EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, key, "A"));
    EXPECT_FALSE(RegistryWriteString(HKEY_CURRENT_USER, key, "A", false, "x")); // no key, no create
    EXPECT_FALSE(fs::exists(FHive) && HiveText().find("Fn]") != std::string::npos);
    EXPECT_TRUE(RegistryWriteString(HKEY_CURRENT_USER, key, "A", true, "hello"));
    EXPECT_TRUE(RegistryValueExists(HKEY_CURRENT_USER, key, "A"));
    EXPECT_EQ(RegistryReadString(HKEY_CURRENT_USER, key, "A"), "hello");
    EXPECT_TRUE(RegistryWriteString(HKEY_CURRENT_USER, key, "Empty", false, ""));
    EXPECT_EQ(RegistryReadString(HKEY_CURRENT_USER, key, "Empty"), "0");
    EXPECT_EQ(RegistryReadString(HKEY_CURRENT_USER, key, "Missing"), "0");
    EXPECT_TRUE(RegistryDeleteValue(HKEY_CURRENT_USER, key, "A"));
    EXPECT_FALSE(RegistryDeleteValue(HKEY_CURRENT_USER, key, "A"));
    EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, key, "A"));
    EXPECT_FALSE(RegistryDeleteValue(HKEY_CURRENT_USER, kBase + "\\Nowhere", "A"));

    // A value of another type reads as "0".
    ASSERT_TRUE([&] {
        TRegistry reg;
        if (!reg.OpenKey(key, false))
            return false;
        reg.WriteInteger("Dword", 5);
        return true;
    }());
    EXPECT_EQ(RegistryReadString(HKEY_CURRENT_USER, key, "Dword"), "0");

    EXPECT_EQ(AddBackslash(""), "");
    EXPECT_EQ(AddBackslash("a"), "a\\");
    EXPECT_EQ(AddBackslash("a\\"), "a\\");
}
