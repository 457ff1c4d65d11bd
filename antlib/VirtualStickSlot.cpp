#include "antlib/VirtualStickSlot.h"

#include <cstdio>

namespace antlib {

// Weak: the definition in antsim/VirtualTransport.cpp replaces it when antsim is linked in.
__attribute__((weak)) std::unique_ptr<Transport> makeVirtualStickTransport(const std::string &)
{
    std::fprintf(stderr, "ANT_DLL: virtual stick not built\n");
    return nullptr;
}

} // namespace antlib
