#include "ant/channels/AntChannelProfiles.h"

#include <iterator>

namespace {

constexpr bool AntPlus = true;
constexpr bool Public = false;

// Indexed by TAntChannelProfile from acpAntUlmora on.
const TAntChannelProfileSettings ProfileTable[] = {
    {Public, 0, 0, 1, 19, 71, 31814, 3, 255, 0},   // acpAntUlmora
    {AntPlus, 0, 0, 0, 120, 57, 8070, 1, 0, 255}, // acpAntHR
    {AntPlus, 0, 0, 0, 121, 57, 8060, 3, 0, 255}, // acpAntSC
    {AntPlus, 0, 0, 0, 122, 57, 8102, 3, 0, 255}, // acpAntCad
    {AntPlus, 0, 0, 0, 17, 57, 8192, 3, 0, 255},  // acpAntFE
    {Public, 1, 0, 1, 18, 70, 16150, 3, 0, 255},  // acpAntConsole
    {Public, 0, 0, 1, 44, 44, 1986, 3, 255, 0},   // acpAntUlmoraPA
    {Public, 0, 0, 1, 44, 44, 1599, 3, 255, 0},   // acpAntUlmoraPAHS
};

} // namespace

const TAntChannelProfileSettings *AntChannelProfileSettings(TAntChannelProfile Profile)
{
    if (Profile == acpUnAssigned)
        return nullptr;
    const size_t index = static_cast<size_t>(Profile) - acpAntUlmora;
    return index < std::size(ProfileTable) ? &ProfileTable[index] : nullptr;
}

std::unique_ptr<TAntProfileData> MakeProfileData(TAntChannelProfile Profile)
{
    switch (Profile) {
    case acpAntHR: return std::make_unique<TANTProfileDataHR>();
    case acpAntSC: return std::make_unique<TANTProfileDataSC>();
    case acpAntCad: return std::make_unique<TAntProfileDataCadence>();
    case acpAntFE: return std::make_unique<TAntProfileFE>();
    case acpAntConsole: return std::make_unique<TAntProfileConsole>();
    case acpAntUlmoraPA:
    case acpAntUlmoraPAHS: return std::make_unique<TANTUlmoraPAData>();
    default: return nullptr;
    }
}
