#include "antlib/LastError.h"

#include <cstdio>
#include <mutex>

namespace antlib {

namespace {

// Written by whichever thread opened or reset the stick, read by any.
std::mutex gMutex;
std::string gText;

} // namespace

void reportStickFailure(const std::string &text)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::fprintf(stderr, "ANT_DLL: %.*s\n", int(end - start), text.c_str() + start);
        start = end + 1;
    }
    std::lock_guard lock(gMutex);
    gText = text;
}

void clearStickFailure()
{
    std::lock_guard lock(gMutex);
    gText.clear();
}

std::string lastStickFailure()
{
    std::lock_guard lock(gMutex);
    return gText;
}

} // namespace antlib
