#pragma once
// What choosing a channel profile sets: the radio settings, the network and the profile
// record that the channel's pages are decoded into.
#include "ant/profiles/ANTPlusProfileData.h"
#include "ant/profiles/AntTypes.h"

#include <cstdint>
#include <memory>

struct TAntChannelProfileSettings {
    bool AntPlusNetworkKey; // the ANT+ network key, else the public one
    uint8_t ChannelType, TransmissionType, NetNumber, DeviceType, ChannelFrequency;
    uint16_t MessagePeriod;
    uint8_t TransmissionPower, SearchTimeout, LowPrioritySearchTimeout;
};

// nullptr for acpUnAssigned (it changes nothing) and for values outside the enumeration.
const TAntChannelProfileSettings *AntChannelProfileSettings(TAntChannelProfile Profile);

// A fresh record for the profile's pages; nullptr for a profile that decodes nothing.
std::unique_ptr<TAntProfileData> MakeProfileData(TAntChannelProfile Profile);
