#include "framework/Exception.h"
#include "framework/SysUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

namespace {

// Pins the decimal separator and time format for one test and restores the process locale.
class PinnedSettings {
public:
    explicit PinnedSettings(char Separator, std::string TimeFormat = "hh:nn:ss")
    {
        TFormatSettings fs;
        fs.DecimalSeparator = Separator;
        fs.LongTimeFormat = std::move(TimeFormat);
        fs.ThousandSeparator = Separator == ',' ? "." : ",";
        fs.CurrencyString = "$";
        SetFormatSettingsOverride(fs);
    }
    ~PinnedSettings() { SetFormatSettingsOverride(std::nullopt); }
};

TFormatSettings GermanStyleSettings()
{
    return TFormatSettings{',', "hh:nn:ss", ".", "EUR"};
}

std::string ConvertMessage(const std::function<void()> &F)
{
    try {
        F();
    } catch (const EConvertError &e) {
        return e.Message();
    }
    return "(no error)";
}

} // namespace

TEST(StrToInt, AcceptsBlanksSignsAndHexPrefixes)
{
    EXPECT_EQ(StrToInt("13"), 13);
    EXPECT_EQ(StrToInt("   42"), 42);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("  -15"), -15);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_EQ(StrToInt("0x1f"), 31);
    EXPECT_EQ(StrToInt("0XFF"), 255);
    EXPECT_EQ(StrToInt("-$10"), -16);
    EXPECT_EQ(StrToInt("007"), 7);
    EXPECT_EQ(StrToInt("70000"), 70000); // device numbers above 16 bits are read in full
}

TEST(StrToInt, Range)
{
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_THROW(StrToInt("2147483648"), EConvertError);
    EXPECT_THROW(StrToInt("-2147483649"), EConvertError);
    EXPECT_THROW(StrToInt("99999999999999999999999"), EConvertError);
    // Hexadecimal text is a 32-bit pattern.
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(StrToInt("$80000000"), INT32_MIN);
    EXPECT_THROW(StrToInt("$100000000"), EConvertError);
    EXPECT_EQ(StrToInt64("2147483648"), 2147483648LL);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
    EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
}

TEST(StrToInt, RejectsEverythingElseWithTheTextInTheMessage)
{
    for (const char *bad : {"", " ", "12a", "12 ", "1.5", "$", "0x", "-", "+-1", "--1", "$G", "\t5", "1e3", "0x-5"})
        EXPECT_EQ(ConvertMessage([&] { StrToInt(bad); }), "'" + std::string(bad) + "' is not a valid integer value")
            << "text: [" << bad << "]";
    int32_t v = 99;
    EXPECT_FALSE(TryStrToInt("x", v));
    EXPECT_EQ(v, 99);
    EXPECT_TRUE(TryStrToInt("-3", v));
    EXPECT_EQ(v, -3);
    EXPECT_EQ(StrToIntDef("", 5), 5);
    EXPECT_EQ(StrToIntDef("6", 5), 6);
}

TEST(StrToFloat, FollowsTheDecimalSeparator)
{
    {
        PinnedSettings pin('.');
        EXPECT_EQ(StrToFloat("659.5"), 659.5L);
        EXPECT_EQ(StrToFloat("  -1.25  "), -1.25L);
        EXPECT_EQ(StrToFloat(".5"), 0.5L);
        EXPECT_EQ(StrToFloat("5."), 5.0L);
        EXPECT_EQ(StrToFloat("1.5E3"), 1500.0L);
        EXPECT_EQ(StrToFloat("2e-2"), 0.02L);
        EXPECT_THROW(StrToFloat("12,5"), EConvertError);
    }
    {
        PinnedSettings pin(',');
        EXPECT_EQ(StrToFloat("12,5"), 12.5L);
        EXPECT_EQ(StrToFloat("27"), 27.0L);
        EXPECT_EQ(ConvertMessage([] { StrToFloat("12.5"); }), "'12.5' is not a valid floating point value");
    }
    PinnedSettings pin('.');
    for (const char *bad : {"", " ", "abc", "1.2.3", "1e", "e5", "1e+", "--1", ".", "1x", "nan", "inf", "1e99999"})
        EXPECT_EQ(ConvertMessage([&] { StrToFloat(bad); }),
                  "'" + std::string(bad) + "' is not a valid floating point value")
            << "text: [" << bad << "]";
}

TEST(FloatToStr, ShortestGeneralFormWith15Digits)
{
    PinnedSettings pin('.');
    EXPECT_EQ(FloatToStr(13), "13");
    EXPECT_EQ(FloatToStr(659.5), "659.5");
    EXPECT_EQ(FloatToStr(-0.25), "-0.25");
    EXPECT_EQ(FloatToStr(0), "0");
    EXPECT_EQ(FloatToStr(0.1), "0.1");
    EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(FloatToStr(2.0 / 3), "0.666666666666667");
    EXPECT_EQ(FloatToStr(1e20), "1E20");
    EXPECT_EQ(FloatToStr(1e15), "1E15");
    EXPECT_EQ(FloatToStr(1e14), "100000000000000");
    EXPECT_EQ(FloatToStr(0.0001), "0.0001");
    EXPECT_EQ(FloatToStr(1e-5), "1E-5");
    EXPECT_EQ(FloatToStr(-1.5e-7), "-1.5E-7");
    EXPECT_EQ(FloatToStr(123456789012345678.0), "1.23456789012346E17");
    PinnedSettings comma(',');
    EXPECT_EQ(FloatToStr(659.5), "659,5");
    EXPECT_EQ(FloatToStr(2.5e-9), "2,5E-9");
}

TEST(Round, TiesGoToTheEvenNeighbour)
{
    EXPECT_EQ(Round(0.5L), 0);
    EXPECT_EQ(Round(1.5L), 2);
    EXPECT_EQ(Round(2.5L), 2);
    EXPECT_EQ(Round(-2.5L), -2);
    EXPECT_EQ(Round(-3.5L), -4);
    EXPECT_EQ(Round(42.5L), 42);
    EXPECT_EQ(Round(32.5L), 32);
    EXPECT_EQ(Round(2.5000001L), 3);
    EXPECT_EQ(Round(-0.4L), 0);
    EXPECT_THROW(Round(1e30L), Exception);
    EXPECT_THROW(Round(std::numeric_limits<long double>::quiet_NaN()), Exception);
}

TEST(Format, IntegersHexAndText)
{
    PinnedSettings pin('.');
    EXPECT_EQ(Format("%s (%d %x)", {'A', 65, 65}), "A (65 41)");
    EXPECT_EQ(Format("%x", {255}), "FF");
    EXPECT_EQ(Format("%2x", {0x0A}), " A");
    EXPECT_EQ(Format("%2x", {0xB9}), "B9");
    EXPECT_EQ(Format("%2x", {0x123}), "123");
    EXPECT_EQ(Format("%.4x", {0x1F}), "001F");
    EXPECT_EQ(Format("Ch %d, %2x %2x %2x %2x %2x %2x %2x %2x", {0, 0xB9, 0xA5, 0x21, 0xFB, 0xBD, 0x72, 0xC3, 0x45}),
              "Ch 0, B9 A5 21 FB BD 72 C3 45");
    EXPECT_EQ(Format("%x", {-1}), "FFFFFFFF");
    EXPECT_EQ(Format("%u", {-1}), "4294967295");
    EXPECT_EQ(Format("%d", {INT64_MIN}), "-9223372036854775808");
    EXPECT_EQ(Format("%d", {UINT64_MAX}), "18446744073709551615");
    EXPECT_EQ(Format("%.3d|%5d|%-5d|%05d", {-7, 42, 42, 3}), "-007|   42|42   |    3");
    EXPECT_EQ(Format("%s|%-4s|%4s|%.2s", {"abc", "ab", "ab", "abcdef"}), "abc|ab  |  ab|ab");
    EXPECT_EQ(Format("%*d|%-*d", {4, 7, 3, 8}), "   7|8  ");
    EXPECT_EQ(Format("%1:s %0:s %s", {"a", "b"}), "b a b");
    EXPECT_EQ(Format("100%% %s", {"sure"}), "100% sure");
    EXPECT_EQ(Format("ConnectChannelStep ch %d ConnectStep: %s", {2, "ccsOpen"}), "ConnectChannelStep ch 2 ConnectStep: ccsOpen");
    EXPECT_EQ(Format("no arguments", {}), "no arguments");
    // A character above 127 stays readable text.
    EXPECT_EQ(Format("%s", {static_cast<char>(0xE9)}), "\xC3\xA9");
    EXPECT_EQ(Format("%p", {0x1234}), "0000000000001234");
}

TEST(Format, FloatsFollowTheDecimalSeparator)
{
    {
        PinnedSettings pin('.');
        EXPECT_EQ(Format("%2.1f", {4.4}), "4.4");
        EXPECT_EQ(Format("%6.2f", {3.14159}), "  3.14");
        EXPECT_EQ(Format("%f", {2.0}), "2.00");
        EXPECT_EQ(Format("%.0f", {2.6}), "3");
        EXPECT_EQ(Format("%.1f", {-0.04}), "0.0");
        EXPECT_EQ(Format("Speed %.1f", {27.35f}), "Speed 27.4");
        EXPECT_EQ(Format("%e", {1.5}), "1.50000000000000E+000");
        EXPECT_EQ(Format("%.3e", {-12345.0}), "-1.23E+004");
        EXPECT_EQ(Format("%.2e", {0.00123}), "1.2E-003");
        EXPECT_EQ(Format("%g", {659.5}), "659.5");
        EXPECT_EQ(Format("%g", {1e20}), "1E20");
        EXPECT_EQ(Format("%n", {1234567.891}), "1,234,567.89");
        EXPECT_EQ(Format("%.0n", {999.0}), "999");
        EXPECT_EQ(Format("%m", {-1234.5}), "-$1,234.50");
    }
    PinnedSettings pin(',');
    EXPECT_EQ(Format("%2.1f", {4.4}), "4,4");
    EXPECT_EQ(Format("Error: No key name for %2.1f", {3.5}), "Error: No key name for 3,5");
    EXPECT_EQ(Format("%n", {1234567.891}), "1.234.567,89");
    EXPECT_EQ(Format("%g", {0.5}), "0,5");
}

TEST(Format, DecimalDigitsRoundHalfAwayFromZero)
{
    // Unlike Round, the text forms round an exact half up in magnitude, after first taking
    // 18 significant digits.
    PinnedSettings pin('.');
    EXPECT_EQ(Format("%.0f|%.0f|%.0f|%.0f", {0.5, 2.5, -2.5, 9.5}), "1|3|-3|10");
    EXPECT_EQ(Format("Speed %.1f", {12.25}), "Speed 12.3");
    EXPECT_EQ(Format("%2.1f", {0.25}), "0.3");
    EXPECT_EQ(Format("%.2f", {99.995}), "100.00"); // the double lies a hair above the half
    EXPECT_EQ(Format("%.2f|%.2f", {2.675, 1.005}), "2.67|1.00"); // a hair below the half
    EXPECT_EQ(Format("%.3f", {0.0625}), "0.063");
    EXPECT_EQ(Format("%.1f", {0.04}), "0.0");
    EXPECT_EQ(Format("%.0n", {1234.5}), "1,235");
    EXPECT_EQ(Format("%.2m", {0.125}), "$0.13");
    EXPECT_EQ(Format("%.2e", {0.125}), "1.3E-001");
    EXPECT_EQ(Format("%.1e", {-9.5}), "-1E+001");
    EXPECT_EQ(Format("%.2g", {0.125}), "0.13");
    EXPECT_EQ(FloatToStr(100000000000002.5), "100000000000003");
    EXPECT_EQ(Format("%.0f", {1e20}), "100000000000000000000");
    EXPECT_EQ(Format("%.2f", {0.0}), "0.00");
}

TEST(Format, InvalidOrIncompatibleFormats)
{
    PinnedSettings pin('.');
    const struct {
        const char *Fmt;
        std::vector<FormatArg> Args;
    } cases[] = {
        {"%d", {}},             // missing argument
        {"%d %d", {1}},         // one missing
        {"%d", {"text"}},       // text for an integer
        {"%d", {1.5}},          // float for an integer
        {"%d", {'c'}},          // character for an integer
        {"%x", {2.0}},
        {"%s", {5}},            // integer for text
        {"%f", {5}},            // integer for a float
        {"%.1f", {"4.4"}},
        {"%q", {1}},            // unknown type
        {"abc %", {1}},         // lone percent at the end
        {"%5", {1}},            // width without a type
        {"%3:d", {1, 2}},       // index past the arguments
        {"%*d", {"x", 1}},      // width from a non-integer
        {"%999999999d", {1}},   // absurd width
    };
    for (const auto &c : cases)
        EXPECT_EQ(ConvertMessage([&] { Format(c.Fmt, c.Args); }),
                  "Format '" + std::string(c.Fmt) + "' invalid or incompatible with argument")
            << c.Fmt;
}

TEST(TimeStamp, LongTimeFormatDotAndFourDigitMilliseconds)
{
    {
        PinnedSettings pin('.', "hh:nn:ss");
        const std::regex shape(R"(^\d{2}:\d{2}:\d{2}\.\d{4}$)");
        for (int i = 0; i < 20; ++i) {
            const std::string ts = TimeStamp();
            EXPECT_TRUE(std::regex_match(ts, shape)) << ts;
            EXPECT_EQ(ts[9], '0') << ts; // milliseconds never reach four digits of their own
        }
    }
    PinnedSettings pin('.', "h:nn:ss AM/PM");
    EXPECT_TRUE(std::regex_match(TimeStamp(), std::regex(R"(^\d{1,2}:\d{2}:\d{2} (AM|PM)\.\d{4}$)"))) << TimeStamp();
}

TEST(TimeStamp, ClassicTimePatterns)
{
    EXPECT_EQ(FormatTimeOfDay("hh:nn:ss", 14, 3, 7, 42), "14:03:07");
    EXPECT_EQ(FormatTimeOfDay("h:n:s", 4, 3, 7, 42), "4:3:7");
    EXPECT_EQ(FormatTimeOfDay("hh:nn:ss.zzz", 4, 3, 7, 42), "04:03:07.042");
    EXPECT_EQ(FormatTimeOfDay("h:nn:ss AM/PM", 0, 5, 0, 0), "12:05:00 AM");
    EXPECT_EQ(FormatTimeOfDay("h:nn:ss am/pm", 13, 5, 0, 0), "1:05:00 pm");
    EXPECT_EQ(FormatTimeOfDay("h:nn a/p", 12, 0, 0, 0), "12:00 p");
    EXPECT_EQ(FormatTimeOfDay("hh 'Uhr' nn", 9, 30, 0, 0), "09 Uhr 30");
    // Locale patterns lose the time zone and use n for minutes.
    EXPECT_EQ(ClassicTimeFormat("HH:mm:ss t"), "hh:nn:ss");
    EXPECT_EQ(ClassicTimeFormat("h:mm:ss AP t"), "h:nn:ss AM/PM");
    EXPECT_EQ(ClassicTimeFormat("t HH:mm:ss"), "hh:nn:ss");
    EXPECT_EQ(ClassicTimeFormat("HH 'h' mm"), "hh \"h\" nn");
    EXPECT_EQ(FormatTimeOfDay(ClassicTimeFormat("HH 'h' mm"), 7, 8, 0, 0), "07 h 08");
    EXPECT_EQ(ClassicTimeFormat(""), "hh:nn:ss");
}

TEST(TextHelpers, CaseAndBlanks)
{
    EXPECT_EQ(UpperCase("abC1z"), "ABC1Z");
    EXPECT_EQ(LowerCase("ABc1Z"), "abc1z");
    EXPECT_TRUE(SameText("StrData", "STRDATA"));
    EXPECT_FALSE(SameText("abc", "abcd"));
    EXPECT_TRUE(StartsText("DWORD:", "dword:0000000a"));
    EXPECT_TRUE(StartsText("", "x"));
    EXPECT_TRUE(StartsText("am/pm", "AM/PM"));
    EXPECT_FALSE(StartsText("hex(", "hex"));
    EXPECT_FALSE(StartsText("\xC4", "\xE4")); // only ASCII letters fold
    EXPECT_FALSE(StartsText("a/p", "ampm"));
    EXPECT_EQ(Trim("  \t a b \r\n"), "a b");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(IntToStr(-42), "-42");
    EXPECT_EQ(IntToHex(0xAB, 4), "00AB");
    EXPECT_EQ(IntToHex(0x12345, 2), "12345");
}

TEST(TimeStamp, SafeFromManyThreadsWhileSettingsChange)
{
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
        SetFormatSettingsSource(i % 3 ? &GermanStyleSettings : nullptr);
        PinnedSettings pin(i % 2 ? ',' : '.');
        (void)CurrentFormatSettings();
    }
    for (auto &w : workers)
        w.join();
    SetFormatSettingsSource(nullptr);
    EXPECT_FALSE(failed.load());
}

TEST(FormatSettings, OverrideWinsThenTheSourceThenTheDefaults)
{
    SetFormatSettingsSource(nullptr);
    EXPECT_EQ(DecimalSeparator(), '.');
    EXPECT_EQ(CurrentFormatSettings().LongTimeFormat, "hh:nn:ss");
    SetFormatSettingsSource(&GermanStyleSettings);
    EXPECT_EQ(FloatToStr(659.5), "659,5");
    EXPECT_EQ(Format("%.2n", {1234.5}), "1.234,50");
    {
        PinnedSettings pin('.');
        EXPECT_EQ(FloatToStr(659.5), "659.5");
    }
    EXPECT_EQ(StrToFloat("12,5"), 12.5L); // the source is back once the override is cleared
    SetFormatSettingsSource(nullptr);
    EXPECT_EQ(FloatToStr(659.5), "659.5");
}
