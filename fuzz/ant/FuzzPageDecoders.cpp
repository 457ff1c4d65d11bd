// Feeds arbitrary receive rows to every page decoder of the controller. The input is read in
// chunks of 17 bytes: a selector (bits 0-2: channel profile, bit 3: acknowledged instead of
// broadcast, bits 4-5: distance state, bit 6: channel connected) followed by the 16-byte row.
#include "ant/AntComControl.h"
#include "ant/binding/AntLib.h"
#include "framework/Exception.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

const TAntChannelProfile Profiles[8] = {acpAntHR,      acpAntSC,       acpAntCad,        acpAntFE,
                                        acpAntConsole, acpAntUlmoraPA, acpAntUlmoraPAHS, acpAntUlmora};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // No library: sends go to an empty table and do nothing.
    SetAntFunctionsForTesting(TAntFunctions{});
    TAntComControl ctl(nullptr);
    TAntChannel *channels[8];
    for (int i = 0; i < 8; ++i) {
        channels[i] = ctl.AntChannelList()->Add();
        channels[i]->SetChannelNumber(static_cast<uint8_t>(i));
        channels[i]->SetAntChannelProfile(Profiles[i]);
    }
    static_cast<TANTProfileDataSC *>(channels[1]->ProfileData())->SetWheelCircumference(2096.0L);

    int events = 0;
    for (size_t pos = 0; pos + 17 <= size; pos += 17) {
        const uint8_t selector = data[pos];
        TAntChannel *ch = channels[selector & 0x07];
        ch->SetDistanceState(static_cast<TAntDistanceState>(((selector >> 4) & 0x03) % 3));
        ch->SetConnected((selector & 0x40) != 0);
        ch->SetEventCount(++events);
        TAntRxRow row;
        std::memcpy(row.data(), data + pos + 1, row.size());
        try {
            ctl.DoChannelMessage(&ctl, ch, (selector & 0x08) ? EVENT_RX_ACKNOWLEDGED : EVENT_RX_BROADCAST, row);
        } catch (const Exception &) {
            // A send on a channel that is not connected: the decoders' own error path.
        }
    }
    return 0;
}
