#include "TarvoDeviceFixture.h"

#include "framework/Exception.h"

#include <functional>

namespace {

using Strings = std::vector<std::string>;

std::string ErrorOf(const std::function<void()> &Work)
{
    try {
        Work();
    } catch (const Exception &e) {
        return e.Message();
    }
    return "";
}

// The log lines from the first that ends with First on, without their time stamps.
Strings LinesFrom(const TStringList &Log, const std::string &First)
{
    Strings lines;
    bool on = false;
    for (int i = 0; i < Log.Count(); ++i) {
        std::string line = Log[i];
        const size_t blank = line.find(' ');
        std::string text = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        on = on || text == First;
        if (on)
            lines.push_back(text);
    }
    return lines;
}

// Only the lines the device itself writes.
Strings DeviceLines(const Strings &Lines)
{
    Strings mine;
    for (const std::string &l : Lines)
        if (l.empty() || l.find("Connection....") != std::string::npos || l.find("connection....") != std::string::npos ||
            l.rfind("ChannelDeviceNumberReceived ch", 0) == 0)
            mine.push_back(l);
    return mine;
}

} // namespace

TEST_F(TarvoDeviceFixture, ConnectLogsEachChannelAndLearnsTheThreeNumbers)
{
    EXPECT_TRUE(ConnectLearning(1111, 2222, 3333));

    EXPECT_EQ(Device.HRDeviceNumber(), 1111);
    EXPECT_EQ(Device.DeviceNumber(), 2222);
    EXPECT_EQ(Device.ConsoleDeviceNumber(), 3333);
    EXPECT_EQ(Raised(), (Strings{"ChannelDeviceNumber HR", "ChannelDeviceNumber FE", "ChannelDeviceNumber Console"}));
    // Connecting is not being connected: that waits for the trainer channel.
    EXPECT_FALSE(Device.Connected());
    EXPECT_EQ(Device.SelectedAntDevice(), Control->AntDeviceList()->Items(0));

    const Strings lines = DeviceLines(LinesFrom(Log, "HR connection....------------------------------------------"));
    EXPECT_EQ(lines, (Strings{"HR connection....------------------------------------------",
                              "ChannelDeviceNumberReceived ch 0, DeviceNumber", "",
                              "Trainer Connection....------------------------------------------",
                              "ChannelDeviceNumberReceived ch 1, DeviceNumber", "",
                              "Console Connection....------------------------------------------",
                              "ChannelDeviceNumberReceived ch 2, DeviceNumber"}));
    Device.Disconnect();
}

TEST_F(TarvoDeviceFixture, ConnectGivesTheChannelsTheDeviceAndTheWindowsSettings)
{
    Device.SetDiameter(700.5); // ties go to the even neighbour
    Device.SetChannelTrainerConnectedOnEventRx(true);
    Device.SetConsoleEnable(false);
    Device.SetEnableHr(false);
    ASSERT_TRUE(ConnectLearning(1, 2, 3));

    EXPECT_EQ(Trainer->WheelDiameter(), 700);
    EXPECT_TRUE(Trainer->ConnectedOnEventRx());
    EXPECT_FALSE(HR->ConnectedOnEventRx());
    for (TAntChannel *ch : {HR, Trainer, Console})
        EXPECT_EQ(ch->AntDeviceId(), 0);
    // The strap connects whatever EnableHr says; the console only when enabled, and its
    // number is still waited for (and never comes).
    EXPECT_NE(HR->ConnectChannelThread(), nullptr);
    EXPECT_NE(Trainer->ConnectChannelThread(), nullptr);
    EXPECT_EQ(Console->ConnectChannelThread(), nullptr);
    EXPECT_EQ(Device.ConsoleDeviceNumber(), 0);
    EXPECT_EQ(Count("Console Connection....------------------------------------------"), 1);
    Device.Disconnect();
}

TEST_F(TarvoDeviceFixture, NoUsbDeviceIsReportedAndStartsNothing)
{
    TFakeAntLib::DevicesPresent = 0;
    EXPECT_FALSE(Device.Connect());
    EXPECT_EQ(Raised(), Strings{"UsbNotFound"});
    EXPECT_EQ(Count("HR connection....------------------------------------------"), 0);
    for (TAntChannel *ch : {HR, Trainer, Console}) {
        EXPECT_EQ(ch->ConnectChannelThread(), nullptr);
        EXPECT_FALSE(static_cast<bool>(ch->OnConnected));
    }
}

TEST_F(TarvoDeviceFixture, NoDeviceThatOpensRaisesAndLeavesTheChannelsAlone)
{
    TFakeAntLib::Result = false; // the scan finds device 0; ANT_ResetSystem then fails
    EXPECT_EQ(ErrorOf([&] { Device.Connect(); }), "Error: not able to connect with the Usb Ant device");
    EXPECT_EQ(Control->AntDeviceList()->Count(), 1);
    EXPECT_EQ(Device.SelectedAntDevice(), nullptr);
    EXPECT_FALSE(static_cast<bool>(Control->OnConnectChannelHandled));
    for (TAntChannel *ch : {HR, Trainer, Console}) {
        EXPECT_EQ(ch->ConnectChannelThread(), nullptr);
        EXPECT_FALSE(static_cast<bool>(ch->OnConnected));
    }
}

TEST_F(TarvoDeviceFixture, OnlyTheTrainerChannelConnectsTheDevice)
{
    ASSERT_TRUE(ConnectLearning(1, 2, 3));
    ClearRaised();
    // A broadcast that connects a channel arrives on the library's thread.
    OnLibraryThread([&] { HR->SetConnected(true); });
    EXPECT_FALSE(Device.Connected());
    OnLibraryThread([&] { Trainer->SetConnected(true); });
    EXPECT_TRUE(Device.Connected());
    OnLibraryThread([&] { Console->SetConnected(true); });
    EXPECT_EQ(Raised(), (Strings{"ChannelConnected HR", "Connected", "ChannelConnected FE", "ChannelConnected Console"}));
    Device.Disconnect();
}

TEST_F(TarvoDeviceFixture, ALostTrainerZeroesItsValuesAndTheDeviceStaysConnected)
{
    ASSERT_TRUE(ConnectLearning(1, 2, 3));
    Trainer->SetConnected(true);
    Device.SetSpeed(31.5);
    Device.SetAverageSpeed(28);
    Device.SetCadence(90);
    Device.SetAverageCadence(85);
    Device.SetMaxCadence(101);
    Device.SetAuxValue1(4);
    Device.SetAuxValue3(5);
    Device.SetHeartRate(140);
    ClearRaised();

    OnLibraryThread([&] { Trainer->SetConnected(false); });

    EXPECT_EQ(Device.Speed(), 0);
    EXPECT_EQ(Device.AverageSpeed(), 0);
    EXPECT_EQ(Device.Cadence(), 0);
    EXPECT_EQ(Device.AverageCadence(), 0);
    EXPECT_EQ(Device.MaxCadence(), 0);
    EXPECT_EQ(Device.Power(), 0);
    EXPECT_EQ(Device.AuxValue1(), 0);
    EXPECT_EQ(Device.AuxValue3(), 0);
    EXPECT_EQ(Device.HeartRate(), 140);
    EXPECT_TRUE(Device.Connected());
    EXPECT_EQ(Raised(), (Strings{"Disconnected", "ChannelDisconnection FE"}));
    Device.Disconnect();
}

TEST_F(TarvoDeviceFixture, ChannelsBackToSearchRaiseTheirLossesInOrder)
{
    ASSERT_TRUE(ConnectLearning(1, 2, 3));
    for (TAntChannel *ch : {HR, Trainer, Console}) {
        WireEvents(ch);
        ch->SetConnected(true);
    }
    Device.SetHeartRate(150);
    Device.SetMaxHeartRate(170);
    Device.SetAverageHeartRate(140);
    Device.SetSpeed(20);
    ClearRaised();

    constexpr uint8_t RxFailGoToSearch = 0x08;
    OnLibraryThread([&] { HR->ChannelEventFunc(HR->ChannelNumber(), RxFailGoToSearch); });
    EXPECT_EQ(Raised(), (Strings{"HrConnectionLost", "ChannelDisconnection HR", "ChannelConnectionLost HR"}));
    EXPECT_EQ(Device.HeartRate(), 0);
    EXPECT_EQ(Device.MaxHeartRate(), 0);
    EXPECT_EQ(Device.AverageHeartRate(), 0);

    ClearRaised();
    OnLibraryThread([&] { Console->ChannelEventFunc(Console->ChannelNumber(), RxFailGoToSearch); });
    EXPECT_EQ(Raised(),
              (Strings{"ConsoleConnectionLost", "ChannelDisconnection Console", "ChannelConnectionLost Console"}));

    ClearRaised();
    OnLibraryThread([&] { Trainer->ChannelEventFunc(Trainer->ChannelNumber(), RxFailGoToSearch); });
    EXPECT_EQ(Raised(), Strings{"ChannelRxFailGoToSearch FE"});
    EXPECT_TRUE(Device.Connected());
    EXPECT_EQ(Device.Speed(), 20);
    Device.Disconnect();
}

TEST_F(TarvoDeviceFixture, DisconnectDeletesEveryChannelAndThenReleasesTheDevice)
{
    TAntChannel *other = Control->AntChannelList()->Add(); // not the device's own
    other->SetAntChannelProfile(acpAntSC);
    other->SetChannelNumber(3);
    ASSERT_TRUE(ConnectLearning(1, 2, 3));
    Trainer->SetConnected(true);
    std::vector<int> closed;
    Control->OnChannelClosing = [&](TObject *, TAntChannel *ch) { closed.push_back(ch->ChannelNumber()); };
    ClearRaised();

    Device.Disconnect();

    EXPECT_EQ(closed, (std::vector<int>{3, 2, 1, 0}));
    EXPECT_EQ(Control->AntChannelList()->Count(), 0);
    EXPECT_EQ(Device.ChannelHR(), nullptr);
    EXPECT_EQ(Device.ChannelTrainer(), nullptr);
    EXPECT_EQ(Device.ChannelConsole(), nullptr);
    EXPECT_EQ(Control->AntDeviceList()->Count(), 0);
    EXPECT_EQ(Device.SelectedAntDevice(), nullptr);
    EXPECT_EQ(Count("Done AntDevice released."), 1);
    EXPECT_FALSE(Device.Connected());
    // The trainer's closing is a disconnection too; the device's own comes last.
    const Strings raised = Raised();
    ASSERT_FALSE(raised.empty());
    EXPECT_EQ(raised.back(), "Disconnected");
}

TEST_F(TarvoDeviceFixture, DisconnectKeepsTheDeviceWhileAChannelIsLeft)
{
    ASSERT_TRUE(ConnectLearning(1, 2, 3));
    bool added = false;
    // Someone adds a channel while the device is deleting its own.
    Control->OnChannelDeleting = [&](TObject *, TAntChannel *) {
        if (!added)
            Control->AntChannelList()->Add()->SetAntChannelProfile(acpAntCad);
        added = true;
    };

    Device.Disconnect();

    EXPECT_EQ(Control->AntChannelList()->Count(), 1);
    EXPECT_EQ(Control->AntDeviceList()->Count(), 1);
    EXPECT_EQ(Count("Done AntDevice released."), 0);
    EXPECT_FALSE(Device.Connected());
}

TEST(TarvoDeviceController, AControllerFreedElsewhereIsForgotten)
{
    TTarvoDeviceAntP device(nullptr);
    TAntComControl *own = device.AntComControl();
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->Owner(), &device);
    auto *other = new TAntComControl(nullptr);
    device.SetAntComControl(other);
    delete other;
    EXPECT_EQ(device.AntComControl(), nullptr);
}

TEST(TarvoDeviceController, AddChannelRemembersTheThreeProfilesOnly)
{
    TTarvoDeviceAntP device(nullptr);
    TAntChannel *first = device.AddChannel(acpAntFE);
    TAntChannel *second = device.AddChannel(acpAntFE);
    TAntChannel *pedal = device.AddChannel(acpAntUlmoraPA);
    EXPECT_EQ(device.ChannelTrainer(), second);
    EXPECT_EQ(first->AntChannelProfile(), acpAntFE);
    EXPECT_EQ(pedal->AntChannelProfile(), acpAntUlmoraPA);
    EXPECT_EQ(device.ChannelHR(), nullptr);
    EXPECT_EQ(device.ChannelConsole(), nullptr);
    EXPECT_EQ(device.AntComControl()->AntChannelList()->Count(), 3);
}
