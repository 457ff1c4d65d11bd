// The outbox between the stick engine and a pseudo-terminal that a host stops draining.
#include "antsim/FrameOutbox.h"
#include "antwire/AntMessage.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

using namespace antsim;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes counted(uint16_t n)
{
    const Bytes data{0, 16, uint8_t(n), uint8_t(n >> 8), 0, 0, 0, 0, 0};
    return antwire::encodeMessage(0x4E, data.data(), data.size());
}

// fds[1] is the stick's non-blocking master, fds[0] the host's raw slave.
struct Pty {
    int fds[2] = {-1, -1};
    Pty()
    {
        fds[1] = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fds[1] < 0 || ::grantpt(fds[1]) != 0 || ::unlockpt(fds[1]) != 0)
            throw std::runtime_error("no pseudo-terminal");
        fds[0] = ::open(::ptsname(fds[1]), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        ::tcgetattr(fds[0], &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fds[0], TCSANOW, &tio);
    }
    ~Pty()
    {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    Bytes readAll() const
    {
        Bytes all;
        uint8_t buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
            all.insert(all.end(), buf, buf + n);
        return all;
    }
};

// Decodes `bytes`; the counters carried by the frames, and whether any byte was garbage.
std::vector<uint16_t> counters(const Bytes &bytes, uint64_t &garbage)
{
    std::vector<uint16_t> out;
    antwire::AntMessageDecoder d([&](const antwire::AntMessage &m) { out.push_back(uint16_t(m.data[2] | m.data[3] << 8)); });
    d.feed(bytes.data(), bytes.size());
    garbage = d.bytesDropped();
    return out;
}

} // namespace

TEST(FrameOutbox, AFullDescriptorCostsWholeFramesAndTheCutOneIsFinished)
{
    Pty pty;
    FrameOutbox box(4000);
    uint16_t next = 0;
    // Far more than the terminal holds.
    for (int round = 0; round < 200; ++round) {
        Bytes burst;
        for (int i = 0; i < 100; ++i) {
            const Bytes f = counted(next++);
            burst.insert(burst.end(), f.begin(), f.end());
        }
        box.push(burst);
        ASSERT_TRUE(box.flush(pty.fds[1]));
    }
    EXPECT_GT(box.framesDropped(), 0u);
    EXPECT_LE(box.size(), 4000u);
    EXPECT_FALSE(box.empty());

    // The host reads again: the pipe's bytes, then the outbox's, form whole frames only.
    Bytes got = pty.readAll();
    EXPECT_NE(got.size() % 13, 0u) << "the terminal should hold the first part of a frame " << got.size();
    while (!box.empty()) {
        ASSERT_TRUE(box.flush(pty.fds[1]));
        const Bytes more = pty.readAll();
        got.insert(got.end(), more.begin(), more.end());
    }
    uint64_t garbage = 0;
    const auto seen = counters(got, garbage);
    EXPECT_EQ(garbage, 0u);
    EXPECT_EQ(got.size(), seen.size() * 13);
    EXPECT_EQ(seen.size() + box.framesDropped(), size_t(next));
    for (size_t i = 1; i < seen.size(); ++i)
        ASSERT_LT(seen[i - 1], seen[i]) << "frames come in order, none twice";
    // What went first was kept: the drops are of frames that found the outbox full.
    EXPECT_EQ(seen.front(), 0u);

    // Room again: new frames pass straight through.
    box.push(counted(50000));
    ASSERT_TRUE(box.flush(pty.fds[1]));
    EXPECT_EQ(pty.readAll(), counted(50000));
}

TEST(FrameOutbox, AHostThatIsGoneIsAnError)
{
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
    ::close(fds[0]);
    std::signal(SIGPIPE, SIG_IGN);
    FrameOutbox box;
    box.push(counted(1));
    EXPECT_FALSE(box.flush(fds[1]));
    ::close(fds[1]);
}
