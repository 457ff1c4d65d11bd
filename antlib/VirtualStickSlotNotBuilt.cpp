#include "antlib/VirtualStickSlot.h"

#include <cstdio>

namespace antlib {

std::unique_ptr<antwire::Transport> makeVirtualStickTransport(const std::string &)
{
    std::fprintf(stderr, "ANT_DLL: virtual stick not built\n");
    return nullptr;
}

} // namespace antlib
