// fennick-virtual-stick with a host that stops reading its pseudo-terminal: a replayed flood of
// broadcasts overfills the terminal while the host sleeps, and when it reads again every
// frame it gets is whole and in order, and the stick still answers.
#include "antwire/AntMessage.h"
#include "antwire/TraceLine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

using Bytes = std::vector<uint8_t>;
using antwire::TraceDirection;

namespace {

constexpr int kFlood = 20000; // 260 kB of broadcasts, several times what a terminal buffers

Bytes frame(uint8_t id, Bytes data)
{
    return antwire::encodeMessage(id, data.data(), data.size());
}

const Bytes kReset = frame(0x4A, {0});
const Bytes kStartup = frame(0x6F, {0x20});
const Bytes kStatusRequest = frame(0x4D, {0, 0x52});
const Bytes kStatus = frame(0x52, {0, 0x03});

// Reset, then the flood within a second, then a status request and its answer.
std::string writeFloodTrace()
{
    const std::string path = ::testing::TempDir() + "pty_flood.trace";
    std::ofstream out(path);
    auto line = [&](int64_t micros, TraceDirection d, const Bytes &f) {
        out << antwire::formatTraceLine({micros, d, f}) << '\n';
    };
    line(0, TraceDirection::HostToStick, kReset);
    line(1000, TraceDirection::StickToHost, kStartup);
    for (int i = 0; i < kFlood; ++i)
        line(2000 + i * 50, TraceDirection::StickToHost,
             frame(0x4E, {0, 16, uint8_t(i), uint8_t(i >> 8), 0, 0, 0, 0, 0}));
    line(5000000, TraceDirection::HostToStick, kStatusRequest);
    line(5000100, TraceDirection::StickToHost, kStatus);
    return path;
}

struct Tool {
    pid_t pid = 0;
    std::string pty;
    explicit Tool(const std::string &trace)
    {
        int out[2];
        if (::pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const char *argv[] = {VIRTUAL_STICK_TOOL, "--replay", trace.c_str(), "--quit-after", "60", nullptr};
        if (posix_spawn(&pid, VIRTUAL_STICK_TOOL, &actions, nullptr, const_cast<char **>(argv), environ) != 0)
            pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            pty += c;
        ::close(out[0]);
    }
    // The exit status after SIGTERM.
    int stop()
    {
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = 0;
        return status;
    }
    ~Tool()
    {
        if (pid)
            stop();
    }
};

// Reads until the stick has been quiet for `quietMs`.
Bytes readUntilQuiet(int fd, int quietMs)
{
    Bytes all;
    uint8_t buf[4096];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, quietMs) > 0) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        all.insert(all.end(), buf, buf + n);
    }
    return all;
}

} // namespace

TEST(PtyBackpressure, AHostThatStopsReadingLosesWholeFramesOnly)
{
    const std::string trace = writeFloodTrace();
    Tool tool(trace);
    ASSERT_GT(tool.pid, 0);
    ASSERT_EQ(tool.pty.rfind("/dev/", 0), 0u) << tool.pty;
    const int fd = ::open(tool.pty.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);

    ASSERT_EQ(::write(fd, kReset.data(), kReset.size()), ssize_t(kReset.size()));
    // The flood lasts a second; the host reads nothing for longer than that.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const Bytes got = readUntilQuiet(fd, 300);

    std::vector<antwire::AntMessage> frames;
    antwire::AntMessageDecoder decoder([&](const antwire::AntMessage &m) { frames.push_back(m); });
    decoder.feed(got.data(), got.size());
    EXPECT_EQ(decoder.bytesDropped(), 0u) << "a cut frame shows up as bytes the decoder drops";
    size_t whole = 0;
    for (const auto &m : frames)
        whole += m.data.size() + 4;
    EXPECT_EQ(whole, got.size()) << "the stream must not end in the first part of a frame";
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(antwire::encodeMessage(frames[0]), kStartup);
    int last = -1;
    for (size_t i = 1; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].id, 0x4E);
        const int n = frames[i].data[2] | frames[i].data[3] << 8;
        ASSERT_GT(n, last) << "in order, none twice";
        last = n;
    }
    const size_t broadcasts = frames.size() - 1;
    EXPECT_GT(broadcasts, 100u);
    EXPECT_LT(broadcasts, size_t(kFlood)) << "the terminal cannot have held the whole flood";

    // Back in step: the next answer arrives whole, with nothing before it, through the same
    // decoder (a frame cut before it would swallow it).
    ASSERT_EQ(::write(fd, kStatusRequest.data(), kStatusRequest.size()), ssize_t(kStatusRequest.size()));
    const Bytes answer = readUntilQuiet(fd, 500);
    EXPECT_EQ(answer, kStatus);
    frames.clear();
    decoder.feed(answer.data(), answer.size());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(antwire::encodeMessage(frames[0]), kStatus);
    EXPECT_EQ(decoder.bytesDropped(), 0u);
    ::close(fd);
    const int status = tool.stop();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::remove(trace.c_str());
}
