#pragma once
// One line per point as it ends, for the debug log that support reads: always with '.' as the
// decimal separator, whatever the user's locale.
#include "device/PointMeasurement.h"

#include <string>

// "Point P2 settled after 14 s: level 61, target 30.0 km/h, mean 29.6 ± 0.2 km/h, deviation
// -0.4 km/h (-1.3 %)"
std::string PointSummaryLine(const TPointVerdict &Verdict);
