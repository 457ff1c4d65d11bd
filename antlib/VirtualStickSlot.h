#pragma once
// The in-process virtual stick lives in antsim/, which may or may not be linked into the
// library. antsim/VirtualTransport.cpp defines this factory; without it the library keeps a
// weak fallback that reports "virtual stick not built" and returns nothing.
#include <memory>
#include <string>

#include "antlib/Transport.h"

namespace antlib {

// `scenario` is the value of $FENNICK_VIRTUAL_TRAINER: "default" or a scenario file path.
// Returns null when the stick cannot be made (bad scenario, not built).
std::unique_ptr<Transport> makeVirtualStickTransport(const std::string &scenario);

} // namespace antlib
