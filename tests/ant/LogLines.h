#pragma once
// Log lines are matched by how they end: what comes before the message varies.
#include "framework/Strings.h"

#include <string>

inline int LogLinesEndingWith(const TStringList &Log, const std::string &tail)
{
    int n = 0;
    for (int i = 0; i < Log.Count(); ++i) {
        const std::string l = Log[i];
        if (l.size() >= tail.size() && l.compare(l.size() - tail.size(), tail.size(), tail) == 0)
            ++n;
    }
    return n;
}
