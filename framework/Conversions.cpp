#include "framework/SysUtils.h"

#include "framework/Exception.h"
#include "framework/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

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

} // namespace

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

int64_t Round(long double Value)
{
    const long double r = std::nearbyint(Value);
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr long double limit = 9223372036854775808.0L;
    if (!std::isfinite(r) || r >= limit || r < -limit)
        throw Exception("Invalid floating point operation");
    return static_cast<int64_t>(r);
}
