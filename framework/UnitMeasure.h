#pragma once
// Unit of the speeds and distances a device reports and a resistance map is looked up in.
#include <cstdint>

enum TUnitMeasure : uint8_t { umKm, umMiles };
