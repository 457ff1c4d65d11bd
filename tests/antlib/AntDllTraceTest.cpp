// The frame trace of the library ($FENNICK_ANT_TRACE) on a calibration-like session with the
// virtual trainer, and that trace played back as the stick (replay:FILE): the caller must see
// the same pages in the same order.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "antlib/ant_dll.h"
#include "antwire/TraceLine.h"

namespace {

using Row = std::vector<uint8_t>;

std::mutex gMutex;
std::condition_variable gChanged;
std::vector<Row> gData;       // event code, then the 9 bytes of each data message
std::vector<uint8_t> gEvents; // RF events on the channel
std::vector<Row> gResponses;  // message id, then the response buffer
uint8_t gEventRow[16];
uint8_t gResponseRow[10];

bool onEvent(uint8_t, uint8_t event)
{
    {
        std::lock_guard lock(gMutex);
        if (event >= 0x9A && event <= 0x9F) {
            Row r{event};
            r.insert(r.end(), gEventRow, gEventRow + 9);
            gData.push_back(r);
        } else {
            gEvents.push_back(event);
        }
    }
    gChanged.notify_all();
    return true;
}

bool onResponse(uint8_t, uint8_t id)
{
    {
        std::lock_guard lock(gMutex);
        Row r{id};
        r.insert(r.end(), gResponseRow, gResponseRow + 10);
        gResponses.push_back(r);
    }
    gChanged.notify_all();
    return true;
}

template <class Pred> bool waitUntil(Pred pred, int seconds = 10)
{
    std::unique_lock lock(gMutex);
    return gChanged.wait_for(lock, std::chrono::seconds(seconds), pred);
}

bool answered(uint8_t channel, uint8_t messageId)
{
    return waitUntil([&] {
        for (const Row &r : gResponses)
            if (r[0] == 0x40 && r[1] == channel && r[2] == messageId && r[3] == 0)
                return true;
        return false;
    });
}

bool moreBroadcasts(size_t count)
{
    size_t from;
    {
        std::lock_guard lock(gMutex);
        from = gData.size();
    }
    return waitUntil([&] { return gData.size() >= from + count; });
}

bool event(uint8_t code)
{
    return waitUntil([&] {
        for (uint8_t e : gEvents)
            if (e == code)
                return true;
        return false;
    });
}

int virtualStick()
{
    uint8_t product[256], serial[256];
    int found = -1;
    for (int n = 0; n < 32 && ANT_GetDeviceUSBInfo(uint8_t(n), product, serial); ++n)
        if (std::strcmp(reinterpret_cast<char *>(product), "Fennick virtual ANT stick") == 0)
            found = n;
    return found;
}

void resetRecords()
{
    std::lock_guard lock(gMutex);
    gData.clear();
    gEvents.clear();
    gResponses.clear();
}

// Connect the trainer channel, take pages, set two resistance levels, close; the data
// messages the caller saw, in order.
std::vector<Row> calibrationSession()
{
    resetRecords();
    const uint8_t ch = 0, key[8] = {};
    ANT_AssignResponseFunction(onResponse, gResponseRow);
    ANT_AssignChannelEventFunction(ch, onEvent, gEventRow);
    const int n = virtualStick();
    EXPECT_GE(n, 0);
    if (n < 0 || !ANT_Init(uint8_t(n), 57600))
        return {};
    EXPECT_TRUE(ANT_ResetSystem());
    EXPECT_TRUE(ANT_SetNetworkKey(0, key) && answered(0, 0x46));
    EXPECT_TRUE(ANT_AssignChannel(ch, 0, 0) && answered(ch, 0x42));
    EXPECT_TRUE(ANT_SetChannelId(ch, 0, 17, 0) && answered(ch, 0x51));
    EXPECT_TRUE(ANT_SetChannelPeriod(ch, 8192) && answered(ch, 0x43));
    EXPECT_TRUE(ANT_SetChannelSearchTimeout(ch, 0) && answered(ch, 0x44));
    EXPECT_TRUE(ANT_SetLowPriorityChannelSearchTimeout(ch, 255) && answered(ch, 0x63));
    EXPECT_TRUE(ANT_SetChannelRFFreq(ch, 57) && answered(ch, 0x45));
    EXPECT_TRUE(ANT_OpenChannel(ch) && answered(ch, 0x4B));
    EXPECT_TRUE(moreBroadcasts(4));
    for (uint8_t level : {80, 20}) {
        const uint8_t page48[8] = {48, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, level};
        {
            std::lock_guard lock(gMutex);
            gEvents.clear();
        }
        EXPECT_TRUE(ANT_SendAcknowledgedData(ch, page48));
        EXPECT_TRUE(event(0x05)) << "transfer completed for level " << int(level);
        EXPECT_TRUE(moreBroadcasts(4));
    }
    EXPECT_TRUE(ANT_CloseChannel(ch) && answered(ch, 0x4C));
    EXPECT_TRUE(event(0x07));
    ANT_Close();
    ANT_UnassignAllResponseFunctions();
    std::lock_guard lock(gMutex);
    return gData;
}

std::vector<antwire::TraceLine> readTrace(const std::string &path, size_t &malformed)
{
    std::vector<antwire::TraceLine> lines;
    std::ifstream in(path);
    std::string text;
    malformed = 0;
    while (std::getline(in, text)) {
        antwire::TraceLine l;
        const auto kind = antwire::parseTraceLine(text, l);
        if (kind == antwire::TraceParse::Frame)
            lines.push_back(l);
        malformed += kind == antwire::TraceParse::Malformed;
    }
    return lines;
}

class AntDllTrace : public ::testing::Test {
protected:
    void SetUp() override { ::unsetenv("FENNICK_ANT_SERIAL"); }
    void TearDown() override
    {
        ANT_Close();
        ::unsetenv("FENNICK_ANT_TRACE");
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
        ::unsetenv("FENNICK_REPLAY_SPEED");
    }
};

} // namespace

TEST_F(AntDllTrace, ACapturedSessionReplaysToTheSamePagesInTheSameOrder)
{
    const std::string trace = ::testing::TempDir() + "antdll_session.trace";
    ::setenv("FENNICK_ANT_TRACE", trace.c_str(), 1);
    ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
    const std::vector<Row> captured = calibrationSession();
    ASSERT_GT(captured.size(), 12u);

    // Every frame both ways, in file order by time, the commands among them.
    size_t malformed = 0;
    const auto lines = readTrace(trace, malformed);
    EXPECT_EQ(malformed, 0u);
    size_t fromHost = 0, pages48 = 0, broadcasts = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto &f = lines[i].frame;
        const bool host = lines[i].direction == antwire::TraceDirection::HostToStick;
        fromHost += host;
        pages48 += host && f[2] == 0x4F && f[4] == 48;
        broadcasts += !host && f[2] == 0x4E;
        if (i > 0) {
            EXPECT_GE(lines[i].micros, lines[i - 1].micros);
        }
    }
    EXPECT_EQ(fromHost, 12u); // reset, key, six channel settings, open, two levels, close
    EXPECT_EQ(pages48, 2u);
    // A frame that arrives while the stick closes is traced yet never delivered.
    EXPECT_GE(broadcasts, size_t(std::count_if(captured.begin(), captured.end(),
                                               [](const Row &r) { return r[0] == 0x9A; })));

    ::unsetenv("FENNICK_ANT_TRACE");
    ::setenv("FENNICK_VIRTUAL_TRAINER", ("replay:" + trace).c_str(), 1);
    ::setenv("FENNICK_REPLAY_SPEED", "4", 1);
    const std::vector<Row> replayed = calibrationSession();
    EXPECT_EQ(replayed, captured);
    std::remove(trace.c_str());
}

TEST_F(AntDllTrace, ATraceThatCannotBeWrittenIsReportedAndTheStickStillWorks)
{
    ::setenv("FENNICK_ANT_TRACE", "/nonexistent-folder/ant.trace", 1);
    ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
    const int n = virtualStick();
    ASSERT_GE(n, 0);
    testing::internal::CaptureStderr();
    const bool opened = ANT_Init(uint8_t(n), 57600);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(opened);
    const std::string why = "cannot write the ANT trace /nonexistent-folder/ant.trace: No such file or directory";
    EXPECT_NE(err.find("ANT_DLL: " + why), std::string::npos) << err;
    char text[256];
    EXPECT_TRUE(ANT_GetLastErrorText(text, sizeof text));
    EXPECT_EQ(std::string(text), why);
    EXPECT_TRUE(ANT_ResetSystem());
}

TEST_F(AntDllTrace, SessionsOfOneProcessShareTheTraceUntilTheVariableChanges)
{
    const std::string first = ::testing::TempDir() + "antdll_first.trace";
    const std::string second = ::testing::TempDir() + "antdll_second.trace";
    ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
    const int n = virtualStick();
    ASSERT_GE(n, 0);
    ::setenv("FENNICK_ANT_TRACE", first.c_str(), 1);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(ANT_Init(uint8_t(n), 57600));
        EXPECT_TRUE(ANT_ResetSystem());
        ANT_Close();
    }
    ::setenv("FENNICK_ANT_TRACE", second.c_str(), 1);
    ASSERT_TRUE(ANT_Init(uint8_t(n), 57600));
    EXPECT_TRUE(ANT_ResetSystem());
    ::unsetenv("FENNICK_ANT_TRACE");
    ASSERT_TRUE(ANT_Init(uint8_t(n), 57600)); // untraced
    EXPECT_TRUE(ANT_ResetSystem());
    ANT_Close();

    size_t malformed = 0;
    EXPECT_EQ(readTrace(first, malformed).size(), 4u); // two resets, two startups
    EXPECT_EQ(readTrace(second, malformed).size(), 2u);
    std::ifstream in(first);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.rfind("# fennick ANT trace", 0), 0u) << text;
    EXPECT_NE(text.find("# open virtual:default\n"), text.rfind("# open virtual:default\n"))
        << "each session says where it begins";
    std::remove(first.c_str());
    std::remove(second.c_str());
}
