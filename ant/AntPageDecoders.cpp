// Page decoders of the controller: one per channel profile, each working on the copy of the
// receive row that travelled with the event (row byte n + 1 is payload byte n).
#include "ant/AntComControl.h"

#include "framework/SysUtils.h"

#include <limits>

namespace {

bool IsDataEvent(uint8_t ucEvent) { return ucEvent == EVENT_RX_BROADCAST || ucEvent == EVENT_RX_ACKNOWLEDGED; }

// Payload byte n of a receive row.
inline uint8_t P(const TAntRxRow &Row, int n) { return Row[static_cast<size_t>(n) + 1]; }

inline uint16_t P16(const TAntRxRow &Row, int n)
{
    return static_cast<uint16_t>(P(Row, n) | (P(Row, n + 1) << 8));
}

inline int32_t P24(const TAntRxRow &Row, int n)
{
    return static_cast<int32_t>(P(Row, n) | (P(Row, n + 1) << 8) | (P(Row, n + 2) << 16));
}

constexpr uint8_t PageNumberMask = 0x7F; // bit 7 is the page-change toggle

// Background pages 1 to 3 that heart-rate and cadence sensors have in common; false for any
// other page.
template <class TRecord>
bool DecodeBackgroundPage(TRecord &Record, uint8_t Page, const TAntRxRow &Row)
{
    switch (Page) {
    case 1: Record.SetCumulativeOperatingTime(P24(Row, 1)); return true;
    case 2:
        Record.SetManufacturerId(P(Row, 1));
        Record.SetSerialNumber(P16(Row, 2));
        return true;
    case 3:
        Record.SetHardwareVersion(P(Row, 1));
        Record.SetSoftwareVersion(P(Row, 2));
        Record.SetModelNumber(P(Row, 3));
        return true;
    default: return false;
    }
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

// ---- heart rate ----------------------------------------------------------------------------

void TAntComControl::DecodeHeartRatePage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    auto *hr = dynamic_cast<TANTProfileDataHR *>(Channel->ProfileData());
    if (!IsDataEvent(ucEvent) || hr == nullptr)
        return;
    hr->SetComputedHeartRate(P(Row, 7));
    hr->SetHeartBeatCount(P(Row, 6));
    hr->SetHeartBeatEventTime(P16(Row, 4));
    const uint8_t page = P(Row, 0) & PageNumberMask;
    if (!DecodeBackgroundPage(*hr, page, Row) && page == 4)
        hr->SetPreviousHeartBeatEventTime(P16(Row, 2));
}

// ---- cadence, speed and cadence ------------------------------------------------------------

template <class TRecord>
void TAntComControl::ComputeCadence(TRecord &Record)
{
    // Plain differences of the 16-bit values: a rolled-over counter gives a negative step,
    // which leaves the cadence as it was.
    if (Record.CadenceRevolutions() != Record.PreviousCadenceRevolutions()) {
        const int32_t dt = static_cast<int32_t>(Record.CadenceEventTime()) - Record.PreviousCadenceEventTime();
        const int32_t dn = static_cast<int32_t>(Record.CadenceRevolutions()) - Record.PreviousCadenceRevolutions();
        if (dt > 0 && dn > 0) {
            Record.SetCadence(static_cast<int32_t>(Round(60.0L * 1024.0L / dt)));
            FCadenceStallCount = 0;
        }
    } else if (Record.CadenceEventTime() == Record.PreviousCadenceEventTime()) {
        if (FCadenceStallCount < std::numeric_limits<int32_t>::max())
            ++FCadenceStallCount;
        if (FCadenceStallCount > 40)
            Record.SetCadence(0);
    }
}

void TAntComControl::DecodeSpeedCadencePage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    auto *sc = dynamic_cast<TANTProfileDataSC *>(Channel->ProfileData());
    if (!IsDataEvent(ucEvent) || sc == nullptr)
        return;
    sc->SetCadenceEventTime(P16(Row, 0));
    sc->SetCadenceRevolutions(P16(Row, 2));
    ComputeCadence(*sc);
    sc->SetSpeedEventTime(P16(Row, 4));
    sc->SetSpeedRevolutions(P16(Row, 6));
    const int32_t dn = static_cast<int32_t>(sc->SpeedRevolutions()) - sc->PreviousSpeedRevolutions();
    const int32_t dt = static_cast<int32_t>(sc->SpeedEventTime()) - sc->PreviousSpeedEventTime();
    if (dn != 0 && dt > 0) {
        // 3686.4 = 1024 ticks per second x 3.6 (m/s to km/h); circumference in mm.
        long double speed = sc->WheelCircumference() * 3686.4L / 1000.0L * dn / dt;
        if (speed < 0.4L)
            speed = 0.0L;
        sc->SetSpeed(speed);
    }
    sc->StorePrevious();
}

void TAntComControl::DecodeCadencePage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    auto *cad = dynamic_cast<TAntProfileDataCadence *>(Channel->ProfileData());
    if (!IsDataEvent(ucEvent) || cad == nullptr)
        return;
    cad->SetCadenceEventTime(P16(Row, 4));
    cad->SetCadenceRevolutions(P16(Row, 6));
    ComputeCadence(*cad);
    cad->StorePrevious();
    DecodeBackgroundPage(*cad, P(Row, 0) & PageNumberMask, Row);
}

// ---- console -------------------------------------------------------------------------------

void TAntComControl::ConsoleKey(TAntChannel *Channel, TConsoleKey Key, bool Down, const char *Text)
{
    // A held key raises once; it can raise again only after a page where it is up.
    if (Down && !FKeyLatch[Key]) {
        Channel->TriggerConsoleKeyDown(Key);
        Log(Text);
        FKeyLatch[Key] = true;
    } else {
        FKeyLatch[Key] = Down;
    }
}

void TAntComControl::DecodeConsolePage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    if (!IsDataEvent(ucEvent) || dynamic_cast<TAntProfileConsole *>(Channel->ProfileData()) == nullptr)
        return;
    if (P(Row, 0) == 5)
        ConsoleKey(Channel, ckPlus, P(Row, 1) == 1, "Console Plus (low level)");
    ConsoleKey(Channel, ckMinus, P(Row, 2) == 1, "Console Minus (low level)");
    ConsoleKey(Channel, ckEnter, P(Row, 3) == 1, "Console Enter (low level)");
    ConsoleKey(Channel, ckTab, P(Row, 4) == 1, "Console Tab (low level)");
    if (Channel->EventCount() % 50 == 0) {
        const TChannelSendPacket keepAlive{0x0A, 0, 0, 0, 0, 0, 0, 0};
        Channel->SetSendPacket(keepAlive);
        SendBroadcastData(Channel, keepAlive);
        Log("Sent KAL to console");
    }
}

// ---- fitness equipment ---------------------------------------------------------------------

void TAntComControl::SetFeState(TAntProfileFE &Record, uint8_t Byte7)
{
    // Bits 4-7; with the lap toggle (bit 7) set the value is above 4 and ignored.
    const uint8_t state = Byte7 >> 4;
    if (state <= 4)
        Record.SetFeState(state);
}

void TAntComControl::DecodeFitnessEquipmentPage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    auto *fe = dynamic_cast<TAntProfileFE *>(Channel->ProfileData());
    if (!IsDataEvent(ucEvent) || fe == nullptr)
        return;
    switch (P(Row, 0)) {
    case 16: {
        fe->SetEquipmentType(EquipmentTypeCode(P(Row, 1)));
        fe->SetElapsedTimeRaw(P(Row, 2));
        fe->SetDistanceRaw(P(Row, 3));
        fe->SetSpeed(P16(Row, 4) * 0.001L * 3.6L);
        fe->SetHeartRate(P(Row, 6));
        const uint8_t flags = P(Row, 7);
        fe->SetHeartRateSource(flags & 0x03);
        fe->SetDistanceEnabled((flags & 0x04) != 0);
        fe->SetVirtualSpeed((flags & 0x08) != 0);
        int d = fe->ElapsedTimeRaw() - fe->PreviousElapsedTimeRaw();
        if (d < 0)
            d += 256;
        fe->SetElapsedTime(fe->ElapsedTime() + d * 0.25);
        if (fe->DistanceEnabled() && Channel->DistanceState() == dsRunning) {
            d = fe->DistanceRaw() - fe->PreviousDistanceRaw();
            if (d < 0)
                d += 256;
            fe->SetDistance(fe->Distance() + d);
        }
        fe->SetPreviousElapsedTimeRaw(fe->ElapsedTimeRaw());
        fe->SetPreviousDistanceRaw(fe->DistanceRaw());
        break;
    }
    case 17:
        fe->SetCycleLength(P(Row, 3) * 0.01L);
        // Signed, units of 0.01 %: a descent arrives in two's complement.
        fe->SetIncline(static_cast<int16_t>(P16(Row, 4)) * 0.01L);
        fe->SetResistanceLevel(P(Row, 6) * 0.5L);
        SetFeState(*fe, P(Row, 7));
        break;
    case 25:
        fe->SetUpdateEventCount(P(Row, 1));
        fe->SetInstantaneousCadence(P(Row, 2));
        fe->SetAccumulatedPower(P16(Row, 3));
        fe->SetInstantaneousPower(P(Row, 5) | ((P(Row, 6) & 0x0F) << 8));
        fe->SetTargetPowerStatus(P(Row, 7) & 0x0F);
        SetFeState(*fe, P(Row, 7));
        // Sent last, so a send that raises (channel gone) cannot cost the page its values.
        if (P(Row, 6) & 0x40) {
            Log("DP25 User Configuration Requested");
            SendUserConfiguration(Channel);
        }
        break;
    case 54: {
        fe->SetMaximumResistance(P16(Row, 5));
        const uint8_t caps = P(Row, 7);
        fe->SetBasicResistanceSupported((caps & 0x01) != 0);
        fe->SetTargetPowerSupported((caps & 0x02) != 0);
        fe->SetSimulationSupported((caps & 0x04) != 0);
        if (fe->TargetPowerSupported())
            Log("DP_FE_CAPABILITIES - Power supported");
        if (fe->BasicResistanceSupported())
            Log("DP_FE_CAPABILITIES - Basic Res supported");
        if (fe->SimulationSupported())
            Log("DP_FE_CAPABILITIES - Simulation supported");
        break;
    }
    case 80:
        fe->SetHardwareVersion(P(Row, 3));
        fe->SetManufacturerId(P16(Row, 4));
        fe->SetModelNumber(P(Row, 6));
        break;
    case 81: {
        fe->SetSoftwareRevisionSupplemental(P(Row, 2));
        fe->SetSoftwareRevision(P(Row, 3));
        const uint32_t serial = static_cast<uint32_t>(P(Row, 4)) | (static_cast<uint32_t>(P(Row, 5)) << 8) |
                                (static_cast<uint32_t>(P(Row, 6)) << 16) | (static_cast<uint32_t>(P(Row, 7)) << 24);
        fe->SetSerialNumber(static_cast<int32_t>(serial));
        break;
    }
    case 1:
        if (P(Row, 1) == 0x00) {
            fe->SetCalibrationStatus(acsCalibrationFailed);
            Channel->TriggerCalibrationStatus(acsCalibrationFailed);
        } else if (P(Row, 1) == 0x40) {
            fe->SetCalibrationStatus(acsZeroOffsetDone);
            fe->SetZeroOffset(P16(Row, 4));
            Channel->TriggerCalibrationStatus(acsZeroOffsetDone);
        }
        break;
    case 2: {
        const uint8_t condition = P(Row, 2) >> 6;
        if (condition <= 1) {
            fe->SetCalibrationStatus(acsSpeedTooLow);
            Channel->TriggerCalibrationStatus(acsSpeedTooLow);
        } else if (condition == 2) {
            fe->SetCalibrationStatus(acsSpeedOk);
            Channel->TriggerCalibrationStatus(acsSpeedOk);
        }
        break;
    }
    default: break;
    }
}

// ---- pedal pages ---------------------------------------------------------------------------

void TAntComControl::DecodePedalPage(TObject *, TAntChannel *Channel, uint8_t ucEvent, const TAntRxRow &Row)
{
    if (!IsDataEvent(ucEvent))
        return;
    auto *pa = dynamic_cast<TANTUlmoraPAData *>(Channel->ProfileData());
    if (pa == nullptr) {
        Channel->SetProfileData(std::make_unique<TANTUlmoraPAData>());
        pa = static_cast<TANTUlmoraPAData *>(Channel->ProfileData());
    }
    const uint8_t packet = P(Row, 0);
    if (packet < 1 || packet > 8)
        return;
    if (packet == 1) {
        pa->AddPedalRecord();
        pa->CurrentRecord()->StartByte = P(Row, 1);
        Log("- First PA packet -");
    }
    // Packets heard before any packet 1 have no record to go to.
    PedalRecord *record = pa->CurrentRecord();
    if (record == nullptr)
        return;
    if (packet == 2) {
        const int speed = P(Row, 1) | ((P(Row, 3) >> 4) << 8); // 0.01 m/s
        record->Speed = speed * 0.01L * 3.6L;
    }
    const size_t first = 3u * (packet - 1u);
    record->Samples[first] = static_cast<uint16_t>(P(Row, 2) | ((P(Row, 3) & 0x0F) << 8));
    record->Samples[first + 1] = static_cast<uint16_t>(P(Row, 4) | ((P(Row, 5) & 0x0F) << 8));
    record->Samples[first + 2] = static_cast<uint16_t>(P(Row, 6) | ((P(Row, 7) & 0x0F) << 8));
    Log("- Debug PA packet n\u00B0" + IntToStr(packet));
    if (packet == 8) {
        Log("- Latest PA packet (close) - Latest packet index = " + IntToStr(pa->CurrentIndex()));
        Channel->TriggerPADataReceived(pa->CurrentIndex());
    }
}
