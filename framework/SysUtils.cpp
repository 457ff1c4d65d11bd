#include "framework/SysUtils.h"

#include "framework/Exception.h"
#include "framework/Utf8.h"

#include <QLocale>
#include <QString>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>

namespace {

// Guards the override and every QLocale read: the time stamp is taken on the library's thread.
std::mutex SettingsLock;
std::optional<TFormatSettings> SettingsOverride;

char AsciiChar(const QString &S, char Fallback)
{
    if (S.size() == 1 && S.at(0).unicode() < 0x80 && S.at(0).unicode() > 0x20)
        return static_cast<char>(S.at(0).unicode());
    return Fallback;
}

TFormatSettings CurrentSettings()
{
    {
        std::lock_guard<std::mutex> guard(SettingsLock);
        if (SettingsOverride)
            return *SettingsOverride;
    }
    return SystemFormatSettings();
}

bool IsDigit(char C)
{
    return C >= '0' && C <= '9';
}

// Optional blanks, optional sign, then decimal digits or '$' / 0x and hexadecimal digits.
// Hexadecimal text is a bit pattern of the target width ($FFFFFFFF is -1 as 32-bit).
bool ParseInteger(const std::string &S, bool Wide, int64_t &Value)
{
    size_t i = 0;
    const size_t n = S.size();
    while (i < n && S[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (S[i] == '+' || S[i] == '-')) {
        negative = S[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < n && S[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < n && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n)
        return false;
    const uint64_t base = hex ? 16 : 10;
    uint64_t limit;
    if (hex)
        limit = Wide ? std::numeric_limits<uint64_t>::max() : 0xFFFFFFFFull;
    else if (Wide)
        limit = negative ? (1ull << 63) : (1ull << 63) - 1;
    else
        limit = negative ? (1ull << 31) : (1ull << 31) - 1;
    uint64_t magnitude = 0;
    for (; i < n; ++i) {
        const int d = hex ? HexDigitValue(S[i]) : (IsDigit(S[i]) ? S[i] - '0' : -1);
        if (d < 0)
            return false;
        if (magnitude > (limit - static_cast<uint64_t>(d)) / base)
            return false;
        magnitude = magnitude * base + static_cast<uint64_t>(d);
    }
    if (hex) {
        if (Wide) {
            const uint64_t bits = negative ? 0 - magnitude : magnitude;
            Value = static_cast<int64_t>(bits);
        } else {
            const uint32_t bits = static_cast<uint32_t>(negative ? 0 - magnitude : magnitude);
            Value = static_cast<int32_t>(bits);
        }
        return true;
    }
    Value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

[[noreturn]] void IntegerError(const std::string &S)
{
    throw EConvertError("'" + S + "' is not a valid integer value");
}

// The 18 significant digits of |Value| (a finite, non-zero value) and the decimal exponent of
// the first one: |Value| ~ d.ddd x 10^Exponent. The text forms round from these digits, never
// from the exact binary value.
void EighteenDigits(long double Value, std::string &Digits, int &Exponent)
{
    char buf[128];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(Value), std::chars_format::scientific, 17);
    const std::string text(buf, res.ptr);
    const size_t e = text.find('e');
    Digits.clear();
    for (size_t k = 0; k < e; ++k)
        if (IsDigit(text[k]))
            Digits += text[k];
    Exponent = std::stoi(text.substr(e + 1));
}

// Keeps the first Keep digits, rounding an exact half up in magnitude. An empty result is zero;
// a carry out of the first digit adds a digit and raises the exponent.
void KeepDigitsHalfUp(std::string &Digits, int &Exponent, int Keep)
{
    if (Keep < 0) {
        Digits.clear();
        return;
    }
    if (static_cast<size_t>(Keep) >= Digits.size())
        return;
    const bool up = Digits[static_cast<size_t>(Keep)] >= '5';
    Digits.resize(static_cast<size_t>(Keep));
    if (!up)
        return;
    size_t k = Digits.size();
    while (k > 0 && Digits[k - 1] == '9')
        Digits[--k] = '0';
    if (k == 0) {
        Digits.insert(Digits.begin(), '1');
        ++Exponent;
    } else {
        ++Digits[k - 1];
    }
}

// Mantissa digits (no leading zeros, no trailing zeros) and decimal exponent of a finite,
// non-zero value rounded to Precision significant digits: Value = d.ddd x 10^Exponent.
void DecimalDigits(long double Value, int Precision, std::string &Digits, int &Exponent)
{
    EighteenDigits(Value, Digits, Exponent);
    KeepDigitsHalfUp(Digits, Exponent, Precision);
    while (Digits.size() > 1 && Digits.back() == '0')
        Digits.pop_back();
}

std::string SpecialFloat(long double Value)
{
    if (std::isnan(Value))
        return "NAN";
    return Value < 0 ? "-INF" : "INF";
}

std::string GeneralFloat(long double Value, int Precision, char Separator)
{
    if (!std::isfinite(Value))
        return SpecialFloat(Value);
    if (Value == 0)
        return "0";
    std::string digits;
    int exponent = 0;
    DecimalDigits(Value, Precision, digits, exponent);
    std::string out = std::signbit(Value) ? "-" : "";
    if (exponent >= Precision || exponent < -4) {
        out += digits[0];
        if (digits.size() > 1) {
            out += Separator;
            out.append(digits, 1, std::string::npos);
        }
        out += 'E';
        out += std::to_string(exponent);
        return out;
    }
    if (exponent >= 0) {
        const size_t intDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out += digits;
            out.append(intDigits - digits.size(), '0');
        } else {
            out.append(digits, 0, intDigits);
            out += Separator;
            out.append(digits, intDigits, std::string::npos);
        }
        return out;
    }
    out += '0';
    out += Separator;
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
    return out;
}

// Fixed notation with Decimals digits after the separator, optionally grouped by thousands.
std::string FixedFloat(long double Value, int Decimals, char Separator, const std::string &Thousands)
{
    if (!std::isfinite(Value))
        return SpecialFloat(Value);
    std::string digits;
    int exponent = 0;
    if (Value != 0) {
        EighteenDigits(Value, digits, exponent);
        KeepDigitsHalfUp(digits, exponent, exponent + 1 + Decimals);
    }
    // digits[k] stands for 10^(exponent - k); anything outside them is a zero.
    auto digitAt = [&](int power) -> char {
        const int k = exponent - power;
        return k >= 0 && static_cast<size_t>(k) < digits.size() ? digits[static_cast<size_t>(k)] : '0';
    };
    std::string intPart;
    if (!digits.empty())
        for (int power = exponent; power >= 0; --power)
            intPart += digitAt(power);
    if (intPart.empty())
        intPart = "0";
    std::string fracPart;
    for (int power = -1; power >= -Decimals; --power)
        fracPart += digits.empty() ? '0' : digitAt(power);
    // A value that rounds to zero reads as a plain zero, without a sign.
    const bool negative = std::signbit(Value) && digits.find_first_not_of('0') != std::string::npos;
    if (!Thousands.empty() && intPart.size() > 3) {
        std::string grouped;
        const size_t lead = intPart.size() % 3;
        for (size_t k = 0; k < intPart.size(); ++k) {
            if (k != 0 && (k - lead) % 3 == 0)
                grouped += Thousands;
            grouped += intPart[k];
        }
        intPart = grouped;
    }
    std::string out = negative ? "-" : "";
    out += intPart;
    if (!fracPart.empty()) {
        out += Separator;
        out += fracPart;
    }
    return out;
}

// d.dddE+ddd with Precision significant digits and at least three exponent digits.
std::string ExponentFloat(long double Value, int Precision, char Separator)
{
    if (!std::isfinite(Value))
        return SpecialFloat(Value);
    std::string digits;
    int exponent = 0;
    if (Value == 0) {
        digits = "0";
    } else {
        DecimalDigits(Value, Precision, digits, exponent);
    }
    digits.append(static_cast<size_t>(Precision) - std::min(digits.size(), static_cast<size_t>(Precision)), '0');
    std::string out = std::signbit(Value) && Value != 0 ? "-" : "";
    out += digits[0];
    if (digits.size() > 1) {
        out += Separator;
        out.append(digits, 1, std::string::npos);
    }
    out += 'E';
    out += exponent < 0 ? '-' : '+';
    std::string e = std::to_string(std::abs(exponent));
    if (e.size() < 3)
        e.insert(0, 3 - e.size(), '0');
    return out + e;
}

std::string UnsignedToText(uint64_t Value, int Base)
{
    char buf[72];
    auto res = std::to_chars(buf, buf + sizeof buf, Value, Base);
    std::string s(buf, res.ptr);
    for (char &c : s)
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// Negative arguments print as the bit pattern of the integer type they came from: 32 bits
// when they fit in 32 bits, the whole 64 bits otherwise.
uint64_t UnsignedPattern(const TVarRec &V)
{
    if (const auto *u = std::get_if<uint64_t>(&V))
        return *u;
    const int64_t s = std::get<int64_t>(V);
    if (s < 0 && s >= std::numeric_limits<int32_t>::min())
        return static_cast<uint32_t>(static_cast<int32_t>(s));
    return static_cast<uint64_t>(s);
}

std::string TwoDigits(int V)
{
    std::string s = std::to_string(V);
    return s.size() < 2 ? "0" + s : s;
}

// Token at position Pos of S, in either case.
bool TokenAt(const std::string &S, size_t Pos, const char *Token)
{
    return StartsText(Token, std::string_view(S).substr(Pos));
}

} // namespace

TFormatSettings SystemFormatSettings()
{
    std::lock_guard<std::mutex> guard(SettingsLock);
    const QLocale loc = QLocale::system();
    TFormatSettings fs;
    fs.DecimalSeparator = AsciiChar(loc.decimalPoint(), '.');
    fs.LongTimeFormat = ClassicTimeFormat(loc.timeFormat(QLocale::LongFormat).toStdString());
    fs.ThousandSeparator = loc.groupSeparator().toStdString();
    fs.CurrencyString = loc.currencySymbol().toStdString();
    return fs;
}

void SetFormatSettingsOverride(std::optional<TFormatSettings> Settings)
{
    std::lock_guard<std::mutex> guard(SettingsLock);
    SettingsOverride = std::move(Settings);
}

char DecimalSeparator()
{
    return CurrentSettings().DecimalSeparator;
}

bool TryStrToInt(const std::string &S, int32_t &Value)
{
    int64_t v = 0;
    if (!ParseInteger(S, false, v))
        return false;
    Value = static_cast<int32_t>(v);
    return true;
}

bool TryStrToInt64(const std::string &S, int64_t &Value)
{
    return ParseInteger(S, true, Value);
}

int32_t StrToInt(const std::string &S)
{
    int32_t v = 0;
    if (!TryStrToInt(S, v))
        IntegerError(S);
    return v;
}

int64_t StrToInt64(const std::string &S)
{
    int64_t v = 0;
    if (!TryStrToInt64(S, v))
        IntegerError(S);
    return v;
}

int32_t StrToIntDef(const std::string &S, int32_t Default)
{
    int32_t v = 0;
    return TryStrToInt(S, v) ? v : Default;
}

bool TryStrToFloat(const std::string &S, long double &Value)
{
    const char sep = DecimalSeparator();
    size_t i = 0;
    size_t n = S.size();
    while (i < n && S[i] == ' ')
        ++i;
    while (n > i && S[n - 1] == ' ')
        --n;
    // Rebuilt in the C form so that the conversion does not depend on the C library locale.
    std::string plain;
    if (i < n && (S[i] == '+' || S[i] == '-')) {
        if (S[i] == '-')
            plain += '-';
        ++i;
    }
    size_t mantissaDigits = 0;
    while (i < n && IsDigit(S[i])) {
        plain += S[i++];
        ++mantissaDigits;
    }
    if (i < n && S[i] == sep) {
        plain += '.';
        ++i;
        while (i < n && IsDigit(S[i])) {
            plain += S[i++];
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return false;
    if (i < n && (S[i] == 'e' || S[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < n && (S[i] == '+' || S[i] == '-'))
            plain += S[i++];
        size_t expDigits = 0;
        while (i < n && IsDigit(S[i])) {
            plain += S[i++];
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != n)
        return false;
    long double v = 0;
    const char *first = plain.data();
    const char *last = plain.data() + plain.size();
    auto res = std::from_chars(first, last, v);
    if (res.ec != std::errc() || res.ptr != last || !std::isfinite(v))
        return false;
    Value = v;
    return true;
}

long double StrToFloat(const std::string &S)
{
    long double v = 0;
    if (!TryStrToFloat(S, v))
        throw EConvertError("'" + S + "' is not a valid floating point value");
    return v;
}

int HexDigitValue(char C)
{
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    return -1;
}

std::string IntToStr(int64_t Value)
{
    return std::to_string(Value);
}

std::string IntToHex(uint64_t Value, int Digits)
{
    std::string s = UnsignedToText(Value, 16);
    if (Digits > 0 && s.size() < static_cast<size_t>(Digits))
        s.insert(0, static_cast<size_t>(Digits) - s.size(), '0');
    return s;
}

std::string FloatToStr(long double Value)
{
    return GeneralFloat(Value, 15, DecimalSeparator());
}

std::string Format(const std::string &Fmt, const std::vector<FormatArg> &Args)
{
    auto invalid = [&Fmt]() -> EConvertError {
        return EConvertError("Format '" + Fmt + "' invalid or incompatible with argument");
    };
    const TFormatSettings fs = CurrentSettings();
    std::string out;
    size_t argIndex = 0;
    const size_t n = Fmt.size();
    size_t i = 0;
    auto nextArg = [&]() -> const TVarRec & {
        if (argIndex >= Args.size())
            throw invalid();
        return Args[argIndex++].Value;
    };
    // Digits, or '*' taking the value from the next integer argument.
    auto readNumber = [&]() -> std::optional<int> {
        if (i < n && Fmt[i] == '*') {
            ++i;
            const TVarRec &v = nextArg();
            if (const auto *s = std::get_if<int64_t>(&v)) {
                if (*s < -100000 || *s > 100000)
                    throw invalid();
                return static_cast<int>(*s);
            }
            if (const auto *u = std::get_if<uint64_t>(&v)) {
                if (*u > 100000)
                    throw invalid();
                return static_cast<int>(*u);
            }
            throw invalid();
        }
        if (i >= n || !IsDigit(Fmt[i]))
            return std::nullopt;
        int value = 0;
        while (i < n && IsDigit(Fmt[i])) {
            value = value * 10 + (Fmt[i++] - '0');
            if (value > 100000)
                throw invalid();
        }
        return value;
    };

    while (i < n) {
        const char c = Fmt[i++];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i >= n)
            throw invalid();
        if (Fmt[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        std::optional<int> number = readNumber();
        if (number && i < n && Fmt[i] == ':') {
            if (*number < 0)
                throw invalid();
            argIndex = static_cast<size_t>(*number);
            ++i;
            number.reset();
        }
        bool leftJustify = false;
        if (!number) {
            if (i < n && Fmt[i] == '-') {
                leftJustify = true;
                ++i;
            }
            number = readNumber();
        }
        int width = number.value_or(0);
        if (width < 0) {
            // A negative '*' width means left justification.
            leftJustify = true;
            width = -width;
        }
        int precision = -1;
        if (i < n && Fmt[i] == '.') {
            ++i;
            precision = std::max(readNumber().value_or(0), 0);
        }
        if (i >= n)
            throw invalid();
        const char type = static_cast<char>(std::tolower(static_cast<unsigned char>(Fmt[i++])));
        const TVarRec &arg = nextArg();
        std::string text;
        switch (type) {
        case 'd': {
            std::string digits;
            bool negative = false;
            if (const auto *s = std::get_if<int64_t>(&arg)) {
                negative = *s < 0;
                digits = UnsignedToText(negative ? 0 - static_cast<uint64_t>(*s) : static_cast<uint64_t>(*s), 10);
            } else if (const auto *u = std::get_if<uint64_t>(&arg)) {
                digits = UnsignedToText(*u, 10);
            } else {
                throw invalid();
            }
            if (precision > 0 && digits.size() < static_cast<size_t>(precision))
                digits.insert(0, static_cast<size_t>(precision) - digits.size(), '0');
            text = (negative ? "-" : "") + digits;
            break;
        }
        case 'u':
        case 'x': {
            if (!std::holds_alternative<int64_t>(arg) && !std::holds_alternative<uint64_t>(arg))
                throw invalid();
            text = UnsignedToText(UnsignedPattern(arg), type == 'x' ? 16 : 10);
            if (precision > 0 && text.size() < static_cast<size_t>(precision))
                text.insert(0, static_cast<size_t>(precision) - text.size(), '0');
            break;
        }
        case 'p': {
            if (!std::holds_alternative<int64_t>(arg) && !std::holds_alternative<uint64_t>(arg))
                throw invalid();
            text = IntToHex(std::holds_alternative<uint64_t>(arg) ? std::get<uint64_t>(arg)
                                                                  : static_cast<uint64_t>(std::get<int64_t>(arg)),
                            16);
            break;
        }
        case 's': {
            if (const auto *s = std::get_if<std::string>(&arg))
                text = *s;
            else if (const auto *ch = std::get_if<char>(&arg))
                AppendUtf8(text, static_cast<unsigned char>(*ch));
            else
                throw invalid();
            if (precision >= 0 && text.size() > static_cast<size_t>(precision))
                text.resize(static_cast<size_t>(precision));
            break;
        }
        case 'f':
        case 'e':
        case 'g':
        case 'n':
        case 'm': {
            const auto *f = std::get_if<long double>(&arg);
            if (f == nullptr)
                throw invalid();
            const char sep = fs.DecimalSeparator;
            if (type == 'f') {
                text = FixedFloat(*f, precision < 0 ? 2 : std::min(precision, 30), sep, std::string());
            } else if (type == 'n') {
                text = FixedFloat(*f, precision < 0 ? 2 : std::min(precision, 30), sep, fs.ThousandSeparator);
            } else if (type == 'm') {
                std::string amount =
                    FixedFloat(std::fabs(*f), precision < 0 ? 2 : std::min(precision, 30), sep, fs.ThousandSeparator);
                const bool negative = *f < 0 && amount.find_first_of("123456789") != std::string::npos;
                text = (negative ? "-" : "") + fs.CurrencyString + amount;
            } else if (type == 'e') {
                text = ExponentFloat(*f, precision <= 0 ? 15 : std::min(precision, 18), sep);
            } else {
                text = GeneralFloat(*f, precision <= 0 ? 15 : std::min(precision, 18), sep);
            }
            break;
        }
        default:
            throw invalid();
        }
        if (width > 0 && text.size() < static_cast<size_t>(width)) {
            const std::string pad(static_cast<size_t>(width) - text.size(), ' ');
            text = leftJustify ? text + pad : pad + text;
        }
        out += text;
    }
    return out;
}

int64_t Round(long double Value)
{
    const long double r = std::nearbyint(Value);
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr long double limit = 9223372036854775808.0L;
    if (!std::isfinite(r) || r >= limit || r < -limit)
        throw Exception("Invalid floating point operation");
    return static_cast<int64_t>(r);
}

std::string ClassicTimeFormat(const std::string &LocalePattern)
{
    std::string out;
    const std::string &p = LocalePattern;
    const size_t n = p.size();
    size_t i = 0;
    while (i < n) {
        const char c = p[i];
        if (c == '\'') {
            // Quoted literal; '' inside stands for one quote.
            std::string literal;
            ++i;
            while (i < n) {
                if (p[i] == '\'') {
                    if (i + 1 < n && p[i + 1] == '\'') {
                        literal += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                literal += p[i++];
            }
            if (!literal.empty())
                out += "\"" + literal + "\"";
            continue;
        }
        size_t run = 1;
        while (i + run < n && p[i + run] == c)
            ++run;
        switch (c) {
        case 'h':
        case 'H':
            out += run >= 2 ? "hh" : "h";
            break;
        case 'm':
            out += run >= 2 ? "nn" : "n";
            break;
        case 's':
            out += run >= 2 ? "ss" : "s";
            break;
        case 'z':
            out += run >= 3 ? "zzz" : "z";
            break;
        case 'A':
        case 'a':
            // AP / ap (a single A / a too): the morning and afternoon marker.
            if (i + 1 < n && (p[i + 1] == 'P' || p[i + 1] == 'p'))
                run = 2;
            out += c == 'A' ? "AM/PM" : "am/pm";
            break;
        case 't':
            // Time zone: left out, with the blanks that separated it.
            while (!out.empty() && out.back() == ' ')
                out.pop_back();
            i += run;
            while (i < n && p[i] == ' ')
                ++i;
            continue;
        default:
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
                out += "\"" + std::string(run, c) + "\"";
            else
                out.append(run, c);
            break;
        }
        i += run;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out.empty() ? std::string("hh:nn:ss") : out;
}

std::string FormatTimeOfDay(const std::string &Pattern, int Hour, int Min, int Sec, int MSec)
{
    const std::string &p = Pattern;
    const size_t n = p.size();
    bool twelveHour = false;
    for (size_t k = 0; k < n; ++k)
        if (TokenAt(p, k, "am/pm") || TokenAt(p, k, "a/p") || TokenAt(p, k, "ampm"))
            twelveHour = true;
    std::string out;
    size_t i = 0;
    while (i < n) {
        const char c = p[i];
        if (c == '"' || c == '\'') {
            const size_t end = p.find(c, i + 1);
            const size_t stop = end == std::string::npos ? n : end;
            out.append(p, i + 1, stop - i - 1);
            i = stop == n ? n : stop + 1;
            continue;
        }
        const char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t run = 1;
        while (i + run < n && std::tolower(static_cast<unsigned char>(p[i + run])) == lc)
            ++run;
        switch (lc) {
        case 'h': {
            int h = Hour;
            if (twelveHour) {
                h = Hour % 12;
                if (h == 0)
                    h = 12;
            }
            out += run >= 2 ? TwoDigits(h) : std::to_string(h);
            break;
        }
        case 'n':
        case 'm':
            out += run >= 2 ? TwoDigits(Min) : std::to_string(Min);
            break;
        case 's':
            out += run >= 2 ? TwoDigits(Sec) : std::to_string(Sec);
            break;
        case 'z': {
            std::string ms = std::to_string(MSec);
            if (run >= 3 && ms.size() < 3)
                ms.insert(0, 3 - ms.size(), '0');
            out += ms;
            run = run >= 3 ? 3 : 1;
            break;
        }
        case 'a': {
            const bool pm = Hour >= 12;
            if (TokenAt(p, i, "am/pm")) {
                const bool upper = c == 'A';
                out += pm ? (upper ? "PM" : "pm") : (upper ? "AM" : "am");
                run = 5;
            } else if (TokenAt(p, i, "a/p")) {
                const bool upper = c == 'A';
                out += pm ? (upper ? "P" : "p") : (upper ? "A" : "a");
                run = 3;
            } else if (TokenAt(p, i, "ampm")) {
                out += pm ? "PM" : "AM";
                run = 4;
            } else {
                out.append(p, i, 1);
                run = 1;
            }
            break;
        }
        default:
            out.append(p, i, run);
            break;
        }
        i += run;
    }
    return out;
}

std::string TimeStamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&t, &local);
    std::string msText = std::to_string(ms < 0 ? ms + 1000 : ms);
    msText.insert(0, 4 - msText.size(), '0');
    return FormatTimeOfDay(CurrentSettings().LongTimeFormat, local.tm_hour, local.tm_min, local.tm_sec, 0) + "." +
           msText;
}

std::string UpperCase(const std::string &S)
{
    std::string r(S);
    for (char &c : r)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return r;
}

std::string LowerCase(const std::string &S)
{
    std::string r(S);
    for (char &c : r)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return r;
}

bool SameText(const std::string &A, const std::string &B)
{
    return A.size() == B.size() && UpperCase(A) == UpperCase(B);
}

std::string Trim(const std::string &S)
{
    size_t first = 0;
    size_t last = S.size();
    while (first < last && static_cast<unsigned char>(S[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(S[last - 1]) <= ' ')
        --last;
    return S.substr(first, last - first);
}

bool StartsText(std::string_view SubText, std::string_view Text)
{
    // ASCII only, like SameText: the C library's tolower follows the process locale.
    const auto lower = [](char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; };
    if (SubText.size() > Text.size())
        return false;
    for (size_t i = 0; i < SubText.size(); ++i)
        if (lower(SubText[i]) != lower(Text[i]))
            return false;
    return true;
}
