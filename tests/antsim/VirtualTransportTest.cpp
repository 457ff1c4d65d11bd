// The virtual stick as an in-process transport on the real clock: pacing, unplug, close and
// concurrent use from a reader and a writer thread.
#include "antsim/VirtualTransport.h"
#include "antwire/AntMessage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace antsim;
using Clock = std::chrono::steady_clock;

namespace {

void send(antwire::Transport &t, uint8_t id, std::vector<uint8_t> data)
{
    const auto frame = antwire::encodeMessage(id, data.data(), data.size());
    ASSERT_TRUE(t.write(frame.data(), frame.size()));
}

// Reads and decodes until `done` says so, the stick goes away or `limit` passes.
// Returns the last read result (-1 when the stick went away).
int readUntil(antwire::Transport &t, std::vector<antwire::AntMessage> &got,
              const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    antwire::AntMessageDecoder dec([&](const antwire::AntMessage &m) { got.push_back(m); });
    const auto end = Clock::now() + limit;
    uint8_t buf[256];
    int n = 0;
    while (!done() && Clock::now() < end) {
        n = t.read(buf, sizeof buf, 100);
        if (n < 0)
            return n;
        dec.feed(buf, size_t(n));
    }
    return n;
}

void openTrainer(antwire::Transport &t)
{
    send(t, 0x42, {0, 0, 0});
    send(t, 0x51, {0, 0, 0, 17, 0});
    send(t, 0x43, {0, 0x00, 0x20});
    send(t, 0x45, {0, 57});
    send(t, 0x63, {0, 255});
    send(t, 0x4B, {0});
}

size_t countBroadcasts(const std::vector<antwire::AntMessage> &got)
{
    size_t n = 0;
    for (const auto &m : got)
        n += m.id == 0x4E;
    return n;
}

} // namespace

TEST(VirtualTransport, ServesAnOpenChannelInRealTime)
{
    VirtualTransport t(loadScenario("default"), NetworkKeys{});
    EXPECT_EQ(t.productId(), 0);
    EXPECT_FALSE(t.productName().empty());
    send(t, 0x4A, {0});
    std::vector<antwire::AntMessage> got;
    readUntil(t, got, [&] { return !got.empty(); }, std::chrono::seconds(5));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].id, 0x6F);

    got.clear();
    openTrainer(t);
    readUntil(t, got, [&] { return countBroadcasts(got) >= 3; }, std::chrono::seconds(10));
    EXPECT_GE(countBroadcasts(got), 3u);
    size_t responses = 0;
    for (const auto &m : got)
        responses += m.id == 0x40 && m.data[1] != 0x01 && m.data[2] == 0;
    EXPECT_EQ(responses, 6u);
    // A read with nothing due returns 0 at its time-out.
    send(t, 0x4C, {0});
    got.clear();
    readUntil(t, got, [&] { return got.size() >= 2; }, std::chrono::seconds(5));
    uint8_t buf[16];
    EXPECT_EQ(t.read(buf, sizeof buf, 50), 0);
}

TEST(VirtualTransport, AHostThatStopsReadingLosesWholeFramesNeverParts)
{
    auto t = makeVirtualTransport("default", [](const std::string &) {});
    ASSERT_TRUE(t);
    auto &stick = static_cast<VirtualTransport &>(*t);
    // Far more answers than the stick holds, and none read.
    const auto request = antwire::encodeMessage(0x4D, std::vector<uint8_t>{0, 0x54}.data(), 2);
    std::vector<uint8_t> many;
    for (int i = 0; i < 12000; ++i)
        many.insert(many.end(), request.begin(), request.end());
    ASSERT_TRUE(t->write(many.data(), many.size()));
    EXPECT_GT(stick.framesDropped(), 0u);

    std::vector<antwire::AntMessage> got;
    antwire::AntMessageDecoder dec([&](const antwire::AntMessage &m) { got.push_back(m); });
    uint8_t buf[100]; // smaller than what is held, and not a multiple of a frame
    for (int n; (n = t->read(buf, sizeof buf, 0)) > 0;)
        dec.feed(buf, size_t(n));
    EXPECT_EQ(dec.bytesDropped(), 0u) << "a cut frame reached the host";
    EXPECT_GT(got.size(), 1000u);
    EXPECT_LE(got.size() * 12, VirtualTransport::kMaxPending);
    for (const auto &m : got)
        ASSERT_EQ(m.id, 0x54);

    // Once the host reads again, the next answer comes through clean.
    got.clear();
    send(*t, 0x4D, {0, 0x54});
    readUntil(*t, got, [&] { return !got.empty(); }, std::chrono::milliseconds(1000));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id, 0x54);
}

TEST(VirtualTransport, UnplugEndsReadsAndWrites)
{
    const std::string path = ::testing::TempDir() + "antsim_unplug.txt";
    FILE *f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("trainer 4242\nunplug 1\n", f);
    std::fclose(f);
    auto t = makeVirtualTransport(path, [](const std::string &) {});
    ASSERT_NE(t, nullptr);
    openTrainer(*t);
    std::vector<antwire::AntMessage> got;
    const int last = readUntil(*t, got, [] { return false; }, std::chrono::seconds(10));
    EXPECT_EQ(last, -1);
    uint8_t reset[] = {0xA4, 0x01, 0x4A, 0x00, 0xEF};
    EXPECT_FALSE(t->write(reset, sizeof reset));
    uint8_t buf[8];
    EXPECT_EQ(t->read(buf, sizeof buf, 10), -1);
    std::remove(path.c_str());
}

TEST(VirtualTransport, FactoryRejectsBadScenarios)
{
    std::string err;
    const auto collect = [&](const std::string &line) { err += line + '\n'; };
    EXPECT_EQ(makeVirtualTransport("/nonexistent/antsim.txt", collect), nullptr);
    EXPECT_NE(err.find("cannot read scenario file /nonexistent/antsim.txt"), std::string::npos);
    EXPECT_NE(makeVirtualTransport("default", collect), nullptr);
}

TEST(VirtualTransport, CloseWakesABlockedReader)
{
    VirtualTransport t(loadScenario("default"), NetworkKeys{});
    std::atomic<int> result{1};
    std::thread reader([&] {
        uint8_t buf[8];
        result = t.read(buf, sizeof buf, -1); // nothing is due: waits for ever
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(result.load(), 1);
    t.close();
    reader.join();
    EXPECT_EQ(result.load(), -1);
    uint8_t reset[] = {0xA4, 0x01, 0x4A, 0x00, 0xEF};
    EXPECT_FALSE(t.write(reset, sizeof reset));
}

TEST(VirtualTransport, ReaderAndWriterThreadsShareTheStick)
{
    VirtualTransport t(parseScenario("trainer 4242\nhr 77\nrider 0 150 85\n"), NetworkKeys{});
    openTrainer(t);
    std::atomic<bool> stop{false};
    std::atomic<size_t> statuses{0};
    std::thread reader([&] {
        std::vector<antwire::AntMessage> got;
        antwire::AntMessageDecoder dec([&](const antwire::AntMessage &m) {
            if (m.id == 0x52)
                ++statuses;
        });
        uint8_t buf[64];
        while (!stop) {
            const int n = t.read(buf, sizeof buf, 20);
            if (n < 0)
                break;
            dec.feed(buf, size_t(n));
        }
    });
    for (int i = 0; i < 200; ++i) {
        send(t, 0x4D, {0, 0x52});
        if (i % 20 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (statuses < 200 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop = true;
    reader.join();
    EXPECT_EQ(statuses.load(), 200u);
}
