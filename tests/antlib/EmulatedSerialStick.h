#pragma once
// An ANT stick that is a USB serial bridge, as the kernel shows it: umockdev gives it a sysfs
// entry (USB device, interface, usb-serial port, tty) and a device node backed by a
// pseudo-terminal, and the virtual stick answers on the terminal's other side. The program
// must run with umockdev's preload library (LD_PRELOAD=libumockdev-preload.so.0).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fennick::test {

class EmulatedSerialStick {
public:
    struct Tty {
        uint16_t vendorId = 0x0FCF;
        uint16_t productId = 0x1004;
        std::string name = "ttyUSB0";
        std::string product = "ANT USB Stick";
    };
    struct Options {
        // The first one is answered by the virtual stick; the others are only there.
        std::vector<Tty> ttys{Tty{}};
        bool deniedToUser = false; // the first tty's node is not the user's to open
        // Extra names for the first tty's node, below /dev (serial/by-id/...).
        std::vector<std::string> aliases;
    };

    explicit EmulatedSerialStick(Options options);
    EmulatedSerialStick() : EmulatedSerialStick(Options{}) {}
    ~EmulatedSerialStick();
    EmulatedSerialStick(const EmulatedSerialStick &) = delete;
    EmulatedSerialStick &operator=(const EmulatedSerialStick &) = delete;

    // Empty when the stick is in place; otherwise why it could not be set up.
    std::string setupError() const;

    // The line speed the host set on the first tty, as its other side sees it; 0 if unknown.
    unsigned lineSpeed() const;
    // Everything the host wrote to the first tty.
    std::vector<uint8_t> hostBytes() const;

    struct State; // shared with the thread that carries the bytes

private:
    std::unique_ptr<State> FState;
};

} // namespace fennick::test
