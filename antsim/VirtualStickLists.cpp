// Search lists of the virtual stick: up to four channel ids per channel that a search either
// accepts alone (inclusion) or passes over (exclusion).
#include "antsim/VirtualStick.h"

#include "antwire/AntProtocol.h"

namespace antsim {

namespace msg = antwire::msg;
namespace response = antwire::response;

namespace {

bool fieldMatches(unsigned wanted, unsigned actual)
{
    return wanted == 0 || wanted == actual;
}

} // namespace

void VirtualStick::handleList(const antwire::AntMessage &m)
{
    const auto &d = m.data;
    const uint8_t ch = d[0];
    if (ch >= kChannels) {
        respond(ch, m.id, response::InvalidMessage);
        return;
    }
    Channel &c = FChannels[ch];
    if (c.state == State::Unassigned) {
        respond(ch, m.id, response::ChannelInWrongState);
        return;
    }
    if (m.id == msg::AddChannelIdToList) {
        const uint8_t index = d[5];
        if (index >= kListCapacity) {
            respond(ch, m.id, response::InvalidMessage);
            return;
        }
        c.list[index] = ListEntry{uint16_t(d[1] | (d[2] << 8)), d[3], d[4]};
    } else {
        if (d[1] > kListCapacity) {
            respond(ch, m.id, response::InvalidMessage);
            return;
        }
        c.listSize = d[1];
        c.listExcludes = d[2] != 0;
    }
    respond(ch, m.id, response::NoError);
}

bool VirtualStick::listAllows(const Channel &c, const SimDevice &d) const
{
    if (c.listSize == 0)
        return true;
    bool listed = false;
    for (uint8_t i = 0; i < c.listSize && !listed; ++i) {
        const ListEntry &e = c.list[i];
        listed = fieldMatches(e.deviceNumber, d.deviceNumber()) &&
                 fieldMatches(e.deviceType & 0x7F, d.deviceType()) &&
                 fieldMatches(e.transmissionType, d.transmissionType());
    }
    return listed != c.listExcludes;
}

} // namespace antsim
