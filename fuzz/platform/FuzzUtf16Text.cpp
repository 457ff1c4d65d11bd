// A .reg export from Windows is UTF-16LE: any units must decode without harm, and what decodes
// must encode back to the very same units (an export written again is the file it came from).
#include "platform/RegistryText.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t units = size / 2;
    std::string utf8;
    if (!RegHive::Utf16ToUtf8(data, units, utf8, false))
        return 0;
    const std::string back = RegHive::Utf8ToUtf16(utf8);
    if (back != std::string(reinterpret_cast<const char *>(data), units * 2))
        std::abort();
    // Stopping at the first NUL gives a prefix of the whole.
    std::string prefix;
    if (!RegHive::Utf16ToUtf8(data, units, prefix, true) || utf8.compare(0, prefix.size(), prefix) != 0)
        std::abort();
    return 0;
}
