// The trainer device on the whole stack: the real library with its in-process virtual stick
// and the built-in scenario (one FE-C trainer, device number 4242, a rider at 150 W), driven
// the way the calibration window drives it.
#include "../ant/LogLines.h"
#include "TestSupport.h"

#include "ant/AntComControl.h"
#include "device/TarvoDeviceAntP.h"
#include "framework/Strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>

namespace {

// Pumps the user-interface thread until Done or the time is up.
bool PumpFor(const std::function<bool()> &Done, int Ms)
{
    const auto start = TestClock::now();
    while (!Done()) {
        if (MsSince(start) > Ms)
            return false;
        PumpMessages(10);
    }
    return true;
}

// The window's design-time values, then what its Connect sets before calling the device.
void SetUpAsTheWindow(TTarvoDeviceAntP &Device, TStringList &Log)
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

} // namespace

TEST(TarvoDeviceVirtualStick, TheTrainerConnectsAndDisconnectLeavesNothingBehind)
{
    ::unsetenv("FENNICK_ANT_SERIAL");
    ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
    ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);

    TStringList log;
    TTarvoDeviceAntP device(nullptr);
    std::atomic<int> trainerConnected{0};
    std::atomic<int> timeOuts{0};
    device.OnChannelConnected = [&](TObject *, TAntChannel *Channel) {
        if (Channel->AntChannelProfile() == acpAntFE)
            ++trainerConnected;
    };
    device.OnConnectChannelTimeOut = [&](TObject *, TConnectChannelThread *) { ++timeOuts; };
    SetUpAsTheWindow(device, log);
    TAntComControl *control = device.AntComControl();

    device.Connect();
    ASSERT_TRUE(PumpFor([&] { return trainerConnected.load() > 0; }, 20000)) << "the trainer never connected\n" << log.Text();
    EXPECT_TRUE(device.Connected());
    EXPECT_EQ(trainerConnected.load(), 1);
    EXPECT_EQ(device.DeviceNumber(), 4242);
    EXPECT_EQ(timeOuts.load(), 0);
    ASSERT_EQ(control->AntDeviceList()->Count(), 1);

    std::atomic<int> afterwards{0};
    device.Disconnect();
    control->OnChannelMessage = [&](TObject *, TAntChannel *, uint8_t) { ++afterwards; };
    control->OnResponseMessage = [&](TObject *, TAntChannel *, uint8_t) { ++afterwards; };

    EXPECT_FALSE(device.Connected());
    EXPECT_EQ(control->AntChannelList()->Count(), 0);
    EXPECT_EQ(control->AntDeviceList()->Count(), 0);
    EXPECT_EQ(device.ChannelTrainer(), nullptr);
    EXPECT_EQ(device.SelectedAntDevice(), nullptr);
    EXPECT_EQ(LogLinesEndingWith(log, "Done AntDevice released."), 1);
    // The stick stays quiet: nothing reaches the controller once everything is gone.
    PumpMessages(1000);
    EXPECT_EQ(afterwards.load(), 0);
}
