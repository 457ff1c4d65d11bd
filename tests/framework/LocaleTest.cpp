#include "framework/Exception.h"
#include "framework/SysUtils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

// Runs with LC_ALL=de_DE.UTF-8 in the environment: no override, the process locale decides.
TEST(ProcessLocale, GermanUsesTheCommaAndA24HourClock)
{
    ASSERT_STREQ(std::getenv("LC_ALL"), "de_DE.UTF-8");
    const TFormatSettings fs = SystemFormatSettings();
    EXPECT_EQ(fs.DecimalSeparator, ',');
    EXPECT_EQ(fs.LongTimeFormat, "hh:nn:ss");
    EXPECT_EQ(DecimalSeparator(), ',');
    EXPECT_EQ(StrToFloat("12,5"), 12.5L);
    EXPECT_THROW(StrToFloat("12.5"), EConvertError);
    EXPECT_EQ(FloatToStr(659.5), "659,5");
    EXPECT_EQ(Format("%2.1f", {4.4}), "4,4");
    EXPECT_TRUE(std::regex_match(TimeStamp(), std::regex(R"(^\d{2}:\d{2}:\d{2}\.\d{4}$)"))) << TimeStamp();

    // The override wins while set, and the locale comes back when it is cleared.
    TFormatSettings pinned;
    pinned.DecimalSeparator = '.';
    SetFormatSettingsOverride(pinned);
    EXPECT_EQ(FloatToStr(659.5), "659.5");
    SetFormatSettingsOverride(std::nullopt);
    EXPECT_EQ(FloatToStr(659.5), "659,5");
}
