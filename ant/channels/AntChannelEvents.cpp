// The channel's two library callbacks, both called on the ANT library's thread: channel
// events (received pages, RF events) and the library's responses to commands. They keep the
// link state, learn the remote device number of a wildcard channel, collect the resistance-map
// burst, resend a failed acknowledged page, move the connection sequence on and hand every
// event and response to the message thread and the channel's handlers.
//
// Nothing here may throw back into the library: a failure is logged and the call dropped.
#include "ant/AntCodes.h"
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

// The page that failed goes again, or the newer page of its number that waits in the hold.
void ResendFailedPage(TAntChannel &Ch, uint8_t ucANTChannel)
{
    Ch.Log("EVENT_TRANSFER_TX_FAILED" + ChannelSuffix(ucANTChannel));
    if (Ch.AcknowledgedFailed())
        Ch.Log("ANT_SendAcknowledgedData - Repeated for fail -");
}

bool IsAcknowledgedVerdict(uint8_t ucEvent)
{
    return ucEvent == EVENT_TRANSFER_TX_COMPLETED || ucEvent == EVENT_TRANSFER_TX_FAILED ||
           ucEvent == EVENT_CHANNEL_CLOSED;
}

void RunEventAction(TAntChannel &Ch, uint8_t ucANTChannel, uint8_t ucEvent)
{
    // Any other event is the channel's pulse: a page that waits past its time goes on here.
    if (!IsAcknowledgedVerdict(ucEvent))
        Ch.ExpireAcknowledgedWait();
    switch (ucEvent) {
    case EVENT_RX_SEARCH_TIMEOUT: SearchTimedOut(Ch, ucANTChannel); break;
    case EVENT_RX_FAIL:
        Ch.Log("EVENT_RX_FAIL" + ChannelSuffix(ucANTChannel));
        Ch.SetRxFailCount(Ch.RxFailCount() + 1);
        break;
    case EVENT_TX: Ch.Log("EVENT_TX"); break;
    case EVENT_TRANSFER_RX_FAILED: AbandonMapBurst(Ch); break;
    case EVENT_TRANSFER_TX_COMPLETED:
        Ch.Log("EVENT_TRANSFER_TX_COMPLETED");
        Ch.AcknowledgedCompleted();
        break;
    case EVENT_TRANSFER_TX_FAILED: ResendFailedPage(Ch, ucANTChannel); break;
    case EVENT_CHANNEL_CLOSED:
        Ch.Log("EVENT_CHANNEL_CLOSED" + ChannelSuffix(ucANTChannel));
        Ch.SetConnected(false);
        // A closed channel carries nothing: what waits for it would only be refused.
        Ch.DropHeldAcknowledged();
        break;
    case EVENT_RX_FAIL_GO_TO_SEARCH: WentBackToSearch(Ch, ucANTChannel); break;
    case EVENT_RX_BROADCAST:
    case EVENT_RX_ACKNOWLEDGED: HeardDevice(Ch); break;
    default: break;
    }
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
    const uint8_t *row = ReadsLastResponse() ? FLastResponse.data() : ResponseBuffers().Row(ResponseBufferIndex());
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

// The library has one response callback for all channels, and the channel registered last
// receives every answer. An answer for another channel must neither move this channel's
// sequence nor give it the other channel's device number, so each answer goes to the channel
// it is for, as if the library had called that channel:
// - the network key and the transmit power are not channel settings: their answers carry the
//   network number or 0 where a channel number would be, and belong to the channel waiting
//   for that step;
// - every other answer belongs to the channel of its number.
// Channels are added before their connections start and a removal detaches the library's
// callback (waiting for a delivery in progress) before the channel is freed, so the list is
// stable while a response is delivered.
TAntChannel *TAntChannel::ResponseTarget(uint8_t ucANTChannel, uint8_t ucResponseMsgID, const TAntResponseRow &Row)
{
    std::vector<TAntChannel *> others;
    if (TCollection *channels = Collection())
        for (int i = 0; i < channels->Count(); ++i)
            if (auto *ch = static_cast<TAntChannel *>(channels->Items(i)); ch != this && ch->DoResponseFunction())
                others.push_back(ch);
    const bool networkWide = ucResponseMsgID == MESG_RESPONSE_EVENT_ID &&
                             (Row[1] == MESG_NETWORK_KEY_ID || Row[1] == MESG_RADIO_TX_POWER_ID);
    if (networkWide) {
        const TChannelConnectionStep step = Row[1] == MESG_NETWORK_KEY_ID ? ccsSetNetworkKey : ccsSetChannelPower;
        // A key's answer carries its network number; the power's answer carries nothing.
        auto waiting = [step, &Row](const TAntChannel *ch) {
            return ch->RequestPending() && ch->ChannelConnectionStep() == step &&
                   (step != ccsSetNetworkKey || ch->NetNumber() == Row[0]);
        };
        if (waiting(this))
            return this;
        for (TAntChannel *ch : others)
            if (waiting(ch))
                return ch;
    }
    if (ucANTChannel == ChannelNumber())
        return this;
    for (TAntChannel *ch : others)
        if (ch->ChannelNumber() == ucANTChannel)
            return ch;
    return nullptr;
}

bool TAntChannel::ResponseFunc(uint8_t ucANTChannel, uint8_t ucResponseMsgID)
{
    if (!DoResponseFunction())
        return true;
    try {
        if (ucANTChannel != ChannelNumber())
            Log("******************* ucANTChannel <> FChannelNumber ChannelRespFunc ************");
        TAntResponseRow row;
        try {
            row = ResponseRow();
        } catch (const EAntError &e) {
            LogDropped(*this, "ResponseFunc", e.what());
            return true;
        }
        TAntChannel *target = ResponseTarget(ucANTChannel, ucResponseMsgID, row);
        if (target == nullptr) {
            LogDropped(*this, "ResponseFunc", ("Response for channel " + IntToStr(ucANTChannel)).c_str());
            return true;
        }
        if (target != this) {
            if (uint8_t *rowOfTarget = ResponseBuffers().Row(target->ResponseBufferIndex()))
                std::memcpy(rowOfTarget, row.data(), row.size());
            std::memcpy(target->LastResponse(), row.data(), row.size());
        }
        target->HandleResponse(ucANTChannel, ucResponseMsgID, row);
    } catch (const std::exception &e) {
        LogDropped(*this, "ResponseFunc", e.what());
    } catch (...) {
        LogDropped(*this, "ResponseFunc", "Unknown exception");
    }
    return true;
}

void TAntChannel::HandleResponse(uint8_t ucANTChannel, uint8_t ucResponseMsgID, const TAntResponseRow &row)
{
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
    if (ucResponseMsgID == MESG_RESPONSE_EVENT_ID && row[1] == MESG_ACKNOWLEDGED_DATA_ID &&
        row[2] == RESPONSE_TRANSFER_IN_PROGRESS)
        AcknowledgedRefused();
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
