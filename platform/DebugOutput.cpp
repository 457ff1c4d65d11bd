#include "platform/DebugOutput.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex gMutex;
std::function<void(const std::string &)> gSink;
} // namespace

void OutputDebugString(const std::string &line)
{
    std::lock_guard<std::mutex> lock(gMutex);
    if (gSink) {
        gSink(line);
        return;
    }
    std::string text = "fennick: " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void SetDebugOutputSink(std::function<void(const std::string &)> sink)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gSink = std::move(sink);
}
