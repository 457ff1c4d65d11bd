// Scenario text from outside: any bytes either parse or fail with a ScenarioError.
#include "antsim/Scenario.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        const antsim::Scenario s =
            antsim::parseScenario(std::string_view(reinterpret_cast<const char *>(data), size));
        (void)s.riderAt(1.0);
    } catch (const antsim::ScenarioError &) {
    }
    return 0;
}
