// The trainer device on the whole stack: the real library with its in-process virtual stick
// and the built-in scenario (one FE-C trainer, device number 4242, a rider at 150 W), driven
// the way the calibration window drives it.
#include "../ant/LogLines.h"
#include "TarvoVirtualStick.h"

#include "ant/AntComControl.h"
#include "device/TarvoDeviceAntP.h"
#include "framework/Strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

using tvs::PumpFor;
using tvs::SetUpAsTheWindow;

TEST(TarvoDeviceVirtualStick, TheTrainerConnectsAndDisconnectLeavesNothingBehind)
{
    ::unsetenv("FENNICK_ANT_SERIAL");
    ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
    ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);

    TStringList log;
    TTarvoDeviceAntP device(nullptr);
    std::atomic<int> trainerConnected{0};
    std::atomic<int> timeOuts{0};
    device.OnConnectChannelTimeOut = [&](TObject *, TConnectChannelThread *) { ++timeOuts; };
    // Whatever the device raises once Disconnect has returned is a callback too many.
    std::atomic<bool> disconnected{false};
    std::atomic<int> deviceEventsAfterwards{0};
    auto late = [&] {
        if (disconnected.load())
            ++deviceEventsAfterwards;
    };
    device.OnChannelConnected = [&](TObject *, TAntChannel *Channel) {
        late();
        if (Channel->AntChannelProfile() == acpAntFE)
            ++trainerConnected;
    };
    device.OnChannelDisconnection = [&](TObject *, TAntChannel *) { late(); };
    device.OnChannelDeviceNumber = [&](TObject *, TAntChannel *) { late(); };
    device.OnEventRxBroadCastReceived = [&](TObject *, TAntChannel *) { late(); };
    device.OnChannelRxFailGoToSearch = [&](TObject *, TAntChannel *) { late(); };
    device.OnChannelConnectionLost = [&](TObject *, TAntChannel *) { late(); };
    device.OnHrConnectionLost = [&](TObject *) { late(); };
    device.OnConsoleConnectionLost = [&](TObject *) { late(); };
    device.OnConnectChannelHandled = [&](TObject *, TConnectChannelThread *) { late(); };
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
    disconnected = true;
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
    EXPECT_EQ(deviceEventsAfterwards.load(), 0);
}
