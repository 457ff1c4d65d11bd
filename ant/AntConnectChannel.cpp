// The controller's part of connecting a channel: checks, one sequencer per connect request,
// and the handlers the sequencer reports to.
#include "ant/AntComControl.h"
#include "ant/channels/ConnectChannelThread.h"
#include "framework/Exception.h"
#include "framework/SysUtils.h"

namespace {
constexpr int32_t ConnectTimeOutMs = 30000;

TAntChannel *ChannelOf(TObject *Sender)
{
    auto *sequencer = dynamic_cast<TConnectChannelThread *>(Sender);
    return sequencer ? sequencer->Channel() : nullptr;
}
} // namespace

void TAntComControl::ConnectChannel(TAntDevice *aAntDevice, TAntChannel *aAntChannel)
{
    if (aAntChannel == nullptr)
        throw EAntError("aAntChannel not assigned");
    // The previous sequencer goes first, even when a check below refuses the connect.
    aAntChannel->SetConnectChannelThread(nullptr);
    if (aAntChannel->AntChannelProfile() == acpUnAssigned)
        throw Exception("Channel.Profile is Unassigned!!!");
    if (!FDllLoaded)
        throw EAntError("Ant DLL not loaded");
    if (aAntChannel->Connected())
        throw EAntError("aAntChannel already connected");
    if ((aAntDevice == nullptr || !aAntDevice->Connected()) && !ConnectDevice(aAntDevice))
        throw EAntError("Cannot connect AntDevice USb key");

    auto *sequencer = new TConnectChannelThread(this);
    aAntChannel->SetConnectChannelThread(sequencer);
    sequencer->SetControl(this);
    aAntChannel->SetChannelState(chsConnectRequested);
    sequencer->SetAntDevice(aAntDevice);
    sequencer->SetChannel(aAntChannel);
    sequencer->SetTimeOut(ConnectTimeOutMs);
    sequencer->SetInterval(aAntChannel->Delay());
    sequencer->OnTimer = [sequencer](TObject *Sender) { sequencer->ConnectStep(Sender); };
    sequencer->OnConnectTimeOut = [this](TObject *Sender) { ConnectChannelTimeOutEvent(Sender); };
    sequencer->OnConnectChannelHandled = [this](TObject *Sender) { ConnectChannelHandledEvent(Sender); };
    sequencer->SetEnabled(true);
}

void TAntComControl::ConnectChannelTimeOutEvent(TObject *Sender)
{
    if (TAntChannel *channel = ChannelOf(Sender))
        Log(Format("ConnectChannelTimeOutEvent ch %d", {channel->ChannelNumber()}));
    if (OnConnectChannelTimeOut)
        OnConnectChannelTimeOut(this, static_cast<TConnectChannelThread *>(Sender));
}

void TAntComControl::ConnectChannelHandledEvent(TObject *Sender)
{
    if (TAntChannel *channel = ChannelOf(Sender)) {
        const int number = channel->ChannelNumber();
        Log(Format("ConnectChannelHandledEvent ch %d", {number}));
        Log(Format(channel->Connected() ? "Channel %d connected" : "Channel %d NOT connected", {number}));
    }
    if (OnConnectChannelHandled)
        OnConnectChannelHandled(this, static_cast<TConnectChannelThread *>(Sender));
}

void TAntComControl::ConnectChannelStep(TObject *Sender)
{
    if (TAntChannel *channel = ChannelOf(Sender))
        Log(Format("ConnectChannelStep ch %d ConnectStep: %s",
                   {channel->ChannelNumber(),
                    EnumName(ChannelConnectionStepNames(), channel->ChannelConnectionStep())}));
    if (OnConnectChannelStep)
        OnConnectChannelStep(this);
}
