#include "framework/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

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

} // namespace

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
