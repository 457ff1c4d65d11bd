#include "app/CalibrationSettings.h"

#include "../antlib/WithoutFileOverride.h"
#include "HiveFile.h"
#include "app/Dialogs.h"
#include "framework/Exception.h"
#include "framework/SysUtils.h"
#include "platform/DebugOutput.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

namespace {

const std::string DeviceKey = "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\TarvoDeviceAntP]\n";
const std::string Model13Key = "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo13]\n";

std::string DeviceValues(const std::string &UnitType)
{
    return DeviceKey + "\"TvdAntP_UnitType\"=\"" + UnitType +
           "\"\n\"TvdAntP_DeviceNumber\"=\"4711\"\n\"TvdAntP_Diameter\"=\"659.5\"\n\n";
}

// The message of the exception `Read` raises, checked to be of type E.
template <class E>
std::string ErrorOf(const std::function<void()> &Read)
{
    try {
        Read();
    } catch (const E &e) {
        return e.Message();
    } catch (const std::exception &e) {
        return std::string("wrong exception type: ") + e.what();
    }
    return "no error";
}

// The details the exception `Read` raises carries ("" when it carries none).
std::string DetailsOf(const std::function<void()> &Read)
{
    try {
        Read();
    } catch (const TErrorDetails &e) {
        return e.Details();
    } catch (const std::exception &) {
    }
    return "";
}

class CalibrationSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettingsOverride(TFormatSettings{}); }
    void TearDown() override { SetFormatSettingsOverride(std::nullopt); }
    THiveFile Hive;
};

TEST_F(CalibrationSettingsTest, NoHiveReadsAsNothingInstalled)
{
    EXPECT_EQ(ReadUnitType(), 0);
    EXPECT_EQ(ReadDeviceNumber(), 0);
    EXPECT_EQ(ReadDiameter(), 0.0L);
    EXPECT_EQ(CalibrationKeyPath(), "Software\\Ulmora\\Virel\\Calibration\\Tarvo0");
    for (int point = 1; point <= 3; ++point) {
        EXPECT_EQ(ReadSpeed(point), 0);
        EXPECT_EQ(ReadResist(point), 0);
    }
    EXPECT_EQ(ReadSpeedA(), 0);
    EXPECT_EQ(ReadResistB(), 0);
}

TEST_F(CalibrationSettingsTest, InstalledModelWithThreePoints)
{
    Hive.Write(DeviceValues("13") + Model13Key +
               "\"Speed1\"=\"20\"\n\"Speed2\"=\" 30\"\n\"Speed3\"=\"$28\"\n"
               "\"resist1\"=\"107\"\n\"Resist2\"=\"0x3D\"\n\"Resist3\"=\"-2\"\n");
    EXPECT_EQ(ReadUnitType(), 13);
    EXPECT_EQ(ReadDeviceNumber(), 4711);
    EXPECT_EQ(ReadDiameter(), 659.5L);
    EXPECT_EQ(CalibrationKeyPath(), "Software\\Ulmora\\Virel\\Calibration\\Tarvo13");
    EXPECT_EQ(ReadSpeed(1), 20);
    EXPECT_EQ(ReadSpeed(2), 30);   // leading blank
    EXPECT_EQ(ReadSpeed(3), 40);   // $ hexadecimal
    EXPECT_EQ(ReadResist(1), 107); // value names ignore letter case
    EXPECT_EQ(ReadResist(2), 61);  // 0x hexadecimal
    EXPECT_EQ(ReadResist(3), -2);
    EXPECT_EQ(ReadSpeedA(), 0) << "no SpeedA: a three-point model";
}

TEST_F(CalibrationSettingsTest, TwoPointModelAndExpandStrings)
{
    // "25" and "90" as REG_EXPAND_SZ (UTF-16LE hex), read as they are.
    Hive.Write(DeviceValues("17") +
               "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo17]\n"
               "\"SpeedA\"=hex(2):32,00,35,00,00,00\n\"SpeedB\"=\"35\"\n"
               "\"ResistA\"=hex(2):39,00,30,00,00,00\n\"ResistB\"=\"12\"\n");
    EXPECT_EQ(ReadSpeedA(), 25);
    EXPECT_EQ(ReadSpeedB(), 35);
    EXPECT_EQ(ReadResistA(), 90);
    EXPECT_EQ(ReadResistB(), 12);
}

TEST_F(CalibrationSettingsTest, ModelWithoutItsKeyReadsZeroPoints)
{
    Hive.Write(DeviceValues("13"));
    EXPECT_EQ(ReadSpeed(1), 0);
    EXPECT_EQ(ReadResist(3), 0);
    EXPECT_EQ(ReadSpeedA(), 0);
    EXPECT_EQ(ReadResistA(), 0);
}

TEST_F(CalibrationSettingsTest, EmptySpeedAIsThreePointModeButOtherEmptyValuesAreErrors)
{
    Hive.Write(DeviceValues("13") + Model13Key + "\"SpeedA\"=\"\"\n\"SpeedB\"=\"\"\n");
    EXPECT_EQ(ReadSpeedA(), 0);
    EXPECT_EQ(ErrorOf<EConvertError>([] { ReadSpeedB(); }), "'' is not a valid integer value");
    EXPECT_EQ(ErrorOf<EConvertError>([] { ReadResistA(); }), "'' is not a valid integer value")
        << "a missing value reads as empty text";
    EXPECT_EQ(ErrorOf<EConvertError>([] { ReadSpeed(1); }), "'' is not a valid integer value");
}

TEST_F(CalibrationSettingsTest, BadTextAndWrongTypesNameWhatIsWrong)
{
    Hive.Write(DeviceValues("13") + Model13Key +
               "\"Speed1\"=\"20\"\n\"Speed2\"=\"12a\"\n\"Speed3\"=\"30 \"\n\"Resist1\"=dword:0000006b\n"
               "\"SpeedA\"=\"x\"\n");
    EXPECT_EQ(ReadSpeed(1), 20);
    EXPECT_EQ(ErrorOf<EConvertError>([] { ReadSpeed(2); }), "'12a' is not a valid integer value");
    EXPECT_EQ(ErrorOf<EConvertError>([] { ReadSpeed(3); }), "'30 ' is not a valid integer value");
    EXPECT_EQ(ErrorOf<ERegistryException>([] { ReadResist(1); }), "Invalid data type for 'Resist1'");
    EXPECT_EQ(ErrorOf<EConvertError>([] { ReadSpeedA(); }), "'x' is not a valid integer value");

    // The box's details say where the bad value stands, so the rider can mend the right line.
    const std::string key = "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo13]";
    const std::string file = " in the registry file '" + Hive.Path + "'.";
    EXPECT_EQ(DetailsOf([] { ReadSpeed(2); }), "The value \"Speed2\" of the key " + key + file);
    EXPECT_EQ(DetailsOf([] { ReadResist(1); }), "The value \"Resist1\" of the key " + key + file);
    EXPECT_EQ(DetailsOf([] { ReadSpeedA(); }), "The value \"SpeedA\" of the key " + key + file);
    EXPECT_EQ(DetailsOf([] { ReadSpeed(1); }), "");
}

TEST_F(CalibrationSettingsTest, DeviceValues)
{
    Hive.Write(DeviceKey + "\"TvdAntP_UnitType\"=\"abc\"\n\"TvdAntP_DeviceNumber\"=\"70000\"\n"
                           "\"TvdAntP_Diameter\"=\"6x\"\n");
    EXPECT_EQ(ReadDeviceNumber(), 70000) << "read in full; the device keeps the low 16 bits";
    EXPECT_EQ(ErrorOf<EConvertError>([] { ReadUnitType(); }), "'abc' is not a valid integer value");
    EXPECT_EQ(ErrorOf<EConvertError>([] { CalibrationKeyPath(); }), "'abc' is not a valid integer value");
    EXPECT_EQ(ErrorOf<EConvertError>([] { ReadDiameter(); }), "'6x' is not a valid floating point value");
    EXPECT_NE(DetailsOf([] { ReadDiameter(); }).find("\"TvdAntP_Diameter\" of the key "
                                                     "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\TarvoDeviceAntP]"),
              std::string::npos);
    EXPECT_NE(DetailsOf([] { ReadUnitType(); }).find("\"TvdAntP_UnitType\""), std::string::npos);

    Hive.Write(DeviceKey + "\"TvdAntP_UnitType\"=\"0\"\n");
    EXPECT_EQ(ErrorOf<EConvertError>([] { ReadDiameter(); }), "'' is not a valid floating point value");
    EXPECT_EQ(ErrorOf<EConvertError>([] { ReadDeviceNumber(); }), "'' is not a valid integer value");
}

TEST_F(CalibrationSettingsTest, DiameterFollowsTheDecimalSeparator)
{
    Hive.Write(DeviceKey + "\"TvdAntP_Diameter\"=\"659,5\"\n");
    TFormatSettings comma;
    comma.DecimalSeparator = ',';
    SetFormatSettingsOverride(comma);
    EXPECT_EQ(ReadDiameter(), 659.5L);
    SetFormatSettingsOverride(TFormatSettings{});
    EXPECT_EQ(ErrorOf<EConvertError>([] { ReadDiameter(); }), "'659,5' is not a valid floating point value");
}

TEST_F(CalibrationSettingsTest, EveryReadSeesTheHiveAsItIsNow)
{
    Hive.Write(DeviceValues("13") + Model13Key + "\"Speed1\"=\"21\"\n");
    EXPECT_EQ(ReadSpeed(1), 21);
    Hive.Write(DeviceValues("14") + Model13Key + "\"Speed1\"=\"21\"\n"
               "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo14]\n\"Speed1\"=\"24\"\n");
    EXPECT_EQ(CalibrationKeyPath(), "Software\\Ulmora\\Virel\\Calibration\\Tarvo14");
    EXPECT_EQ(ReadSpeed(1), 24) << "the calibration key follows the unit type read now";
}

TEST_F(CalibrationSettingsTest, HiveThatDoesNotParseIsAnErrorNamingFileAndLine)
{
    // The values the window needs come before the damage; reading on would hide it.
    Hive.Write(DeviceValues("13") + "[HKEY_CURRENT_USER\\Software\\Broken\n\"x\"=\"1\"\n");
    const std::string message = ErrorOf<ERegistryException>([] { ReadUnitType(); });
    EXPECT_NE(message.find("The registry file '" + Hive.Path + "' is not valid at line 8"), std::string::npos)
        << message;
    EXPECT_EQ(ErrorOf<ERegistryException>([] { ReadSpeed(1); }), message);

    Hive.WriteBytes("not a registry export at all\n");
    EXPECT_NE(ErrorOf<ERegistryException>([] { ReadSpeedA(); }).find("is not valid at line 1"), std::string::npos);
}

TEST_F(CalibrationSettingsTest, HiveThatCannotBeReadIsAnError)
{
    std::filesystem::create_directory(Hive.Path);  // a folder where the file should be
    const std::string message = ErrorOf<ERegistryException>([] { ReadDeviceNumber(); });
    EXPECT_EQ(message.rfind("The registry file '" + Hive.Path + "' cannot be read", 0), 0u) << message;
}

TEST_F(CalibrationSettingsTest, AHiveThatCannotBeWrittenCountsAsMissingAndSaysWhyOnce)
{
    Hive.Write(DeviceValues("13") + Model13Key + "\"Speed1\"=\"21\"\n");
    std::vector<std::string> notices, debugOutput;
    SetSettingsNoticeSink([&](const std::string &Line) { notices.push_back(Line); });
    SetDebugOutputSink([&](const std::string &Line) { debugOutput.push_back(Line); });
    const fennick::test::WithoutFileOverride asAUser;  // permission bits do not bind root
    chmod(Hive.Path.c_str(), 0444);
    EXPECT_EQ(ReadUnitType(), 0);
    EXPECT_EQ(ReadSpeed(1), 0);
    const std::string expected = "The registry file '" + Hive.Path +
                                 "' is not used: cannot write the file: Permission denied. The settings are "
                                 "read only from a file this user may write; the built-in points are used and "
                                 "any trainer is accepted.";
    EXPECT_EQ(notices, std::vector<std::string>{expected}) << "said once, not on every read";
    EXPECT_EQ(debugOutput, std::vector<std::string>{expected});

    // A folder the hive cannot be replaced in is another reason, said in its turn.
    chmod(Hive.Path.c_str(), 0644);
    chmod(Hive.Dir.c_str(), 0555);
    EXPECT_EQ(ReadDeviceNumber(), 0);
    chmod(Hive.Dir.c_str(), 0700);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[1].find("cannot write in its folder " + Hive.Dir + ": Permission denied"), std::string::npos)
        << notices[1];

    EXPECT_EQ(ReadSpeed(1), 21) << "a writable hive is read again";
    EXPECT_EQ(notices.size(), 2u);
    SetDebugOutputSink({});
    SetSettingsNoticeSink({});
}

TEST_F(CalibrationSettingsTest, ReadingNeverWritesTheHive)
{
    const std::string body = DeviceValues("13") + Model13Key +
                             "\"Speed1\"=\"20\"\n\"Speed2\"=\"12a\"\n\"Resist1\"=dword:00000001\n";
    Hive.Write(body);
    struct stat before{};
    ASSERT_EQ(stat(Hive.Path.c_str(), &before), 0);
    auto all = [] {
        for (const auto &read : std::vector<std::function<void()>>{
                 [] { ReadUnitType(); }, [] { ReadDeviceNumber(); }, [] { ReadDiameter(); },
                 [] { ReadSpeed(1); }, [] { ReadSpeed(2); }, [] { ReadSpeed(3); }, [] { ReadResist(1); },
                 [] { ReadResist(2); }, [] { ReadSpeedA(); }, [] { ReadSpeedB(); }, [] { ReadResistA(); },
                 [] { ReadResistB(); }}) {
            try {
                read();
            } catch (const Exception &) {
            }
        }
    };
    all();
    Hive.Write(body + "[HKEY_CURRENT_USER\\Broken\n");  // and with a hive that does not parse
    ASSERT_EQ(stat(Hive.Path.c_str(), &before), 0);
    all();

    struct stat after{};
    ASSERT_EQ(stat(Hive.Path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    std::ifstream in(Hive.Path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "Windows Registry Editor Version 5.00\n\n" + body + "[HKEY_CURRENT_USER\\Broken\n");
    // No lock file, no temporary file: nothing of a write was even begun.
    int entries = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator(Hive.Dir))
        ++entries;
    EXPECT_EQ(entries, 1);
}

} // namespace
