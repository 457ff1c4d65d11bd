#include "framework/SysUtils.h"

#include <cctype>
#include <chrono>
#include <ctime>

namespace {

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
    return FormatTimeOfDay(CurrentFormatSettings().LongTimeFormat, local.tm_hour, local.tm_min, local.tm_sec, 0) + "." +
           msText;
}
