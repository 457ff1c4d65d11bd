#include "antlib/CallbackRegistry.h"

#include <algorithm>
#include <cstring>

namespace antlib {

namespace {
thread_local int t_deliveryDepth = 0;

void writeRow(uint8_t *row, size_t rowSize, const uint8_t *bytes, size_t size)
{
    const size_t n = std::min(rowSize, size);
    if (n > 0)
        std::memcpy(row, bytes, n);
    // Stale bytes of an earlier, longer message must not look like part of this one.
    std::memset(row + n, 0, rowSize - n);
}
} // namespace

bool CallbackRegistry::insideCallback()
{
    return t_deliveryDepth > 0;
}

void CallbackRegistry::waitForEarlierDeliveries(std::unique_lock<std::mutex> &lock)
{
    // Inside a callback the delivery under way is the caller's own: waiting would never end.
    if (insideCallback())
        return;
    const uint64_t begun = FStarted;
    FIdle.wait(lock, [&] { return FFinished >= begun; });
}

void CallbackRegistry::setResponse(ResponseFunc callback, uint8_t *buffer10)
{
    std::unique_lock lock(FMutex);
    FResponse = callback;
    FResponseBuffer = buffer10;
    waitForEarlierDeliveries(lock);
}

void CallbackRegistry::setChannelEvent(uint8_t channel, EventFunc callback, uint8_t *buffer16)
{
    if (channel >= kChannels)
        return;
    std::unique_lock lock(FMutex);
    FEvents[channel] = callback;
    FEventBuffers[channel] = buffer16;
    waitForEarlierDeliveries(lock);
}

void CallbackRegistry::clearAll()
{
    std::unique_lock lock(FMutex);
    FResponse = nullptr;
    FResponseBuffer = nullptr;
    std::fill(std::begin(FEvents), std::end(FEvents), nullptr);
    std::fill(std::begin(FEventBuffers), std::end(FEventBuffers), nullptr);
    waitForEarlierDeliveries(lock);
}

void CallbackRegistry::finishDelivery()
{
    --t_deliveryDepth;
    {
        std::lock_guard lock(FMutex);
        ++FFinished;
    }
    FIdle.notify_all();
}

namespace {
// Ends the delivery however the callback leaves, so that no registration waits for ever.
template <typename F>
struct DeliveryScope {
    F finish;
    ~DeliveryScope() { finish(); }
};
template <typename F>
DeliveryScope(F) -> DeliveryScope<F>;
} // namespace

bool CallbackRegistry::deliver(Callback const &callbackSlot, uint8_t *const &bufferSlot,
                               size_t rowSize, uint8_t channel, uint8_t code,
                               const uint8_t *bytes, size_t size)
{
    Callback callback;
    uint8_t *buffer;
    {
        std::lock_guard lock(FMutex);
        callback = callbackSlot;
        buffer = bufferSlot;
        if (!callback)
            return false;
        ++FStarted;
    }
    ++t_deliveryDepth;
    DeliveryScope scope{[this] { finishDelivery(); }};
    if (buffer)
        writeRow(buffer, rowSize, bytes, size);
    callback(channel, code);
    return true;
}

bool CallbackRegistry::deliverResponse(uint8_t channel, uint8_t messageId, const uint8_t *bytes,
                                       size_t size)
{
    return deliver(FResponse, FResponseBuffer, kResponseBufferSize, channel, messageId, bytes,
                   size);
}

bool CallbackRegistry::deliverEvent(uint8_t channel, uint8_t event, const uint8_t *bytes,
                                    size_t size)
{
    if (channel >= kChannels)
        return false;
    return deliver(FEvents[channel], FEventBuffers[channel], kEventBufferSize, channel, event,
                   bytes, size);
}

} // namespace antlib
