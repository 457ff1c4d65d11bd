// The trainer device's channels and their connection over one ANT USB device.
#include "device/TarvoDeviceAntP.h"

#include "ant/channels/ConnectChannelThread.h"
#include "framework/Exception.h"
#include "framework/SysUtils.h"
#include "platform/TickCount.h"
#include "platform/UiThread.h"

#include <chrono>
#include <thread>

namespace {

constexpr uint16_t ScanBaudRate = 57600;
constexpr uint16_t ScanCount = 4;

// Processes messages at least once, then until Milliseconds have passed, the tick count
// wraps below its start, or Done says so.
template <class F>
void ProcessMessagesFor(uint32_t Milliseconds, F Done)
{
    const uint32_t start = GetTickCount();
    for (;;) {
        ProcessMessages();
        if (Done())
            return;
        const uint32_t now = GetTickCount();
        if (now < start || now - start >= Milliseconds)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

TAntChannel *TTarvoDeviceAntP::AddChannel(TAntChannelProfile Profile)
{
    TAntChannel *channel = FAntComControl->AntChannelList()->Add();
    channel->SetAntChannelProfile(Profile);
    switch (Profile) {
    case acpAntHR: SetChannelHR(channel); break;
    case acpAntFE: SetChannelTrainer(channel); break;
    case acpAntConsole: SetChannelConsole(channel); break;
    default: break;
    }
    return channel;
}

void TTarvoDeviceAntP::PumpMessages(uint32_t Milliseconds) { ::PumpMessages(Milliseconds); }

void TTarvoDeviceAntP::WaitChannelDeviceNumber(TAntChannel *Channel)
{
    ProcessMessagesFor(DeviceNumberWaitMs, [this, Channel] {
        if (!Channel->ChannelDeviceNumberReceived())
            return false;
        FAntComControl->Log(Format("ChannelDeviceNumberReceived ch %d, DeviceNumber", {Channel->ChannelNumber()}));
        return true;
    });
}

TAntDevice *TTarvoDeviceAntP::OpenFirstDevice()
{
    TAntDeviceList *devices = FAntComControl->AntDeviceList();
    for (int i = 0; i < devices->Count(); ++i) {
        TAntDevice *device = devices->Items(i);
        if (FAntComControl->ConnectDevice(device))
            return device;
    }
    return nullptr;
}

bool TTarvoDeviceAntP::Connect()
{
    TAntComControl *control = FAntComControl;
    if (control == nullptr)
        throw Exception("Error: no AntComControl assigned");
    if (control->AntDllState() != dllLoaded)
        control->LoadDll();
    control->ScanDevices(ScanBaudRate, ScanCount, control->AntDeviceList());
    if (control->AntDeviceList()->Count() == 0) {
        DoUsbNotFound();
        return false;
    }
    FSelectedAntDevice.store(nullptr, std::memory_order_release);
    TAntDevice *device = OpenFirstDevice();
    FSelectedAntDevice.store(device, std::memory_order_release);
    if (device == nullptr || !device->Connected())
        throw Exception("Error: not able to connect with the Usb Ant device");

    control->OnConnectChannelHandled = [this](TObject *, TConnectChannelThread *Sequencer) {
        DoConnectChannelHandled(Sequencer);
    };
    control->OnConnectChannelTimeOut = [this](TObject *, TConnectChannelThread *Sequencer) {
        DoConnectChannelTimeOut(Sequencer);
    };
    const int32_t index = control->AntDeviceList()->AntDeviceItems()->IndexOf(device);
    ConnectHeartRateChannel(device, index);
    ConnectTrainerChannel(device, index);
    ConnectConsoleChannel(device, index);
    return true;
}

void TTarvoDeviceAntP::BindCommonHandlers(TAntChannel *Channel)
{
    Channel->OnChannelDeviceNumber = [this](TObject *Sender) {
        HandleChannelDeviceNumber(static_cast<TAntChannel *>(Sender));
    };
    Channel->OnDisconnected = [this](TObject *Sender) { HandleChannelDisconnected(static_cast<TAntChannel *>(Sender)); };
    Channel->OnConnected = [this](TObject *Sender) { HandleChannelConnected(static_cast<TAntChannel *>(Sender)); };
}

void TTarvoDeviceAntP::ConnectHeartRateChannel(TAntDevice *Device, int32_t DeviceIndex)
{
    TAntChannel *channel = ChannelHR();
    if (channel == nullptr)
        return;
    FAntComControl->Log("HR connection....------------------------------------------");
    channel->SetAntDeviceId(DeviceIndex);
    BindCommonHandlers(channel);
    channel->OnHeartConnectionLost = [this](TObject *Sender) {
        HandleChannelConnectionLost(static_cast<TAntChannel *>(Sender));
    };
    channel->SetConnectedOnEventRx(FChannelHRConnectedOnEventRx);
    channel->OnEventRxBroadCastReceived = [this](TObject *Sender) {
        HandleEventRxBroadCastReceived(static_cast<TAntChannel *>(Sender));
    };
    // Neither EnableHr nor HeartEnabled keeps the strap's channel from connecting.
    FAntComControl->ConnectChannel(Device, channel);
    WaitChannelDeviceNumber(channel);
    FAntComControl->Log("");
}

void TTarvoDeviceAntP::ConnectTrainerChannel(TAntDevice *Device, int32_t DeviceIndex)
{
    TAntChannel *channel = ChannelTrainer();
    if (channel == nullptr)
        return;
    FAntComControl->Log("Trainer Connection....------------------------------------------");
    channel->SetWheelDiameter(static_cast<int32_t>(Round(FDiameter)));
    channel->SetAntDeviceId(DeviceIndex);
    BindCommonHandlers(channel);
    channel->SetConnectedOnEventRx(FChannelTrainerConnectedOnEventRx);
    channel->OnEventRxBroadCastReceived = [this](TObject *Sender) {
        HandleEventRxBroadCastReceived(static_cast<TAntChannel *>(Sender));
    };
    channel->OnRxFailGoToSearch = [this](TObject *Sender) {
        HandleChannelRxFailGoToSearch(static_cast<TAntChannel *>(Sender));
    };
    channel->OnCalibrationStatus = [this](TObject *, TAntCalibrationStatus Status) { DoCalibrationStatus(Status); };
    channel->OnDataPage = [this](TObject *Sender, const TDataPagePayload &Page) {
        HandleTrainerDataPage(static_cast<TAntChannel *>(Sender), Page);
    };
    FAntComControl->ConnectChannel(Device, channel);
    WaitChannelDeviceNumber(channel);
    FAntComControl->Log("");
}

void TTarvoDeviceAntP::ConnectConsoleChannel(TAntDevice *Device, int32_t DeviceIndex)
{
    TAntChannel *channel = ChannelConsole();
    if (channel == nullptr)
        return;
    FAntComControl->Log("Console Connection....------------------------------------------");
    channel->SetAntDeviceId(DeviceIndex);
    BindCommonHandlers(channel);
    channel->OnConsoleConnectionLost = [this](TObject *Sender) {
        HandleChannelConnectionLost(static_cast<TAntChannel *>(Sender));
    };
    channel->OnConsoleKeyDown = [this](TObject *, TConsoleKey Key) { DoConsoleKeyDown(Key); };
    channel->SetConnectedOnEventRx(FChannelConsoleConnectedOnEventRx);
    channel->OnEventRxBroadCastReceived = [this](TObject *Sender) {
        HandleEventRxBroadCastReceived(static_cast<TAntChannel *>(Sender));
    };
    if (FConsoleEnable)
        FAntComControl->ConnectChannel(Device, channel);
    // Waited for even when the console is off: the number may still be known.
    WaitChannelDeviceNumber(channel);
}

void TTarvoDeviceAntP::ForgetChannel(TAntChannel *Channel)
{
    switch (Channel->AntChannelProfile()) {
    case acpAntHR: SetChannelHR(nullptr); break;
    case acpAntFE: SetChannelTrainer(nullptr); break;
    case acpAntConsole: SetChannelConsole(nullptr); break;
    default: break;
    }
}

void TTarvoDeviceAntP::Disconnect()
{
    // While the trainer channel can still carry the cancel.
    EndTrainerCalibration(ChannelTrainer(), TTrainerCalibrationRun::DisconnectedText);
    TAntComControl *control = FAntComControl;
    if (control != nullptr) {
        TAntChannelList *channels = control->AntChannelList();
        // Every channel of the list, also those others added; a handler run by the pauses
        // may change the list, so the position is checked again each round.
        for (int i = channels->Count() - 1; i >= 0; --i) {
            if (i >= channels->Count())
                continue;
            TAntChannel *channel = channels->Items(i);
            channel->DisableConnectChannelThread();
            ForgetChannel(channel);
            control->CloseChannel(channel);
            PumpMessages(DisconnectPauseMs);
            control->DeleteChannel(channel);
            PumpMessages(DisconnectPauseMs);
        }
        ReleaseDevicesWhenNoChannelLeft();
    }
    MarkDisconnected();
}

void TTarvoDeviceAntP::ReleaseDevicesWhenNoChannelLeft()
{
    TAntComControl *control = FAntComControl;
    if (control->AntChannelList()->Count() != 0)
        return;
    TAntDeviceList *devices = control->AntDeviceList();
    for (int i = devices->Count() - 1; i >= 0; --i) {
        TAntDevice *device = devices->Items(i);
        control->ReleaseDevice(device);
        // The shared selection must not outlive the device it names.
        TAntDevice *expected = device;
        FSelectedAntDevice.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
        delete device;
    }
}
