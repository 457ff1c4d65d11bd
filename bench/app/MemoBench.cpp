// The debug memo over a long ride: the lines of $FENNICK_MEMO_HOURS hours (default 8) of
// calibrating with debug mode on (about 300 rows a minute, as measured on the pty stick with
// a trainer and a strap), added from a second thread as the library adds them, with one
// statistics tick a second. Reports the resident memory the lines left behind and the
// user-interface thread's wake-ups per simulated second. Target: bounded, whatever the hours.
#include "app/CalibrationWindow.h"
#include "app/Dialogs.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

class TNoDialogs : public TDialogs {
public:
    void ShowMessage(const std::string &, const std::string &) override {}
    void ShowError(const std::string &Text, const std::string &) override
    {
        std::fprintf(stderr, "bench_app_memo: error box: %s\n", Text.c_str());
    }
};

double StatusKb(const std::string &Path, const std::string &Key)
{
    std::ifstream in(Path);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(Key + ":", 0) == 0)
            return std::atof(line.c_str() + Key.size() + 1);
    return 0;
}

double ResidentMb() { return StatusKb("/proc/self/status", "VmRSS") / 1024.0; }

std::string UiThreadStatus() { return "/proc/self/task/" + std::to_string(getpid()) + "/status"; }

// A received row as the channel logs it: time stamp, channel, event and the payload.
std::string Row(long I)
{
    char text[96];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld.%03ld ch1 EVENT_RX_BROADCAST 10 19 %02lX 00 %02lX 00 00 24",
                  (I / 36000) % 24, (I / 600) % 60, (I / 10) % 60, (I % 10) * 100, I & 0xFF, (I >> 8) & 0xFF);
    return text;
}

void BM_DebugMemoOverHours(benchmark::State &State)
{
    const char *hoursText = std::getenv("FENNICK_MEMO_HOURS");
    const double hours = hoursText ? std::atof(hoursText) : 8.0;
    const long seconds = long(hours * 3600);
    const int rowsPerSecond = 5;
    TNoDialogs dialogs;
    SetDialogs(&dialogs);
    for (auto _ : State) {
        TForm1 window;
        TTarvoDeviceAntP *device = window.TarvoDeviceANT1();
        QApplication::processEvents();
        const double before = ResidentMb();
        const double wakeupsBefore = StatusKb(UiThreadStatus(), "voluntary_ctxt_switches");
        long row = 0;
        for (long s = 0; s < seconds; ++s) {
            std::thread library([&] {
                for (int i = 0; i < rowsPerSecond; ++i)
                    window.MemoLines().Add(Row(row++));
            });
            library.join();
            device->OnStats(device);
            QApplication::processEvents();
        }
        const double after = ResidentMb();
        const double wakeups = StatusKb(UiThreadStatus(), "voluntary_ctxt_switches") - wakeupsBefore;
        State.counters["rows"] = double(row);
        State.counters["rss_growth_MB"] = after - before;
        State.counters["memo_lines"] = double(window.MemoLines().Count());
        State.counters["ui_wakeups_per_tick"] = wakeups / double(seconds);
    }
    SetDialogs(nullptr);
}

} // namespace

BENCHMARK(BM_DebugMemoOverHours)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("FENNICK_ANT_LIBRARY", "/nonexistent/libANT_DLL.so", 1);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
