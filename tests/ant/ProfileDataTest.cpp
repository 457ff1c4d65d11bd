#include "ant/profiles/ANTPlusProfileData.h"

#include <gtest/gtest.h>

TEST(ProfileData, WheelCircumferenceTakesOnlyPositiveValues)
{
    TANTProfileDataSC sc;
    EXPECT_EQ(sc.WheelCircumference(), 0.0L);
    sc.SetWheelCircumference(2096.0L);
    EXPECT_EQ(sc.WheelCircumference(), 2096.0L);
    sc.SetWheelCircumference(0.0L);
    EXPECT_EQ(sc.WheelCircumference(), 2096.0L);
    sc.SetWheelCircumference(-5.0L);
    EXPECT_EQ(sc.WheelCircumference(), 2096.0L);
    sc.SetWheelCircumference(0.5L);
    EXPECT_EQ(sc.WheelCircumference(), 0.5L);
}

TEST(ProfileData, StorePreviousCopiesEventTimesAndCounts)
{
    TANTProfileDataSC sc;
    sc.SetCadenceEventTime(100);
    sc.SetCadenceRevolutions(7);
    sc.SetSpeedEventTime(300);
    sc.SetSpeedRevolutions(9);
    EXPECT_EQ(sc.PreviousCadenceEventTime(), 0);
    sc.StorePrevious();
    EXPECT_EQ(sc.PreviousCadenceEventTime(), 100);
    EXPECT_EQ(sc.PreviousCadenceRevolutions(), 7);
    EXPECT_EQ(sc.PreviousSpeedEventTime(), 300);
    EXPECT_EQ(sc.PreviousSpeedRevolutions(), 9);
    sc.SetSpeedRevolutions(10);
    EXPECT_EQ(sc.PreviousSpeedRevolutions(), 9) << "previous values change only by StorePrevious";

    TAntProfileDataCadence cad;
    cad.SetCadenceEventTime(0xFFFF);
    cad.SetCadenceRevolutions(0x1234);
    cad.StorePrevious();
    EXPECT_EQ(cad.PreviousCadenceEventTime(), 0xFFFF);
    EXPECT_EQ(cad.PreviousCadenceRevolutions(), 0x1234);
}

TEST(ProfileData, PedalRecordsStartEmptyAndAddMarksSamplesNotReceived)
{
    TANTUlmoraPAData pa;
    EXPECT_TRUE(pa.PedalRecords.empty());
    EXPECT_EQ(pa.CurrentIndex(), -1);
    EXPECT_EQ(pa.CurrentRecord(), nullptr);
    pa.AddPedalRecord();
    ASSERT_EQ(pa.PedalRecords.size(), 1u);
    EXPECT_EQ(pa.CurrentIndex(), 0);
    for (uint16_t s : pa.PedalRecords[0].Samples)
        EXPECT_EQ(s, 0x00FF);
    EXPECT_EQ(pa.PedalRecords[0].Speed, 0.0L);
    EXPECT_EQ(pa.PedalRecords[0].StartByte, 0);
    pa.AddPedalRecord();
    EXPECT_EQ(pa.CurrentIndex(), 1);
    EXPECT_EQ(pa.CurrentRecord(), &pa.PedalRecords[1]);
}

TEST(ProfileData, FreshFitnessEquipmentRecordAndEquipmentCodes)
{
    TAntProfileFE fe;
    EXPECT_EQ(fe.EquipmentType(), 0);
    EXPECT_EQ(fe.CalibrationStatus(), acsNone);
    EXPECT_FALSE(fe.BasicResistanceSupported());
    EXPECT_FALSE(fe.TargetPowerSupported());
    EXPECT_FALSE(fe.SimulationSupported());

    const std::pair<int, int> codes[] = {{16, 1}, {19, 2}, {20, 3}, {21, 4}, {22, 5},
                                         {23, 6}, {24, 7}, {25, 8}, {17, 0}, {18, 0},
                                         {26, 0}, {0, 0},  {255, 0}};
    for (auto [ant, code] : codes)
        EXPECT_EQ(EquipmentTypeCode(static_cast<uint8_t>(ant)), code) << ant;
}
