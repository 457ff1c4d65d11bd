#include "platform/DebugOutput.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex gOutputLock;
std::function<void(const std::string &)> gOutputSink;
} // namespace

void OutputDebugString(const std::string &line)
{
    std::lock_guard<std::mutex> lock(gOutputLock);
    if (gOutputSink) {
        gOutputSink(line);
        return;
    }
    std::string text = "fennick: " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void SetDebugOutputSink(std::function<void(const std::string &)> sink)
{
    std::lock_guard<std::mutex> lock(gOutputLock);
    gOutputSink = std::move(sink);
}
