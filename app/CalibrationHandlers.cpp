#include "app/CalibrationWindow.h"

#include "app/CalibrationSettings.h"
#include "app/Dialogs.h"
#include "app/HeaderMenu.h"
#include "app/ResultsRecorder.h"
#include "app/WaitDlg.h"
#include "ant/binding/AntLib.h"
#include "framework/Exception.h"
#include "framework/SysUtils.h"

namespace {

constexpr uint8_t DesertScheme = 1;

void ShowWait(const std::string &Message)
{
    ShowWaitDialog(Message, false, true, DesertScheme);
}

bool HasCircumferenceField(int32_t UnitType)
{
    return UnitType == 13 || UnitType == 17;
}

struct TPoint {
    int32_t Speed;
    int32_t Level;
    bool FromStore;
};

} // namespace

void TForm1::FormCreate()
{
    if (ReadUnitType() != 0 && ReadSpeedA() != 0) {
        FTwoPointMode = true;
        Button3->hide();
        Button1->setText("PA");
        Button2->setText("PB");
    } else {
        FTwoPointMode = false;
    }
    ShowMessage("Click on connect and wait the connection !! ");
}

void TForm1::FormKeyDown(int Key, Qt::KeyboardModifiers Shift)
{
    const Qt::KeyboardModifiers states = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    if (Key == Qt::Key_O && (Shift & states) == Qt::ControlModifier) {
        FIgnoreSettings = true;
        ShowMessage("Virel Settings Ignored!");
    }
}

void TForm1::Button1Click()
{
    RunHandler([this] { ApplyPoint(1, false); });
}

void TForm1::Button2Click()
{
    RunHandler([this] { ApplyPoint(2, false); });
}

void TForm1::Button3Click()
{
    RunHandler([this] { ApplyPoint(3, false); });
}

void TForm1::ApplyPoint(int Point, bool AlwaysSend)
{
    static constexpr TPoint Defaults[] = {{20, 107, false}, {30, 61, false}, {40, 0, false}};
    TPoint p = Defaults[Point - 1];
    if (!FIgnoreSettings) {
        if (FTwoPointMode)
            p = Point == 1 ? TPoint{ReadSpeedA(), ReadResistA(), true} : TPoint{ReadSpeedB(), ReadResistB(), true};
        else
            p = {ReadSpeed(Point), ReadResist(Point), true};
    }
    set_range(p.Speed);
    std::string target = "Target Speed: " + IntToStr(p.Speed);
    if (p.FromStore && Point != 1)
        target += "      R->" + IntToStr(p.Level);
    lblTarget->setText(QString::fromStdString(target));
    Label2->setText(QString::fromStdString("R->" + IntToStr(p.Level)));
    FResults->PointApplied(FTwoPointMode ? (Point == 1 ? "PA" : "PB") : "P" + std::to_string(Point), p.Level, p.Speed);
    const bool unchanged = FDevice->TarvoResistance() == p.Level;
    FDevice->SetTarvoResistance(p.Level);
    // The device sends a level only when it changes, and a level stored before the trainer
    // channel existed was never sent: the trainer would ride the first point on its old brake.
    if (AlwaysSend && unchanged && FDevice->ResistanceMode() != rmAntUlmora)
        FDevice->SendResistanceLevel(static_cast<uint8_t>(p.Level & 0xFF));
    if (Point != 3 && editCirc->isVisible() && HasCircumferenceField(ReadUnitType()))
        ApplyCircumference();
}

void TForm1::ApplyCircumference()
{
    const int32_t circumference = StrToInt(editCirc->text().toStdString());
    FDevice->SetDiameter(static_cast<double>(CircumferenceToDiameter(circumference)));
}

void TForm1::Button5Click()
{
    if (FDeviceBusy)
        return;
    if (FHeaderMenu)
        FHeaderMenu->BeforeConnect();
    RunHandler([this] {
        try {
            ConnectSteps();
        } catch (...) {
            // Nothing else leads back from a failed Connect: the user gets the window again to
            // retry or to close.
            HideWaitDialog();
            throw;
        }
    });
    CloseIfRequested();
}

void TForm1::ConnectSteps()
{
    ShowWait("Start to pedal and Wait Connection....");
    const int32_t unitType = ReadUnitType();
    if (unitType != 0 && !FIgnoreSettings) {
        // One read after the other: when both values are bad, the device number's error is the
        // one the rider sees.
        const std::string deviceNumber = IntToStr(ReadDeviceNumber());
        const std::string diameter = FloatToStr(ReadDiameter());
        Label1->setText(QString::fromStdString("DN = " + deviceNumber + " RD = " + diameter +
                                               " UT = " + FloatToStr(unitType) + " EPT = n.d."));
    } else {
        FIgnoreSettings = true;
        Label1->setText("- No installed software -");
    }
    TTarvoDeviceAntP &d = *FDevice;
    if (!d.ChannelHR())
        d.AddChannel(acpAntHR);
    if (!d.ChannelTrainer())
        d.AddChannel(acpAntFE);
    if (!d.ChannelConsole())
        d.AddChannel(acpAntConsole);
    TAntComControl *control = d.AntComControl();
    control->SetUseGlobalResponseFunction(false);
    control->SetDebugMode(true);
    control->SetLogStrings(&FMemoLines);
    d.SetDiameter(659.0);
    control->SetDelay(100);
    d.SetDeviceNumber(FIgnoreSettings ? 0 : static_cast<uint16_t>(ReadDeviceNumber()));
    d.SetHeartEnabled(false);
    d.SetConsoleEnable(false);
    TAntChannel *trainer = d.ChannelTrainer();
    if (!trainer->Connected()) {
        trainer->SetDeviceNumber(d.DeviceNumber());
        trainer->SetDebugMode(true);
        trainer->SetLogStrings(&FMemoLines);
        trainer->SetChannelNumber(1);
        trainer->SetSearchTimeout(10);
        trainer->SetLowPrioritySearchTimeout(0);
    }
    d.SetEnableHr(false);
    d.SetConsoleEnable(false);
    d.SetChannelTrainerConnectedOnEventRx(true);
    ConnectDevice();
    if (FCloseRequested)
        return;
    Timer1->setInterval(WatchdogIntervalMs);
    Timer1->start();
}

void TForm1::ConnectDevice()
{
    // Started from the desktop, the user never sees the library's standard error: its reason
    // for not using a stick goes into the box as details.
    bool found = false;
    try {
        const TDeviceOperation connecting(FDeviceBusy);
        found = FDevice->Connect();
    } catch (const Exception &e) {
        const std::string reason = AntLastErrorText();
        if (reason.empty())
            throw;
        throw EErrorWithDetails(e.Message(), reason);
    }
    // No stick listed: the watchdog tells the user in the end, with the reason if there is one.
    FStickFailure = found ? std::string() : AntLastErrorText();
}

void TForm1::TarvoDeviceANT1ChannelConnected(TObject *, TAntChannel *Channel)
{
    if (Channel->AntChannelProfile() != acpAntFE)
        return;
    RunHandler([this] {
        try {
            ConnectedSteps();
        } catch (...) {
            // The rider is pedalling behind a wait dialog that nothing else would take down.
            HideWaitDialog();
            throw;
        }
    });
}

void TForm1::ConnectedSteps()
{
    if (HasCircumferenceField(ReadUnitType())) {
        ApplyCircumference();
        lblCirc->show();
        editCirc->show();
    }
    FDevice->SetTimerStatsInterval(1000);
    FDevice->Start();
    HideWaitDialog();
    // P1 on the rider's behalf, as its click does, but the level always reaches the trainer.
    RunHandler([this] { ApplyPoint(1, true); });
    Button5->setEnabled(false);
}

void TForm1::TarvoDeviceANT1ConnectChannelTimeOut(TObject *, TConnectChannelThread *)
{
    RunHandler([this] {
        ShowMessage("TRainer Not Found");
        Button5->setEnabled(true);
    });
}

void TForm1::TarvoDeviceANT1Stats(TObject *)
{
    FlushMemoLines();
    RunHandler([this] {
        const double speed = FDevice->Speed();
        set_arrow(speed);
        lblSpeed->setText(QString::fromStdString(Format("Speed %.1f", {speed})));
    });
}

void TForm1::Timer1Timer()
{
    // Connect restarts the watchdog when it returns; a tick inside it would end the ride it is
    // setting up.
    if (FDeviceBusy)
        return;
    RunHandler([this] {
        // A spin-down ends at a standstill and a zero offset asks for one, while the trainer's
        // pages plainly arrive: the trainer is found.
        if (FDevice->Speed() != 0 || FDevice->TrainerCalibrationRunning())
            return;
        Timer1->stop();
        {
            const TDeviceOperation disconnecting(FDeviceBusy);
            FDevice->Disconnect();
        }
        // The rider pressed Close meanwhile: the application ends as Close ends it.
        if (FCloseRequested)
            return;
        HideWaitDialog();
        ShowMessage("Trainer Not Found, close the software and try again.", FStickFailure);
        close();
    });
    CloseIfRequested();
}

void TForm1::TrainerCalibrationChanged()
{
    const bool running = FDevice->TrainerCalibrationRunning();
    // The wheel is still at the end of a run: the next tick must not come a moment later.
    if (FTrainerCalibrationRan && !running && Timer1->isActive())
        Timer1->start();
    FTrainerCalibrationRan = running;
}

void TForm1::Button4Click()
{
    // Connect and Disconnect process messages while they wait; a Close that ran inside them
    // would delete the channels they are working on. It is carried out when they return.
    if (FDeviceBusy) {
        FCloseRequested = true;
        return;
    }
    FCloseRequested = false;
    RunHandler([this] {
        // Disconnecting zeroes the speed: a watchdog tick inside Close's waits would tell the
        // user the trainer was not found.
        Timer1->stop();
        FDevice->SetTarvoResistance(0);
        ShowWait("Disconnection ...please wait!");
        if (FDevice->Connected()) {
            const TDeviceOperation disconnecting(FDeviceBusy);
            FDevice->Disconnect();
        }
        close();
        HideWaitDialog();
    });
    // A Close pressed again inside this one's waits is done with it.
    FCloseRequested = false;
}

void TForm1::CloseIfRequested()
{
    if (FCloseRequested)
        Button4Click();
}
