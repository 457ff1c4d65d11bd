#pragma once
// The callbacks and buffers the caller registered, and their delivery from a reader thread.
// A registration made on any thread other than a delivering one returns only after a delivery
// already under way has finished, so the caller may free the old callback's target and buffer
// as soon as the registration call returns.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace antlib {

class CallbackRegistry {
public:
    using ResponseFunc = bool (*)(uint8_t channel, uint8_t messageId);
    using EventFunc = bool (*)(uint8_t channel, uint8_t event);

    static constexpr unsigned kChannels = 16;
    static constexpr size_t kResponseBufferSize = 10;
    static constexpr size_t kEventBufferSize = 16;

    void setResponse(ResponseFunc callback, uint8_t *buffer10);
    // Channels beyond kChannels cannot be registered; the call is ignored.
    void setChannelEvent(uint8_t channel, EventFunc callback, uint8_t *buffer16);
    void clearAll();

    // Write the registered buffer (bytes cut to its size, the rest zeroed) and call the
    // callback. False when nothing is registered for it.
    bool deliverResponse(uint8_t channel, uint8_t messageId, const uint8_t *bytes, size_t size);
    bool deliverEvent(uint8_t channel, uint8_t event, const uint8_t *bytes, size_t size);

    // True on a thread that is inside a callback delivered from here.
    static bool insideCallback();

private:
    void waitForEarlierDeliveries(std::unique_lock<std::mutex> &lock);
    void finishDelivery();
    // One delivery through a registration; the slots are read under the lock.
    using Callback = bool (*)(uint8_t channel, uint8_t code);
    bool deliver(Callback const &callbackSlot, uint8_t *const &bufferSlot, size_t rowSize,
                 uint8_t channel, uint8_t code, const uint8_t *bytes, size_t size);

    std::mutex FMutex;
    std::condition_variable FIdle;
    ResponseFunc FResponse = nullptr;
    uint8_t *FResponseBuffer = nullptr;
    EventFunc FEvents[kChannels] = {};
    uint8_t *FEventBuffers[kChannels] = {};
    uint64_t FStarted = 0;  // deliveries begun
    uint64_t FFinished = 0; // deliveries whose callback has returned
};

} // namespace antlib
