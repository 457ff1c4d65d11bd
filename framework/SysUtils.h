#pragma once
// Conversions, Format, rounding and time stamps, following the decimal separator and long time
// format of the installed settings source (read at each call; tests may override them).
#include <cstdint>
#include <optional>
#include <type_traits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct TFormatSettings {
    char DecimalSeparator = '.';
    // Long time format in the classic pattern letters: h/hh, n/nn (minutes), s/ss, am/pm.
    std::string LongTimeFormat = "hh:nn:ss";
    // Digit grouping of %n and %m, and the currency symbol placed before %m amounts.
    std::string ThousandSeparator = ",";
    std::string CurrencyString = "$";
};

// Where the settings come from: the platform installs the process locale's
// (UseSystemFormatSettings in platform/LocaleFormats.h). Called at each read, from any thread.
// Without a source (nullptr) the defaults above apply.
using TFormatSettingsSource = TFormatSettings (*)();
void SetFormatSettingsSource(TFormatSettingsSource Source);
// Tests pin the settings; std::nullopt returns to the source.
void SetFormatSettingsOverride(std::optional<TFormatSettings> Settings);
// The settings in force: the override while one is set, otherwise the source's.
TFormatSettings CurrentFormatSettings();
char DecimalSeparator();

// Integers: optional leading blanks, optional sign, decimal digits, or '$' / "0x" / "0X"
// followed by hexadecimal digits; nothing else (no trailing blanks, no empty text).
// EConvertError "'%s' is not a valid integer value" (the text as given).
int32_t StrToInt(const std::string &S);
int64_t StrToInt64(const std::string &S);
bool TryStrToInt(const std::string &S, int32_t &Value);
bool TryStrToInt64(const std::string &S, int64_t &Value);
int32_t StrToIntDef(const std::string &S, int32_t Default);

// Floating point with the system decimal separator (leading/trailing blanks allowed, optional
// exponent). EConvertError "'%s' is not a valid floating point value".
long double StrToFloat(const std::string &S);
bool TryStrToFloat(const std::string &S, long double &Value);

// Value of one hexadecimal digit (either case); -1 for any other character.
int HexDigitValue(char C);

std::string IntToStr(int64_t Value);
std::string IntToHex(uint64_t Value, int Digits); // upper case, at least Digits digits
// Shortest general form with up to 15 significant digits and the system decimal separator:
// 13 -> "13", 659.5 -> "659.5" (or "659,5"), 1e20 -> "1E20", 0.0001 -> "0.0001", 1e-5 -> "1E-5".
std::string FloatToStr(long double Value);

// Arguments of Format: integers, floating point, text, single characters.
using TVarRec = std::variant<int64_t, uint64_t, long double, std::string, char>;
struct FormatArg {
    TVarRec Value;
    template <class T>
        requires std::is_integral_v<T> && (!std::is_same_v<T, char>) && (!std::is_same_v<T, bool>)
    FormatArg(T v)
    {
        if constexpr (std::is_signed_v<T>)
            Value = static_cast<int64_t>(v);
        else
            Value = static_cast<uint64_t>(v);
    }
    FormatArg(bool v) : Value(static_cast<int64_t>(v)) {}
    FormatArg(char v) : Value(v) {}
    FormatArg(float v) : Value(static_cast<long double>(v)) {}
    FormatArg(double v) : Value(static_cast<long double>(v)) {}
    FormatArg(long double v) : Value(v) {}
    FormatArg(const char *v) : Value(std::string(v)) {}
    FormatArg(std::string v) : Value(std::move(v)) {}
};
// The classic Format: %[index:][-][width][.precision]type with types d u x (upper-case hex)
// s f e g n m p and %%. Floats use the system decimal separator. An argument of the wrong
// kind or a missing argument raises EConvertError "Format '%s' invalid or incompatible with
// argument".
std::string Format(const std::string &Fmt, const std::vector<FormatArg> &Args);

// Nearest integer, ties to the even neighbour.
int64_t Round(long double Value);

// Renders a time of day in the classic pattern letters (h, hh, n, nn, s, ss, z, zzz, am/pm,
// a/p, ampm; quoted text as is).
std::string FormatTimeOfDay(const std::string &Pattern, int Hour, int Min, int Sec, int MSec);
// Turns a locale time pattern (HH:mm:ss t, h:mm:ss AP) into the classic letters, without the
// time zone.
std::string ClassicTimeFormat(const std::string &LocalePattern);

// Local time in the long time format, ".", milliseconds padded to four digits: 14:03:07.0042
std::string TimeStamp();

// Lower/upper case of ASCII letters; case-insensitive comparison.
std::string UpperCase(const std::string &S);
std::string LowerCase(const std::string &S);
bool SameText(const std::string &A, const std::string &B);
// True when Text begins with SubText, ignoring the case of ASCII letters.
bool StartsText(std::string_view SubText, std::string_view Text);
std::string Trim(const std::string &S);
