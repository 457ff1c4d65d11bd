#include "framework/SysUtils.h"

#include "framework/Exception.h"
#include "framework/NumberText.h"
#include "framework/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

namespace {

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

} // namespace

std::string Format(const std::string &Fmt, const std::vector<FormatArg> &Args)
{
    auto invalid = [&Fmt]() -> EConvertError {
        return EConvertError("Format '" + Fmt + "' invalid or incompatible with argument");
    };
    const TFormatSettings fs = CurrentFormatSettings();
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
