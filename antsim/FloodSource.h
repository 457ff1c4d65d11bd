#pragma once
// The bytes of a stick that babbles: either the stick's own latest data frames repeated (with
// now and then a serial error, which the host must keep from flooding its log), or garbage in
// which no frame can be found. Pacing is the caller's; this only says what comes next.
#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "antwire/AntMessage.h"

namespace antsim {

enum class FloodKind { Valid, Garbage };

class FloodSource {
public:
    // One serial error among this many repeated frames.
    static constexpr unsigned kSerialErrorEvery = 64;

    explicit FloodSource(FloodKind kind, uint32_t seed = 1);

    // The stick's real output, whole frames: its newest data frame of each channel is what a
    // valid flood repeats.
    void observe(const std::vector<uint8_t> &stickOutput);
    // Up to `maxBytes` of flood, whole frames only (a valid flood may give less, or nothing
    // before the stick has sent any data). Garbage never ends on a sync byte, so a real frame
    // written after it is read intact.
    std::vector<uint8_t> take(size_t maxBytes);

    uint64_t bytesGiven() const { return FBytes; }

private:
    void takeValid(std::vector<uint8_t> &out, size_t maxBytes);
    void takeGarbage(std::vector<uint8_t> &out, size_t maxBytes);

    const FloodKind FKind;
    std::mt19937 FRandom;
    antwire::AntMessageDecoder FDecoder;
    std::map<uint8_t, std::vector<uint8_t>> FLastData; // channel -> encoded frame
    std::map<uint8_t, std::vector<uint8_t>>::const_iterator FNext;
    unsigned FFrames = 0;
    uint64_t FBytes = 0;
};

} // namespace antsim
