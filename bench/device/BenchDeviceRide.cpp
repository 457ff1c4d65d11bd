// CPU use of the whole trainer device connected to the virtual trainer, with the statistics
// tick at 1000 ms, over FENNICK_BENCH_SECONDS (60 by default) of riding. The figure is the
// process's user and system time (getrusage) over the wall time of the ride, in percent of
// one core; it includes the library's threads and the in-process virtual stick, which a
// real stick would not cost, and the per-thread split says which is which. One iteration:
// the ride itself is the measurement.
#include "TarvoWindowSetup.h"

#include "platform/UiThread.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU seconds of each thread of the process by thread id, from /proc: where the time goes
// (the user-interface thread's id is the process's).
std::map<std::string, double> CpuSecondsByThread()
{
    std::map<std::string, double> out;
    const double tick = double(::sysconf(_SC_CLK_TCK));
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream statFile(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 13; ++i) // state … cmajflt
            rest >> field;
        rest >> utime >> stime;
        out[task.path().filename().string()] = double(utime + stime) / tick;
    }
    return out;
}

double RideSeconds()
{
    const char *text = std::getenv("FENNICK_BENCH_SECONDS");
    const double seconds = text != nullptr ? std::atof(text) : 60.0;
    return seconds > 0 ? seconds : 60.0;
}

void PumpUntil(const std::function<bool()> &Done, double Seconds)
{
    const auto end = Clock::now() + std::chrono::duration<double>(Seconds);
    while (!Done() && Clock::now() < end)
        PumpMessages(50);
}

void BM_DeviceRidingOnTheVirtualTrainer(benchmark::State &State)
{
    ::unsetenv("FENNICK_ANT_SERIAL");
    ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
    ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
    TStringList log;
    TTarvoDeviceAntP device(nullptr);
    std::atomic<bool> connected{false};
    device.OnChannelConnected = [&](TObject *, TAntChannel *Channel) {
        if (Channel->AntChannelProfile() == acpAntFE)
            connected = true;
    };
    std::atomic<int> ticks{0};
    device.OnStats = [&](TObject *) { ++ticks; };
    tvs::SetUpAsTheWindow(device, log);
    // The window keeps the log; a ride without one would cost less than it does.
    device.Connect();
    PumpUntil([&] { return connected.load(); }, 20);
    if (!connected) {
        State.SkipWithError("the trainer did not connect");
        return;
    }
    device.SetTimerStatsInterval(1000);
    device.Start();

    const double seconds = RideSeconds();
    for (auto _ : State) {
        const auto threadsBefore = CpuSecondsByThread();
        const double cpuBefore = CpuSeconds();
        const auto wallBefore = Clock::now();
        // The application's own event loop, which sleeps until there is something to do; the
        // tests' pumps wake every 10 ms and would be measured instead of the device.
        QTimer::singleShot(int(seconds * 1000), QCoreApplication::instance(), &QCoreApplication::quit);
        QCoreApplication::exec();
        const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
        const double cpu = CpuSeconds() - cpuBefore;
        State.SetIterationTime(wall);
        State.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
        State.counters["cpu_ms"] = cpu * 1000.0;
        const std::string ui = std::to_string(::getpid());
        double uiMs = 0, othersMs = 0, busiestOtherMs = 0;
        for (const auto &[tid, seconds] : CpuSecondsByThread()) {
            const auto before = threadsBefore.find(tid);
            const double ms = 1000.0 * (seconds - (before != threadsBefore.end() ? before->second : 0.0));
            if (tid == ui) {
                uiMs = ms;
            } else {
                othersMs += ms;
                busiestOtherMs = std::max(busiestOtherMs, ms);
            }
        }
        State.counters["ui_thread_ms"] = uiMs;
        State.counters["other_threads_ms"] = othersMs;
        State.counters["busiest_other_thread_ms"] = busiestOtherMs;
    }
    State.counters["stats_ticks"] = ticks.load();
    State.counters["speed_kmh"] = device.Speed();
    device.Stop();
    device.Disconnect();
}

BENCHMARK(BM_DeviceRidingOnTheVirtualTrainer)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
