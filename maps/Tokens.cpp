#include "maps/Tokens.h"

#include <algorithm>

int CountFields(const std::string &Text, char Separator)
{
    if (Text.empty())
        return 0;
    int count = static_cast<int>(std::count(Text.begin(), Text.end(), Separator)) + 1;
    if (Text.back() == Separator)
        --count;
    return count;
}

std::string GetField(const std::string &Text, char Separator, int Index)
{
    if (Index < 0)
        return std::string();
    size_t start = 0;
    for (int i = 0; i < Index; ++i) {
        size_t pos = Text.find(Separator, start);
        if (pos == std::string::npos)
            return std::string();
        start = pos + 1;
    }
    size_t end = Text.find(Separator, start);
    if (end == std::string::npos)
        end = Text.size();
    return Text.substr(start, end - start);
}

std::string CutToken(std::string &Text, char Separator)
{
    size_t pos = Text.find(Separator);
    if (pos == std::string::npos) {
        std::string all;
        all.swap(Text);
        return all;
    }
    std::string token = Text.substr(0, pos);
    Text.erase(0, pos + 1);
    return token;
}

std::string ReplaceChar(char From, char To, const std::string &Text)
{
    std::string result = Text;
    std::replace(result.begin(), result.end(), From, To);
    return result;
}
