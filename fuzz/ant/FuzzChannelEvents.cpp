// Feeds arbitrary sequences of library events and responses, with arbitrary rows, to the
// callbacks of one channel per profile. The input is a series of records: a selector byte
// (bits 0-2: channel, bit 3: response instead of event, bit 4: the channel's row index is
// outside its table, bit 5: the call names another channel number, bit 6: the message thread
// is known, bit 7: the callback is switched off), the event code or response message id,
// then the row: 16 bytes for an event, 10 for a response.
#include "ant/CallbackBuffers.h"
#include "ant/ThreadChannelMsg.h"
#include "ant/binding/AntLib.h"
#include "ant/channels/AntChannelList.h"
#include "maps/ResistanceMap.h"
#include "platform/ThreadMessages.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int Channels = 8;
constexpr uint32_t QueueId = 0x7E5F01;

const TAntChannelProfile Profiles[Channels] = {acpAntHR,      acpAntSC,       acpAntCad,        acpAntFE,
                                               acpAntConsole, acpAntUlmoraPA, acpAntUlmoraPAHS, acpAntUlmora};

// The process-wide tables only grow: every run reuses the same rows.
struct TRows {
    int32_t Rx[Channels];
    int32_t Response[Channels];
    TRows()
    {
        for (int i = 0; i < Channels; ++i) {
            Rx[i] = RxBuffers().AddRow();
            Response[i] = ResponseBuffers().AddRow();
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const TRows rows;
    // No library: its calls do nothing.
    SetAntFunctionsForTesting(TAntFunctions{});
    TPostedQueue<TChannelMessage> queue;
    queue.Register(QueueId);

    TAntChannelList list(nullptr);
    TAntChannel *channels[Channels];
    for (int i = 0; i < Channels; ++i) {
        TAntChannel *ch = channels[i] = list.Add();
        ch->SetChannelNumber(static_cast<uint8_t>(i));
        ch->SetAntChannelProfile(Profiles[i]);
        ch->SetRxBufferIndex(rows.Rx[i]);
        ch->SetResponseBufferIndex(rows.Response[i]);
        ch->SetDoChannelEventFunction(true);
        ch->SetDoResponseFunction(true);
        ch->OnResistanceMapReceived = [](TObject *, TResistanceMap *Map) { (void)Map->Strings()->Count(); };
    }

    size_t pos = 0;
    while (pos + 2 <= size) {
        const uint8_t selector = data[pos];
        const uint8_t code = data[pos + 1];
        const bool response = (selector & 0x08) != 0;
        const size_t rowSize = response ? ResponseRowSize : RxRowSize;
        pos += 2;
        if (pos + rowSize > size)
            break;
        const int index = selector & 0x07;
        TAntChannel *ch = channels[index];
        uint8_t *row = response ? ResponseBuffers().Row(rows.Response[index]) : RxBuffers().Row(rows.Rx[index]);
        std::memcpy(row, data + pos, rowSize);
        pos += rowSize;

        const bool outside = (selector & 0x10) != 0;
        if (response)
            ch->SetResponseBufferIndex(outside ? -1 : rows.Response[index]);
        else
            ch->SetRxBufferIndex(outside ? static_cast<int32_t>(RxBuffers().Count()) : rows.Rx[index]);
        const uint32_t thread = (selector & 0x40) ? QueueId : 0;
        ch->SetEventThreadId(thread);
        ch->SetResponseThreadId(thread);
        const bool off = (selector & 0x80) != 0;
        const uint8_t number = (selector & 0x20) ? static_cast<uint8_t>(index + 1) : static_cast<uint8_t>(index);
        if (response) {
            ch->SetDoResponseFunction(!off);
            ch->ResponseFunc(number, code);
        } else {
            ch->SetDoChannelEventFunction(!off);
            ch->ChannelEventFunc(number, code);
        }
    }

    // What the message thread would take: every item names one of the channels.
    TChannelMessage m{};
    while (queue.PeekMessage(m))
        if (std::find(std::begin(channels), std::end(channels), m.Channel) == std::end(channels))
            std::abort();
    return 0;
}
