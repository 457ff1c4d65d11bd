#include "ant/profiles/PageDecoders.h"

#include <cmath>
#include <limits>

std::string TPageAction::LogLine() const
{
    if (Text == nullptr)
        return {};
    if (Kind == TPageActionKind::LogNumber)
        return Text + std::to_string(Value);
    return Text;
}

namespace {

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

// Background pages that heart-rate and cadence sensors have in common; false for any other.
template <class TRecord>
bool DecodeBackgroundPage(TRecord &Record, uint8_t Page, const TAntRxRow &Row)
{
    switch (Page) {
    case SensorPageOperatingTime: Record.SetCumulativeOperatingTime(P24(Row, 1)); return true;
    case SensorPageManufacturerInfo:
        Record.SetManufacturerId(P(Row, 1));
        Record.SetSerialNumber(P16(Row, 2));
        return true;
    case SensorPageProductInfo:
        Record.SetHardwareVersion(P(Row, 1));
        Record.SetSoftwareVersion(P(Row, 2));
        Record.SetModelNumber(P(Row, 3));
        return true;
    default: return false;
    }
}

// Shared by the speed-and-cadence and the cadence decoders.
template <class TRecord>
void ComputeCadence(TRecord &Record, int32_t &StallCount)
{
    // Plain differences of the 16-bit values: a rolled-over counter gives a negative step,
    // which leaves the cadence as it was.
    if (Record.CadenceRevolutions() != Record.PreviousCadenceRevolutions()) {
        const int32_t dt = static_cast<int32_t>(Record.CadenceEventTime()) - Record.PreviousCadenceEventTime();
        const int32_t dn = static_cast<int32_t>(Record.CadenceRevolutions()) - Record.PreviousCadenceRevolutions();
        if (dt > 0 && dn > 0) {
            Record.SetCadence(static_cast<int32_t>(std::nearbyint(60.0L * 1024.0L / dt)));
            StallCount = 0;
        }
    } else if (Record.CadenceEventTime() == Record.PreviousCadenceEventTime()) {
        if (StallCount < std::numeric_limits<int32_t>::max())
            ++StallCount;
        if (StallCount > 40)
            Record.SetCadence(0);
    }
}

void ConsoleKey(TPageOutcome &Out, bool &Latch, TConsoleKey Key, bool Down, const char *Text)
{
    // A held key raises once; it can raise again only after a page where it is up.
    if (Down && !Latch) {
        Out.Add(TPageActionKind::ConsoleKeyDown, nullptr, Key);
        Out.Add(TPageActionKind::Log, Text);
    }
    Latch = Down;
}

void SetFeState(TAntProfileFE &Record, uint8_t Byte7)
{
    // Bits 4-7; with the lap toggle (bit 7) set the value is above 4 and ignored.
    const uint8_t state = Byte7 >> 4;
    if (state <= 4)
        Record.SetFeState(state);
}

// The step of an 8-bit counter since its previous value; it rolls over at 256.
int RollingStep(uint8_t Value, uint8_t Previous)
{
    int d = Value - Previous;
    if (d < 0)
        d += 256;
    return d;
}

void DecodeGeneralPage(TAntProfileFE &Fe, const TAntRxRow &Row, TAntDistanceState DistanceState)
{
    Fe.SetEquipmentType(EquipmentTypeCode(P(Row, 1)));
    Fe.SetElapsedTimeRaw(P(Row, 2));
    Fe.SetDistanceRaw(P(Row, 3));
    Fe.SetSpeed(P16(Row, 4) * 0.001L * 3.6L);
    Fe.SetHeartRate(P(Row, 6));
    const uint8_t flags = P(Row, 7);
    Fe.SetHeartRateSource(flags & 0x03);
    Fe.SetDistanceEnabled((flags & 0x04) != 0);
    Fe.SetVirtualSpeed((flags & 0x08) != 0);
    Fe.SetElapsedTime(Fe.ElapsedTime() + RollingStep(Fe.ElapsedTimeRaw(), Fe.PreviousElapsedTimeRaw()) * 0.25);
    if (Fe.DistanceEnabled() && DistanceState == dsRunning)
        Fe.SetDistance(Fe.Distance() + RollingStep(Fe.DistanceRaw(), Fe.PreviousDistanceRaw()));
    Fe.SetPreviousElapsedTimeRaw(Fe.ElapsedTimeRaw());
    Fe.SetPreviousDistanceRaw(Fe.DistanceRaw());
}

void DecodeTrainerDataPage(TAntProfileFE &Fe, const TAntRxRow &Row, TPageOutcome &Out)
{
    Fe.SetUpdateEventCount(P(Row, 1));
    Fe.SetInstantaneousCadence(P(Row, 2));
    Fe.SetAccumulatedPower(P16(Row, 3));
    Fe.SetInstantaneousPower(P(Row, 5) | ((P(Row, 6) & 0x0F) << 8));
    Fe.SetTargetPowerStatus(P(Row, 7) & 0x0F);
    SetFeState(Fe, P(Row, 7));
    // The send comes after every value, so one that raises (channel gone) cannot cost the
    // page its values.
    if (P(Row, 6) & 0x40) {
        Out.Add(TPageActionKind::Log, "DP25 User Configuration Requested");
        Out.Add(TPageActionKind::SendUserConfiguration);
    }
}

void DecodeCapabilitiesPage(TAntProfileFE &Fe, const TAntRxRow &Row, TPageOutcome &Out)
{
    Fe.SetMaximumResistance(P16(Row, 5));
    const uint8_t caps = P(Row, 7);
    Fe.SetBasicResistanceSupported((caps & 0x01) != 0);
    Fe.SetTargetPowerSupported((caps & 0x02) != 0);
    Fe.SetSimulationSupported((caps & 0x04) != 0);
    if (Fe.TargetPowerSupported())
        Out.Add(TPageActionKind::Log, "DP_FE_CAPABILITIES - Power supported");
    if (Fe.BasicResistanceSupported())
        Out.Add(TPageActionKind::Log, "DP_FE_CAPABILITIES - Basic Res supported");
    if (Fe.SimulationSupported())
        Out.Add(TPageActionKind::Log, "DP_FE_CAPABILITIES - Simulation supported");
}

void SetCalibrationStatus(TAntProfileFE &Fe, TAntCalibrationStatus Status, TPageOutcome &Out)
{
    Fe.SetCalibrationStatus(Status);
    Out.Add(TPageActionKind::CalibrationStatus, nullptr, Status);
}

} // namespace

namespace PageDecoders {

void DecodeHeartRatePage(TANTProfileDataHR &Record, const TAntRxRow &Row)
{
    Record.SetComputedHeartRate(P(Row, 7));
    Record.SetHeartBeatCount(P(Row, 6));
    Record.SetHeartBeatEventTime(P16(Row, 4));
    const uint8_t page = P(Row, 0) & PageNumberMask;
    if (!DecodeBackgroundPage(Record, page, Row) && page == HrPagePreviousHeartBeat)
        Record.SetPreviousHeartBeatEventTime(P16(Row, 2));
}

void DecodeSpeedCadencePage(TANTProfileDataSC &Record, const TAntRxRow &Row, TPageDecoderState &State)
{
    Record.SetCadenceEventTime(P16(Row, 0));
    Record.SetCadenceRevolutions(P16(Row, 2));
    ComputeCadence(Record, State.CadenceStallCount);
    Record.SetSpeedEventTime(P16(Row, 4));
    Record.SetSpeedRevolutions(P16(Row, 6));
    const int32_t dn = static_cast<int32_t>(Record.SpeedRevolutions()) - Record.PreviousSpeedRevolutions();
    const int32_t dt = static_cast<int32_t>(Record.SpeedEventTime()) - Record.PreviousSpeedEventTime();
    if (dn != 0 && dt > 0) {
        // 3686.4 = 1024 ticks per second x 3.6 (m/s to km/h); circumference in mm.
        long double speed = Record.WheelCircumference() * 3686.4L / 1000.0L * dn / dt;
        if (speed < 0.4L)
            speed = 0.0L;
        Record.SetSpeed(speed);
    }
    Record.StorePrevious();
}

void DecodeCadencePage(TAntProfileDataCadence &Record, const TAntRxRow &Row, TPageDecoderState &State)
{
    Record.SetCadenceEventTime(P16(Row, 4));
    Record.SetCadenceRevolutions(P16(Row, 6));
    ComputeCadence(Record, State.CadenceStallCount);
    Record.StorePrevious();
    DecodeBackgroundPage(Record, P(Row, 0) & PageNumberMask, Row);
}

TPageOutcome DecodeConsolePage(const TAntRxRow &Row, int32_t EventCount, TPageDecoderState &State)
{
    TPageOutcome out;
    auto &latch = State.KeyLatch;
    if (P(Row, 0) == ConsolePageKeys)
        ConsoleKey(out, latch[ckPlus], ckPlus, P(Row, 1) == 1, "Console Plus (low level)");
    ConsoleKey(out, latch[ckMinus], ckMinus, P(Row, 2) == 1, "Console Minus (low level)");
    ConsoleKey(out, latch[ckEnter], ckEnter, P(Row, 3) == 1, "Console Enter (low level)");
    ConsoleKey(out, latch[ckTab], ckTab, P(Row, 4) == 1, "Console Tab (low level)");
    if (EventCount % 50 == 0) {
        out.Add(TPageActionKind::SendConsoleKeepAlive);
        out.Add(TPageActionKind::Log, "Sent KAL to console");
    }
    return out;
}

TPageOutcome DecodeFitnessEquipmentPage(TAntProfileFE &Record, const TAntRxRow &Row, TAntDistanceState DistanceState)
{
    TPageOutcome out;
    switch (P(Row, 0)) {
    case FePageGeneral: DecodeGeneralPage(Record, Row, DistanceState); break;
    case FePageGeneralSettings:
        Record.SetCycleLength(P(Row, 3) * 0.01L);
        // Signed, units of 0.01 %: a descent arrives in two's complement.
        Record.SetIncline(static_cast<int16_t>(P16(Row, 4)) * 0.01L);
        Record.SetResistanceLevel(P(Row, 6) * 0.5L);
        SetFeState(Record, P(Row, 7));
        break;
    case FePageTrainerData: DecodeTrainerDataPage(Record, Row, out); break;
    case FePageCapabilities: DecodeCapabilitiesPage(Record, Row, out); break;
    case CommonPageManufacturerInfo:
        Record.SetHardwareVersion(P(Row, 3));
        Record.SetManufacturerId(P16(Row, 4));
        Record.SetModelNumber(P(Row, 6));
        break;
    case CommonPageProductInfo: {
        Record.SetSoftwareRevisionSupplemental(P(Row, 2));
        Record.SetSoftwareRevision(P(Row, 3));
        const uint32_t serial = static_cast<uint32_t>(P(Row, 4)) | (static_cast<uint32_t>(P(Row, 5)) << 8) |
                                (static_cast<uint32_t>(P(Row, 6)) << 16) | (static_cast<uint32_t>(P(Row, 7)) << 24);
        Record.SetSerialNumber(static_cast<int32_t>(serial));
        break;
    }
    case FePageCalibrationResponse:
        if (P(Row, 1) == 0x00) {
            SetCalibrationStatus(Record, acsCalibrationFailed, out);
        } else if (P(Row, 1) == 0x40) {
            Record.SetCalibrationStatus(acsZeroOffsetDone);
            Record.SetZeroOffset(P16(Row, 4));
            out.Add(TPageActionKind::CalibrationStatus, nullptr, acsZeroOffsetDone);
        }
        break;
    case FePageCalibrationProgress: {
        const uint8_t condition = P(Row, 2) >> 6;
        if (condition <= 1)
            SetCalibrationStatus(Record, acsSpeedTooLow, out);
        else if (condition == 2)
            SetCalibrationStatus(Record, acsSpeedOk, out);
        break;
    }
    default: break;
    }
    return out;
}

TPageOutcome DecodePedalPage(TANTUlmoraPAData &Record, const TAntRxRow &Row)
{
    TPageOutcome out;
    const uint8_t packet = P(Row, 0);
    if (packet < PedalPacketFirst || packet > PedalPacketLast)
        return out;
    if (packet == PedalPacketFirst) {
        Record.AddPedalRecord();
        Record.CurrentRecord()->StartByte = P(Row, 1);
        out.Add(TPageActionKind::Log, "- First PA packet -");
    }
    // Packets heard before any first packet have no record to go to.
    PedalRecord *series = Record.CurrentRecord();
    if (series == nullptr)
        return out;
    if (packet == PedalPacketSpeed) {
        const int speed = P(Row, 1) | ((P(Row, 3) >> 4) << 8); // 0.01 m/s
        series->Speed = speed * 0.01L * 3.6L;
    }
    const size_t first = 3u * (packet - 1u);
    series->Samples[first] = static_cast<uint16_t>(P(Row, 2) | ((P(Row, 3) & 0x0F) << 8));
    series->Samples[first + 1] = static_cast<uint16_t>(P(Row, 4) | ((P(Row, 5) & 0x0F) << 8));
    series->Samples[first + 2] = static_cast<uint16_t>(P(Row, 6) | ((P(Row, 7) & 0x0F) << 8));
    out.Add(TPageActionKind::LogNumber, "- Debug PA packet n\u00B0", packet);
    if (packet == PedalPacketLast) {
        out.Add(TPageActionKind::LogNumber, "- Latest PA packet (close) - Latest packet index = ",
                Record.CurrentIndex());
        out.Add(TPageActionKind::PADataReceived, nullptr, Record.CurrentIndex());
    }
    return out;
}

} // namespace PageDecoders
