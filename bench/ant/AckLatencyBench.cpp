// Time from a channel's SendResistance to the trainer on the virtual stick taking that page
// 48: right after the connection (what the window does for a trainer that needs its wheel
// diameter first: diameter, then resistance, while the capabilities request follows) and
// later, on a connection with nothing else going on. Manual time, one send per repetition.
#include "VirtualTrainerSession.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <memory>

namespace {

constexpr int LimitMs = 20000;

vts::TVirtualTrainerSession &Session()
{
    static std::unique_ptr<vts::TVirtualTrainerSession> session;
    if (!session)
        session = std::make_unique<vts::TVirtualTrainerSession>("ack-latency");
    return *session;
}

uint8_t NextLevel()
{
    static int n = 0;
    return uint8_t(20 + (n++ % 150));
}

bool TrainerTookLevel(vts::TVirtualTrainerSession &s, uint8_t Level, size_t From)
{
    const auto pages = s.AcknowledgedPages();
    for (size_t i = From; i < pages.size(); ++i)
        if (pages[i][0] == 0x30 && pages[i][7] == Level)
            return true;
    return false;
}

void BM_ResistanceAfterConnect(benchmark::State &state)
{
    auto &s = Session();
    if (!s.Ready()) {
        state.SkipWithError("no virtual stick");
        return;
    }
    for (auto _ : state) {
        if (s.Ch->Connected())
            s.Ctl.CloseChannel(s.Ch);
        const uint8_t level = NextLevel();
        const size_t from = s.AcknowledgedPages().size();
        vts::Clock::time_point sent{};
        s.OnConnected = [&] {
            s.Ch->SetWheelDiameter(740);
            sent = vts::Clock::now();
            s.Ch->SendResistance(level);
        };
        if (!s.Connect()) {
            state.SkipWithError("not connected");
            return;
        }
        if (!vts::Pump([&] { return TrainerTookLevel(s, level, from); }, LimitMs)) {
            state.SkipWithError("page 48 never reached the trainer");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(vts::Clock::now() - sent).count());
        s.OnConnected = nullptr;
        // Let the connection's pages settle before the next run closes it.
        vts::Pump([] { return false; }, 1500);
    }
}

void BM_ResistanceLater(benchmark::State &state)
{
    auto &s = Session();
    if (!s.Ready()) {
        state.SkipWithError("no virtual stick");
        return;
    }
    if (!s.Ch->Connected()) {
        if (!s.Connect()) {
            state.SkipWithError("not connected");
            return;
        }
        vts::Pump([] { return false; }, 2000);
    }
    for (auto _ : state) {
        const uint8_t level = NextLevel();
        const size_t from = s.AcknowledgedPages().size();
        const auto sent = vts::Clock::now();
        s.Ch->SendResistance(level);
        if (!vts::Pump([&] { return TrainerTookLevel(s, level, from); }, LimitMs)) {
            state.SkipWithError("page 48 never reached the trainer");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(vts::Clock::now() - sent).count());
        // A pause of a second and a bit, so the send falls anywhere within a channel period.
        vts::Pump([] { return false; }, 1000 + 37 * (level % 7));
    }
}

BENCHMARK(BM_ResistanceAfterConnect)->Iterations(1)->Repetitions(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResistanceLater)->Iterations(1)->Repetitions(20)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
