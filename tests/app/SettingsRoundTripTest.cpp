// What the settings window writes is what the calibration window reads: through the files, with
// the calibration window's own reader.
#include "app/CalibrationSettings.h"

#include "HiveFile.h"
#include "framework/SysUtils.h"
#include "settings/SettingsFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

TTrainerSettings ThreePoints()
{
    TTrainerSettings s;
    s.UnitType = 13;
    s.DeviceNumber = 4711;
    s.Diameter = 659.5L;
    s.Points = {{{20, 107}, {30, 61}, {40, 0}}};
    return s;
}

TTrainerSettings TwoPoints()
{
    TTrainerSettings s = ThreePoints();
    s.UnitType = 17;
    s.TwoPoint = true;
    s.Points = {{{18, 90}, {33, 40}, {}}};
    return s;
}

// What the calibration window reads, in the settings' form.
TTrainerSettings ReadAsTheCalibrationWindow()
{
    TTrainerSettings s;
    s.UnitType = ReadUnitType();
    s.DeviceNumber = ReadDeviceNumber();
    s.Diameter = ReadDiameter();
    s.TwoPoint = ReadSpeedA() != 0;
    if (s.TwoPoint)
        s.Points = {{{ReadSpeedA(), ReadResistA()}, {ReadSpeedB(), ReadResistB()}, {}}};
    else
        for (int p = 0; p < 3; ++p)
            s.Points[p] = {ReadSpeed(p + 1), ReadResist(p + 1)};
    return s;
}

std::string ReadAll(const std::string &Path)
{
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class SettingsRoundTripTest : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettingsOverride(TFormatSettings{}); }
    void TearDown() override { SetFormatSettingsOverride(std::nullopt); }
    THiveFile Hive;
};

TEST_F(SettingsRoundTripTest, TheCalibrationWindowReadsEveryValueWrittenIntoAUtf8File)
{
    Hive.Write("[HKEY_CURRENT_USER\\Software\\Other]\n\"Kept\"=\"yes\"\n");
    ASSERT_TRUE(SaveSettingsFile(Hive.Path, ThreePoints()).Ok);
    EXPECT_EQ(ReadAsTheCalibrationWindow(), ThreePoints());
    ASSERT_TRUE(SaveSettingsFile(Hive.Path, TwoPoints()).Ok);
    EXPECT_EQ(ReadAsTheCalibrationWindow(), TwoPoints());
    EXPECT_NE(ReadAll(Hive.Path).find("[HKEY_CURRENT_USER\\Software\\Other]\n\"Kept\"=\"yes\"\n"), std::string::npos);
}

TEST_F(SettingsRoundTripTest, AUtf16FileStaysUtf16AndReadsBack)
{
    Hive.WriteBytes(ExportBytes(TwoPoints()));
    ASSERT_TRUE(SaveSettingsFile(Hive.Path, ThreePoints()).Ok);
    EXPECT_EQ(ReadAll(Hive.Path).substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(ReadAsTheCalibrationWindow(), ThreePoints());
}

TEST_F(SettingsRoundTripTest, ACommaDecimalSeparatorIsWrittenAndReadAsTheSystemHasIt)
{
    TFormatSettings german;
    german.DecimalSeparator = ',';
    SetFormatSettingsOverride(german);
    ASSERT_TRUE(SaveSettingsFile(Hive.Path, ThreePoints()).Ok);
    EXPECT_NE(ReadAll(Hive.Path).find("\"TvdAntP_Diameter\"=\"659,5\""), std::string::npos);
    EXPECT_EQ(ReadDiameter(), 659.5L);
}

TEST_F(SettingsRoundTripTest, AnImportedWindowsExportIsSavedAndReadBack)
{
    const std::string exported = Hive.Dir + "/from-windows.reg";
    ASSERT_TRUE(ExportSettings(exported, TwoPoints()).Ok);
    const TSettingsLoad import = ImportSettings(exported);
    ASSERT_TRUE(import.Ok) << import.Why;
    const TSettingsCheck check = CheckSettings(import.Text);
    ASSERT_TRUE(check.Ok());
    ASSERT_TRUE(SaveSettingsFile(Hive.Path, check.Settings).Ok);
    EXPECT_EQ(ReadAsTheCalibrationWindow(), TwoPoints());
}

} // namespace
