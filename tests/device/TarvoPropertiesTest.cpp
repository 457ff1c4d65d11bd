#include "TestSupport.h"

#include "device/TarvoDeviceAntP.h"

#include <gtest/gtest.h>

namespace {

bool Stored(const TTarvoDeviceAntP &Device, const std::string &Name)
{
    const TPropInfo *prop = FindProperty(Device, Name);
    EXPECT_NE(prop, nullptr) << Name;
    return prop != nullptr && IsPropertyStored(Device, *prop);
}

} // namespace

TEST(TarvoDeviceProperties, ANewDeviceStartsWithTheConstructedValues)
{
    TTarvoDeviceAntP d(nullptr);
    EXPECT_FALSE(d.HeartEnabled());
    EXPECT_EQ(d.CadenceArrayLength(), 1);
    EXPECT_EQ(d.SpeedArrayLength(), 3);
    EXPECT_EQ(d.HrArrayLength(), 5);
    EXPECT_EQ(d.UnitType(), -1.0);
    EXPECT_EQ(d.Tolerance(), 2.0);
    EXPECT_EQ(d.Calibration(), 1.0);
    EXPECT_EQ(d.ResistanceReducer(), 1.0);
    EXPECT_EQ(d.ResistanceMode(), rmAsPercent);
    EXPECT_EQ(d.TrainerConnectionTimeOut(), 30000);
    EXPECT_EQ(d.HighPowerReduceCoefficient(), 0.0);
    EXPECT_TRUE(d.EnableHr());
    EXPECT_TRUE(d.ConsoleEnable());
    EXPECT_TRUE(d.UseResistanceMapFromTrainer());
    EXPECT_TRUE(d.HighPowerReduceArmed());
    EXPECT_EQ(d.TimerStatsInterval(), 1000u);
    EXPECT_FALSE(d.Connected());
}

TEST(TarvoDeviceProperties, ThreeDeclaredDefaultsDifferFromTheConstructedValues)
{
    TTarvoDeviceAntP d(nullptr);
    // The constructed values are written...
    EXPECT_TRUE(Stored(d, "HeartEnabled"));
    EXPECT_TRUE(Stored(d, "CadenceArrayLength"));
    EXPECT_TRUE(Stored(d, "HrArrayLength"));
    // ...while a value equal to the declared default is not, and loads back as constructed.
    d.SetHeartEnabled(true);
    d.SetCadenceArrayLength(10);
    d.SetHrArrayLength(3);
    EXPECT_FALSE(Stored(d, "HeartEnabled"));
    EXPECT_FALSE(Stored(d, "CadenceArrayLength"));
    EXPECT_FALSE(Stored(d, "HrArrayLength"));
    EXPECT_FALSE(Stored(d, "SpeedArrayLength"));
    EXPECT_FALSE(Stored(d, "TrainerConnectionTimeOut"));
    // References and the read-only distance are never written.
    EXPECT_FALSE(Stored(d, "AntComControl"));
    EXPECT_FALSE(Stored(d, "ResistanceMap"));
    EXPECT_FALSE(Stored(d, "VirtualDistance"));
}
