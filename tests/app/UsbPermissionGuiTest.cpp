// Connect with the real ANT library and a USB stick (emulated by umockdev) whose device node
// the user may not open: the window shows the system's message and the udev fix in its details.
#include "app/CalibrationWindow.h"
#include "app/WaitDlg.h"

#include "DialogRecorder.h"
#include "GuiTestApp.h"
#include "HiveFile.h"
#include "platform/UiThread.h"
#include "tests/antlib/EmulatedUsbStick.h"
#include "tests/antlib/WithoutFileOverride.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace {

TEST(UsbPermissionGuiTest, ConnectWithAStickTheUserMayNotOpenShowsTheUdevFixInTheDetails)
{
    GuiTestApp();
    ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
    ::unsetenv("FENNICK_VIRTUAL_TRAINER");
    ::unsetenv("FENNICK_ANT_SERIAL");
    THiveFile hive;
    TDialogRecorder dialogs;
    fennick::test::EmulatedUsbStick::Options options;
    options.deniedToUser = true;
    fennick::test::EmulatedUsbStick stick(options);
    ASSERT_EQ(stick.setupError(), "");
    fennick::test::WithoutFileOverride asAUser;

    auto window = std::make_unique<TForm1>();
    window->WatchdogIntervalMs = 200;
    window->show();
    ProcessMessages();
    const size_t before = dialogs.Shown.size();
    window->Button5->click();
    const auto start = std::chrono::steady_clock::now();
    while (window->isVisible() && dialogs.Shown.size() == before &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        PumpMessages(10);
    ASSERT_GT(dialogs.Shown.size(), before) << "no message box after Connect";

    // The library lists the stick but cannot open it; the watchdog ends the wait with the
    // window's own message, and the box's details carry the reason and the fix.
    const TDialogRecorder::TShown &last = dialogs.Shown.back();
    EXPECT_EQ(last.Kind, TDialogRecorder::dkMessage);
    EXPECT_EQ(last.Text, "Trainer Not Found, close the software and try again.");
    EXPECT_NE(last.Details.find("no permission to open the ANT USB stick on bus 001 device 002"),
              std::string::npos) << last.Details;
    EXPECT_NE(last.Details.find("install the udev rule packaging/99-fennick-ant.rules"),
              std::string::npos) << last.Details;
    EXPECT_NE(last.Details.find("sudo udevadm control --reload-rules"), std::string::npos)
        << last.Details;
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(stick.claimed());
    HideWaitDialog();
    window.reset();
}

} // namespace
