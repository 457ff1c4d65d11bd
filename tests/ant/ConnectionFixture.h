#pragma once
// The whole connection through the real library: the controller loads it, scans, opens the
// virtual stick (or a serial one) and walks each channel through its sequence, while the
// user-interface thread is pumped as the application's message loop would be.
#include "LogLines.h"

#include "ant/AntComControl.h"
#include "ant/ThreadChannelMsg.h"
#include "ant/channels/AntChannels.h"
#include "framework/Strings.h"
#include "../antrequests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

struct ConnectionFixture : ::testing::Test {
    TStringList Log;
    std::unique_ptr<TAntComControl> Ctl;
    TAntDevice *Device = nullptr;
    std::filesystem::path ScenarioDir;
    std::atomic<int> MessagesOffUiThread{0};
    std::atomic<int> Messages{0};
    const std::thread::id UiThread = std::this_thread::get_id();

    static void SetUpTestSuite()
    {
        ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
        // Any key is accepted by the virtual devices when these are unset.
        ::unsetenv("FENNICK_ANTPLUS_NETWORK_KEY");
        ::unsetenv("FENNICK_PUBLIC_NETWORK_KEY");
    }

    void TearDown() override
    {
        Stop();
        if (HasFailure())
            for (const std::string &line : Log.ToVector())
                std::fprintf(stderr, "  log: %s\n", line.c_str());
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
        ::unsetenv("FENNICK_ANT_SERIAL");
        if (!ScenarioDir.empty())
            std::filesystem::remove_all(ScenarioDir);
    }

    // Writes the scenario to a fresh directory and offers it as the only stick.
    void UseScenario(const std::string &Text)
    {
        char dir[] = "/tmp/fennick-connection-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        ScenarioDir = dir;
        const auto file = ScenarioDir / "scenario.txt";
        std::ofstream(file) << Text;
        ::unsetenv("FENNICK_ANT_SERIAL");
        ::setenv("FENNICK_VIRTUAL_TRAINER", file.c_str(), 1);
    }

    // Loads the library, scans and opens the first stick whose description matches.
    void Open(const std::string &Description)
    {
        Ctl = std::make_unique<TAntComControl>(nullptr);
        Ctl->SetLogStrings(&Log);
        Ctl->SetDebugMode(true);
        Ctl->SetDelay(10);
        Ctl->OnChannelMessage = [this](TObject *, TAntChannel *, uint8_t) {
            ++Messages;
            if (std::this_thread::get_id() != UiThread)
                ++MessagesOffUiThread;
        };
        Ctl->LoadDll();
        ASSERT_TRUE(Ctl->DllLoaded());
        Ctl->ScanDevices(57600, 1, Ctl->AntDeviceList());
        for (int i = 0; i < Ctl->AntDeviceList()->Count(); ++i)
            if (Ctl->AntDeviceList()->Items(i)->DeviceDescription() == Description)
                Device = Ctl->AntDeviceList()->Items(i);
        ASSERT_NE(Device, nullptr) << "no stick named " << Description;
        ASSERT_TRUE(Ctl->ConnectDevice(Device));
    }
    void OpenVirtualStick(const std::string &Scenario)
    {
        UseScenario(Scenario);
        Open("Fennick virtual ANT stick");
    }

    TAntChannel *AddChannel(TAntChannelProfile Profile, uint8_t Number, uint16_t DeviceNumber)
    {
        TAntChannel *ch = Ctl->AntChannelList()->Add();
        ch->SetAntChannelProfile(Profile);
        ch->SetChannelNumber(Number);
        ch->SetDeviceNumber(DeviceNumber);
        ch->SetDelay(10);
        ch->SetDebugMode(true);
        ch->SetLogStrings(&Log);
        return ch;
    }

    // Connects and pumps until the sequence completed and, for a wildcard channel, the
    // remote device number came back: the next channel's registration takes the library's
    // one response callback.
    bool ConnectAndWait(TAntChannel *Ch, int LimitMs = 5000)
    {
        const bool wildcard = Ch->DeviceNumber() == 0;
        Ctl->ConnectChannel(Device, Ch);
        return PumpUntil([&] { return Ch->Connected() && (!wildcard || Ch->ChannelDeviceNumberReceived()); },
                         LimitMs);
    }

    // Releases the stick and the library; bounded by the controller's own delays.
    void Stop()
    {
        if (!Ctl)
            return;
        if (Device && Ctl->DllLoaded())
            Ctl->ReleaseDevice(Device);
        if (Ctl->DllLoaded())
            Ctl->UnloadDll();
        Ctl.reset();
        Device = nullptr;
    }

    int Count(const std::string &Tail) const { return LogLinesEndingWith(Log, Tail); }
    bool LogHas(const std::string &Tail) const { return Count(Tail) > 0; }
    // Lines ending with Tail that come after the first line ending with After.
    bool LogHasAfter(const std::string &After, const std::string &Tail) const
    {
        bool seen = false;
        for (const std::string &line : Log.ToVector()) {
            const auto ends = [&](const std::string &t) {
                return line.size() >= t.size() && line.compare(line.size() - t.size(), t.size(), t) == 0;
            };
            if (seen && ends(Tail))
                return true;
            seen = seen || ends(After);
        }
        return false;
    }
};
