// The virtual stick behind the library's C functions, loaded at run time as the application
// does: in process (FENNICK_VIRTUAL_TRAINER) and over a pseudo-terminal served by
// fennick-virtual-stick (FENNICK_ANT_SERIAL).
#include "antlib/ant_dll.h"
#include "antsim/FecPages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct Api {
    void *handle = nullptr;
    decltype(&ANT_Init) Init = nullptr;
    decltype(&ANT_Close) Close = nullptr;
    decltype(&ANT_ResetSystem) ResetSystem = nullptr;
    decltype(&ANT_GetDeviceUSBInfo) GetDeviceUSBInfo = nullptr;
    decltype(&ANT_SetNetworkKey) SetNetworkKey = nullptr;
    decltype(&ANT_AssignChannel) AssignChannel = nullptr;
    decltype(&ANT_SetChannelId) SetChannelId = nullptr;
    decltype(&ANT_SetChannelPeriod) SetChannelPeriod = nullptr;
    decltype(&ANT_SetTransmitPower) SetTransmitPower = nullptr;
    decltype(&ANT_SetChannelSearchTimeout) SetChannelSearchTimeout = nullptr;
    decltype(&ANT_SetLowPriorityChannelSearchTimeout) SetLowPriorityChannelSearchTimeout = nullptr;
    decltype(&ANT_SetChannelRFFreq) SetChannelRFFreq = nullptr;
    decltype(&ANT_OpenChannel) OpenChannel = nullptr;
    decltype(&ANT_CloseChannel) CloseChannel = nullptr;
    decltype(&ANT_RequestMessage) RequestMessage = nullptr;
    decltype(&ANT_SendAcknowledgedData) SendAcknowledgedData = nullptr;
    decltype(&ANT_AssignResponseFunction) AssignResponseFunction = nullptr;
    decltype(&ANT_AssignChannelEventFunction) AssignChannelEventFunction = nullptr;
    decltype(&ANT_UnassignAllResponseFunctions) UnassignAllResponseFunctions = nullptr;

    bool load()
    {
        handle = dlopen(ANT_DLL_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return false;
        bool ok = true;
        auto get = [&](auto &fn, const char *name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(handle, name));
            ok = ok && fn != nullptr;
        };
        get(Init, "ANT_Init");
        get(Close, "ANT_Close");
        get(ResetSystem, "ANT_ResetSystem");
        get(GetDeviceUSBInfo, "ANT_GetDeviceUSBInfo");
        get(SetNetworkKey, "ANT_SetNetworkKey");
        get(AssignChannel, "ANT_AssignChannel");
        get(SetChannelId, "ANT_SetChannelId");
        get(SetChannelPeriod, "ANT_SetChannelPeriod");
        get(SetTransmitPower, "ANT_SetTransmitPower");
        get(SetChannelSearchTimeout, "ANT_SetChannelSearchTimeout");
        get(SetLowPriorityChannelSearchTimeout, "ANT_SetLowPriorityChannelSearchTimeout");
        get(SetChannelRFFreq, "ANT_SetChannelRFFreq");
        get(OpenChannel, "ANT_OpenChannel");
        get(CloseChannel, "ANT_CloseChannel");
        get(RequestMessage, "ANT_RequestMessage");
        get(SendAcknowledgedData, "ANT_SendAcknowledgedData");
        get(AssignResponseFunction, "ANT_AssignResponseFunction");
        get(AssignChannelEventFunction, "ANT_AssignChannelEventFunction");
        get(UnassignAllResponseFunctions, "ANT_UnassignAllResponseFunctions");
        return ok;
    }
};

Api &api()
{
    static Api a;
    return a;
}

// What the callbacks saw, copied from the library's buffers on its thread.
struct Record {
    bool response;
    uint8_t channel;
    uint8_t code; // message id or event
    std::vector<uint8_t> row;
};

std::mutex gMutex;
std::condition_variable gChanged;
std::vector<Record> gRecords;
uint8_t gResponseRow[10];
uint8_t gEventRow[16];

bool onResponse(uint8_t channel, uint8_t id)
{
    {
        std::lock_guard lock(gMutex);
        gRecords.push_back({true, channel, id, std::vector<uint8_t>(gResponseRow, gResponseRow + 10)});
    }
    gChanged.notify_all();
    return true;
}

bool onEvent(uint8_t channel, uint8_t event)
{
    {
        std::lock_guard lock(gMutex);
        gRecords.push_back({false, channel, event, std::vector<uint8_t>(gEventRow, gEventRow + 16)});
    }
    gChanged.notify_all();
    return true;
}

bool waitFor(const std::function<bool(const Record &)> &match, int seconds = 5)
{
    std::unique_lock lock(gMutex);
    return gChanged.wait_for(lock, std::chrono::seconds(seconds), [&] {
        for (const auto &r : gRecords)
            if (match(r))
                return true;
        return false;
    });
}

bool waitForCount(const std::function<bool(const Record &)> &match, size_t n, int seconds)
{
    std::unique_lock lock(gMutex);
    return gChanged.wait_for(lock, std::chrono::seconds(seconds), [&] {
        size_t seen = 0;
        for (const auto &r : gRecords)
            seen += match(r);
        return seen >= n;
    });
}

size_t countOf(const std::function<bool(const Record &)> &match)
{
    std::lock_guard lock(gMutex);
    size_t n = 0;
    for (const auto &r : gRecords)
        n += match(r);
    return n;
}

void clearRecords()
{
    std::lock_guard lock(gMutex);
    gRecords.clear();
}

bool answered(uint8_t channel, uint8_t messageId)
{
    return waitFor([&](const Record &r) {
        return r.response && r.code == 0x40 && r.row[0] == channel && r.row[1] == messageId &&
               r.row[2] == 0;
    });
}

bool event(uint8_t channel, uint8_t code, int seconds = 5)
{
    return waitFor([&](const Record &r) { return !r.response && r.channel == channel && r.code == code; },
                   seconds);
}

int findDevice(const char *product)
{
    uint8_t p[256], s[256];
    int found = -1;
    for (int n = 0; n < 32 && api().GetDeviceUSBInfo(uint8_t(n), p, s); ++n)
        if (std::strcmp(reinterpret_cast<char *>(p), product) == 0)
            found = n;
    return found;
}

std::string writeScenario(const char *name, const char *text)
{
    const std::string path = ::testing::TempDir() + name;
    FILE *f = std::fopen(path.c_str(), "w");
    std::fputs(text, f);
    std::fclose(f);
    return path;
}

// The connection sequence of an FE-C channel, one acknowledged step at a time.
void connectTrainer(uint8_t ch, uint16_t period = 8192)
{
    const uint8_t key[8] = {};
    Api &a = api();
    a.AssignChannelEventFunction(ch, onEvent, gEventRow);
    ASSERT_TRUE(a.SetNetworkKey(0, key));
    ASSERT_TRUE(answered(0, 0x46));
    ASSERT_TRUE(a.AssignChannel(ch, 0, 0));
    ASSERT_TRUE(answered(ch, 0x42));
    ASSERT_TRUE(a.SetChannelId(ch, 0, 17, 0));
    ASSERT_TRUE(answered(ch, 0x51));
    ASSERT_TRUE(a.SetChannelPeriod(ch, period));
    ASSERT_TRUE(answered(ch, 0x43));
    ASSERT_TRUE(a.SetTransmitPower(3));
    ASSERT_TRUE(answered(0, 0x47));
    ASSERT_TRUE(a.SetChannelSearchTimeout(ch, 0));
    ASSERT_TRUE(answered(ch, 0x44));
    ASSERT_TRUE(a.SetLowPriorityChannelSearchTimeout(ch, 255));
    ASSERT_TRUE(answered(ch, 0x63));
    ASSERT_TRUE(a.SetChannelRFFreq(ch, 57));
    ASSERT_TRUE(answered(ch, 0x45));
    ASSERT_TRUE(a.OpenChannel(ch));
    ASSERT_TRUE(answered(ch, 0x4B));
}

// Pairing, the real id, trainer commands and their transfer events, the capabilities page.
void runTrainerSession(uint8_t ch)
{
    Api &a = api();
    connectTrainer(ch);
    ASSERT_TRUE(event(ch, 0x9A));
    ASSERT_TRUE(a.RequestMessage(ch, 0x51));
    EXPECT_TRUE(waitFor([&](const Record &r) {
        return r.response && r.code == 0x51 && r.row[0] == ch && (r.row[1] | (r.row[2] << 8)) == 4242 &&
               r.row[3] == 17;
    }));
    const uint8_t request54[8] = {antsim::fec::kRequest, 0xFF, 0xFF, 0xFF,
                                  0xFF, 0x80, antsim::fec::kCapabilities, 0x01};
    ASSERT_TRUE(a.SendAcknowledgedData(ch, request54));
    EXPECT_TRUE(event(ch, 0x05));
    EXPECT_TRUE(waitFor([&](const Record &r) {
        return !r.response && r.code == 0x9B && r.row[0] == ch && r.row[1] == antsim::fec::kCapabilities;
    }));
    clearRecords();
    const uint8_t level[8] = {antsim::fec::kBasicResistance, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 80};
    ASSERT_TRUE(a.SendAcknowledgedData(ch, level));
    EXPECT_TRUE(event(ch, 0x05));
    // Pages keep arriving at the channel period: page 16 carries a speed.
    EXPECT_TRUE(waitFor([&](const Record &r) {
        return !r.response && r.code == 0x9A && r.row[1] == antsim::fec::kGeneral && (r.row[5] | (r.row[6] << 8)) > 0;
    }));
    ASSERT_TRUE(a.CloseChannel(ch));
    EXPECT_TRUE(answered(ch, 0x4C));
    EXPECT_TRUE(event(ch, 0x07));
}

class VirtualStickDll : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(api().load()) << dlerror(); }
    void SetUp() override
    {
        clearRecords();
        api().AssignResponseFunction(onResponse, gResponseRow);
    }
    void TearDown() override
    {
        api().Close();
        api().UnassignAllResponseFunctions();
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
        ::unsetenv("FENNICK_ANT_SERIAL");
    }
};

} // namespace

TEST_F(VirtualStickDll, InProcessTrainerSession)
{
    const std::string path = writeScenario("antsim_dll_session.txt",
                                           "trainer 4242 map=3\nrider 0 150 85\n");
    ::unsetenv("FENNICK_ANT_SERIAL");
    ::setenv("FENNICK_VIRTUAL_TRAINER", path.c_str(), 1);
    const int n = findDevice("Fennick virtual ANT stick");
    ASSERT_GE(n, 0);
    ASSERT_TRUE(api().Init(uint8_t(n), 57600));
    ASSERT_TRUE(api().ResetSystem());
    connectTrainer(1);
    // The resistance map arrives as 64 burst packets, header first.
    ASSERT_TRUE(waitFor([](const Record &r) { return !r.response && r.code == 0x9C && (r.row[0] & 0x80); },
                        10));
    EXPECT_EQ(countOf([](const Record &r) { return !r.response && r.code == 0x9C; }), 64u);
    EXPECT_EQ(countOf([](const Record &r) {
                  return !r.response && r.code == 0x9C && r.row[0] == 1 && r.row[1] == 0x21;
              }),
              1u);
    ASSERT_TRUE(api().CloseChannel(1));
    EXPECT_TRUE(event(1, 0x07));
    clearRecords();
    runTrainerSession(2);
    std::remove(path.c_str());
}

TEST_F(VirtualStickDll, UnplugClosesOpenChannels)
{
    const std::string path = writeScenario("antsim_dll_unplug.txt", "trainer 4242\nunplug 3\n");
    ::setenv("FENNICK_VIRTUAL_TRAINER", path.c_str(), 1);
    const int n = findDevice("Fennick virtual ANT stick");
    ASSERT_GE(n, 0);
    ASSERT_TRUE(api().Init(uint8_t(n), 57600));
    connectTrainer(0);
    EXPECT_TRUE(event(0, 0x9A));
    EXPECT_TRUE(event(0, 0x07, 10));
    EXPECT_FALSE(api().RequestMessage(0, 0x52));
    std::remove(path.c_str());
}

TEST_F(VirtualStickDll, TrainerSessionOverAPseudoTerminal)
{
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const char *argv[] = {VIRTUAL_STICK_TOOL, "--scenario", "default", "--quit-after", "120", nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, VIRTUAL_STICK_TOOL, &actions, nullptr, const_cast<char **>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string pty;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        pty += c;
    ::close(out[0]);
    ASSERT_EQ(pty.rfind("/dev/", 0), 0u) << pty;

    ::unsetenv("FENNICK_VIRTUAL_TRAINER");
    ::setenv("FENNICK_ANT_SERIAL", pty.c_str(), 1);
    const int n = findDevice("ANT serial device");
    ASSERT_GE(n, 0);
    ASSERT_TRUE(api().Init(uint8_t(n), 57600));
    ASSERT_TRUE(api().ResetSystem());
    runTrainerSession(0);
    api().Close();
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(VirtualStickDll, AChannelAtHalfTheTrainersPeriodHearsEveryOtherSlot)
{
    const std::string path = writeScenario("antsim_dll_period.txt", "trainer 4242\nrider 0 150 85\n");
    ::setenv("FENNICK_VIRTUAL_TRAINER", path.c_str(), 1);
    const int n = findDevice("Fennick virtual ANT stick");
    ASSERT_GE(n, 0);
    ASSERT_TRUE(api().Init(uint8_t(n), 57600));
    connectTrainer(0, 4096);
    ASSERT_TRUE(waitForCount([](const Record &r) { return !r.response && r.channel == 0 && r.code == 0x9A; },
                             8, 10));
    ASSERT_TRUE(api().CloseChannel(0));
    ASSERT_TRUE(event(0, 0x07));
    // From the first message on: data and RX fail by turns, never a search.
    std::vector<uint8_t> seen;
    {
        std::lock_guard lock(gMutex);
        for (const auto &r : gRecords)
            if (!r.response && r.channel == 0 && (r.code == 0x9A || !seen.empty()))
                seen.push_back(r.code);
    }
    ASSERT_FALSE(seen.empty());
    seen.pop_back(); // channel closed
    ASSERT_GE(seen.size(), 15u);
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], i % 2 ? 0x02 : 0x9A) << "at " << i;
    std::remove(path.c_str());
}

TEST_F(VirtualStickDll, CapabilitiesReachTheResponseCallbackWhole)
{
    ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
    const int n = findDevice("Fennick virtual ANT stick");
    ASSERT_GE(n, 0);
    ASSERT_TRUE(api().Init(uint8_t(n), 57600));
    ASSERT_TRUE(api().RequestMessage(0, 0x54));
    ASSERT_TRUE(waitFor([](const Record &r) { return r.response && r.code == 0x54; }));
    std::lock_guard lock(gMutex);
    for (const auto &r : gRecords)
        if (r.response && r.code == 0x54) {
            EXPECT_EQ(r.channel, 0);
            // 8 channels, 8 networks, no "cannot" flag, networks + serial number + low-priority
            // search + search lists, extended messages, and nothing else.
            EXPECT_EQ(r.row, (std::vector<uint8_t>{8, 8, 0x00, 0xAA, 0x02, 0, 0, 0, 0, 0}));
        }
}

// Options that cannot go together, and a trace that is not there, end the tool at once with a
// line that says so, rather than serving something the user did not ask for.
TEST(VirtualStickTool, RefusesWhatItCannotServe)
{
    auto run = [](const std::string &args, int &status) {
        const std::string command = std::string(VIRTUAL_STICK_TOOL) + " " + args + " 2>&1";
        FILE *p = ::popen(command.c_str(), "r");
        std::string said;
        char buf[256];
        while (p && std::fgets(buf, sizeof buf, p))
            said += buf;
        status = p ? ::pclose(p) : -1;
        return said;
    };
    int status = 0;
    std::string said = run("--scenario default --replay /tmp/x.trace", status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << said;
    EXPECT_NE(said.find("--scenario and --replay exclude each other"), std::string::npos) << said;

    said = run("--speed 4 --quit-after 1", status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << said;
    EXPECT_NE(said.find("--speed applies to --replay only"), std::string::npos) << said;

    said = run("--replay /nonexistent/session.trace --quit-after 1", status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << said;
    EXPECT_NE(said.find("/nonexistent/session.trace"), std::string::npos) << said;
}
