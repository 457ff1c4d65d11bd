#include "antlib/VirtualStickSlot.h"

#include <cstdio>

#include "antsim/VirtualTransport.h"

namespace antlib {

std::unique_ptr<antwire::Transport> makeVirtualStickTransport(const std::string &scenario)
{
    return antsim::makeVirtualTransport(scenario, [](const std::string &line) {
        std::fprintf(stderr, "ANT_DLL: virtual stick: %s\n", line.c_str());
    });
}

} // namespace antlib
