// The calibration settings come from a hive the user brings: whatever its bytes, every
// settings routine either gives a number or raises one of the system's errors, and the hive
// is left exactly as it was.
#include "app/CalibrationSettings.h"

#include "framework/Exception.h"
#include "platform/Registry.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace {

const std::string &HivePath()
{
    static const std::string path = [] {
        char pattern[] = "/tmp/fennick-fuzz-settings-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0)
            std::abort();
        close(fd);
        SetRegistryFile(pattern);
        return std::string(pattern);
    }();
    return path;
}

template <class F>
void Read(F Routine)
{
    try {
        Routine();
    } catch (const Exception &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    std::ofstream(HivePath(), std::ios::binary | std::ios::trunc) << bytes;
    Read(ReadUnitType);
    Read(ReadDeviceNumber);
    Read(ReadDiameter);
    Read(CalibrationKeyPath);
    for (int point = 0; point <= 4; ++point) {
        Read([point] { ReadSpeed(point); });
        Read([point] { ReadResist(point); });
    }
    Read(ReadSpeedA);
    Read(ReadSpeedB);
    Read(ReadResistA);
    Read(ReadResistB);
    std::ifstream in(HivePath(), std::ios::binary);
    if (std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()) != bytes)
        std::abort();
    return 0;
}
