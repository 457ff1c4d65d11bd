#pragma once
// A trainer device on the recording fake library: its controller loads no real library, the
// heart-rate, FE-C and console channels are added as the calibration window adds them, and a
// thread of its own plays the library's callback thread.
#include "../ant/FakeAntLib.h"
#include "../ant/LogLines.h"
#include "TestSupport.h"

#include "ant/AntComControl.h"
#include "ant/CallbackBuffers.h"
#include "device/TarvoDeviceAntP.h"
#include "framework/Strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TFakeLibraryControl : public TAntComControl {
public:
    using TAntComControl::TAntComControl;

protected:
    bool LoadLibrary() override { return true; }
    bool FreeLibrary() override { return true; }
};

struct TarvoDeviceFixture : ::testing::Test {
    // First, so they outlive the device and whatever it raises while it goes.
    mutable std::mutex FRaisedMutex;
    std::vector<std::string> FRaised;
    TFakeAntLib Lib;
    TTarvoDeviceAntP Device{nullptr};
    TFakeLibraryControl *Control = new TFakeLibraryControl(&Device);
    TStringList Log;
    TAntChannel *HR = nullptr;
    TAntChannel *Trainer = nullptr;
    TAntChannel *Console = nullptr;
    // The device's events by name, from whichever thread raised them.
    std::vector<std::string> Raised() const
    {
        std::lock_guard<std::mutex> lock(FRaisedMutex);
        return FRaised;
    }
    void Note(std::string Name)
    {
        std::lock_guard<std::mutex> lock(FRaisedMutex);
        FRaised.push_back(std::move(Name));
    }
    void ClearRaised()
    {
        std::lock_guard<std::mutex> lock(FRaisedMutex);
        FRaised.clear();
    }

    void SetUp() override
    {
        TFakeAntLib::Result = true;
        TFakeAntLib::DevicesPresent = 1;
        Device.SetAntComControl(Control);
        Control->SetLogStrings(&Log);
        Control->SetDebugMode(true);
        Control->SetDelay(0);
        HR = Device.AddChannel(acpAntHR);
        Trainer = Device.AddChannel(acpAntFE);
        Console = Device.AddChannel(acpAntConsole);
        HR->SetChannelNumber(0);
        Trainer->SetChannelNumber(1);
        Console->SetChannelNumber(2);
        auto note = [this](const char *Name) { return [this, Name](TObject *) { Note(Name); }; };
        auto noteChannel = [this](const char *Name) {
            return [this, Name](TObject *, TAntChannel *Channel) {
                Note(std::string(Name) + " " + IntName(Channel));
            };
        };
        Device.OnConnected = note("Connected");
        Device.OnDisconnected = note("Disconnected");
        Device.OnUsbNotFound = note("UsbNotFound");
        Device.OnHrConnectionLost = note("HrConnectionLost");
        Device.OnConsoleConnectionLost = note("ConsoleConnectionLost");
        Device.OnChannelConnected = noteChannel("ChannelConnected");
        Device.OnChannelDisconnection = noteChannel("ChannelDisconnection");
        Device.OnChannelConnectionLost = noteChannel("ChannelConnectionLost");
        Device.OnChannelDeviceNumber = noteChannel("ChannelDeviceNumber");
        Device.OnChannelRxFailGoToSearch = noteChannel("ChannelRxFailGoToSearch");
    }

    void TearDown() override
    {
        TFakeAntLib::Result = true;
        TFakeAntLib::DevicesPresent = -1;
    }

    std::string IntName(const TAntChannel *Channel) const
    {
        if (Channel == HR)
            return "HR";
        if (Channel == Trainer)
            return "FE";
        if (Channel == Console)
            return "Console";
        return "other";
    }

    // Runs Work on a thread of its own, as the library runs its callbacks, and waits for it.
    template <class F>
    static void OnLibraryThread(F Work)
    {
        std::thread library(Work);
        library.join();
    }

    // Whether the library has been handed the channel's event callback (the first step of
    // its connection sequence). The fake's lock orders everything the user-interface thread
    // did before it, the device's bindings included, before what the caller does next.
    bool EventCallbackRegistered(const TAntChannel *Channel) const
    {
        for (const TFakeAntCall &call : Lib.Calls("ANT_AssignChannelEventFunction"))
            if (call.Args[0] == Channel->ChannelNumber() && call.Args[1] == 1)
                return true;
        return false;
    }

    // Connect while a library thread answers each channel's channel id as soon as the channel
    // has registered its callbacks.
    bool ConnectLearning(uint16_t HRNumber, uint16_t TrainerNumber, uint16_t ConsoleNumber)
    {
        std::atomic<bool> stop{false};
        std::thread library([&] {
            struct Pending {
                TAntChannel *Channel;
                uint16_t Number;
                bool Done;
            } pending[] = {{HR, HRNumber, false}, {Trainer, TrainerNumber, false}, {Console, ConsoleNumber, false}};
            while (!stop.load()) {
                for (Pending &p : pending) {
                    if (p.Done || !EventCallbackRegistered(p.Channel))
                        continue;
                    p.Channel->SetDeviceNumber(p.Number);
                    p.Channel->SetChannelDeviceNumberReceived(true);
                    p.Channel->TriggerChannelDeviceNumber();
                    p.Done = true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        bool result = false;
        try {
            result = Device.Connect();
        } catch (...) {
            stop = true;
            library.join();
            throw;
        }
        stop = true;
        library.join();
        return result;
    }

    // The channel's event callback with its own receive row, as the controller wires it.
    void WireEvents(TAntChannel *Channel)
    {
        Channel->SetRxBufferIndex(RxBuffers().AddRow());
        Channel->SetDoChannelEventFunction(true);
    }

    int Count(const std::string &Tail) const { return LogLinesEndingWith(Log, Tail); }
};
