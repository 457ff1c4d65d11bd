// The device search through the real library and its in-process virtual stick.
#include "ant/AntComControl.h"
#include "ant/AntDevices.h"
#include "ant/binding/AntLib.h"
#include "antwire/TraceLine.h"
#include "discovery/DeviceDiscovery.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const char *const kWorld = "seed 5\n"
                           "trainer 100 manufacturer=89 model=2875 serial=123456\n"
                           "trainer 200 manufacturer=32 model=4 period=8180 transmission=7\n"
                           "trainer 300 manufacturer=86 model=12 period=8200\n"
                           "hr 77 manufacturer=1\n"
                           "hr 78 transmission=3\n"
                           "rider 0 150 85\n";

// Points the library at a scenario and a trace, both removed again at the end.
class TDiscoveryWorld {
public:
    TDiscoveryWorld(const std::string &Name, const std::string &Scenario)
    {
        const std::string dir = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
        const std::string stem = dir + "/fennick-" + Name + "-" + std::to_string(::getpid());
        FScenario = stem + ".scenario";
        Trace = stem + ".trace";
        std::ofstream(FScenario) << Scenario;
        ::unsetenv("FENNICK_ANT_SERIAL");
        ::setenv("FENNICK_VIRTUAL_TRAINER", FScenario.c_str(), 1);
        ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
        ::setenv("FENNICK_ANT_TRACE", Trace.c_str(), 1);
    }
    ~TDiscoveryWorld()
    {
        std::remove(FScenario.c_str());
        std::remove(Trace.c_str());
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
        ::unsetenv("FENNICK_ANT_TRACE");
    }
    std::string Trace;

private:
    std::string FScenario;
};

bool WaitUntil(const std::function<bool()> &Done, std::chrono::milliseconds Limit)
{
    const auto end = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

const TDiscoveredDevice *Find(const std::vector<TDiscoveredDevice> &List, TDiscoveredKind Kind, uint16_t Number)
{
    for (const auto &d : List)
        if (d.Kind == Kind && d.DeviceNumber == Number)
            return &d;
    return nullptr;
}

// Channels the stick still has assigned or open at the end of a trace, from its own answers.
std::map<int, std::string> ChannelsLeft(const std::string &TracePath)
{
    std::map<int, std::string> left;
    std::ifstream in(TracePath);
    std::string text;
    while (std::getline(in, text)) {
        antwire::TraceLine line;
        if (antwire::parseTraceLine(text, line) != antwire::TraceParse::Frame ||
            line.direction != antwire::TraceDirection::StickToHost || line.frame.size() < 7 || line.frame[2] != 0x40)
            continue;
        const int ch = line.frame[3];
        const uint8_t what = line.frame[4], code = line.frame[5];
        if (what == 0x01 && code == 0x07)
            left[ch] = "assigned";
        else if (what == 0x42 && code == 0)
            left[ch] = "assigned";
        else if (what == 0x4B && code == 0)
            left[ch] = "open";
        else if (what == 0x41 && code == 0)
            left.erase(ch);
    }
    return left;
}

TEST(DiscoveryOnVirtualStick, FindsEveryTrainerAndStrapWithItsIdentityAndLeavesNothingOpen)
{
    TDiscoveryWorld world("discovery-all", kWorld);
    TDeviceDiscovery discovery;
    std::vector<std::string> log;
    std::mutex logMutex;
    discovery.OnLog = [&](const std::string &line) {
        std::lock_guard lock(logMutex);
        log.push_back(line);
    };
    std::string why;
    ASSERT_TRUE(discovery.Start(why)) << why;
    EXPECT_TRUE(discovery.Running());
    const auto complete = [&] {
        const auto list = discovery.Devices();
        int identified = 0;
        for (const auto &d : list)
            identified += d.Kind == TDiscoveredKind::HeartRate || (d.ManufacturerId && d.SerialNumber);
        return list.size() == 5 && identified == 5;
    };
    EXPECT_TRUE(WaitUntil(complete, 10s));
    const auto list = discovery.Devices();
    discovery.Stop();
    EXPECT_FALSE(discovery.Running());

    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[3].Kind, TDiscoveredKind::HeartRate); // trainers first
    const TDiscoveredDevice *t100 = Find(list, TDiscoveredKind::Trainer, 100);
    const TDiscoveredDevice *t200 = Find(list, TDiscoveredKind::Trainer, 200);
    const TDiscoveredDevice *t300 = Find(list, TDiscoveredKind::Trainer, 300);
    ASSERT_TRUE(t100 && t200 && t300);
    EXPECT_EQ(t100->ManufacturerId, 89);
    EXPECT_EQ(t100->ModelNumber, 2875);
    EXPECT_EQ(t100->SerialNumber, 123456u);
    EXPECT_EQ(t100->TransmissionType, 5);
    EXPECT_EQ(t100->FeType, 25);
    EXPECT_EQ(t200->ManufacturerId, 32);
    EXPECT_EQ(t200->TransmissionType, 7);
    EXPECT_EQ(t300->ManufacturerId, 86);
    for (const TDiscoveredDevice *t : {t100, t200, t300}) {
        EXPECT_TRUE(t->Followed);
        EXPECT_LT(t->SecondsSinceHeard, 2.0);
    }
    EXPECT_GT(t100->MessagesPerSecond, 2.5);
    EXPECT_GT(t300->MessagesPerSecond, 2.5);
    const TDiscoveredDevice *h78 = Find(list, TDiscoveredKind::HeartRate, 78);
    ASSERT_TRUE(h78 && Find(list, TDiscoveredKind::HeartRate, 77));
    EXPECT_EQ(h78->TransmissionType, 3);

    EXPECT_EQ(ChannelsLeft(world.Trace), (std::map<int, std::string>{}));
    EXPECT_FALSE(AntLibHandleHeld());
}

TEST(DiscoveryOnVirtualStick, ATrainerThatDropsOutShowsHowLongSinceItWasHeard)
{
    TDiscoveryWorld world("discovery-dropout", std::string(kWorld) + "dropout 3 100 trainer 200\n");
    TDeviceDiscovery discovery;
    discovery.OnLog = [](const std::string &) {};
    std::string why;
    ASSERT_TRUE(discovery.Start(why)) << why;
    std::this_thread::sleep_for(7s);
    const auto list = discovery.Devices();
    discovery.Stop();
    const TDiscoveredDevice *gone = Find(list, TDiscoveredKind::Trainer, 200);
    ASSERT_TRUE(gone);
    EXPECT_GT(gone->SecondsSinceHeard, 3.0);
    EXPECT_LT(gone->MessagesPerSecond, 1.0);
    for (uint16_t n : {100, 300}) {
        const TDiscoveredDevice *fresh = Find(list, TDiscoveredKind::Trainer, n);
        ASSERT_TRUE(fresh);
        EXPECT_LT(fresh->SecondsSinceHeard, 1.0);
    }
    EXPECT_EQ(ChannelsLeft(world.Trace), (std::map<int, std::string>{}));
}

TEST(DiscoveryOnVirtualStick, TakesTurnsWithTheTrainerConnectionOnOneLibrary)
{
    TDiscoveryWorld world("turns", kWorld);
    TDeviceDiscovery discovery;
    discovery.OnLog = [](const std::string &) {};
    TAntComControl connection(nullptr);
    connection.SetDelay(10);
    connection.LoadDll();
    connection.ScanDevices(57600, 1, connection.AntDeviceList());
    ASSERT_GE(connection.AntDeviceList()->Count(), 1);
    TAntDevice *stick = connection.AntDeviceList()->Items(0);
    ASSERT_TRUE(connection.ConnectDevice(stick));

    std::string why;
    EXPECT_FALSE(discovery.Start(why)) << "the open stick is never taken from the connection";
    EXPECT_EQ(why, "The ANT stick is in use by the trainer connection; disconnect it first.");

    // Once the connection has closed the stick, its loaded library serves the search and is
    // left loaded for it.
    connection.CloseDevice();
    stick->SetConnected(false);
    ASSERT_TRUE(discovery.Start(why)) << why;
    EXPECT_EQ(AntStickHolder(), "search for devices");
    EXPECT_TRUE(WaitUntil([&] { return discovery.Devices().size() >= 1; }, 10s));
    discovery.Stop();
    EXPECT_EQ(AntStickHolder(), "");
    EXPECT_TRUE(AntLibHandleHeld());
    EXPECT_TRUE(connection.ConnectDevice(stick)) << "the connection opens the stick again";
    connection.CloseDevice();
    EXPECT_TRUE(connection.UnloadDll());
}

TEST(DiscoveryOnVirtualStick, RefusesWithoutAStickAndLeavesNothingLoaded)
{
    ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
    ::unsetenv("FENNICK_VIRTUAL_TRAINER");
    ::setenv("FENNICK_ANT_SERIAL", "/nonexistent/fennick-no-stick", 1);
    TDeviceDiscovery discovery;
    discovery.OnLog = [](const std::string &) {};
    std::string why;
    EXPECT_FALSE(discovery.Start(why));
    EXPECT_EQ(why.substr(0, 23), "No ANT stick was found.");
    EXPECT_FALSE(discovery.Running());
    EXPECT_FALSE(AntLibHandleHeld());
    EXPECT_EQ(AntStickHolder(), "");
    ::unsetenv("FENNICK_ANT_SERIAL");
}

} // namespace
