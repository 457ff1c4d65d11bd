#pragma once
// The calibration window's way of setting the trainer device up before it connects: its
// design-time values, then what its Connect sets. Shared by the tests and the benches.
#include "ant/AntComControl.h"
#include "device/TarvoDeviceAntP.h"
#include "framework/Strings.h"

namespace tvs {

// The window's design-time values, then what its Connect sets before calling the device.
inline void SetUpAsTheWindow(TTarvoDeviceAntP &Device, TStringList &Log)
{
    Device.SetRiderWeight(0);
    Device.SetTimerStatsInterval(0);
    Device.SetTimeToleranceMs(0);
    Device.SetHighPowerReduceCoefficient(1);
    Device.SetHighPowerReduceCoefficientMinimum(0.25);
    Device.SetVirtualSpeedAttenuation(1);
    Device.SetDeviceNumber(101);
    Device.AddChannel(acpAntHR);
    Device.AddChannel(acpAntFE);
    Device.AddChannel(acpAntConsole);

    TAntComControl *control = Device.AntComControl();
    control->SetUseGlobalResponseFunction(false);
    control->SetDebugMode(true);
    control->SetLogStrings(&Log);
    Device.SetDiameter(659.0);
    control->SetDelay(100);
    Device.SetDeviceNumber(0); // no settings installed: any trainer
    Device.SetHeartEnabled(false);
    Device.SetConsoleEnable(false);
    TAntChannel *trainer = Device.ChannelTrainer();
    trainer->SetDeviceNumber(Device.DeviceNumber());
    trainer->SetDebugMode(true);
    trainer->SetLogStrings(&Log);
    trainer->SetChannelNumber(1);
    trainer->SetSearchTimeout(10);
    trainer->SetLowPrioritySearchTimeout(0);
    Device.SetEnableHr(false);
    Device.SetConsoleEnable(false);
    Device.SetChannelTrainerConnectedOnEventRx(true);
}

} // namespace tvs
