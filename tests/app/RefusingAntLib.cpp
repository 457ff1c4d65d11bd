// A stand-in ANT library whose stick cannot be used, for the window's error box: with
// FENNICK_TEST_REFUSAL=permission no stick opens; with =reset the stick is listed but never
// answers its reset, and the library tells why; =reset-quietly fails the same way, untold.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string refusal()
{
    const char *mode = std::getenv("FENNICK_TEST_REFUSAL");
    return mode ? mode : "";
}

bool gOpen = false;

} // namespace

extern "C" {
#define STANDIN __attribute__((visibility("default")))
STANDIN bool ANT_Init(uint8_t deviceNumber, uint16_t)
{
    gOpen = deviceNumber == 0 && refusal().rfind("reset", 0) == 0;
    return gOpen;
}
STANDIN void ANT_Close() { gOpen = false; }
STANDIN bool ANT_ResetSystem() { return false; }
STANDIN void ANT_Nap(uint32_t) {}
STANDIN bool ANT_GetDeviceUSBInfo(uint8_t deviceNumber, uint8_t *product256, uint8_t *serial256)
{
    if (deviceNumber != 0 || !gOpen)
        return false;
    std::strcpy(reinterpret_cast<char *>(product256), "ANT USBStick2");
    std::strcpy(reinterpret_cast<char *>(serial256), "1");
    return true;
}
STANDIN bool ANT_GetDeviceUSBPID(uint16_t *pid)
{
    *pid = 0x1008;
    return gOpen;
}
STANDIN void ANT_AssignResponseFunction(bool (*)(uint8_t, uint8_t), uint8_t *) {}
STANDIN void ANT_AssignChannelEventFunction(uint8_t, bool (*)(uint8_t, uint8_t), uint8_t *) {}
STANDIN void ANT_UnassignAllResponseFunctions() {}
STANDIN uint32_t ANT_LibVersion() { return 0x146; }
STANDIN bool ANT_GetLastErrorText(char *buffer, uint16_t size)
{
    const std::string mode = refusal();
    const std::string text =
        mode == "permission"
            ? "no permission to open the ANT USB stick on bus 001 device 004.\n"
              "install the udev rule packaging/99-fennick-ant.rules"
        : mode == "reset" ? "the ANT stick stopped answering when it was reset."
                          : "";
    if (size == 0)
        return false;
    const size_t n = text.size() < size ? text.size() : size - 1u;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    return !text.empty();
}
}
