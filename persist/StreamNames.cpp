#include "persist/StreamNames.h"

#include "framework/SysUtils.h"

namespace StreamFormat {

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

bool IsIdent(const std::string &S)
{
    if (S.empty() || !IsIdentStart(S[0]))
        return false;
    for (char c : S)
        if (!IsIdentChar(c))
            return false;
    return true;
}

bool IsKeyword(const std::string &S)
{
    return SameText(S, "object") || SameText(S, "end") || SameText(S, "inherited") ||
           SameText(S, "inline") || SameText(S, "item");
}

bool IsPropertyPath(const std::string &S)
{
    size_t start = 0;
    while (true) {
        size_t dot = S.find('.', start);
        std::string part = S.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!IsIdent(part) || (start == 0 && IsKeyword(part)))
            return false;
        if (dot == std::string::npos)
            return true;
        start = dot + 1;
    }
}

} // namespace StreamFormat
