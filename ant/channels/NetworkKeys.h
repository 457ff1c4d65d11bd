#pragma once
// The two 8-byte network keys of the build. Each comes from its environment variable
// ($FENNICK_ANTPLUS_NETWORK_KEY, $FENNICK_PUBLIC_NETWORK_KEY: 16 hexadecimal digits), else
// from the CMake option of the same name, else it is all zero. Read at every call.
#include "ant/profiles/AntTypes.h"

#include <optional>
#include <string>

// 16 hexadecimal digits (blanks, ':' and '-' between byte pairs allowed, optional "0x");
// std::nullopt for anything else.
std::optional<TAntNetworkKey> ParseNetworkKey(const std::string &Text);

TAntNetworkKey AntPlusNetworkKey();
TAntNetworkKey PublicNetworkKey();
