#pragma once
// What a test program's plain library callbacks heard: every channel event and response with a
// copy of its row, for tests of the C functions that wait on the library's own thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

struct Heard {
    uint8_t channel;
    uint8_t code;
    Bytes row;
};

std::mutex gMutex;
std::condition_variable gChanged;
std::vector<Heard> gEvents;
std::vector<Heard> gResponses;
uint8_t gEventRow[16];
uint8_t gResponseRow[10];

bool onEvent(uint8_t channel, uint8_t code)
{
    {
        std::lock_guard lock(gMutex);
        gEvents.push_back({channel, code, Bytes(gEventRow, gEventRow + 16)});
    }
    gChanged.notify_all();
    return true;
}

bool onResponse(uint8_t channel, uint8_t id)
{
    {
        std::lock_guard lock(gMutex);
        gResponses.push_back({channel, id, Bytes(gResponseRow, gResponseRow + 10)});
    }
    gChanged.notify_all();
    return true;
}

template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds timeout = 5s)
{
    std::unique_lock lock(gMutex);
    return gChanged.wait_for(lock, timeout, pred);
}

} // namespace
