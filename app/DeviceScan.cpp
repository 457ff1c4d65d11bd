#include "app/DeviceScan.h"

#include "app/LogLines.h"
#include "discovery/DeviceDiscovery.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

int ScanDevices(TAppSession &Session)
{
    TDeviceDiscovery discovery;
    // Support lines go to --log only: standard output is for the list.
    TLogFileSink *log = Session.Log.get();
    discovery.OnLog = [log](const std::string &Line) {
        if (log)
            log->WriteLine(Line);
    };
    std::string why;
    if (!discovery.Start(why)) {
        std::cerr << "fennick: " << why << "\n";
        return 1;
    }
    const double seconds = Session.Options.ScanSeconds.value_or(DefaultScanSeconds);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const auto devices = discovery.Devices();
    discovery.Stop();
    for (const TDiscoveredDevice &d : devices)
        std::cout << DiscoveryLine(d) << "\n";
    std::cout.flush();
    const bool trainer = std::any_of(devices.begin(), devices.end(),
                                     [](const TDiscoveredDevice &d) { return d.Kind == TDiscoveredKind::Trainer; });
    if (!trainer)
        std::cerr << "fennick: no FE-C trainer was heard in " << seconds << " s\n";
    return trainer ? 0 : 1;
}
