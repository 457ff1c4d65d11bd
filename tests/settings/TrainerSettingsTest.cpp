#include "settings/TrainerSettings.h"

#include "framework/SysUtils.h"

#include <gtest/gtest.h>

namespace {

TSettingsText GoodText(bool TwoPoint = false)
{
    TSettingsText text;
    text.TwoPoint = TwoPoint;
    text.Fields = {"13", "4711", "659.5", "20", "107", "30", "61", "40", "0"};
    return text;
}

std::string ProblemWith(TSettingsField Field, const std::string &Value, bool TwoPoint = false)
{
    TSettingsText text = GoodText(TwoPoint);
    text.Fields[Field] = Value;
    return CheckSettings(text).Problems[Field];
}

class TrainerSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettingsOverride(TFormatSettings{}); }
    void TearDown() override { SetFormatSettingsOverride(std::nullopt); }
};

TEST_F(TrainerSettingsTest, EveryFieldKeepsItsRangeAndSaysSoInASentence)
{
    EXPECT_TRUE(CheckSettings(GoodText()).Ok());
    EXPECT_EQ(ProblemWith(sfUnitType, "0"), "The trainer model must be a whole number from 1 to 9999.");
    EXPECT_EQ(ProblemWith(sfUnitType, "9999"), "");
    EXPECT_EQ(ProblemWith(sfDeviceNumber, "0"), "");
    EXPECT_EQ(ProblemWith(sfDeviceNumber, "65535"), "");
    EXPECT_EQ(ProblemWith(sfDeviceNumber, "65536"),
              "The device number must be a whole number from 0 to 65535 (0 accepts any trainer).");
    EXPECT_NE(ProblemWith(sfDeviceNumber, "-1"), "");
    EXPECT_NE(ProblemWith(sfDeviceNumber, ""), "");
    EXPECT_EQ(ProblemWith(sfSpeed2, "51"), "The P2 speed must be a whole number of km/h from 1 to 50.");
    EXPECT_NE(ProblemWith(sfSpeed1, "0"), "");
    EXPECT_NE(ProblemWith(sfSpeed1, "20.5"), "");
    EXPECT_EQ(ProblemWith(sfLevel3, "200"), "");
    EXPECT_EQ(ProblemWith(sfLevel3, "201"),
              "The P3 level must be a whole number from 0 (no resistance) to 200 (full resistance).");
    EXPECT_EQ(ProblemWith(sfDiameter, "2540"), "");
    EXPECT_EQ(ProblemWith(sfDiameter, "0"),
              "The roller diameter must be a number of millimetres above 0 and up to 2540, with '.' as the "
              "decimal separator.");
    EXPECT_NE(ProblemWith(sfDiameter, "nan"), "");
    EXPECT_NE(ProblemWith(sfDiameter, "inf"), "");
    // Blanks a rider leaves at either end are no error.
    EXPECT_EQ(ProblemWith(sfSpeed1, " 25 "), "");
}

TEST_F(TrainerSettingsTest, TwoPointModelNamesItsPointsAAndBAndHasNoThird)
{
    EXPECT_EQ(ProblemWith(sfSpeed3, "", true), "");
    EXPECT_EQ(ProblemWith(sfSpeed2, "99", true), "The PB speed must be a whole number of km/h from 1 to 50.");
    const TSettingsCheck check = CheckSettings(GoodText(true));
    ASSERT_TRUE(check.Ok());
    EXPECT_EQ(check.Settings.Points[1], (TCalibrationPoint{30, 61}));
    EXPECT_EQ(check.Settings.Points[2], (TCalibrationPoint{}));
}

TEST_F(TrainerSettingsTest, DiameterFollowsTheSystemDecimalSeparator)
{
    TFormatSettings german;
    german.DecimalSeparator = ',';
    SetFormatSettingsOverride(german);
    EXPECT_EQ(ProblemWith(sfDiameter, "659,5"), "");
    EXPECT_NE(ProblemWith(sfDiameter, "659.5").find("with ',' as the decimal separator"), std::string::npos);
    TSettingsText text = GoodText();
    text.Fields[sfDiameter] = "659,5";
    const TSettingsCheck check = CheckSettings(text);
    EXPECT_EQ(check.Settings.Diameter, 659.5L);
    EXPECT_EQ(SettingsToText(check.Settings).Fields[sfDiameter], "659,5");
}

TEST_F(TrainerSettingsTest, ValuesOutsideTheRangesAreNotValid)
{
    TTrainerSettings s = CheckSettings(GoodText()).Settings;
    EXPECT_TRUE(SettingsValid(s));
    s.Diameter = 2540.0001L;
    EXPECT_FALSE(SettingsValid(s));
    s = CheckSettings(GoodText(true)).Settings;
    s.Points[2].Speed = 999;  // not a point of a two-point model
    EXPECT_TRUE(SettingsValid(s));
    s.Points[0].Level = -1;
    EXPECT_FALSE(SettingsValid(s));
}

} // namespace
