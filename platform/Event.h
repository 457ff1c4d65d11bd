#pragma once
// Manual- and auto-reset events built on a mutex and a condition variable.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

// Waits for ever.
constexpr uint32_t INFINITE = 0xFFFFFFFFu;

enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

class TEvent {
public:
    // The name is only a label (shown by Name()); events are not shared between processes.
    TEvent(bool manualReset, bool initialState, const std::string &name = std::string());
    TEvent(const TEvent &) = delete;
    TEvent &operator=(const TEvent &) = delete;

    // Manual reset: every waiter is released and the event stays set until ResetEvent().
    // Auto reset: exactly one waiter is released (now or, when none waits, the next one)
    // and the event clears itself.
    void SetEvent();
    void ResetEvent();
    // wrSignaled or wrTimeout; INFINITE waits for ever, 0 only tests the state.
    TWaitResult WaitFor(uint32_t timeoutMs);

    bool ManualReset() const { return FManualReset; }
    const std::string &Name() const { return FName; }

private:
    const bool FManualReset;
    const std::string FName;
    std::mutex FMutex;
    std::condition_variable FCond;
    bool FSignaled;
};
