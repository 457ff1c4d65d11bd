#include "FakeAntLib.h"
#include "LogLines.h"

#include "ant/AntComControl.h"
#include "framework/Strings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The library itself is replaced by a switch; its functions by the recording table.
class TTestControl : public TAntComControl {
public:
    using TAntComControl::TAntComControl;
    bool LoadResult = true;
    bool FreeResult = true;

protected:
    bool LoadLibrary() override { return LoadResult; }
    bool FreeLibrary() override { return FreeResult; }
};

struct LibraryFixture : ::testing::Test {
    TFakeAntLib Lib;
    TTestControl Ctl{nullptr};
    TStringList Log;
    std::vector<TAntDllState> States;
    std::vector<TDisconnectStep> Steps;
    void SetUp() override
    {
        Ctl.SetLogStrings(&Log);
        Ctl.SetDebugMode(true);
        Ctl.SetDelay(0);
        Ctl.OnAntDllStateChange = [this](TObject *, TAntDllState s) { States.push_back(s); };
        Ctl.OnAntDisconnecting = [this](TObject *, TDisconnectStep s) { Steps.push_back(s); };
    }
    int Count(const std::string &tail) const { return LogLinesEndingWith(Log, tail); }
    template <class F>
    static std::string Raised(F f)
    {
        try {
            f();
        } catch (const Exception &e) {
            return e.Message();
        }
        return "";
    }
};

} // namespace

TEST_F(LibraryFixture, LoadReportsStatesAndVersion)
{
    Ctl.LoadResult = false;
    Ctl.LoadDll();
    EXPECT_FALSE(Ctl.DllLoaded());
    EXPECT_EQ(Ctl.AntDllState(), dllLoadError);
    EXPECT_EQ(Count("Error loading Dll."), 1);
    EXPECT_EQ(Raised([&] { Ctl.ScanDevices(57600, 4, Ctl.AntDeviceList()); }), "Ant DLL not loaded");
    EXPECT_EQ(Raised([&] { Ctl.UnloadDll(); }), "Ant Dll not loaded");

    Ctl.LoadResult = true;
    TFakeAntLib::LibVersion = 0x1241; // 'A'
    Ctl.LoadDll();
    EXPECT_TRUE(Ctl.DllLoaded());
    EXPECT_FALSE(Ctl.Busy());
    EXPECT_EQ(Ctl.AntLibVersion(), "A (65 41)");
    EXPECT_EQ(Count("AntLibVersion = A (65 41)"), 1);
    EXPECT_EQ(States, (std::vector<TAntDllState>{dllLoading, dllLoadError, dllLoading, dllLoaded}));
    EXPECT_EQ(Raised([&] { Ctl.LoadDll(); }), "Ant Dll already loaded");
}

TEST_F(LibraryFixture, UnloadWalksItsStepsAndReportsAFailedFree)
{
    TAntChannel *ch = Ctl.AntChannelList()->Add();
    ch->SetDoResponseFunction(true);
    ch->SetDoChannelEventFunction(true);
    Ctl.LoadDll();
    States.clear();
    Ctl.FreeResult = false;
    EXPECT_FALSE(Ctl.UnloadDll());
    EXPECT_TRUE(Ctl.DllLoaded());
    EXPECT_EQ(Ctl.AntDllState(), dllLoaded) << "the event reports the error, the state stays";
    EXPECT_EQ(States, (std::vector<TAntDllState>{dllUnloadError}));
    EXPECT_EQ(Steps, (std::vector<TDisconnectStep>{adsRemoveResponseFunctions, adsRemoveChannelEventFunctions,
                                                   adsUnassignAllResponseFunctions, adsDone}));
    EXPECT_EQ(Count("Error unloading Ant Dll."), 1);
    EXPECT_FALSE(ch->DoResponseFunction());
    EXPECT_FALSE(ch->DoChannelEventFunction());
    EXPECT_EQ(Lib.Calls("ANT_UnassignAllResponseFunctions").size(), 1u);

    Ctl.FreeResult = true;
    Steps.clear();
    States.clear();
    EXPECT_TRUE(Ctl.UnloadDll());
    EXPECT_FALSE(Ctl.DllLoaded());
    EXPECT_EQ(Ctl.AntDllState(), dllUnloaded);
    EXPECT_EQ(States, (std::vector<TAntDllState>{dllUnloaded}));
    EXPECT_EQ(Steps.back(), adsDone);
    EXPECT_EQ(Count("Remove ANT_AssignChannelEventFunction  of all channels"), 2);
}

TEST_F(LibraryFixture, AFailedInitLogsTheLibrarysReasonLineByLine)
{
    Ctl.LoadDll();
    TAntDeviceList *list = Ctl.AntDeviceList();
    TFakeAntLib::DevicesPresent = 0;
    TFakeAntLib::LastErrorText = "no permission to open the ANT USB stick on bus 001 device 004.\n"
                                 "install the udev rule packaging/99-fennick-ant.rules:";
    Ctl.ScanDevices(57600, 2, list);
    EXPECT_EQ(Count("Error with ANT_Init"), 1);
    EXPECT_EQ(Count("ANT library: no permission to open the ANT USB stick on bus 001 device 004."), 1);
    EXPECT_EQ(Count("ANT library: install the udev rule packaging/99-fennick-ant.rules:"), 1);

    // Connecting to a listed stick that then fails says why too.
    TAntDevice *device = list->Add();
    Log.Clear();
    EXPECT_FALSE(Ctl.ConnectDevice(device));
    EXPECT_EQ(Count("Error with ANT_Init"), 1);
    EXPECT_EQ(Count("ANT library: install the udev rule packaging/99-fennick-ant.rules:"), 1);
    TFakeAntLib::LastErrorText.clear();
    TFakeAntLib::DevicesPresent = -1;
}

TEST_F(LibraryFixture, ScanListsEveryDeviceThatAnswers)
{
    Ctl.LoadDll();
    TAntDeviceList *list = Ctl.AntDeviceList();
    list->Add();
    TFakeAntLib::DevicesPresent = 0;
    Ctl.ScanDevices(57600, 4, list);
    EXPECT_EQ(list->Count(), 0);
    EXPECT_EQ(Count("Error with ANT_Init"), 1) << "only index 0 is reported";
    for (int i = 0; i < Log.Count(); ++i)
        EXPECT_EQ(std::string(Log[i]).find("ANT library:"), std::string::npos) << "nothing to tell, nothing added";
    EXPECT_EQ(Lib.Calls("ANT_Init").size(), 4u);
    EXPECT_EQ(Lib.Calls("ANT_Close").size(), 4u);
    EXPECT_EQ(Count("Done scanning for ANT devices."), 1);

    // Five devices with a count of four: the scan goes on while devices answer.
    Lib.Clear();
    TFakeAntLib::DevicesPresent = 5;
    Ctl.ScanDevices(57600, 4, list);
    ASSERT_EQ(list->Count(), 5);
    EXPECT_EQ(list->Items(4)->DeviceNum(), 4);
    EXPECT_EQ(list->Items(1)->DeviceSerial(), "SER1");
    EXPECT_EQ(list->Items(1)->DeviceDescription(), "ANT USB-m Stick 1");
    EXPECT_EQ(list->Items(1)->DevicePID(), 0x08);
    EXPECT_EQ(Count("DevicePID = 4104 ($1008)"), 5);
    EXPECT_EQ(Lib.Calls("ANT_Init").size(), 6u);

    // Every index answering: the scan ends after the last byte-sized device number.
    Lib.Clear();
    TFakeAntLib::DevicesPresent = -1;
    TFakeAntLib::UsbPidResult = true;
    Ctl.ScanDevices(57600, 4, list);
    EXPECT_EQ(list->Count(), 256);
}

TEST_F(LibraryFixture, FailedUsbQueries)
{
    Ctl.LoadDll();
    TAntDeviceList *list = Ctl.AntDeviceList();
    TFakeAntLib::DevicesPresent = 1;
    TFakeAntLib::UsbInfoResult = false;
    Ctl.ScanDevices(57600, 2, list);
    EXPECT_EQ(list->Count(), 0);
    EXPECT_EQ(Count("Error with ANT_GetDeviceUSBInfo"), 1);
    TFakeAntLib::UsbInfoResult = true;
    TFakeAntLib::UsbPidResult = false;
    Ctl.ScanDevices(57600, 2, list);
    EXPECT_EQ(list->Count(), 1) << "a device without its product id is listed";
    EXPECT_EQ(Count("Error with ANT_GetDeviceUSBPID"), 1);
}

TEST_F(LibraryFixture, ConnectAndReleaseDevice)
{
    TAntDevice *device = Ctl.AntDeviceList()->Add();
    device->SetDeviceNum(1);
    EXPECT_EQ(Raised([&] { Ctl.ConnectDevice(device); }), "Ant DLL not loaded");
    Ctl.LoadDll();
    TFakeAntLib::DevicesPresent = 1;
    EXPECT_FALSE(Ctl.ConnectDevice(device));
    EXPECT_TRUE(Lib.Calls("ANT_ResetSystem").empty()) << "no reset after a failed init";
    EXPECT_EQ(Count("Error connecting to ANT device."), 1);

    TFakeAntLib::DevicesPresent = 2;
    EXPECT_TRUE(Ctl.ConnectDevice(device));
    EXPECT_TRUE(device->Connected());
    EXPECT_EQ(device->InitStep(), 3);
    EXPECT_EQ(Lib.Calls("ANT_Init").back().Args, (std::vector<int>{1, 57600}));
    EXPECT_EQ(Count("Done connecting to ANT device."), 1);
    Lib.Clear();
    EXPECT_EQ(Raised([&] { Ctl.ConnectDevice(device); }), "aAntDevice.Connected: Connected. Disconnect first.");
    EXPECT_TRUE(Lib.Calls().empty());

    TAntChannel *ch = Ctl.AntChannelList()->Add();
    ch->SetDoResponseFunction(true);
    device->SetDeviceSerial("SER1");
    EXPECT_TRUE(Ctl.ReleaseDevice(device));
    EXPECT_FALSE(ch->DoResponseFunction());
    EXPECT_EQ(Steps, (std::vector<TDisconnectStep>{adsRemoveResponseFunctions, adsRemoveChannelEventFunctions}));
    EXPECT_EQ(Count("Releasing AntDevice SER1 ..."), 1);
    EXPECT_EQ(Lib.Calls().back().Name, "ANT_Close");
    EXPECT_TRUE(Lib.Calls("ANT_UnassignAllResponseFunctions").empty());
}
