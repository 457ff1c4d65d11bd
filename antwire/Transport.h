#pragma once
// The byte pipe between the library's session and one stick. One implementation per
// backend (USB, serial tty, in-process virtual stick); the session never knows which.
#include <cstddef>
#include <cstdint>
#include <string>

namespace antwire {

class Transport {
public:
    virtual ~Transport() = default;
    // Writes all bytes; false when the stick is gone.
    virtual bool write(const uint8_t *data, size_t size) = 0;
    // Reads up to `capacity` bytes, waiting at most `timeoutMs`. Returns the count read,
    // 0 on time-out, -1 when the stick is gone (unplugged, read error, peer closed).
    virtual int read(uint8_t *buffer, size_t capacity, int timeoutMs) = 0;
    // Wakes a reader blocked in read() and releases the device; later calls fail.
    virtual void close() = 0;
    // USB product id (0 for non-USB transports), product and serial texts.
    virtual uint16_t productId() const = 0;
    virtual std::string productName() const = 0;
    virtual std::string serialNumber() const = 0;
};

} // namespace antwire
