// fennick-virtual-stick: serves the virtual ANT stick on a pseudo-terminal, so that the
// library's serial transport can be exercised end to end (FENNICK_ANT_SERIAL=<printed path>).
#include "antsim/VirtualStick.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <chrono>
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
                 "usage: fennick-virtual-stick [--scenario FILE|default] [--link PATH] [--quit-after SECONDS]\n"
                 "Serves a virtual ANT stick on a new pseudo-terminal and prints its path.\n"
                 "  --scenario     scenario file (see antsim/SCENARIOS.md); default: built-in\n"
                 "  --link PATH    also make PATH a symbolic link to the pseudo-terminal\n"
                 "  --quit-after   stop after this many seconds\n"
                 "Network keys: $FENNICK_ANTPLUS_NETWORK_KEY, $FENNICK_PUBLIC_NETWORK_KEY (16 hex\n"
                 "digits); an unset key means any key is accepted for those devices.\n");
}

bool writeAll(int fd, const std::vector<uint8_t> &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // nobody drains the terminal: the rest is lost, as on an overflowing stick
            return true;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    std::string scenarioName = "default";
    std::string link;
    double quitAfter = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char *name) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "fennick-virtual-stick: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--scenario")
            scenarioName = value("--scenario");
        else if (a == "--link")
            link = value("--link");
        else if (a == "--quit-after") {
            const std::string v = value("--quit-after");
            char *end = nullptr;
            quitAfter = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != '\0' || !(quitAfter >= 0) || quitAfter > 1e7) {
                std::fprintf(stderr, "fennick-virtual-stick: --quit-after needs seconds, got '%s'\n", v.c_str());
                return 2;
            }
        }
        else if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else {
            usage(stderr);
            return 2;
        }
    }

    antsim::Scenario scenario;
    try {
        scenario = antsim::loadScenario(scenarioName);
    } catch (const antsim::ScenarioError &e) {
        std::fprintf(stderr, "fennick-virtual-stick: %s\n", e.what());
        return 1;
    }
    std::string warning;
    const antsim::NetworkKeys keys = antsim::NetworkKeys::fromEnvironment(&warning);
    if (!warning.empty())
        std::fprintf(stderr, "fennick-virtual-stick: %s\n", warning.c_str());

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "fennick-virtual-stick: cannot create a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    const char *name = ptsname(master);
    if (!name) {
        std::fprintf(stderr, "fennick-virtual-stick: ptsname: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string path = name;
    // Our own handle on the slave keeps the master alive between clients, and makes the line
    // raw before anyone sees it (no echo of the host's bytes, no line editing).
    const int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0) {
        std::fprintf(stderr, "fennick-virtual-stick: cannot open %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return 1;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(path.c_str(), link.c_str()) != 0)
            std::fprintf(stderr, "fennick-virtual-stick: cannot link %s: %s\n", link.c_str(),
                         std::strerror(errno));
    }

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    antsim::VirtualStick stick(std::move(scenario), keys);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    auto now = [&] { return std::chrono::duration_cast<antsim::Nanos>(Clock::now() - start); };
    const antsim::Nanos quitAt =
        quitAfter >= 0 ? antsim::fromSeconds(quitAfter) : antsim::VirtualStick::kNever;

    int rc = 0;
    uint8_t buffer[512];
    while (!gStop) {
        antsim::Nanos t = now();
        if (t >= quitAt)
            break;
        if (stick.unplugged(t)) {
            std::fprintf(stderr, "fennick-virtual-stick: unplugged\n");
            break;
        }
        stick.advance(t);
        if (!writeAll(master, stick.takeOutput())) {
            std::fprintf(stderr, "fennick-virtual-stick: write: %s\n", std::strerror(errno));
            rc = 1;
            break;
        }
        const antsim::Nanos due = std::min(stick.nextDue(), quitAt);
        int timeoutMs = 1000;
        if (due != antsim::VirtualStick::kNever) {
            const int64_t ms = (due - t).count() / 1000000 + 1;
            timeoutMs = int(std::clamp<int64_t>(ms, 0, 1000));
        }
        pollfd pfd{master, POLLIN, 0};
        const int r = ::poll(&pfd, 1, timeoutMs);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "fennick-virtual-stick: poll: %s\n", std::strerror(errno));
            rc = 1;
            break;
        }
        if (r > 0 && (pfd.revents & POLLIN)) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                stick.receive(buffer, size_t(n), now());
        }
    }
    ::close(master);
    ::close(slave);
    if (!link.empty())
        ::unlink(link.c_str());
    return rc;
}
