// The calibration application on the virtual trainer, in one process as fennick runs it: the
// time until the window is first painted, then, while calibrating (connected, P1 applied, the
// rider pedalling), the resident memory and the CPU use and wake-ups of the whole process and
// of each group of threads, with the results window closed and then open. Targets: window under 300 ms, under 80 MB, under 0.5 % of one core
// and under 20 wake-ups/s for our own threads (the UI thread and the fennick-* workers). The
// library's reader thread (ant-lib-reader), which also runs the simulated radio, and Qt's
// threads are shown apart. Wake-ups are voluntary context switches: each is one sleep ended.
// Duration of the calibrating window: $FENNICK_BENCH_SECONDS (default 60).
#include "app/Application.h"
#include "app/CalibrationWindow.h"
#include "app/Dialogs.h"
#include "app/HeaderMenu.h"
#include "platform/Registry.h"
#include "platform/UiThread.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double BenchSeconds()
{
    const char *v = std::getenv("FENNICK_BENCH_SECONDS");
    const double s = v ? std::atof(v) : 60.0;
    return s > 0 ? s : 60.0;
}

double MsSince(Clock::time_point Start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
}

std::string ReadFile(const std::string &Path)
{
    std::ifstream in(Path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A "Key:   value" line of a /proc status file, as a number.
double StatusValue(const std::string &Status, const std::string &Key)
{
    const size_t at = Status.find(Key + ":");
    return at == std::string::npos ? 0 : std::atof(Status.c_str() + at + Key.size() + 1);
}

struct TThreadUse {
    std::string Name;
    double CpuSeconds = 0;
    double Wakeups = 0;
};

// Every thread of this process by id: its name, CPU time and voluntary switches so far.
std::map<int, TThreadUse> SampleThreads()
{
    std::map<int, TThreadUse> threads;
    const double tick = double(sysconf(_SC_CLK_TCK));
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/task")) {
        const std::string dir = entry.path().string();
        const std::string stat = ReadFile(dir + "/stat");
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        TThreadUse use;
        use.Name = stat.substr(open + 1, close - open - 1);
        // After the name: state is field 3, utime 14 and stime 15.
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14)
                utime = std::atof(field.c_str());
            if (i == 15)
                stime = std::atof(field.c_str());
        }
        use.CpuSeconds = (utime + stime) / tick;
        use.Wakeups = StatusValue(ReadFile(dir + "/status"), "voluntary_ctxt_switches");
        threads[std::atoi(entry.path().filename().c_str())] = use;
    }
    return threads;
}

enum TGroup { gOwn, gLibrary, gOther };

TGroup GroupOf(int Tid, const std::string &Name)
{
    if (Tid == getpid() || Name.rfind("fennick-", 0) == 0)
        return gOwn;
    if (Name == "ant-lib-reader")
        return gLibrary;
    return gOther;
}

// Milliseconds since this process was started, at the kernel's tick resolution.
double ProcessAgeMs()
{
    const std::string stat = ReadFile("/proc/self/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double startedS = std::atof(field.c_str()) / double(sysconf(_SC_CLK_TCK));
    return (double(now.tv_sec) + double(now.tv_nsec) * 1e-9 - startedS) * 1000.0;
}

class TDismissAll : public TDialogs {
public:
    void ShowMessage(const std::string &, const std::string &) override {}
    void ShowError(const std::string &Text, const std::string &) override
    {
        std::fprintf(stderr, "bench_app: error box: %s\n", Text.c_str());
    }
};

class TFirstPaint : public QObject {
public:
    bool Painted = false;

protected:
    bool eventFilter(QObject *, QEvent *Event) override
    {
        Painted = Painted || Event->type() == QEvent::Paint;
        return false;
    }
};

bool PumpUntil(const std::function<bool()> &Done, int Ms)
{
    const auto start = Clock::now();
    while (!Done()) {
        if (MsSince(start) > Ms)
            return false;
        PumpMessages(10);
    }
    return true;
}

// CPU use and wake-ups of the process while calibrating for Seconds, as counters named Prefix...
void MeasureCalibrating(benchmark::State &State, const std::string &Prefix, double Seconds)
{
    const std::map<int, TThreadUse> before = SampleThreads();
    const auto loopStart = Clock::now();
    QEventLoop loop;
    QTimer::singleShot(int(Seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double wall = MsSince(loopStart) / 1000.0;
    const std::map<int, TThreadUse> after = SampleThreads();
    State.counters[Prefix + "rss_mb"] = StatusValue(ReadFile("/proc/self/status"), "VmRSS") / 1024.0;

    double cpu[3] = {}, wakeups[3] = {};
    for (const auto &[tid, now] : after) {
        const auto was = before.find(tid);
        const double c = now.CpuSeconds - (was != before.end() ? was->second.CpuSeconds : 0);
        const double w = now.Wakeups - (was != before.end() ? was->second.Wakeups : 0);
        const TGroup group = GroupOf(tid, now.Name);
        cpu[group] += c;
        wakeups[group] += w;
        std::fprintf(stderr, "bench_app: %sthread %-16s %6.3f %% cpu %7.1f wake-ups/s\n", Prefix.c_str(),
                     now.Name.c_str(), 100.0 * c / wall, w / wall);
    }
    State.counters[Prefix + "cpu_percent"] = 100.0 * (cpu[gOwn] + cpu[gLibrary] + cpu[gOther]) / wall;
    State.counters[Prefix + "wakeups_per_s"] = (wakeups[gOwn] + wakeups[gLibrary] + wakeups[gOther]) / wall;
    State.counters[Prefix + "own_cpu_percent"] = 100.0 * cpu[gOwn] / wall;
    State.counters[Prefix + "own_wakeups_per_s"] = wakeups[gOwn] / wall;
    State.counters[Prefix + "library_cpu_percent"] = 100.0 * cpu[gLibrary] / wall;
    State.counters[Prefix + "library_wakeups_per_s"] = wakeups[gLibrary] / wall;
    State.counters[Prefix + "qt_cpu_percent"] = 100.0 * cpu[gOther] / wall;
    State.counters[Prefix + "qt_wakeups_per_s"] = wakeups[gOther] / wall;
}

void BM_CalibrationWindowOnTheVirtualTrainer(benchmark::State &State)
{
    for (auto _ : State) {
        const auto start = Clock::now();
        static int argc = 1;
        static char name[] = "bench_app";
        static char *argv[] = {name, nullptr};
        // Never destroyed: Qt's teardown among the static destructors is not what is measured.
        static QApplication *app = new QApplication(argc, argv);
        SetUpApplication(*app);
        TDismissAll dialogs;
        SetDialogs(&dialogs);
        TFirstPaint firstPaint;
        auto window = std::make_unique<TForm1>();
        window->installEventFilter(&firstPaint);
        window->show();
        if (!PumpUntil([&] { return firstPaint.Painted; }, 10000)) {
            State.SkipWithError("the window was never painted");
            return;
        }
        State.counters["window_ms"] = MsSince(start);
        // From the process's start (exec, loading, static set-up) at the kernel's tick resolution.
        State.counters["process_to_window_ms"] = ProcessAgeMs();

        window->Button5->click();
        if (!PumpUntil([&] { return !window->Button5->isEnabled(); }, 30000)) {
            State.SkipWithError("the trainer never connected");
            return;
        }
        PumpMessages(2000);

        const double seconds = BenchSeconds();
        MeasureCalibrating(State, "", seconds);
        // The same again with the results window open, its live table and chart drawn each tick.
        window->HeaderMenu()->OpenResults();
        PumpMessages(2000);
        MeasureCalibrating(State, "results_", seconds);
        State.counters["speed_kmh"] = window->TarvoDeviceANT1()->Speed();

        window->Button4->click();
        window.reset();
        SetDialogs(nullptr);
    }
}

} // namespace

BENCHMARK(BM_CalibrationWindowOnTheVirtualTrainer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    // Before any thread: the library reads these when it is loaded.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("FENNICK_VIRTUAL_TRAINER", "default", 1);
    ::setenv("FENNICK_ANT_LIBRARY", ANT_DLL_PATH, 1);
    ::unsetenv("FENNICK_ANT_SERIAL");
    char dir[] = "/tmp/fennick-bench-app-XXXXXX";
    if (::mkdtemp(dir) == nullptr)
        return 1;
    // An empty hive of its own: no calibration software installed, and the user's is untouched.
    SetRegistryFile(std::string(dir) + "/registry.reg");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SetRegistryFile("");
    std::filesystem::remove_all(dir);
    return 0;
}
