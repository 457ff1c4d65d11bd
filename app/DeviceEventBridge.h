#pragma once
// The trainer device's events, bound once and re-emitted as Qt signals on the user-interface
// thread. Each device event holds a single handler: every window connects to the bridge
// instead, so a second window cannot silently unhook the first.
//
// Events raised on the user-interface thread are emitted at once; events raised on another
// thread (the ANT library's callback thread, the channel message thread) are queued to it
// without waiting. A queued event for a bridge that is gone is dropped.
#include "device/TarvoDeviceAntP.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

// Handed on, never looked into, by the signals.
Q_DECLARE_OPAQUE_POINTER(TConnectChannelThread *)

class TDeviceEventBridge : public QObject {
    Q_OBJECT

public:
    // Takes over the device's events. Either may go first: the handlers left on the device
    // hold no reference to the bridge, and what they queue for a bridge that is gone is dropped.
    explicit TDeviceEventBridge(TTarvoDeviceAntP &Device, QObject *Parent = nullptr);
    ~TDeviceEventBridge() override;

signals:
    void Stats();
    // The channel may have been deleted before a queued signal arrived: compare it with the
    // device's channels before using it.
    void ChannelConnected(TAntChannel *Channel);
    void ConnectChannelTimeOut(TConnectChannelThread *Sequencer);
    void CalibrationStatus(TAntCalibrationStatus Status);
    // Coalesced: one signal for a burst of changes; read the device's view when it arrives.
    void TrainerCalibrationChanged();

private:
    // What the device's handlers share with the bridge; outlives both.
    struct TShared {
        std::atomic<TDeviceEventBridge *> Bridge;
        std::atomic<bool> CalibrationChangeQueued{false};
    };
    using TSharedPtr = std::shared_ptr<TShared>;

    void Bind(TTarvoDeviceAntP &Device);
    // Runs `Emit` on the user-interface thread: at once there, otherwise queued.
    static void OnUiThread(const TSharedPtr &Shared, std::function<void(TDeviceEventBridge &)> Emit);
    static void QueueTrainerCalibrationChange(const TSharedPtr &Shared);

    TSharedPtr FShared;
};
