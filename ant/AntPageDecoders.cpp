// Page decoders of the controller: one per channel profile, each working on the copy of the
// receive row that travelled with the event. The decoding itself is PageDecoders'; here the
// event is filtered, the record found and the outcome carried out on the channel.
#include "ant/AntComControl.h"

#include "ant/profiles/PageDecoders.h"

#include <algorithm>

namespace {

bool IsDataEvent(uint8_t ucEvent) { return ucEvent == EVENT_RX_BROADCAST || ucEvent == EVENT_RX_ACKNOWLEDGED; }

// The row's first byte is the channel number; the page follows.
TDataPagePayload DataPagePayload(const TAntRxRow &Row)
{
    TDataPagePayload page{};
    std::copy(Row.begin() + 1, Row.begin() + 1 + page.size(), page.begin());
    return page;
}

} // namespace

void TAntComControl::DoChannelMessage(TObject *Sender, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    if (Channel != nullptr && Channel->ProfileData() != nullptr) {
        switch (Channel->AntChannelProfile()) {
        case acpAntHR: DecodeHeartRatePage(Sender, Channel, ucEvent, Row); break;
        case acpAntSC: DecodeSpeedCadencePage(Sender, Channel, ucEvent, Row); break;
        case acpAntCad: DecodeCadencePage(Sender, Channel, ucEvent, Row); break;
        case acpAntFE: DecodeFitnessEquipmentPage(Sender, Channel, ucEvent, Row); break;
        case acpAntConsole: DecodeConsolePage(Sender, Channel, ucEvent, Row); break;
        case acpAntUlmoraPA:
        case acpAntUlmoraPAHS: DecodePedalPage(Sender, Channel, ucEvent, Row); break;
        default: break;
        }
    }
    if (OnChannelMessage)
        OnChannelMessage(this, Channel, ucEvent);
}

void TAntComControl::ApplyPageOutcome(TAntChannel *Channel, const TPageOutcome &Outcome)
{
    for (const TPageAction &action : Outcome) {
        switch (action.Kind) {
        case TPageActionKind::Log:
        case TPageActionKind::LogNumber:
            // Composing the line costs more than the page; Log would drop it anyway.
            if (DebugMode())
                Log(action.LogLine());
            break;
        case TPageActionKind::ConsoleKeyDown:
            Channel->TriggerConsoleKeyDown(static_cast<TConsoleKey>(action.Value));
            break;
        case TPageActionKind::CalibrationStatus:
            Channel->TriggerCalibrationStatus(static_cast<TAntCalibrationStatus>(action.Value));
            break;
        case TPageActionKind::SendUserConfiguration: SendUserConfiguration(Channel); break;
        case TPageActionKind::SendConsoleKeepAlive:
            Channel->SetSendPacket(ConsoleKeepAlivePacket);
            SendBroadcastData(Channel, ConsoleKeepAlivePacket);
            break;
        case TPageActionKind::PADataReceived: Channel->TriggerPADataReceived(action.Value); break;
        }
    }
}

void TAntComControl::DecodeHeartRatePage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    auto *hr = dynamic_cast<TANTProfileDataHR *>(Channel->ProfileData());
    if (IsDataEvent(ucEvent) && hr != nullptr)
        PageDecoders::DecodeHeartRatePage(*hr, Row);
}

void TAntComControl::DecodeSpeedCadencePage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    auto *sc = dynamic_cast<TANTProfileDataSC *>(Channel->ProfileData());
    if (IsDataEvent(ucEvent) && sc != nullptr)
        PageDecoders::DecodeSpeedCadencePage(*sc, Row, FPageDecoderState);
}

void TAntComControl::DecodeCadencePage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    auto *cad = dynamic_cast<TAntProfileDataCadence *>(Channel->ProfileData());
    if (IsDataEvent(ucEvent) && cad != nullptr)
        PageDecoders::DecodeCadencePage(*cad, Row, FPageDecoderState);
}

void TAntComControl::DecodeConsolePage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    if (!IsDataEvent(ucEvent) || dynamic_cast<TAntProfileConsole *>(Channel->ProfileData()) == nullptr)
        return;
    ApplyPageOutcome(Channel, PageDecoders::DecodeConsolePage(Row, Channel->EventCount(), FPageDecoderState));
}

void TAntComControl::DecodeFitnessEquipmentPage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    auto *fe = dynamic_cast<TAntProfileFE *>(Channel->ProfileData());
    if (!IsDataEvent(ucEvent) || fe == nullptr)
        return;
    ApplyPageOutcome(Channel, PageDecoders::DecodeFitnessEquipmentPage(*fe, Row, Channel->DistanceState()));
    // Owners that read pages in full (the trainer's calibration run) see them after the record.
    Channel->TriggerDataPage(DataPagePayload(Row));
}

void TAntComControl::DecodePedalPage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    if (!IsDataEvent(ucEvent))
        return;
    auto *pa = dynamic_cast<TANTUlmoraPAData *>(Channel->ProfileData());
    if (pa == nullptr) {
        Channel->SetProfileData(std::make_unique<TANTUlmoraPAData>());
        pa = static_cast<TANTUlmoraPAData *>(Channel->ProfileData());
    }
    ApplyPageOutcome(Channel, PageDecoders::DecodePedalPage(*pa, Row));
}
