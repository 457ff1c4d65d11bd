#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <mutex>
#include <type_traits>
#include <vector>

#include "ant/binding/AntLib.h"
#include "antlib/ant_dll.h"
#include "platform/DebugOutput.h"

namespace {

// The binding spells the library's signatures out on its own; here both sides meet.
#define FENNICK_SAME_AS_LIBRARY(Name, Result, Params, Args)                                       \
    static_assert(std::is_same_v<decltype(TAntFunctions::Name), decltype(&::Name)>, #Name);
FENNICK_ANT_FUNCTIONS(FENNICK_SAME_AS_LIBRARY)
FENNICK_ANT_OPTIONAL_FUNCTIONS(FENNICK_SAME_AS_LIBRARY)
#undef FENNICK_SAME_AS_LIBRARY

class AntLibBinding : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDebugOutputSink([this](const std::string &line) {
            std::lock_guard lock(FMutex);
            FLines.push_back(line);
        });
        ::unsetenv("FENNICK_ANT_LIBRARY");
        SetAntLibraryName("");
    }
    void TearDown() override
    {
        UnloadAntLib();
        SetAntFunctionsForTesting(TAntFunctions());
        SetAntLibraryName("");
        ::unsetenv("FENNICK_ANT_LIBRARY");
        SetDebugOutputSink(nullptr);
    }
    std::vector<std::string> lines()
    {
        std::lock_guard lock(FMutex);
        return FLines;
    }

private:
    std::mutex FMutex;
    std::vector<std::string> FLines;
};

} // namespace

TEST_F(AntLibBinding, ALibraryThatDoesNotLoadIsReportedAndLeavesNothingBound)
{
    SetAntLibraryName("/nonexistent/libANT_DLL.so");
    EXPECT_FALSE(LoadAntLib());
    EXPECT_EQ(lines(), std::vector<std::string>{"Error loading AntLib"});
    EXPECT_FALSE(AntLibHandleHeld());
    EXPECT_FALSE(UnloadAntLib()); // no handle held
    EXPECT_EQ(AntFunctions().ANT_Init, nullptr);
}

TEST_F(AntLibBinding, MissingFunctionsAreReportedInTableOrderAndLoadStillSucceeds)
{
    ::setenv("FENNICK_ANT_LIBRARY", FAKE_ANT_LIBRARY, 1);
    EXPECT_EQ(AntLibraryName(), FAKE_ANT_LIBRARY);
    ASSERT_TRUE(LoadAntLib());
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "Error getting procaddres for ANT_UnassignAllResponseFunctions",
                           "Error getting procaddress for ANT_RxExtMesgEnable",
                           "Error getting procaddress for ANT_LibConfig",
                       }));
    // Present functions go to the library; missing ones do nothing and give false / 0.
    EXPECT_TRUE(TAntLib::ANT_Init(0, 57600));
    EXPECT_FALSE(TAntLib::ANT_Init(1, 57600));
    EXPECT_EQ(TAntLib::ANT_LibVersion() & 0xFF, 0x5Au);
    uint16_t pid = 0;
    EXPECT_TRUE(TAntLib::ANT_GetDeviceUSBPID(&pid));
    EXPECT_EQ(pid, 0x1008);
    EXPECT_EQ(AntFunctions().ANT_RxExtMesgsEnable, nullptr);
    EXPECT_FALSE(TAntLib::ANT_RxExtMesgsEnable(1));
    EXPECT_FALSE(TAntLib::ANT_LibConfig(0));
    TAntLib::ANT_UnassignAllResponseFunctions();
    // An optional function a library lacks is not reported and reads as nothing to tell.
    EXPECT_EQ(AntFunctions().ANT_GetLastErrorText, nullptr);
    EXPECT_EQ(AntLastErrorText(), "");

    EXPECT_TRUE(UnloadAntLib());
    EXPECT_FALSE(UnloadAntLib());
    // No pointer into the freed library is left to call.
    EXPECT_EQ(AntFunctions().ANT_Init, nullptr);
    EXPECT_FALSE(TAntLib::ANT_Init(0, 57600));
}

TEST_F(AntLibBinding, TheSetterWinsOverTheEnvironmentAndTheRealLibraryHasEveryFunction)
{
    ::setenv("FENNICK_ANT_LIBRARY", "/nonexistent/other.so", 1);
    SetAntLibraryName(REAL_ANT_LIBRARY);
    ASSERT_TRUE(LoadAntLib());
    EXPECT_TRUE(lines().empty());
    const auto &f = AntFunctions();
    EXPECT_NE(f.ANT_Init, nullptr);
    EXPECT_NE(f.ANT_UnassignAllResponseFunctions, nullptr);
    EXPECT_NE(f.ANT_RxExtMesgsEnable, nullptr);
    EXPECT_NE(f.ANT_LibConfig, nullptr);
    EXPECT_NE(f.ANT_GetLastErrorText, nullptr);
    EXPECT_TRUE(std::isprint(int(TAntLib::ANT_LibVersion() & 0xFF)));
    // Loading again replaces the table without leaking the earlier handle's reference.
    ASSERT_TRUE(LoadAntLib());
    EXPECT_TRUE(UnloadAntLib());
    EXPECT_FALSE(AntLibHandleHeld());

    SetAntLibraryName("");
    EXPECT_EQ(AntLibraryName(), "/nonexistent/other.so");
    ::unsetenv("FENNICK_ANT_LIBRARY");
    EXPECT_EQ(AntLibraryName(), "libANT_DLL.so");
}

TEST_F(AntLibBinding, ATestTableStandsInForTheLibrary)
{
    static std::vector<std::pair<uint8_t, uint8_t>> calls;
    calls.clear();
    TAntFunctions fake;
    fake.ANT_OpenChannel = [](uint8_t ch) {
        calls.push_back({0x4B, ch});
        return true;
    };
    SetAntFunctionsForTesting(fake);
    EXPECT_TRUE(TAntLib::ANT_OpenChannel(3));
    EXPECT_FALSE(TAntLib::ANT_CloseChannel(3)); // not in the fake: no crash, false
    TAntLib::ANT_Nap(1);
    EXPECT_EQ(calls, (std::vector<std::pair<uint8_t, uint8_t>>{{0x4B, 3}}));
    EXPECT_FALSE(UnloadAntLib()); // a test table holds no library handle

    // The reason is taken as far as its terminator, never beyond the buffer it was given.
    fake.ANT_GetLastErrorText = [](char *buffer, uint16_t size) {
        const std::string text(size_t(size) - 1, 'r');
        std::memcpy(buffer, text.c_str(), size);
        return true;
    };
    SetAntFunctionsForTesting(fake);
    EXPECT_EQ(AntLastErrorText(), std::string(1023, 'r'));
    fake.ANT_GetLastErrorText = [](char *buffer, uint16_t) {
        buffer[0] = 'x';
        buffer[1] = 0;
        return false;
    };
    SetAntFunctionsForTesting(fake);
    EXPECT_EQ(AntLastErrorText(), "") << "false means nothing to tell, whatever was written";
}
