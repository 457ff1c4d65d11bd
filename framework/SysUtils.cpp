#include "framework/SysUtils.h"

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
