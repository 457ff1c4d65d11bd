#pragma once
// Takes the calling thread's power to open files regardless of their mode, as an ordinary
// user lacks it (tests may run as root); gives it back when it goes. Threads started meanwhile
// inherit the lack.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <initializer_list>

namespace fennick::test {

class WithoutFileOverride {
public:
    WithoutFileOverride()
    {
        __user_cap_data_struct data[2]{};
        if (!capabilities(SYS_capget, data))
            return;
        FSaved[0] = data[0].effective;
        FSaved[1] = data[1].effective;
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
            data[cap / 32].effective &= ~(1u << (cap % 32));
        FChanged = capabilities(SYS_capset, data);
    }
    ~WithoutFileOverride()
    {
        __user_cap_data_struct data[2]{};
        if (!FChanged || !capabilities(SYS_capget, data))
            return;
        data[0].effective = FSaved[0];
        data[1].effective = FSaved[1];
        capabilities(SYS_capset, data);
    }
    WithoutFileOverride(const WithoutFileOverride &) = delete;
    WithoutFileOverride &operator=(const WithoutFileOverride &) = delete;

private:
    static bool capabilities(long call, __user_cap_data_struct (&data)[2])
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return syscall(call, &header, data) == 0;
    }

    uint32_t FSaved[2] = {0, 0};
    bool FChanged = false;
};

} // namespace fennick::test
