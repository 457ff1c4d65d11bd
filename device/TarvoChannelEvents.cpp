// The trainer device's reactions to its channels' events and its notify operations. The
// handlers run on the thread the channel raised the event on, often the library's, and
// raise the device's events there: nothing here waits for the user-interface thread.
#include "device/TarvoDeviceAntP.h"

#include <typeinfo>

namespace {

// The exact class of a channel's record, as the device tells the channels apart.
template <class Record>
bool RecordIs(const TAntChannel *Channel)
{
    const TAntProfileData *data = Channel->ProfileData();
    return data != nullptr && typeid(*data) == typeid(Record);
}

} // namespace

void TTarvoDeviceAntP::HandleChannelDeviceNumber(TAntChannel *Channel)
{
    const uint16_t number = Channel->DeviceNumber();
    if (RecordIs<TANTProfileDataHR>(Channel))
        SetHRDeviceNumber(number);
    else if (RecordIs<TAntProfileConsole>(Channel))
        SetConsoleDeviceNumber(number);
    else if (RecordIs<TANTProfileDataSC>(Channel) || RecordIs<TAntProfileFE>(Channel))
        SetDeviceNumber(number);
    if (OnChannelDeviceNumber)
        OnChannelDeviceNumber(this, Channel);
}

void TTarvoDeviceAntP::HandleChannelConnected(TAntChannel *Channel)
{
    if (RecordIs<TAntProfileFE>(Channel))
        MarkConnected();
    if (OnChannelConnected)
        OnChannelConnected(this, Channel);
}

void TTarvoDeviceAntP::HandleChannelDisconnected(TAntChannel *Channel)
{
    if (RecordIs<TANTProfileDataHR>(Channel)) {
        SetHeartRate(0);
        SetMaxHeartRate(0);
        SetAverageHeartRate(0);
        DoHrConnectionLost();
    } else if (RecordIs<TAntProfileConsole>(Channel)) {
        DoConsoleConnectionLost();
    } else if (RecordIs<TAntProfileFE>(Channel)) {
        // The trainer's values go; the device itself stays connected.
        SetSpeed(0);
        SetAverageSpeed(0);
        SetCadence(0);
        SetAverageCadence(0);
        SetMaxCadence(0);
        SetPower(0);
        SetAuxValue1(0);
        SetAuxValue3(0);
        EndTrainerCalibration(Channel, TTrainerCalibrationRun::ConnectionLostText);
        DoDisconnected();
    }
    if (OnChannelDisconnection)
        OnChannelDisconnection(this, Channel);
}

void TTarvoDeviceAntP::HandleChannelConnectionLost(TAntChannel *Channel) { DoChannelConnectionLost(Channel); }

void TTarvoDeviceAntP::HandleEventRxBroadCastReceived(TAntChannel *Channel) { DoEventRxBroadCastReceived(Channel); }

void TTarvoDeviceAntP::HandleChannelRxFailGoToSearch(TAntChannel *Channel)
{
    if (OnChannelRxFailGoToSearch)
        OnChannelRxFailGoToSearch(this, Channel);
}

void TTarvoDeviceAntP::DoChannelConnectionLost(TAntChannel *Channel)
{
    if (OnChannelConnectionLost)
        OnChannelConnectionLost(this, Channel);
}

void TTarvoDeviceAntP::DoEventRxBroadCastReceived(TAntChannel *Channel)
{
    if (OnEventRxBroadCastReceived)
        OnEventRxBroadCastReceived(this, Channel);
}

void TTarvoDeviceAntP::DoConsoleKeyDown(TConsoleKey Key)
{
    if (OnConsoleKeyDown)
        OnConsoleKeyDown(this, Key);
}

void TTarvoDeviceAntP::DoCalibrationStatus(TAntCalibrationStatus Status)
{
    if (OnCalibrationStatus)
        OnCalibrationStatus(this, Status);
}

void TTarvoDeviceAntP::DoConnectChannelHandled(TConnectChannelThread *Sequencer)
{
    if (OnConnectChannelHandled)
        OnConnectChannelHandled(this, Sequencer);
}

void TTarvoDeviceAntP::DoConnectChannelTimeOut(TConnectChannelThread *Sequencer)
{
    if (OnConnectChannelTimeOut)
        OnConnectChannelTimeOut(this, Sequencer);
}

namespace {

void Notify(const TNotifyEvent &Event, TObject *Sender)
{
    if (Event)
        Event(Sender);
}

} // namespace

void TTarvoDeviceAntP::DoUsbNotFound() { Notify(OnUsbNotFound, this); }
void TTarvoDeviceAntP::DoStartConnection() { Notify(OnStartConnection, this); }
void TTarvoDeviceAntP::DoEndConnection() { Notify(OnEndConnection, this); }
void TTarvoDeviceAntP::DoConsoleConnectionLost() { Notify(OnConsoleConnectionLost, this); }
void TTarvoDeviceAntP::DoConsoleConnectionRecovered() { Notify(OnConsoleConnectionRecovered, this); }
void TTarvoDeviceAntP::DoHrConnectionLost() { Notify(OnHrConnectionLost, this); }
void TTarvoDeviceAntP::DoConnectionRecovered() { Notify(OnConnectionRecovered, this); }
void TTarvoDeviceAntP::DoVersionChange() { Notify(OnVersionChange, this); }
