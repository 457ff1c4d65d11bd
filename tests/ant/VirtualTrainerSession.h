#pragma once
// The controller on the real library and its in-process virtual stick, with an FE-C channel
// connected the way the application connects it. The stick's host log says what the trainer
// was given; every acknowledged send the channel makes is recorded on the way to the library.
// Used by the integration tests and the latency bench; the UI thread is the caller's.
#include "../antsim/HostLog.h"
#include "ant/AntComControl.h"
#include "ant/binding/AntLib.h"
#include "ant/channels/TrainerCommands.h"
#include "framework/Strings.h"
#include "platform/UiThread.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace vts {

using Clock = std::chrono::steady_clock;
using TPage = std::array<uint8_t, 8>;

using ::THostPage;

// What the library was asked to send, in call order, from whichever thread.
struct TSendRecord {
    std::mutex Mutex;
    std::vector<TPage> Pages;
    bool (*Real)(uint8_t, const uint8_t *) = nullptr;
};

inline TSendRecord &Sends()
{
    static TSendRecord record;
    return record;
}

inline bool RecordingSendAcknowledged(uint8_t channel, const uint8_t *data8)
{
    TSendRecord &r = Sends();
    {
        std::lock_guard lock(r.Mutex);
        TPage page;
        std::memcpy(page.data(), data8, page.size());
        r.Pages.push_back(page);
    }
    return r.Real(channel, data8);
}

// Pumps the UI thread until Done() or the limit; true when Done() came true.
inline bool Pump(const std::function<bool()> &Done, int LimitMs)
{
    const auto start = Clock::now();
    while (!Done()) {
        if (Clock::now() - start > std::chrono::milliseconds(LimitMs))
            return false;
        PumpMessages(2);
    }
    return true;
}

class TVirtualTrainerSession {
public:
    // ScenarioExtra: more scenario lines after the trainer and the rider.
    explicit TVirtualTrainerSession(const std::string &Name, const std::string &ScenarioExtra = "")
    {
        const std::string dir = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
        const std::string stem = dir + "/fennick-" + Name + "-" + std::to_string(::getpid());
        FScenarioPath = stem + ".scenario";
        FLogPath = stem + ".hostlog";
        std::remove(FLogPath.c_str());
        std::ofstream(FScenarioPath) << "seed 3\ntrainer 4242\nrider 0 150 85\nhost_log " << FLogPath << "\n"
                                     << ScenarioExtra;
        ::unsetenv("FENNICK_ANT_SERIAL");
        ::setenv("FENNICK_VIRTUAL_TRAINER", FScenarioPath.c_str(), 1);
        ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
        Ctl.SetDelay(0);
        Ctl.SetLogStrings(&Log);
        Ctl.SetDebugMode(true);
        Ctl.LoadDll();
        if (!Ctl.DllLoaded())
            return;
        TAntFunctions table = AntFunctions();
        Sends().Real = table.ANT_SendAcknowledgedData;
        table.ANT_SendAcknowledgedData = &RecordingSendAcknowledged;
        SetAntFunctionsForTesting(table);
        Device = Ctl.AntDeviceList()->Add();
        const int stick = VirtualStickIndex();
        if (stick < 0)
            return;
        Device->SetDeviceNum(uint8_t(stick));
        Ch = Ctl.AntChannelList()->Add();
        Ch->SetAntChannelProfile(acpAntFE);
        Ch->SetChannelNumber(0);
        Ch->SetDelay(5);
        Ch->SetLogStrings(&Log);
        Ch->SetDebugMode(true);
        Ch->OnChannelEvent = [this](TObject *, uint8_t, uint8_t ucEvent) { NoteEvent(ucEvent); };
        Ctl.OnChannelConnected = [this](TObject *, TAntChannel *) {
            ConnectedAt = Clock::now();
            if (OnConnected)
                OnConnected();
        };
    }

    ~TVirtualTrainerSession()
    {
        if (Ch != nullptr && Ch->Connected())
            Ctl.CloseChannel(Ch);
        if (Ctl.DllLoaded()) {
            if (Device != nullptr)
                Ctl.ReleaseDevice(Device);
            Ctl.UnloadDll();
        }
        {
            std::lock_guard lock(Sends().Mutex);
            Sends().Pages.clear();
        }
        std::remove(FScenarioPath.c_str());
        std::remove(FLogPath.c_str());
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
        ::unsetenv("FENNICK_ANT_LIBRARY");
    }

    bool Ready() const { return Ch != nullptr; }

    // Connects the channel through the controller and pumps until the sequencer completed.
    bool Connect(int LimitMs = 10000)
    {
        Ctl.ConnectChannel(Device, Ch);
        return Pump([this] { return Ch->Connected(); }, LimitMs);
    }

    // Every line of the host log so far.
    std::vector<THostPage> HostPages() const { return ReadHostLog(FLogPath); }
    // The acknowledged pages the trainer took, in order.
    std::vector<TPage> AcknowledgedPages() const
    {
        std::vector<TPage> out;
        for (const THostPage &p : HostPages())
            if (p.Acknowledged)
                out.push_back(p.Page);
        return out;
    }
    static std::vector<TPage> SentPages()
    {
        std::lock_guard lock(Sends().Mutex);
        return Sends().Pages;
    }

    // Acknowledged pages the trainer sent to us (0x9B), with the number of verdicts heard.
    std::vector<TPage> PagesFromTrainer()
    {
        std::lock_guard lock(FEventMutex);
        return FFromTrainer;
    }
    int EventsHeard(uint8_t ucEvent)
    {
        std::lock_guard lock(FEventMutex);
        int n = 0;
        for (uint8_t e : FEvents)
            n += e == ucEvent;
        return n;
    }

    TAntComControl Ctl{nullptr};
    TStringList Log;
    TAntDevice *Device = nullptr;
    TAntChannel *Ch = nullptr;
    // Runs inside the controller's channel-connected event, on the UI thread.
    std::function<void()> OnConnected;
    Clock::time_point ConnectedAt{};

private:
    static int VirtualStickIndex()
    {
        uint8_t product[256], serial[256];
        for (int n = 0; n < 32; ++n) {
            if (!TAntLib::ANT_GetDeviceUSBInfo(uint8_t(n), product, serial))
                return -1;
            if (std::strcmp(reinterpret_cast<char *>(product), "Fennick virtual ANT stick") == 0)
                return n;
        }
        return -1;
    }

    // Library's thread.
    void NoteEvent(uint8_t ucEvent)
    {
        TPage page{};
        if (ucEvent == 0x9B) {
            const TAntRxRow row = Ch->ReceiveRow();
            std::memcpy(page.data(), row.data() + 1, page.size());
        }
        std::lock_guard lock(FEventMutex);
        FEvents.push_back(ucEvent);
        if (ucEvent == 0x9B)
            FFromTrainer.push_back(page);
    }

    std::string FScenarioPath;
    std::string FLogPath;
    std::mutex FEventMutex;
    std::vector<uint8_t> FEvents;
    std::vector<TPage> FFromTrainer;
};

} // namespace vts
