#pragma once
// The trainer device on the real library and its in-process virtual stick: the window's
// way of setting the device up, a scenario of the test's own, and the stick's record of the
// pages the virtual trainer took.
#include "TarvoWindowSetup.h"
#include "TestSupport.h"

#include "../antsim/HostLog.h"
#include "ant/AntComControl.h"
#include "device/TarvoDeviceAntP.h"
#include "framework/Strings.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace tvs {

using TPage = std::array<uint8_t, 8>;

// Pumps the user-interface thread until Done or the time is up.
inline bool PumpFor(const std::function<bool()> &Done, int Ms)
{
    const auto start = TestClock::now();
    while (!Done()) {
        if (MsSince(start) > Ms)
            return false;
        PumpMessages(10);
    }
    return true;
}

using ::THostPage;

// A scenario file with a host log, offered to the library as the virtual stick; both files
// go with the object.
class TScenario {
public:
    TScenario(const std::string &Name, const std::string &Lines)
    {
        const char *tmp = std::getenv("TMPDIR");
        const std::string stem = std::string(tmp ? tmp : "/tmp") + "/fennick-" + Name + "-" + std::to_string(::getpid());
        FPath = stem + ".scenario";
        FLogPath = stem + ".hostlog";
        std::remove(FLogPath.c_str());
        std::ofstream(FPath) << Lines << "host_log " << FLogPath << "\n";
        ::unsetenv("FENNICK_ANT_SERIAL");
        ::setenv("FENNICK_VIRTUAL_TRAINER", FPath.c_str(), 1);
        ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
    }
    ~TScenario()
    {
        std::remove(FPath.c_str());
        std::remove(FLogPath.c_str());
    }

    std::vector<THostPage> HostPages() const { return ReadHostLog(FLogPath); }
    // The stick times at which the trainer took an acknowledged page that Matches.
    std::vector<double> TimesTaken(const std::function<bool(const TPage &)> &Matches) const
    {
        std::vector<double> out;
        for (const THostPage &p : HostPages())
            if (p.Acknowledged && Matches(p.Page))
                out.push_back(p.StickSeconds);
        return out;
    }
    std::vector<double> TimesTaken(const TPage &Page) const
    {
        return TimesTaken([&Page](const TPage &p) { return p == Page; });
    }

private:
    std::string FPath;
    std::string FLogPath;
};

inline TPage Level(uint8_t L) { return {0x30, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, L}; }

// Page 55 giving the wheel diameter in mm, whatever it says of the rider's weight.
inline bool GivesDiameter(const TPage &Page, int DiameterMm)
{
    return Page[0] == 0x37 && Page[4] == uint8_t(0xF0 + DiameterMm % 10) && Page[6] == uint8_t(DiameterMm / 10);
}

// The speed in km/h of an FE-C general data page (16) in a received row, or -1.
inline double GeneralPageSpeedKmh(const TAntRxRow &Row)
{
    if (Row[1] != 0x10)
        return -1;
    return (Row[5] | (Row[6] << 8)) * 0.001 * 3.6;
}

} // namespace tvs
