// Host bytes reach the virtual stick from outside (over its pseudo-terminal): any stream of
// frames and garbage, at any pace, must be answered without harm. Input: chunks of
// [length-1 (low 5 bits), pause in 50 ms units, bytes...].
#include "antsim/VirtualStick.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const antsim::Scenario world = antsim::parseScenario(
        "seed 3\ntrainer 4242 map=1\nhr 77\nconsole 12\nrider 0 150 85\n"
        "dropout 2 3 trainer\nack_failure 0.3\nkey 1 plus\n");
    antsim::VirtualStick stick(world, antsim::NetworkKeys{});
    antsim::Nanos now{0};
    size_t i = 0;
    while (i + 2 <= size) {
        const size_t n = (data[i] & 0x1F) + 1;
        const int pause = data[i + 1];
        i += 2;
        const size_t take = n < size - i ? n : size - i;
        stick.receive(data + i, take, now);
        i += take;
        now += std::chrono::milliseconds(50) * pause;
        stick.advance(now);
        if (stick.outputSize() > (1u << 20))
            stick.takeOutput();
    }
    return 0;
}
