// CPU used by the virtual stick while three channels (heart rate, FE-C trainer, console) are
// open and a host reads everything it sends. Duration: $FENNICK_BENCH_SECONDS (default 30) so
// CI can run it short. The figure to watch is the counter cpu_percent (of one core): the
// engine sleeps until its next due slot, so it should stay far below 1 %.
#include "antwire/AntMessage.h"
#include "antsim/VirtualTransport.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

const char *kWorld = "trainer 4242\nhr 77\nconsole 12\nrider 0 150 85\n";

double benchSeconds()
{
    const char *v = std::getenv("FENNICK_BENCH_SECONDS");
    const double s = v ? std::atof(v) : 30.0;
    return s > 0 ? s : 30.0;
}

double cpuSeconds(int who)
{
    rusage ru{};
    getrusage(who, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

std::vector<uint8_t> threeChannelSetup()
{
    std::vector<uint8_t> out;
    auto add = [&](uint8_t id, std::vector<uint8_t> d) {
        const auto f = antwire::encodeMessage(id, d.data(), d.size());
        out.insert(out.end(), f.begin(), f.end());
    };
    struct Ch { uint8_t ch, type, net, dev, rf; uint16_t period; };
    for (const Ch &c : {Ch{0, 0, 0, 120, 57, 8070}, Ch{1, 0, 0, 17, 57, 8192}, Ch{2, 1, 1, 18, 70, 16150}}) {
        add(0x42, {c.ch, c.type, c.net});
        add(0x51, {c.ch, 0, 0, c.dev, 0});
        add(0x43, {c.ch, uint8_t(c.period), uint8_t(c.period >> 8)});
        add(0x44, {c.ch, 0});
        add(0x63, {c.ch, 255});
        add(0x45, {c.ch, c.rf});
        add(0x4B, {c.ch});
    }
    return out;
}

// In process: the transport is read by one thread, as the library's reader does.
void BM_VirtualTransportThreeChannels(benchmark::State &state)
{
    const double seconds = benchSeconds();
    for (auto _ : state) {
        antsim::VirtualTransport t(antsim::parseScenario(kWorld), antsim::NetworkKeys{});
        const auto setup = threeChannelSetup();
        t.write(setup.data(), setup.size());
        std::atomic<uint64_t> bytes{0};
        const double cpu0 = cpuSeconds(RUSAGE_SELF);
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + std::chrono::duration<double>(seconds);
        uint8_t buf[512];
        while (std::chrono::steady_clock::now() < end) {
            const int n = t.read(buf, sizeof buf, 500);
            if (n < 0)
                break;
            bytes += uint64_t(n);
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
        state.counters["cpu_percent"] = 100.0 * cpu / wall;
        state.counters["bytes_per_s"] = double(bytes) / wall;
    }
}

// The pty server as its own process: its CPU is read from the children's usage at its end.
void BM_PtyToolThreeChannels(benchmark::State &state)
{
    const double seconds = benchSeconds();
    for (auto _ : state) {
        int out[2];
        if (pipe(out) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        const std::string quit = std::to_string(seconds + 0.5);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string world = "/tmp/antsim_bench_world_" + std::to_string(getpid()) + ".txt";
        if (FILE *f = std::fopen(world.c_str(), "w")) {
            std::fputs(kWorld, f);
            std::fclose(f);
        }
        const char *argv[] = {VIRTUAL_STICK_TOOL, "--scenario", world.c_str(), "--quit-after", quit.c_str(), nullptr};
        pid_t pid = 0;
        const double children0 = cpuSeconds(RUSAGE_CHILDREN);
        if (posix_spawn(&pid, VIRTUAL_STICK_TOOL, &actions, nullptr, const_cast<char **>(argv), environ) != 0) {
            state.SkipWithError("spawn");
            return;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string pty;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            pty += c;
        close(out[0]);
        const int fd = open(pty.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            state.SkipWithError("open pty");
            return;
        }
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
        const auto setup = threeChannelSetup();
        if (write(fd, setup.data(), setup.size()) < 0) {
            state.SkipWithError("write");
        }
        uint64_t bytes = 0;
        uint8_t buf[512];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0)
                break;
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            bytes += uint64_t(n);
        }
        close(fd);
        int status = 0;
        waitpid(pid, &status, 0);
        std::remove(world.c_str());
        const double cpu = cpuSeconds(RUSAGE_CHILDREN) - children0;
        state.counters["cpu_percent"] = 100.0 * cpu / (seconds + 0.5);
        state.counters["bytes_read"] = double(bytes);
    }
}

} // namespace

BENCHMARK(BM_VirtualTransportThreeChannels)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_PtyToolThreeChannels)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_MAIN();
