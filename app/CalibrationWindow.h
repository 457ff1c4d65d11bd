#pragma once
// The calibration window: connects to the trainer, steps through the calibration points and
// shows the measured speed on a 0 to 50 km/h scale.
//
// The class is spread over three files:
//   CalibrationLayout.cpp    widgets, their captions and places, the device's design values
//   CalibrationHandlers.cpp  the handlers, in the order of the procedure
//   CalibrationScale.cpp     the scale marks, the arrow and the circumference conversion
//
// Every handler runs on the user-interface thread. Device events reach it through the device
// event bridge, which queues those raised on the ANT library's thread without waiting (the
// library never waits for the window).
#include "app/DebugMemo.h"
#include "app/LogLines.h"
#include "device/TarvoDeviceAntP.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <mutex>

class TDeviceEventBridge;
class THeaderMenu;
class TResultsRecorder;
#include <string>
#include <vector>

// The red pointer under the scale.
class TArrowWidget : public QWidget {
public:
    explicit TArrowWidget(QWidget *Parent);

protected:
    void paintEvent(QPaintEvent *Event) override;
};

class TForm1 : public QWidget {
public:
    static constexpr int ClientWidth = 314;
    static constexpr int ClientHeight = 246;
    static constexpr int DefaultWatchdogMs = 30000;

    TForm1();
    ~TForm1() override;

    // ---- elements ---------------------------------------------------------------------------
    QFrame *Shape3;
    QLabel *Image1;
    QFrame *shp1;
    QPushButton *Button1;
    QPushButton *Button2;
    QPushButton *Button3;
    QLabel *lblCirc;
    QLineEdit *editCirc;
    QLabel *lblSpeed;
    QLabel *lblTarget;
    QFrame *Shape1;
    QFrame *Shape2;
    TArrowWidget *VrArrow1;
    QLabel *Label1;
    QLabel *Label2;
    QPushButton *Button5;
    QPushButton *Button4;
    TDebugMemo *Memo1;
    QTimer *Timer1;

    TTarvoDeviceAntP *TarvoDeviceANT1() const { return FDevice.get(); }
    // The device's events as signals on the user-interface thread, for every window.
    TDeviceEventBridge *DeviceEvents() const { return FDeviceEvents; }
    // The header band's menu: the windows beyond calibration.
    THeaderMenu *HeaderMenu() const { return FHeaderMenu; }
    // This session's results and the history file.
    TResultsRecorder *Results() const { return FResults; }
    // The memo's lines: the controller and the trainer channel write here from any thread.
    TLogLines &MemoLines() { return FMemoLines; }
    // The newest lines the debug memo keeps; --log keeps them all.
    static constexpr int MemoLineLimit = 5000;

    bool IgnoreSettings() const { return FIgnoreSettings; }
    static bool TwoPointMode() { return FTwoPointMode; }
    // The watchdog's interval from Connect on; tests shorten it.
    int WatchdogIntervalMs = DefaultWatchdogMs;

    // ---- handlers ---------------------------------------------------------------------------
    void FormCreate();
    void FormKeyDown(int Key, Qt::KeyboardModifiers Shift);
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button5Click();
    void Button4Click();
    void TarvoDeviceANT1ChannelConnected(TObject *Sender, TAntChannel *Channel);
    void TarvoDeviceANT1ConnectChannelTimeOut(TObject *Sender, TConnectChannelThread *Sequencer);
    void TarvoDeviceANT1Stats(TObject *Sender);
    void Timer1Timer();
    // A trainer calibration ended: the watchdog gives the rider a full interval again.
    void TrainerCalibrationChanged();

    // ---- operations -------------------------------------------------------------------------
    void set_range(double X);
    void set_arrow(double X);
    static int64_t CircumferenceToDiameter(int64_t Circumference);

protected:
    void paintEvent(QPaintEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void CreateHeader();
    void CreatePointControls();
    void CreateScale();
    void CreateFooter();
    void ApplyDeviceDesignValues();
    void BindDeviceEvents();
    void ConnectSteps();
    void ConnectDevice();
    void ConnectedSteps();
    // AlwaysSend: give the trainer the level even when the device already holds it.
    void ApplyPoint(int Point, bool AlwaysSend);
    void CloseIfRequested();
    void ApplyCircumference();
    void QueueMemoLine(const std::string &Line);
    void FollowMemoLines(bool Shown);
    void FlushMemoLines();

    // Marks the device's Connect or Disconnect as running for as long as it lives.
    class TDeviceOperation {
    public:
        explicit TDeviceOperation(bool &Busy) : FBusy(Busy) { FBusy = true; }
        ~TDeviceOperation() { FBusy = false; }
        TDeviceOperation(const TDeviceOperation &) = delete;
        TDeviceOperation &operator=(const TDeviceOperation &) = delete;

    private:
        bool &FBusy;
    };

    bool FIgnoreSettings = false;
    // The device's Connect or Disconnect is running; both process messages while they wait.
    bool FDeviceBusy = false;
    // Close was pressed while FDeviceBusy: it is carried out when that operation returns.
    bool FCloseRequested = false;
    // Why the library could use no stick at the last Connect; empty when it said nothing.
    std::string FStickFailure;
    static bool FTwoPointMode;
    TLogLines FMemoLines;
    std::unique_ptr<TTarvoDeviceAntP> FDevice;
    TDeviceEventBridge *FDeviceEvents = nullptr;
    THeaderMenu *FHeaderMenu = nullptr;
    TResultsRecorder *FResults = nullptr;
    // A trainer calibration was running at the last look.
    bool FTrainerCalibrationRan = false;
    std::mutex FMemoLock;
    std::vector<std::string> FMemoPending;
    bool FMemoFollowing = false; // under FMemoLock
    const QEvent *FLastKey = nullptr;
    QPointer<QWidget> FLastKeyTarget;
};
