#pragma once
// The device tests pump the user-interface thread the same way as the request timer tests.
#include "../antrequests/TestSupport.h"
