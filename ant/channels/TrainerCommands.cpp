// The FE-C pages a trainer is sent and the channel's trainer commands that send them.
#include "ant/channels/TrainerCommands.h"

#include "ant/binding/AntLib.h"
#include "ant/channels/AntChannels.h"
#include "ant/profiles/PageNumbers.h"
#include "framework/SysUtils.h"

#include <cmath>

// ---- page builders -----------------------------------------------------------------------

TChannelSendPacket BuildBasicResistancePage(uint8_t Level)
{
    if (Level > 200)
        Level = 200;
    return {FePageBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, Level};
}

TChannelSendPacket BuildTargetPowerPage(uint16_t Watts)
{
    // Units of 0.25 W in 16 bits: powers past 16383.75 W are sent as that maximum rather
    // than wrapped to a small value.
    uint32_t p = static_cast<uint32_t>(Watts) * 4u;
    if (p > 0xFFFFu)
        p = 0xFFFFu;
    return {FePageTargetPower, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, static_cast<uint8_t>(p & 0xFF),
            static_cast<uint8_t>(p >> 8)};
}

TChannelSendPacket BuildTrackResistancePage(double SlopePercent)
{
    // Units of 0.01 % offset by -200 %, truncated toward zero. Grades outside what the page
    // can carry (below -200 %, above 455.34 %, not a number) are held at the nearest end:
    // wrapping would turn a steep descent into a steep climb, and 0xFFFF means "invalid".
    double g = std::trunc((SlopePercent + 200.0) * 100.0);
    uint16_t v;
    if (std::isnan(g) || g < 0.0)
        v = 0;
    else if (g > 65534.0)
        v = 65534;
    else
        v = static_cast<uint16_t>(g);
    return {FePageTrackResistance, 0xFF, 0xFF, 0xFF, 0xFF, static_cast<uint8_t>(v & 0xFF),
            static_cast<uint8_t>(v >> 8), 0xFF};
}

TChannelSendPacket BuildUserConfigurationPage(int32_t UserWeight, int32_t WheelDiameter, bool WithUserWeight)
{
    TChannelSendPacket page{FePageUserConfiguration, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    if (WithUserWeight) {
        // Units of 0.01 kg; 0xFFFF would mean "not given", so heavier values stop below it
        // and negative ones at 0 instead of wrapping into a wrong weight.
        int64_t w = static_cast<int64_t>(UserWeight) * 100;
        if (w < 0)
            w = 0;
        if (w > 0xFFFE)
            w = 0xFFFE;
        page[1] = static_cast<uint8_t>(w & 0xFF);
        page[2] = static_cast<uint8_t>(w >> 8);
    }
    int32_t d = WheelDiameter < 0 ? 0 : WheelDiameter; // a negative diameter is not a size
    int32_t offset = d % 10;
    if (offset > 15)
        offset = 15;
    int32_t cm = d / 10;
    if (cm > 255)
        cm = 255;
    page[4] = static_cast<uint8_t>(0xF0 + offset);
    page[6] = static_cast<uint8_t>(cm);
    return page;
}

TChannelSendPacket BuildRequestCapabilitiesPage()
{
    // Byte 5: answer with an acknowledged message; byte 7: the request is for a data page.
    return {CommonPageRequest, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, FePageCapabilities, 0x01};
}

TChannelSendPacket BuildCalibrationRequestPage(bool ZeroOffset, bool SpinDown)
{
    const uint8_t kinds = static_cast<uint8_t>((ZeroOffset ? 0x40 : 0x00) | (SpinDown ? 0x80 : 0x00));
    return {FePageCalibrationResponse, kinds, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
}

TChannelSendPacket BuildCalibrationCancelPage() { return BuildCalibrationRequestPage(false, false); }

std::string PacketToHex(const uint8_t *Data, size_t Count)
{
    std::string s;
    s.reserve(Count * 3);
    for (size_t i = 0; i < Count; ++i) {
        s.push_back(' ');
        s.append(IntToHex(Data[i], 2));
    }
    return s;
}

// ---- acknowledged pages --------------------------------------------------------------------

std::chrono::steady_clock::duration AcknowledgedWaitLimit(uint16_t MessagePeriod)
{
    // A period of 0 is not a rate; the channel's usual 4 Hz stands in for it.
    const int64_t period = MessagePeriod == 0 ? 8192 : MessagePeriod;
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::microseconds(period * 4 * 1000000 / 32768));
}

namespace {

std::string AcknowledgedNoteText(const TAckPageQueue::TNote &Note)
{
    const std::string page = "Acknowledged page " + IntToStr(Note.PageNumber);
    switch (Note.Change) {
    case TAckPageQueue::TChange::Held: return page + " held until the page in flight ends";
    case TAckPageQueue::TChange::Replaced: return page + " held in place of the older one";
    case TAckPageQueue::TChange::Released: return page + " leaves the hold";
    case TAckPageQueue::TChange::Dropped: return page + " leaves the hold: dropped";
    }
    return page;
}

TAckPageQueue::TClock::time_point Now() { return TAckPageQueue::TClock::now(); }

} // namespace

void TAntChannel::ApplyAcknowledgedOutcome(const TAckPageQueue::TOutcome &Outcome)
{
    for (const TAckPageQueue::TNote &note : Outcome.Notes)
        Log(AcknowledgedNoteText(note));
    if (!Outcome.Send)
        return;
    // The library gets a copy of its own.
    TChannelSendPacket copy = *Outcome.Send;
    TAntLib::ANT_SendAcknowledgedData(ChannelNumber(), copy.data());
}

void TAntChannel::QueueAcknowledged(const TChannelSendPacket &Page)
{
    ApplyAcknowledgedOutcome(FAckPages.Ask(Page, Now()));
}

void TAntChannel::AcknowledgedCompleted() { ApplyAcknowledgedOutcome(FAckPages.Completed(Now())); }

bool TAntChannel::AcknowledgedFailed()
{
    const TAckPageQueue::TOutcome outcome = FAckPages.Failed(Now());
    ApplyAcknowledgedOutcome(outcome);
    return outcome.Send.has_value();
}

void TAntChannel::AcknowledgedRefused() { ApplyAcknowledgedOutcome(FAckPages.Refused(Now())); }

void TAntChannel::ExpireAcknowledgedWait() { ApplyAcknowledgedOutcome(FAckPages.Expire(Now())); }

void TAntChannel::DropHeldAcknowledged() { ApplyAcknowledgedOutcome(FAckPages.Drop()); }

// ---- trainer commands ----------------------------------------------------------------------

void TAntChannel::ClearLastCommand()
{
    FLastResistance = NoLevel;
    FLastTargetPower = NoLevel;
    FLastSlope = NoSlope;
}

void TAntChannel::SendAcknowledged(const TChannelSendPacket &Page)
{
    SetSendPacket(Page);
    QueueAcknowledged(Page);
}

void TAntChannel::SendResistance(uint8_t Level)
{
    if (AntChannelProfile() != acpAntFE)
        return;
    if (Level > 200)
        Level = 200;
    FLastResistance = Level;
    FLastTargetPower = NoLevel;
    FLastSlope = NoSlope;
    TChannelSendPacket page = BuildBasicResistancePage(Level);
    std::string hex;
    if (DebugMode())
        hex = PacketToHex(page.data(), page.size());
    SendAcknowledged(page);
    Log("SendResistance [" + hex + "]");
    Log("ANT_SendAcknowledgedData - SendResistance [" + IntToStr(Level) + "]");
}

void TAntChannel::SendPower(uint16_t Watts)
{
    if (AntChannelProfile() != acpAntFE || !Connected())
        return;
    FLastSlope = NoSlope;
    FLastResistance = NoLevel;
    FLastTargetPower = Watts;
    SendAcknowledged(BuildTargetPowerPage(Watts));
    Log("ANT_SendAcknowledgedData - Send Power [" + IntToStr(Watts) + "w]");
}

void TAntChannel::SendSlope(double Percent)
{
    if (AntChannelProfile() != acpAntFE || !Connected())
        return;
    FLastResistance = NoLevel;
    FLastTargetPower = NoLevel;
    FLastSlope = static_cast<float>(Percent);
    SendAcknowledged(BuildTrackResistancePage(Percent));
    Log("ANT_SendAcknowledgedData - Send slope [" + FloatToStr(Percent) + "%]");
}

void TAntChannel::SendUserConfiguration()
{
    SendAcknowledged(BuildUserConfigurationPage(FUserWeight, FWheelDiameter, true));
    Log("DP55 Send User Configuration - Diam:" + IntToStr(FWheelDiameter));
}

bool TAntChannel::SendCalibrationRequest(bool ZeroOffset, bool SpinDown)
{
    if (AntChannelProfile() != acpAntFE || !Connected())
        return false;
    // Not a command to repeat: a request sent again every 14 s would restart the calibration.
    const TChannelSendPacket page = BuildCalibrationRequestPage(ZeroOffset, SpinDown);
    SendAcknowledged(page);
    const char *what = ZeroOffset || SpinDown ? "request" : "cancel";
    Log(std::string("ANT_SendAcknowledgedData - Send calibration ") + what + " [" +
        PacketToHex(page.data(), page.size()) + "]");
    return true;
}

bool TAntChannel::SendCalibrationCancel()
{
    return SendCalibrationRequest(false, false);
}

void TAntChannel::repeatLastCommand()
{
    if (!Connected() || ChannelState() != chsActive)
        return;
    if (FLastResistance >= 0)
        SendResistance(static_cast<uint8_t>(FLastResistance));
    if (FLastTargetPower >= 0)
        SendPower(static_cast<uint16_t>(FLastTargetPower));
    if (FLastSlope != NoSlope)
        SendSlope(FLastSlope);
}

void TAntChannel::ResetData()
{
    auto *fe = dynamic_cast<TAntProfileFE *>(FProfileData.get());
    if (AntChannelProfile() != acpAntFE || fe == nullptr)
        return;
    SetDistanceState(dsRunning);
    fe->SetDistance(0.0);
    fe->SetElapsedTime(0.0);
    fe->SetPreviousElapsedTimeRaw(fe->ElapsedTimeRaw());
    fe->SetPreviousDistanceRaw(fe->DistanceRaw());
    fe->SetDistanceAtReset(fe->DistanceRaw());
    fe->SetElapsedTimeAtReset(fe->ElapsedTimeRaw() * 0.25);
    ClearLastCommand();
    Log("Reset Data");
}

void TAntChannel::StartDistance()
{
    if (FDistanceState == dsStop)
        ResetData();
    SetDistanceState(dsRunning);
    SendUserConfiguration();
}

void TAntChannel::StopDistance()
{
    ClearLastCommand();
    SetDistanceState(dsStop);
}

void TAntChannel::PauseDistance()
{
    ClearLastCommand();
    SetDistanceState(dsPause);
}
