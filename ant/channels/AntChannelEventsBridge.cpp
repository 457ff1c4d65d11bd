// replaced by the channel's event handling
#include "ant/channels/AntChannels.h"

bool TAntChannel::ChannelEventFunc(uint8_t, uint8_t) { return true; }
bool TAntChannel::ResponseFunc(uint8_t, uint8_t) { return true; }
