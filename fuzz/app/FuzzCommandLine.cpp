// The command line comes from scripts and shortcuts: any arguments give either options or one
// error, the same every time, and an error always has text for standard error.
#include "app/CommandLine.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Arguments are separated by NUL bytes, as the kernel hands them over.
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += char(data[i]);
    }
    const TCommandLine first = ParseCommandLine(args);
    const TCommandLine again = ParseCommandLine(args);
    if (first.Error != again.Error)
        std::abort();
    if (!first.Ok() && CommandLineErrorText(first.Error).empty())
        std::abort();
    return 0;
}
