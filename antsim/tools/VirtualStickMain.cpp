// fennick-virtual-stick: serves the virtual ANT stick on a pseudo-terminal, so that the
// library's serial transport can be exercised end to end (FENNICK_ANT_SERIAL=<printed path>).
#include "antsim/FloodSource.h"
#include "antsim/FrameOutbox.h"
#include "antsim/StickEngine.h"
#include "antsim/TraceReplay.h"
#include "TerminalSpeed.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int)
{
    gStop = 1;
}

void usage(FILE *to)
{
    std::fprintf(to,
                 "usage: fennick-virtual-stick [--scenario FILE|default | --replay TRACE [--speed FACTOR]]\n"
                 "                             [--link PATH] [--quit-after SECONDS]\n"
                 "                             [--flood valid|garbage [--flood-at SECONDS] [--flood-for SECONDS]\n"
                 "                              [--flood-rate line|max|BYTES_PER_SECOND]]\n"
                 "Serves a virtual ANT stick on a new pseudo-terminal and prints its path.\n"
                 "  --scenario     scenario file (see antsim/SCENARIOS.md); default: built-in\n"
                 "  --replay       play back the stick's side of a trace ($FENNICK_ANT_TRACE)\n"
                 "  --speed        replay the recorded gaps this many times faster (default 1)\n"
                 "  --link PATH    also make PATH a symbolic link to the pseudo-terminal\n"
                 "  --quit-after   stop after this many seconds\n"
                 "  --flood        babble: repeat the stick's latest data frames (with a serial error\n"
                 "                 now and then), or send garbage that holds no frame, beside the\n"
                 "                 stick's own frames\n"
                 "  --flood-at     start the flood this many seconds in (default 10)\n"
                 "  --flood-for    flood for this many seconds (default 60)\n"
                 "  --flood-rate   line: the line speed the host set (default); max: as fast as the\n"
                 "                 host reads; or a number of bytes a second\n"
                 "Network keys: $FENNICK_ANTPLUS_NETWORK_KEY, $FENNICK_PUBLIC_NETWORK_KEY (16 hex\n"
                 "digits); an unset key means any key is accepted for those devices.\n");
}

struct Options {
    std::string scenario = "default";
    std::string replay;
    double speed = 1.0;
    std::string link;
    double quitAfter = -1;
    bool flood = false;
    antsim::FloodKind floodKind = antsim::FloodKind::Valid;
    double floodAt = 10;
    double floodFor = 60;
    // Bytes a second; 0: the line speed the host set, negative: as fast as the host reads.
    double floodRate = 0;
};

// A positive number of at most `max`, or exits with the usage error.
double number(const std::string &option, const std::string &v, double max)
{
    char *end = nullptr;
    const double d = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || !(d >= 0) || d > max) {
        std::fprintf(stderr, "fennick-virtual-stick: %s needs a number, got '%s'\n", option.c_str(), v.c_str());
        std::exit(2);
    }
    return d;
}

Options parseArguments(int argc, char **argv)
{
    Options o;
    bool scenarioGiven = false;
    bool speedGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "fennick-virtual-stick: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--scenario") {
            o.scenario = value();
            scenarioGiven = true;
        } else if (a == "--replay") {
            o.replay = value();
        } else if (a == "--speed") {
            o.speed = number(a, value(), 1e6);
            speedGiven = true;
            if (o.speed == 0) {
                std::fprintf(stderr, "fennick-virtual-stick: --speed must be above 0\n");
                std::exit(2);
            }
        } else if (a == "--link") {
            o.link = value();
        } else if (a == "--quit-after") {
            o.quitAfter = number(a, value(), 1e7);
        } else if (a == "--flood") {
            const std::string kind = value();
            if (kind != "valid" && kind != "garbage") {
                std::fprintf(stderr, "fennick-virtual-stick: --flood is valid or garbage, got '%s'\n", kind.c_str());
                std::exit(2);
            }
            o.flood = true;
            o.floodKind = kind == "valid" ? antsim::FloodKind::Valid : antsim::FloodKind::Garbage;
        } else if (a == "--flood-at") {
            o.floodAt = number(a, value(), 1e7);
        } else if (a == "--flood-for") {
            o.floodFor = number(a, value(), 1e7);
        } else if (a == "--flood-rate") {
            const std::string rate = value();
            o.floodRate = rate == "line" ? 0 : rate == "max" ? -1 : number(a, rate, 1e9);
            if (o.floodRate == 0 && rate != "line") {
                std::fprintf(stderr, "fennick-virtual-stick: --flood-rate must be above 0\n");
                std::exit(2);
            }
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            std::exit(0);
        } else {
            usage(stderr);
            std::exit(2);
        }
    }
    if (scenarioGiven && !o.replay.empty()) {
        std::fprintf(stderr, "fennick-virtual-stick: --scenario and --replay exclude each other\n");
        std::exit(2);
    }
    if (speedGiven && o.replay.empty()) {
        std::fprintf(stderr, "fennick-virtual-stick: --speed applies to --replay only\n");
        std::exit(2);
    }
    return o;
}

// The simulated stick or the replay; null (after saying why) when it cannot be made.
std::unique_ptr<antsim::StickEngine> makeEngine(const Options &o)
{
    auto report = [](const std::string &line) { std::fprintf(stderr, "fennick-virtual-stick: %s\n", line.c_str()); };
    try {
        if (!o.replay.empty())
            return antsim::makeTraceReplay(o.replay, o.speed, report);
        antsim::Scenario scenario = antsim::loadScenario(o.scenario);
        std::string warning;
        const antsim::NetworkKeys keys = antsim::NetworkKeys::fromEnvironment(&warning);
        if (!warning.empty())
            report(warning);
        return antsim::makeSimulatedStick(std::move(scenario), keys);
    } catch (const antsim::ScenarioError &e) {
        report(e.what());
        return nullptr;
    }
}

struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
};

// A new raw pseudo-terminal with a non-blocking master; false after saying why.
bool openPty(Pty &pty)
{
    pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
        std::fprintf(stderr, "fennick-virtual-stick: cannot create a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return false;
    }
    const char *name = ptsname(pty.master);
    if (!name) {
        std::fprintf(stderr, "fennick-virtual-stick: ptsname: %s\n", std::strerror(errno));
        return false;
    }
    pty.path = name;
    // Our own handle on the slave keeps the master alive between clients, and makes the line
    // raw before anyone sees it (no echo of the host's bytes, no line editing).
    pty.slave = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    if (pty.slave < 0) {
        std::fprintf(stderr, "fennick-virtual-stick: cannot open %s: %s\n", pty.path.c_str(),
                     std::strerror(errno));
        return false;
    }
    termios tio{};
    tcgetattr(pty.slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(pty.slave, TCSANOW, &tio);
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    return true;
}

// Bytes a second on a line at the speed the host set on the terminal (8N1: ten bits a byte);
// 115200 baud when it cannot be read.
double lineBytesPerSecond(int fd)
{
    const unsigned baud = terminalBaud(fd);
    return (baud ? baud : 115200) / 10.0;
}

// The flood's share of the line: paced to its rate from its start, and never more than half
// the outbox, so that the stick's own frames (the answers to the host's commands among them)
// still get through.
class Flood {
public:
    Flood(const Options &o, int terminal)
        : FStart(antsim::fromSeconds(o.floodAt)), FEnd(antsim::fromSeconds(o.floodAt + o.floodFor)),
          FRate(o.floodRate), FTerminal(terminal)
    {
        if (o.flood)
            FSource.emplace(o.floodKind);
    }
    void observe(const std::vector<uint8_t> &stickOutput)
    {
        if (FSource)
            FSource->observe(stickOutput);
    }
    // Adds what is due by `t` to `outbox`.
    void fill(antsim::FrameOutbox &outbox, antsim::Nanos t)
    {
        if (!FSource || t < FStart || FOver)
            return;
        if (t >= FEnd) {
            FOver = true;
            std::fprintf(stderr, "fennick-virtual-stick: flood over, %llu bytes sent\n",
                         static_cast<unsigned long long>(FSource->bytesGiven()));
            return;
        }
        if (!FStarted) {
            FStarted = true;
            if (FRate == 0)
                FRate = lineBytesPerSecond(FTerminal);
            std::fprintf(stderr, "fennick-virtual-stick: flooding, %s\n",
                         FRate < 0 ? "as fast as the host reads" : (std::to_string(long(FRate)) + " bytes a second").c_str());
        }
        const size_t half = outbox.capacity() / 2;
        size_t room = outbox.size() < half ? half - outbox.size() : 0;
        if (FRate > 0) {
            const double due = FRate * double((t - FStart).count()) / 1e9 - double(FSource->bytesGiven());
            room = std::min(room, size_t(std::max(0.0, due)));
        }
        if (room >= 32)
            outbox.pushPiece(FSource->take(room));
    }
    // Milliseconds until more flood is due; -1 when none will be.
    int dueInMs(antsim::Nanos t) const
    {
        if (!FSource || FOver)
            return -1;
        if (t < FStart)
            return int(std::min<int64_t>((FStart - t).count() / 1000000 + 1, 1000));
        return FRate < 0 ? 1000 : 5;
    }
    // Unpaced, the flood goes out whenever the terminal has room.
    bool waitsForRoom(antsim::Nanos t) const { return FSource && !FOver && FRate < 0 && t >= FStart; }

private:
    std::optional<antsim::FloodSource> FSource;
    const antsim::Nanos FStart, FEnd;
    double FRate;
    const int FTerminal;
    bool FStarted = false;
    bool FOver = false;
};

// Runs the engine against the pty until a signal, `quitAt` or an unplug; the exit code.
int serve(antsim::StickEngine &stick, int master, antsim::Nanos quitAt, Flood &flood)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    auto now = [&] { return std::chrono::duration_cast<antsim::Nanos>(Clock::now() - start); };
    constexpr antsim::Nanos kNever = antsim::VirtualStick::kNever;
    // A host that stops reading must not stop the stick's clock, nor see a frame cut short.
    antsim::FrameOutbox outbox;
    uint8_t buffer[512];
    while (!gStop) {
        const antsim::Nanos t = now();
        if (t >= quitAt)
            return 0;
        if (stick.unplugged(t)) {
            std::fprintf(stderr, "fennick-virtual-stick: unplugged\n");
            return 0;
        }
        stick.advance(t);
        const std::vector<uint8_t> output = stick.takeOutput();
        flood.observe(output);
        outbox.push(output);
        flood.fill(outbox, t);
        if (!outbox.flush(master)) {
            std::fprintf(stderr, "fennick-virtual-stick: write: %s\n", std::strerror(errno));
            return 1;
        }
        const antsim::Nanos due = std::min(stick.nextDue(), quitAt);
        int timeoutMs = 1000;
        if (due != kNever)
            timeoutMs = int(std::clamp<int64_t>((due - t).count() / 1000000 + 1, 0, 1000));
        if (const int floodMs = flood.dueInMs(t); floodMs >= 0)
            timeoutMs = std::min(timeoutMs, floodMs);
        const bool write = !outbox.empty() || flood.waitsForRoom(t);
        pollfd pfd{master, short(POLLIN | (write ? POLLOUT : 0)), 0};
        const int r = ::poll(&pfd, 1, timeoutMs);
        if (r < 0 && errno != EINTR) {
            std::fprintf(stderr, "fennick-virtual-stick: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (r > 0 && (pfd.revents & POLLIN)) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                stick.receive(buffer, size_t(n), now());
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = parseArguments(argc, argv);
    const std::unique_ptr<antsim::StickEngine> stick = makeEngine(options);
    if (!stick)
        return 1;
    Pty pty;
    if (!openPty(pty))
        return 1;
    if (!options.link.empty()) {
        ::unlink(options.link.c_str());
        if (::symlink(pty.path.c_str(), options.link.c_str()) != 0)
            std::fprintf(stderr, "fennick-virtual-stick: cannot link %s: %s\n", options.link.c_str(),
                         std::strerror(errno));
    }

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", pty.path.c_str());
    std::fflush(stdout);

    const antsim::Nanos quitAt =
        options.quitAfter >= 0 ? antsim::fromSeconds(options.quitAfter) : antsim::VirtualStick::kNever;
    Flood flood(options, pty.slave);
    const int rc = serve(*stick, pty.master, quitAt, flood);
    ::close(pty.master);
    ::close(pty.slave);
    if (!options.link.empty())
        ::unlink(options.link.c_str());
    return rc;
}
