#include "framework/Exception.h"
#include "framework/SysUtils.h"
#include "platform/LocaleFormats.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <regex>
#include <thread>

// Runs with LC_ALL=de_DE.UTF-8 in the environment: no override, the process locale decides.
TEST(ProcessLocale, GermanUsesTheCommaAndA24HourClock)
{
    ASSERT_STREQ(std::getenv("LC_ALL"), "de_DE.UTF-8");
    SetFormatSettingsSource(nullptr);
    EXPECT_EQ(FloatToStr(659.5), "659.5"); // nothing installed yet: the framework's defaults
    UseSystemFormatSettings();
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

TEST(ProcessLocale, TimeStampSafeFromManyThreadsWhileSettingsChange)
{
    UseSystemFormatSettings();
    std::atomic<bool> failed{false};
    // Compiled once here: compiling a regex on several threads at once races inside the C++
    // library's character tables.
    const std::regex shape(R"(^.*\d{2}\.\d{4}$)");
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t)
        workers.emplace_back([&failed, &shape] {
            for (int i = 0; i < 200; ++i) {
                if (!std::regex_match(TimeStamp(), shape))
                    failed = true;
                const std::string f = FloatToStr(0.5);
                if (f != "0.5" && f != "0,5")
                    failed = true;
            }
        });
    for (int i = 0; i < 100; ++i) {
        TFormatSettings pinned;
        pinned.DecimalSeparator = i % 2 ? ',' : '.';
        SetFormatSettingsOverride(pinned);
        (void)SystemFormatSettings();
        SetFormatSettingsOverride(std::nullopt);
    }
    for (auto &w : workers)
        w.join();
    EXPECT_FALSE(failed.load());
}
