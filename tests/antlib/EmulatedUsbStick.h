#pragma once
// An ANT USB stick that the real libusb finds and talks to: umockdev gives it a sysfs entry
// with its descriptors and a device node whose usbdevfs ioctls are answered here, and the
// virtual stick answers the ANT messages behind the bulk endpoints. The program must run with
// umockdev's preload library (LD_PRELOAD=libumockdev-preload.so.0).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fennick::test {

class EmulatedUsbStick {
public:
    struct Options {
        uint16_t productId = 0x1008;
        std::string serial = "3141592";
        int claimErrno = 0;        // what claiming interface 0 fails with (EBUSY: held elsewhere)
        bool deniedToUser = false; // the device node is not the user's to open
    };

    explicit EmulatedUsbStick(Options options);
    EmulatedUsbStick() : EmulatedUsbStick(Options{}) {}
    ~EmulatedUsbStick();
    EmulatedUsbStick(const EmulatedUsbStick &) = delete;
    EmulatedUsbStick &operator=(const EmulatedUsbStick &) = delete;

    // Empty when the stick is in place; otherwise why it could not be set up.
    std::string setupError() const;

    void setClaimErrno(int error);
    // The cable is pulled: transfers in flight end, every later request fails with ENODEV.
    void unplug();

    // Everything the host wrote to the bulk OUT endpoint, and which endpoints it used.
    std::vector<uint8_t> hostBytes() const;
    std::vector<uint8_t> outEndpoints() const;
    bool claimed() const;

    static constexpr uint8_t kInEndpoint = 0x81;
    static constexpr uint8_t kOutEndpoint = 0x01;

    // Whether umockdev's preload library is in this process.
    static bool preloaded();

    struct State; // shared with umockdev's worker thread

private:
    std::unique_ptr<State> FState;
};

} // namespace fennick::test
