// The in-process virtual stick is reached through the same C functions as a real one.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "antlib/ant_dll.h"

namespace {

std::mutex gMutex;
std::condition_variable gChanged;
std::vector<std::vector<uint8_t>> gResponses; // message id, then the buffer
uint8_t gRow[10];

bool onResponse(uint8_t, uint8_t id)
{
    std::vector<uint8_t> r{id};
    r.insert(r.end(), gRow, gRow + 10);
    {
        std::lock_guard lock(gMutex);
        gResponses.push_back(r);
    }
    gChanged.notify_all();
    return true;
}

bool waitForResponse(uint8_t id, const std::vector<uint8_t> &head)
{
    std::unique_lock lock(gMutex);
    return gChanged.wait_for(lock, std::chrono::seconds(3), [&] {
        for (auto &r : gResponses)
            if (r[0] == id && std::equal(head.begin(), head.end(), r.begin() + 1))
                return true;
        return false;
    });
}

} // namespace

TEST(AntDllVirtualStick, IsEnumeratedLastAndAnswersResetAndCommands)
{
    ::unsetenv("FENNICK_ANT_SERIAL");
    ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
    uint8_t product[256], serial[256];
    int n = 0, virtualStick = -1;
    while (ANT_GetDeviceUSBInfo(uint8_t(n), product, serial)) {
        if (std::strcmp(reinterpret_cast<char *>(product), "Fennick virtual ANT stick") == 0)
            virtualStick = n;
        ++n;
    }
    ASSERT_EQ(virtualStick, n - 1);

    ANT_AssignResponseFunction(onResponse, gRow);
    ASSERT_TRUE(ANT_Init(uint8_t(virtualStick), 57600));
    EXPECT_TRUE(ANT_ResetSystem());
    EXPECT_TRUE(waitForResponse(0x6F, {}));
    EXPECT_TRUE(ANT_AssignChannel(0, 0x00, 0));
    EXPECT_TRUE(waitForResponse(0x40, {0, 0x42, 0x00}));
    ANT_Close();
    ANT_UnassignAllResponseFunctions();
    ::unsetenv("FENNICK_VIRTUAL_TRAINER");
}

// The slot passes the stick's own complaint on, so a user sees which scenario is wrong.
TEST(AntDllVirtualStick, UnreadableScenarioFailsTheOpenAndSaysWhy)
{
    ::unsetenv("FENNICK_ANT_SERIAL");
    ::setenv("FENNICK_VIRTUAL_TRAINER", "/nonexistent/scenario.txt", 1);
    uint8_t product[256], serial[256];
    int n = 0;
    while (ANT_GetDeviceUSBInfo(uint8_t(n), product, serial))
        ++n;
    ASSERT_GE(n, 1);

    testing::internal::CaptureStderr();
    const bool opened = ANT_Init(uint8_t(n - 1), 57600);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(opened);
    EXPECT_NE(err.find("ANT_DLL: virtual stick: cannot read scenario file /nonexistent/scenario.txt"),
              std::string::npos)
        << err;
    ANT_Close();
    ::unsetenv("FENNICK_VIRTUAL_TRAINER");
}
