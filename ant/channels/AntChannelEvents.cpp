// The channel's two library callbacks, both called on the ANT library's thread: channel
// events (received pages, RF events) and the library's responses to commands. They keep the
// link state, learn the remote device number of a wildcard channel, collect the resistance-map
// burst, resend a failed acknowledged page, move the connection sequence on and hand every
// event and response to the message thread and the channel's handlers.
//
// Nothing here may throw back into the library: a failure is logged and the call dropped.
#include "ant/AntDevices.h"
#include "ant/CallbackBuffers.h"
#include "ant/binding/AntLib.h"
#include "ant/channels/AntChannels.h"
#include "ant/channels/TrainerCommands.h"
#include "ant/channels/ResistanceMapBurst.h"
#include "framework/SysUtils.h"
#include "maps/ResistanceMap.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <type_traits>

namespace {

constexpr uint8_t EVENT_RX_SEARCH_TIMEOUT = 0x01;
constexpr uint8_t EVENT_RX_FAIL = 0x02;
constexpr uint8_t EVENT_TX = 0x03;
constexpr uint8_t EVENT_TRANSFER_RX_FAILED = 0x04;
constexpr uint8_t EVENT_TRANSFER_TX_COMPLETED = 0x05;
constexpr uint8_t EVENT_TRANSFER_TX_FAILED = 0x06;
constexpr uint8_t EVENT_CHANNEL_CLOSED = 0x07;
constexpr uint8_t EVENT_RX_FAIL_GO_TO_SEARCH = 0x08;
constexpr uint8_t EVENT_RX_BROADCAST = 0x9A;
constexpr uint8_t EVENT_RX_ACKNOWLEDGED = 0x9B;
constexpr uint8_t EVENT_RX_BURST_PACKET = 0x9C;

constexpr uint8_t MESG_RESPONSE_EVENT_ID = 0x40;
constexpr uint8_t RESPONSE_NO_ERROR = 0x00;
constexpr uint8_t MESG_CHANNEL_ID_ID = 0x51;
constexpr uint8_t MESG_NETWORK_KEY_ID = 0x46;
constexpr uint8_t MESG_RADIO_TX_POWER_ID = 0x47;

struct TStepAnswer {
    uint8_t MessageId;
    const char *Name;
    TChannelConnectionStep Next;
};

// The acknowledgement of each configuration message moves the sequence to its next step.
constexpr TStepAnswer StepAnswers[] = {
    {0x46, "MESG_NETWORK_KEY_ID", ccsAssignChannel},
    {0x42, "MESG_ASSIGN_CHANNEL_ID", ccsSetChannelID},
    {0x51, "MESG_CHANNEL_ID_ID", ccsChannelPeriod},
    {0x43, "MESG_CHANNEL_MESG_PERIOD_ID", ccsSetChannelPower},
    {0x47, "MESG_RADIO_TX_POWER_ID", ccsSetChannelSearchTimeout},
    {0x44, "MESG_CHANNEL_SEARCH_TIMEOUT_ID", ccsSetChannelLPSearchTimeout},
    {0x63, "MESG_SET_LP_SEARCH_TIMEOUT_ID", ccsSetChannelFreq},
    {0x45, "MESG_CHANNEL_RADIO_FREQ_ID", ccsOpen},
    {0x4B, "MESG_OPEN_CHANNEL_ID", ccsSetChan},
};

static_assert(std::is_same_v<TAntChannel::TMapTable, TMapBurstTable>, "the channel keeps the burst's table");

bool IsPedalProfile(TAntChannelProfile Profile) { return Profile == acpAntUlmoraPA || Profile == acpAntUlmoraPAHS; }

std::string ChannelSuffix(uint8_t ucANTChannel) { return " ch(" + IntToStr(ucANTChannel) + ")"; }

std::string ReceiveRowLine(int32_t EventCount, const std::string &Name, const TAntRxRow &Row)
{
    char counts[32];
    std::snprintf(counts, sizeof counts, " %6d %6d ", static_cast<int>(EventCount), 0);
    return counts + Name + " " + PacketToHex(Row.data(), Row.size());
}

void RaiseRxFailGoToSearch(TAntChannel &Ch)
{
    if (Ch.OnRxFailGoToSearch)
        Ch.OnRxFailGoToSearch(&Ch);
}

// ---- resistance-map burst ----------------------------------------------------------------

void HandOverReceivedMap(TAntChannel &Ch)
{
    auto map = std::make_unique<TResistanceMap>(nullptr);
    TStringList *text = map->Strings();
    text->Clear();
    for (const std::string &line : MapBurstLines(Ch.MapTable())) {
        text->Add(line);
        Ch.Log(line);
    }
    text->Add("");
    map->LoadMap();
    // Replaced only now: an unfinished burst leaves the last complete map in place.
    TResistanceMap *received = map.get();
    Ch.SetReceivedMap(std::move(map));
    Ch.Log("Call -> TriggerResistanceMapReceived");
    Ch.TriggerResistanceMapReceived(received);
    Ch.Log("TriggerResistanceMapReceived");
}

void ReceiveMapBurst(TAntChannel &Ch, const TAntRxRow &Row)
{
    TMapBurstProgress progress{Ch.BurstBytesRemaining(), Ch.BurstPacketIndex()};
    const TMapBurstPacket packet = ReceiveMapBurstPacket(progress, Ch.MapTable(), Row.data() + 1);
    Ch.SetBurstBytesRemaining(progress.BytesRemaining);
    Ch.SetBurstPacketIndex(progress.PacketIndex);
    switch (packet) {
    case TMapBurstPacket::Ignored: Ch.Log("Burst packet outside a resistance map burst ignored"); break;
    case TMapBurstPacket::Header:
        if (progress.BytesRemaining > MapBurstCapacityBytes)
            Ch.Log("Resistance map burst announces " + IntToStr(progress.BytesRemaining) + " bytes, the table holds " +
                   IntToStr(MapBurstCapacityBytes) + ": the values past it are dropped");
        break;
    case TMapBurstPacket::Data: break;
    case TMapBurstPacket::Completed: HandOverReceivedMap(Ch); break;
    }
}

// A failed transfer never sends the rest of its packets: the next map must start afresh
// instead of being stored as the tail of this one.
void AbandonMapBurst(TAntChannel &Ch)
{
    if (Ch.BurstBytesRemaining() <= 0)
        return;
    Ch.SetBurstBytesRemaining(0);
    Ch.Log("EVENT_TRANSFER_RX_FAILED: resistance map burst abandoned after " + IntToStr(Ch.BurstPacketIndex()) +
           " data packets");
}

// ---- event actions -------------------------------------------------------------------------

void SearchTimedOut(TAntChannel &Ch, uint8_t ucANTChannel)
{
    Ch.Log("EVENT_RX_SEARCH_TIMEOUT" + ChannelSuffix(ucANTChannel));
    switch (Ch.AntChannelProfile()) {
    case acpAntHR:
        TAntLib::ANT_OpenChannel(ucANTChannel);
        Ch.Log("ANT_OpenChannel HR <try again> ");
        break;
    case acpAntConsole:
        TAntLib::ANT_OpenChannel(ucANTChannel);
        Ch.Log("ANT_OpenChannel Console <try again> ");
        break;
    case acpAntFE:
        Ch.Log("chiamare trigger trainer disconnection and ask to the cusomer to do a  are-connection");
        break;
    default: break;
    }
}

void WentBackToSearch(TAntChannel &Ch, uint8_t ucANTChannel)
{
    Ch.Log("EVENT_RX_FAIL_GO_TO_SEARCH" + ChannelSuffix(ucANTChannel));
    RaiseRxFailGoToSearch(Ch);
    switch (Ch.AntChannelProfile()) {
    case acpAntHR:
        Ch.SetConnected(false);
        Ch.TriggerHeartConnectionLost();
        break;
    case acpAntConsole:
        Ch.SetConnected(false);
        Ch.TriggerConsoleConnectionLost();
        break;
    case acpAntFE:
        // The trainer stays connected; the trainer device decides what a lost trainer means.
        Ch.Log("Creare TriggerTrainerLostConnectionEvent !!!!!    ");
        Ch.ResetBroadcastReceived();
        Ch.SetChannelState(chsConnectionLost);
        break;
    default: break;
    }
}

void HeardDevice(TAntChannel &Ch)
{
    const TAntChannelProfile profile = Ch.AntChannelProfile();
    const bool linked = profile == acpAntHR || profile == acpAntFE || profile == acpAntConsole || IsPedalProfile(profile);
    if (!linked || Ch.Connected())
        return;
    Ch.SetConnected(true);
    if (!Ch.ConnectedOnEventRx())
        return;
    if (profile == acpAntHR)
        Ch.Log("TriggerEventRxBroadCastReceivedEvent <HR>");
    else if (profile == acpAntConsole)
        Ch.Log("TriggerEventRxBroadCastReceivedEvent <Console>");
    else if (IsPedalProfile(profile))
        Ch.Log("TriggerEventRxBroadCastReceivedEvent <PA mode>");
}

void ResendFailedPage(TAntChannel &Ch, uint8_t ucANTChannel)
{
    Ch.Log("EVENT_TRANSFER_TX_FAILED" + ChannelSuffix(ucANTChannel));
    const TChannelSendPacket page = Ch.SendPacket();
    TAntLib::ANT_SendAcknowledgedData(ucANTChannel, page.data());
    Ch.Log("ANT_SendAcknowledgedData - Repeated for fail -");
}

void RunEventAction(TAntChannel &Ch, uint8_t ucANTChannel, uint8_t ucEvent)
{
    switch (ucEvent) {
    case EVENT_RX_SEARCH_TIMEOUT: SearchTimedOut(Ch, ucANTChannel); break;
    case EVENT_RX_FAIL:
        Ch.Log("EVENT_RX_FAIL" + ChannelSuffix(ucANTChannel));
        Ch.SetRxFailCount(Ch.RxFailCount() + 1);
        break;
    case EVENT_TX: Ch.Log("EVENT_TX"); break;
    case EVENT_TRANSFER_RX_FAILED: AbandonMapBurst(Ch); break;
    case EVENT_TRANSFER_TX_COMPLETED: Ch.Log("EVENT_TRANSFER_TX_COMPLETED"); break;
    case EVENT_TRANSFER_TX_FAILED: ResendFailedPage(Ch, ucANTChannel); break;
    case EVENT_CHANNEL_CLOSED:
        Ch.Log("EVENT_CHANNEL_CLOSED" + ChannelSuffix(ucANTChannel));
        Ch.SetConnected(false);
        break;
    case EVENT_RX_FAIL_GO_TO_SEARCH: WentBackToSearch(Ch, ucANTChannel); break;
    case EVENT_RX_BROADCAST:
    case EVENT_RX_ACKNOWLEDGED: HeardDevice(Ch); break;
    default: break;
    }
}

// The answers to a network key and to the radio's power name the network or nothing, not a
// channel: they belong to the channel whose sequence is at that step.
bool IsOwnSystemAnswer(const TAntChannel &Ch, uint8_t ucResponseMsgID, const TAntResponseRow &Row)
{
    if (ucResponseMsgID != MESG_RESPONSE_EVENT_ID)
        return false;
    if (Row[1] == MESG_NETWORK_KEY_ID)
        return Row[0] == Ch.NetNumber() && Ch.ChannelConnectionStep() == ccsSetNetworkKey;
    return Row[1] == MESG_RADIO_TX_POWER_ID && Ch.ChannelConnectionStep() == ccsSetChannelPower;
}

void LogDropped(TAntChannel &Ch, const char *Where, const char *What)
{
    try {
        Ch.Log(std::string(What) + " (TAntChannel." + Where + "): call dropped");
    } catch (...) {
        // Not even the log could take it; the library must still get its answer.
    }
}

} // namespace

// ---- rows ----------------------------------------------------------------------------------

TAntRxRow TAntChannel::ReceiveRow() const
{
    const uint8_t *row = RxBuffers().Row(RxBufferIndex());
    if (row == nullptr)
        throw EAntError("Error: ChannelBufferAddress undefined");
    TAntRxRow copy;
    std::memcpy(copy.data(), row, copy.size());
    return copy;
}

TAntResponseRow TAntChannel::ResponseRow() const
{
    const uint8_t *row = ResponseBuffers().Row(ResponseBufferIndex());
    if (row == nullptr)
        throw EAntError("Error: ChannelBufferAddress undefined");
    TAntResponseRow copy;
    std::memcpy(copy.data(), row, copy.size());
    return copy;
}

// ---- channel events ------------------------------------------------------------------------

bool TAntChannel::ChannelEventFunc(uint8_t ucANTChannel, uint8_t ucEvent)
{
    if (!DoChannelEventFunction())
        return true;
    try {
        if (ucANTChannel != ChannelNumber())
            Log("******************* ucANTChannel <> FChannelNumber ChannelEventFunc ************");
        SetEventCount(EventCount() + 1);
        SetChannelState(chsActive);

        TAntRxRow row;
        try {
            row = ReceiveRow();
        } catch (const EAntError &e) {
            LogDropped(*this, "ChannelEventFunc", e.what());
            return true;
        }
        if (DebugMode())
            Log(ReceiveRowLine(EventCount(), Name(), row));

        if (ucEvent == EVENT_RX_BROADCAST || ucEvent == EVENT_RX_ACKNOWLEDGED) {
            if (DeviceNumber() == 0 && !RequestPending()) {
                SetRequestPending(true);
                FChannelIdRequested.store(true, std::memory_order_release);
                TAntLib::ANT_RequestMessage(ChannelNumber(), MESG_CHANNEL_ID_ID);
                Log("ucANTChannel: " + IntToStr(ucANTChannel) + ", Ch: " + IntToStr(ChannelNumber()) +
                    ", FDeviceNumber: " + IntToStr(DeviceNumber()) +
                    " Paring ANT_RequestMessage (MESG_CHANNEL_ID_ID) ");
            }
            if (!BroadcastReceived())
                SetBroadcastReceived(true);
        }
        if (ucEvent == EVENT_RX_BURST_PACKET) {
            Log("EVENT_RX_BURST_PACKET (TAntChannel.ChannelEventFunc)");
            ReceiveMapBurst(*this, row);
        }
        RunEventAction(*this, ucANTChannel, ucEvent);
        TriggerChannelEvent(ucANTChannel, ucEvent, row);
    } catch (const std::exception &e) {
        LogDropped(*this, "ChannelEventFunc", e.what());
    } catch (...) {
        LogDropped(*this, "ChannelEventFunc", "Unknown exception");
    }
    return true;
}

// ---- responses -----------------------------------------------------------------------------

bool TAntChannel::ResponseFunc(uint8_t ucANTChannel, uint8_t ucResponseMsgID)
{
    if (!DoResponseFunction())
        return true;
    try {
        TAntResponseRow row;
        try {
            row = ResponseRow();
        } catch (const EAntError &e) {
            LogDropped(*this, "ResponseFunc", e.what());
            return true;
        }
        if (ucANTChannel != ChannelNumber() && !IsOwnSystemAnswer(*this, ucResponseMsgID, row)) {
            // The library's single response callback reaches the channel registered last: an
            // answer for another channel must not move this channel's sequence or number.
            Log("******************* ucANTChannel <> FChannelNumber ChannelRespFunc ************");
            LogDropped(*this, "ResponseFunc", ("Response for channel " + IntToStr(ucANTChannel)).c_str());
            return true;
        }
        SetResponseCount(ResponseCount() + 1);
        SetChannelState(chsActive);
        if (DebugMode())
            Log("ResponseFunc " + IntToHex(ucANTChannel, 2) + " " + IntToHex(ucResponseMsgID, 2) + " :" +
                PacketToHex(row.data(), row.size()));

        if (ucResponseMsgID == MESG_RESPONSE_EVENT_ID && row[2] == RESPONSE_NO_ERROR) {
            for (const TStepAnswer &answer : StepAnswers) {
                if (answer.MessageId != row[1])
                    continue;
                Log(answer.Name);
                // The sequencer reads RequestPending first: the step must already be there.
                SetChannelConnectionStep(answer.Next);
                SetRequestPending(false);
                break;
            }
        }
        if (ucResponseMsgID == MESG_CHANNEL_ID_ID) {
            if (FChannelIdRequested.exchange(false, std::memory_order_acq_rel)) {
                SetDeviceNumber(static_cast<uint16_t>(row[1] | (row[2] << 8)));
                SetChannelDeviceNumberReceived(true);
                SetRequestPending(false);
                TriggerChannelDeviceNumber();
            } else {
                Log("Channel id answer that this channel did not ask for ignored");
            }
        }
        TriggerChannelResponse(ucANTChannel, ucResponseMsgID);
    } catch (const std::exception &e) {
        LogDropped(*this, "ResponseFunc", e.what());
    } catch (...) {
        LogDropped(*this, "ResponseFunc", "Unknown exception");
    }
    return true;
}

// ---- triggers ------------------------------------------------------------------------------

void TAntChannel::TriggerChannelEvent(uint8_t ucANTChannel, uint8_t ucEvent, const TAntRxRow &Row)
{
    PostReceivedEvent(ucEvent, Row);
    if (OnChannelEvent)
        OnChannelEvent(this, ucANTChannel, ucEvent);
}

void TAntChannel::TriggerChannelResponse(uint8_t ucANTChannel, uint8_t ucResponseMsgID)
{
    PostResponse(ucResponseMsgID);
    if (OnChannelResponse)
        OnChannelResponse(this, ucANTChannel, ucResponseMsgID);
}
