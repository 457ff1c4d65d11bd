#pragma once
// What a data page tells about a device on the air, written into its list entry. Pure: the
// search and the tests feed pages in the order they were heard.
#include "discovery/DeviceDiscovery.h"

#include <cstdint>

// Takes the 8-byte payload of a message from `Device` (whose Kind says which profile it is).
void DecodeDiscoveryPage(const uint8_t *Page8, TDiscoveredDevice &Device);
