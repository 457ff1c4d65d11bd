#pragma once
// Digits of numbers as the conversions and Format write them (framework-internal).
#include <cstdint>
#include <string>

// '0' to '9', whatever the locale says a digit is.
inline bool IsDigit(char C)
{
    return C >= '0' && C <= '9';
}

// Upper-case digits of Value in Base, no padding.
std::string UnsignedToText(uint64_t Value, int Base);
// Shortest general form with up to Precision significant digits; INF, -INF, NAN as such.
std::string GeneralFloat(long double Value, int Precision, char Separator);
// Fixed notation with Decimals digits after the separator, optionally grouped by thousands.
std::string FixedFloat(long double Value, int Decimals, char Separator, const std::string &Thousands);
// d.dddE+ddd with Precision significant digits and at least three exponent digits.
std::string ExponentFloat(long double Value, int Precision, char Separator);
