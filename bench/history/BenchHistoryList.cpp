// Opening the history and listing it as the history window would: 10 000 sessions of 3 points
// with 60 samples each, every session on one of four trainers. The target is under 200 ms for
// open and list together. The file is written once through the store (on /dev/shm where there
// is one, as its thousands of synced commits would take minutes on a disk) and read from the
// page cache, as a file used a moment ago would be.
#include "history/HistoryStore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

constexpr int SessionCount = 10'000;

std::string TrainerOf(int Session) { return "manufacturer 32, model 4, serial " + std::to_string(100 + Session % 4); }

THistoryPoint MakePoint(int Level)
{
    THistoryPoint point;
    point.Name = "P" + std::to_string(Level);
    point.Level = Level * 3;
    point.TargetKmh = 10.0 * Level;
    point.Settled = true;
    point.MeanKmh = point.TargetKmh + 0.2;
    point.DeviationPercent = 2.0 / Level;
    for (int i = 0; i < 60; ++i)
        point.Samples.push_back({i * 0.5, point.TargetKmh + (i % 7) * 0.01});
    return point;
}

class BenchFile {
public:
    BenchFile()
    {
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        FFolder = base / ("fennick-history-bench-" + std::to_string(::getpid()));
        FPath = (FFolder / "history.sqlite").string();
        std::string error;
        auto store = THistoryStore::Open(FPath, error);
        if (!store) {
            FError = error;
            return;
        }
        for (int n = 0; n < SessionCount && FError.empty(); ++n)
            Write(*store, n);
    }
    ~BenchFile() { std::filesystem::remove_all(FFolder); }
    const std::string &Path() const { return FPath; }
    const std::string &Error() const { return FError; }

private:
    void Write(THistoryStore &Store, int N)
    {
        THistorySession session;
        session.StartedMs = 1'700'000'000'000 + int64_t(N) * 3'600'000;
        session.TrainerIdentity = TrainerOf(N);
        session.SettingsFile = "/home/rider/.config/fennick/registry.reg";
        session.AppVersion = "0.1";
        const int64_t id = Store.BeginSession(session);
        bool written = id > 0;
        for (int level = 1; written && level <= 3; ++level)
            written = Store.AddPoint(id, MakePoint(level));
        if (!written || !Store.EndSession(id, session.StartedMs + 900'000))
            FError = Store.LastError();
    }

    std::filesystem::path FFolder;
    std::string FPath;
    std::string FError;
};

BenchFile &File()
{
    static BenchFile file;
    return file;
}

void OpenAndList(benchmark::State &State, const std::string &Trainer)
{
    if (!File().Error().empty()) {
        State.SkipWithError(File().Error().c_str());
        return;
    }
    size_t sessions = 0;
    for (auto _ : State) {
        std::string error;
        auto store = THistoryStore::Open(File().Path(), error);
        if (!store) {
            State.SkipWithError(error.c_str());
            return;
        }
        sessions = store->Sessions(Trainer).size();
        benchmark::DoNotOptimize(sessions);
    }
    State.counters["sessions"] = double(sessions);
}

void BM_OpenAndListEverySession(benchmark::State &State) { OpenAndList(State, ""); }
BENCHMARK(BM_OpenAndListEverySession)->Unit(benchmark::kMillisecond);

void BM_OpenAndListOneTrainer(benchmark::State &State) { OpenAndList(State, TrainerOf(1)); }
BENCHMARK(BM_OpenAndListOneTrainer)->Unit(benchmark::kMillisecond);

} // namespace
