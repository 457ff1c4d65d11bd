#pragma once
// Where the in-process virtual stick plugs into the device list. The library is built in two
// variants (CMake option FENNICK_VIRTUAL_STICK): VirtualStickSlot.cpp opens antsim's stick,
// VirtualStickSlotNotBuilt.cpp says that it is missing. Exactly one of them is linked.
#include <memory>
#include <string>

#include "antwire/Transport.h"

namespace antlib {

// `scenario` is the value of $FENNICK_VIRTUAL_TRAINER: "default" or a scenario file path.
// Returns null when the stick cannot be made (bad scenario, not built).
std::unique_ptr<antwire::Transport> makeVirtualStickTransport(const std::string &scenario);

} // namespace antlib
