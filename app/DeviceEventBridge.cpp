#include "app/DeviceEventBridge.h"

#include "platform/UiThread.h"

TDeviceEventBridge::TDeviceEventBridge(TTarvoDeviceAntP &Device, QObject *Parent)
    : QObject(Parent), FShared(std::make_shared<TShared>())
{
    FShared->Bridge = this;
    Bind(Device);
}

TDeviceEventBridge::~TDeviceEventBridge()
{
    FShared->Bridge = nullptr;
}

void TDeviceEventBridge::Bind(TTarvoDeviceAntP &Device)
{
    const TSharedPtr s = FShared;
    Device.OnStats = [s](TObject *) { OnUiThread(s, [](TDeviceEventBridge &b) { emit b.Stats(); }); };
    Device.OnChannelConnected = [s](TObject *, TAntChannel *Channel) {
        OnUiThread(s, [Channel](TDeviceEventBridge &b) { emit b.ChannelConnected(Channel); });
    };
    Device.OnConnectChannelTimeOut = [s](TObject *, TConnectChannelThread *Sequencer) {
        OnUiThread(s, [Sequencer](TDeviceEventBridge &b) { emit b.ConnectChannelTimeOut(Sequencer); });
    };
    Device.OnCalibrationStatus = [s](TObject *, TAntCalibrationStatus Status) {
        OnUiThread(s, [Status](TDeviceEventBridge &b) { emit b.CalibrationStatus(Status); });
    };
    Device.OnTrainerCalibrationChange = [s](TObject *) { QueueTrainerCalibrationChange(s); };
}

void TDeviceEventBridge::OnUiThread(const TSharedPtr &Shared, std::function<void(TDeviceEventBridge &)> Emit)
{
    if (IsUiThread()) {
        if (TDeviceEventBridge *bridge = Shared->Bridge)
            Emit(*bridge);
        return;
    }
    PostToUiThread([Shared, Emit = std::move(Emit)] {
        if (TDeviceEventBridge *bridge = Shared->Bridge)
            Emit(*bridge);
    });
}

void TDeviceEventBridge::QueueTrainerCalibrationChange(const TSharedPtr &Shared)
{
    // The trainer's pages change the view several times a second and the windows read the
    // newest view when the signal arrives: one pending signal is enough.
    if (Shared->CalibrationChangeQueued.exchange(true))
        return;
    PostToUiThread([Shared] {
        Shared->CalibrationChangeQueued = false;
        if (TDeviceEventBridge *bridge = Shared->Bridge)
            emit bridge->TrainerCalibrationChanged();
    });
}
