// A library built without the virtual stick still links, lists the stick when asked for it
// and says why it cannot open it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

TEST(AntDllWithoutVirtualStick, ReportsThatTheVirtualStickIsNotBuilt)
{
    void *lib = ::dlopen(NO_VIRTUAL_ANT_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    auto getInfo = reinterpret_cast<bool (*)(uint8_t, uint8_t *, uint8_t *)>(
        ::dlsym(lib, "ANT_GetDeviceUSBInfo"));
    auto init = reinterpret_cast<bool (*)(uint8_t, uint16_t)>(::dlsym(lib, "ANT_Init"));
    ASSERT_NE(getInfo, nullptr);
    ASSERT_NE(init, nullptr);

    ::unsetenv("FENNICK_ANT_SERIAL");
    ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
    uint8_t product[256], serial[256];
    int n = 0;
    while (getInfo(uint8_t(n), product, serial))
        ++n;
    ASSERT_GE(n, 1);
    EXPECT_STREQ(reinterpret_cast<char *>(serial), "default");

    char path[] = "/tmp/antlib-stderr-XXXXXX";
    const int capture = ::mkstemp(path);
    ASSERT_GE(capture, 0);
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(capture, 2);
    const bool opened = init(uint8_t(n - 1), 57600);
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(capture);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    ::unlink(path);

    EXPECT_FALSE(opened);
    EXPECT_NE(text.str().find("virtual stick not built"), std::string::npos) << text.str();
    ::unsetenv("FENNICK_VIRTUAL_TRAINER");
    ::dlclose(lib);
}
