// The library through its C functions, against a scripted stick on a pseudo-terminal.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cctype>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <functional>
#include <mutex>
#include <thread>

#include "PtyPeer.h"
#include "tests/antlib/LineSpeedProbe.h"
#include "tests/antlib/WithoutFileOverride.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

struct Delivery {
    bool response;
    uint8_t channel;
    uint8_t code;
    Bytes row; // the registered buffer as the callback saw it
};

std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<Delivery> g_deliveries;
uint8_t g_responseRow[10];
uint8_t g_eventRows[16][16];
std::function<void(uint8_t, uint8_t)> g_onEvent; // extra action inside the event callback

// The stick's bytes pass through the kernel, which the race detector cannot see: the action
// is handed over under the mutex instead.
void setOnEvent(std::function<void(uint8_t, uint8_t)> action)
{
    std::lock_guard lock(g_mutex);
    g_onEvent = std::move(action);
}

void record(bool response, uint8_t channel, uint8_t code, const uint8_t *row, size_t size)
{
    {
        std::lock_guard lock(g_mutex);
        g_deliveries.push_back({response, channel, code, Bytes(row, row + size)});
    }
    g_changed.notify_all();
}

bool responseCallback(uint8_t channel, uint8_t id)
{
    record(true, channel, id, g_responseRow, sizeof g_responseRow);
    return true;
}

bool eventCallback(uint8_t channel, uint8_t event)
{
    record(false, channel, event, g_eventRows[channel], 16);
    std::function<void(uint8_t, uint8_t)> action;
    {
        std::lock_guard lock(g_mutex);
        action = g_onEvent;
    }
    if (action)
        action(channel, event);
    return true;
}

size_t deliveryCount()
{
    std::lock_guard lock(g_mutex);
    return g_deliveries.size();
}

// Waits until at least `n` deliveries were made; returns a copy of them.
std::vector<Delivery> waitForDeliveries(size_t n, std::chrono::milliseconds timeout = 2s)
{
    std::unique_lock lock(g_mutex);
    g_changed.wait_for(lock, timeout, [&] { return g_deliveries.size() >= n; });
    return g_deliveries;
}

Bytes row16(std::initializer_list<uint8_t> head)
{
    Bytes row(head);
    row.resize(16, 0);
    return row;
}

Bytes row10(std::initializer_list<uint8_t> head)
{
    Bytes row(head);
    row.resize(10, 0);
    return row;
}

class AntDllPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ANT_UnassignAllResponseFunctions();
        {
            std::lock_guard lock(g_mutex);
            g_deliveries.clear();
        }
        setOnEvent(nullptr);
        ASSERT_GE(peer.deviceNumber(), 0);
        ASSERT_TRUE(peer.open());
        ANT_AssignResponseFunction(responseCallback, g_responseRow);
        for (uint8_t ch = 0; ch < 4; ++ch)
            ANT_AssignChannelEventFunction(ch, eventCallback, g_eventRows[ch]);
    }
    void TearDown() override
    {
        ANT_Close();
        ANT_UnassignAllResponseFunctions();
        setOnEvent(nullptr);
    }

    void expectFrame(uint8_t id, Bytes data)
    {
        auto m = peer.next();
        ASSERT_TRUE(m.has_value()) << "no frame, expected id " << int(id);
        EXPECT_EQ(m->id, id);
        EXPECT_EQ(m->data, data) << "id " << int(id);
    }

    PtyPeer peer;
};

} // namespace

TEST_F(AntDllPty, ResetWaitsForTheStartupMessageWhichReachesTheResponseCallback)
{
    std::thread stick([&] {
        expectFrame(0x4A, {0x00});
        peer.send(0x6F, {0x20});
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ANT_ResetSystem());
    // Answered at once: the reset must not sit out its whole second.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 800ms);
    stick.join();
    auto d = waitForDeliveries(1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_TRUE(d[0].response);
    EXPECT_EQ(d[0].code, 0x6F);
    EXPECT_EQ(d[0].row, row10({0x20}));

    // A stick that never answers still gets its reset written: true after the wait.
    EXPECT_TRUE(ANT_ResetSystem());
    expectFrame(0x4A, {0x00});
}

TEST_F(AntDllPty, ResetFailsWhenTheStickVanishesAndDoesNotStallTheReaderThread)
{
    // Asked from inside a callback, the reset cannot wait for the startup message: that
    // message is read by the very thread that would be waiting.
    std::atomic<bool> resetWritten{false};
    setOnEvent([&](uint8_t, uint8_t event) {
        if (event == 0x9A)
            resetWritten = ANT_ResetSystem();
    });
    peer.send(0x4E, {0, 1, 2, 3, 4, 5, 6, 7, 8});
    expectFrame(0x4A, {0x00});
    const auto sent = std::chrono::steady_clock::now();
    peer.send(0x6F, {0x00});
    auto d = waitForDeliveries(2);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[1].code, 0x6F);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 500ms);
    EXPECT_TRUE(resetWritten);

    std::thread stick([&] {
        expectFrame(0x4A, {0x00});
        peer.hangUp();
    });
    EXPECT_FALSE(ANT_ResetSystem());
    stick.join();
}

TEST_F(AntDllPty, CommandsAreFramedAsTheStickExpects)
{
    const uint8_t key[8] = {0xB9, 0xA5, 0x21, 0xFB, 0xBD, 0x72, 0xC3, 0x45};
    EXPECT_TRUE(ANT_SetNetworkKey(1, key));
    EXPECT_TRUE(ANT_AssignChannel(2, 0x00, 1));
    EXPECT_TRUE(ANT_SetChannelId(2, 0x1234, 17, 5));
    EXPECT_TRUE(ANT_SetChannelPeriod(2, 8192));
    EXPECT_TRUE(ANT_SetTransmitPower(3));
    EXPECT_TRUE(ANT_SetChannelSearchTimeout(2, 10));
    EXPECT_TRUE(ANT_SetLowPriorityChannelSearchTimeout(2, 255));
    EXPECT_TRUE(ANT_SetChannelRFFreq(2, 57));
    EXPECT_TRUE(ANT_OpenChannel(2));
    EXPECT_TRUE(ANT_RequestMessage(2, 0x51));
    EXPECT_TRUE(ANT_RxExtMesgsEnable(7));
    const uint8_t page[8] = {48, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 40};
    EXPECT_TRUE(ANT_SendAcknowledgedData(2, page));
    EXPECT_TRUE(ANT_SendBroadcastData(2, page));
    EXPECT_TRUE(ANT_CloseChannel(2));
    EXPECT_TRUE(ANT_UnAssignChannel(2));
    EXPECT_FALSE(ANT_SetNetworkKey(1, nullptr));
    EXPECT_FALSE(ANT_SendAcknowledgedData(2, nullptr));

    expectFrame(0x46, {1, 0xB9, 0xA5, 0x21, 0xFB, 0xBD, 0x72, 0xC3, 0x45});
    expectFrame(0x42, {2, 0x00, 1});
    expectFrame(0x51, {2, 0x34, 0x12, 17, 5});
    expectFrame(0x43, {2, 0x00, 0x20});
    expectFrame(0x47, {0, 3});
    expectFrame(0x44, {2, 10});
    expectFrame(0x63, {2, 255});
    expectFrame(0x45, {2, 57});
    expectFrame(0x4B, {2});
    expectFrame(0x4D, {2, 0x51});
    expectFrame(0x66, {0, 1});
    expectFrame(0x4F, {2, 48, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 40});
    expectFrame(0x4E, {2, 48, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 40});
    expectFrame(0x4C, {2});
    expectFrame(0x41, {2});
    EXPECT_FALSE(peer.next(100).has_value());

    // The two the application never calls still reach the stick as the protocol has them.
    EXPECT_TRUE(ANT_OpenRxScanMode());
    EXPECT_TRUE(ANT_LibConfig(0x80));
    expectFrame(0x5B, {0});
    expectFrame(0x6E, {0, 0x80});
}

TEST_F(AntDllPty, BurstTransferCarriesSequenceBitsAndMarksTheLastPacket)
{
    Bytes data(5 * 8);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i);
    EXPECT_TRUE(ANT_SendBurstTransfer(1, data.data(), 5));
    const uint8_t channelBytes[5] = {0x01, 0x21, 0x41, 0x61, 0xA1};
    for (int p = 0; p < 5; ++p) {
        Bytes expected{channelBytes[p]};
        expected.insert(expected.end(), data.begin() + p * 8, data.begin() + p * 8 + 8);
        expectFrame(0x50, expected);
    }
    EXPECT_TRUE(ANT_SendBurstTransfer(3, data.data(), 1));
    expectFrame(0x50, {0x83, 0, 1, 2, 3, 4, 5, 6, 7});
    EXPECT_FALSE(ANT_SendBurstTransfer(3, data.data(), 0));
    EXPECT_FALSE(ANT_SendBurstTransfer(3, nullptr, 2));
}

TEST_F(AntDllPty, CommandAnswersAndRepliesReachTheResponseCallback)
{
    EXPECT_TRUE(ANT_AssignChannel(0, 0x00, 0));
    expectFrame(0x42, {0, 0x00, 0});
    peer.send(0x40, {0, 0x42, 0x00});
    peer.send(0x40, {1, 0x4B, 0x15});             // channel in wrong state
    peer.send(0x51, {0, 0x34, 0x12, 0x11, 0x05}); // requested channel id
    peer.send(0x52, {1, 0x03});                   // channel status
    peer.send(0x3E, {'A', 'J', 'K', '3', '.', '1', '0', 'B', '3', '1', 0}); // longer than 10
    auto d = waitForDeliveries(5);
    ASSERT_EQ(d.size(), 5u);
    for (auto &x : d)
        EXPECT_TRUE(x.response);
    EXPECT_EQ(d[0].channel, 0);
    EXPECT_EQ(d[0].code, 0x40);
    EXPECT_EQ(d[0].row, row10({0, 0x42, 0x00}));
    EXPECT_EQ(d[1].channel, 1);
    EXPECT_EQ(d[1].row, row10({1, 0x4B, 0x15}));
    EXPECT_EQ(d[2].code, 0x51);
    EXPECT_EQ(d[2].row, row10({0, 0x34, 0x12, 0x11, 0x05}));
    EXPECT_EQ(d[3].code, 0x52);
    EXPECT_EQ(d[3].channel, 1);
    EXPECT_EQ(d[4].code, 0x3E);
    EXPECT_EQ(d[4].row, (Bytes{'A', 'J', 'K', '3', '.', '1', '0', 'B', '3', '1'}));
}

TEST_F(AntDllPty, DataAndRfEventsReachTheChannelEventCallbackWithTheirRows)
{
    peer.send(0x4E, {0, 16, 25, 0x40, 0x10, 0x88, 0x13, 0xFF, 0x34});
    peer.send(0x4F, {1, 1, 2, 3, 4, 5, 6, 7, 8});
    peer.send(0x50, {0xA2, 9, 8, 7, 6, 5, 4, 3, 2}); // channel 2, sequence 1, last
    peer.send(0x40, {3, 0x01, 0x06});                 // transfer TX failed
    peer.send(0x4E, {0, 25, 1, 2, 3, 4, 5, 6, 7, 0x80, 0x34, 0x12, 17, 5, 0x99}); // extended
    peer.send(0x4E, {9, 1, 2, 3, 4, 5, 6, 7, 8}); // nobody registered for channel 9
    peer.send(0x4E, {1, 1, 2, 3, 4, 5, 6, 7});    // too short to be data
    peer.send(0x40, {2, 0x01, 0x01});             // RX search time-out
    auto d = waitForDeliveries(6);
    ASSERT_EQ(d.size(), 6u);
    for (auto &x : d)
        EXPECT_FALSE(x.response);
    EXPECT_EQ(d[0].channel, 0);
    EXPECT_EQ(d[0].code, 0x9A);
    EXPECT_EQ(d[0].row, row16({0, 16, 25, 0x40, 0x10, 0x88, 0x13, 0xFF, 0x34}));
    EXPECT_EQ(d[1].channel, 1);
    EXPECT_EQ(d[1].code, 0x9B);
    EXPECT_EQ(d[2].channel, 2);
    EXPECT_EQ(d[2].code, 0x9C);
    EXPECT_EQ(d[2].row, row16({0xA2, 9, 8, 7, 6, 5, 4, 3, 2}));
    EXPECT_EQ(d[3].channel, 3);
    EXPECT_EQ(d[3].code, 0x06);
    EXPECT_EQ(d[3].row, row16({3, 0x01, 0x06}));
    EXPECT_EQ(d[4].code, 0x9D);
    EXPECT_EQ(d[4].row, (Bytes{0, 25, 1, 2, 3, 4, 5, 6, 7, 0x80, 0x34, 0x12, 17, 5, 0x99, 0}));
    EXPECT_EQ(d[5].channel, 2);
    EXPECT_EQ(d[5].code, 0x01);
    EXPECT_EQ(d[5].row, row16({2, 0x01, 0x01}));
}

TEST_F(AntDllPty, GarbageAndBadChecksumsAreSkipped)
{
    auto bad = antwire::encodeMessage(0x4E, Bytes{0, 9, 9, 9, 9, 9, 9, 9, 9}.data(), 9);
    bad.back() ^= 0x01;
    Bytes stream{0x00, 0xFF, 0xA4, 0xA4, 0x03};
    stream.insert(stream.end(), bad.begin(), bad.end());
    const auto good = antwire::encodeMessage(0x4E, Bytes{1, 1, 2, 3, 4, 5, 6, 7, 8}.data(), 9);
    stream.insert(stream.end(), good.begin(), good.end());
    peer.writeRaw(stream);
    peer.send(0x40, {1, 0x01, 0x02});
    auto d = waitForDeliveries(2);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].code, 0x9A);
    EXPECT_EQ(d[0].row, row16({1, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(d[1].code, 0x02);
}

TEST_F(AntDllPty, SerialErrorsFromTheStickAreLoggedAndTheStickStaysUsable)
{
    ::testing::internal::CaptureStderr();
    peer.send(0xAE, {0x02});
    peer.send(0xAE, {0x03});
    peer.send(0x4E, {1, 1, 2, 3, 4, 5, 6, 7, 8});
    auto d = waitForDeliveries(3);
    const std::string log = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(d.size(), 3u);
    // Not tied to a channel: the response callback has them, no channel event callback does.
    EXPECT_TRUE(d[0].response);
    EXPECT_EQ(d[0].code, 0xAE);
    EXPECT_EQ(d[0].row, row10({0x02}));
    EXPECT_TRUE(d[1].response);
    EXPECT_EQ(d[1].row, row10({0x03}));
    EXPECT_FALSE(d[2].response);
    EXPECT_EQ(d[2].code, 0x9A);
    EXPECT_NE(log.find("serial error 0x02 (checksum mismatch)"), std::string::npos) << log;
    EXPECT_NE(log.find("serial error 0x03 (message too large)"), std::string::npos) << log;

    // Commands still go out and answers still come back.
    EXPECT_TRUE(ANT_OpenChannel(1));
    expectFrame(0x4B, {1});
    peer.send(0x40, {1, 0x4B, 0x00});
    d = waitForDeliveries(4);
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[3].row, row10({1, 0x4B, 0x00}));
}

TEST_F(AntDllPty, AStickThatKeepsReportingSerialErrorsDoesNotFloodStandardError)
{
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 40; ++i)
        peer.send(0xAE, {0x00});
    waitForDeliveries(40);
    const std::string log = ::testing::internal::GetCapturedStderr();
    size_t lines = 0;
    for (size_t at = log.find("serial error 0x00 (no sync byte)"); at != std::string::npos;
         at = log.find("serial error 0x00", at + 1))
        ++lines;
    EXPECT_EQ(lines, 16u);
    EXPECT_NE(log.find("further serial errors from this stick are not shown"), std::string::npos);
    // A new session starts counting afresh.
    ANT_Close();
    ASSERT_TRUE(peer.open());
    ::testing::internal::CaptureStderr();
    peer.send(0xAE, {0x00});
    waitForDeliveries(41);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("serial error 0x00"), std::string::npos);
}

TEST_F(AntDllPty, LastRegistrationWinsAndNoCallbackStopsDeliveries)
{
    static std::atomic<int> other{0};
    static uint8_t otherRow[10];
    other = 0;
    ANT_AssignResponseFunction(
        [](uint8_t, uint8_t) {
            other++;
            return true;
        },
        otherRow);
    peer.send(0x40, {0, 0x42, 0x00});
    ASSERT_TRUE(ANT_AssignChannel(0, 0, 0)); // a round trip so the answer above was read
    expectFrame(0x42, {0, 0, 0});
    peer.send(0x40, {0, 0x46, 0x00});
    for (int i = 0; i < 200 && other < 2; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(other, 2);
    EXPECT_EQ(Bytes(otherRow, otherRow + 3), (Bytes{0, 0x46, 0x00}));

    ANT_AssignResponseFunction(nullptr, g_responseRow);
    ANT_AssignChannelEventFunction(1, nullptr, g_eventRows[1]);
    peer.send(0x40, {0, 0x43, 0x00});
    peer.send(0x4E, {1, 1, 2, 3, 4, 5, 6, 7, 8});
    peer.send(0x4E, {0, 1, 2, 3, 4, 5, 6, 7, 8}); // channel 0 is still registered
    auto d = waitForDeliveries(1);
    std::this_thread::sleep_for(50ms);
    d = waitForDeliveries(1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].channel, 0);
    EXPECT_EQ(other, 2);
}

TEST_F(AntDllPty, UnregisteringWaitsForADeliveryUnderWay)
{
    // A caller frees its callback target right after unregistering it: the library must not
    // still be inside that callback then.
    std::atomic<bool> inside{false}, finished{false};
    setOnEvent([&](uint8_t, uint8_t) {
        inside = true;
        std::this_thread::sleep_for(200ms);
        finished = true;
    });
    peer.send(0x4E, {0, 1, 2, 3, 4, 5, 6, 7, 8});
    while (!inside)
        std::this_thread::sleep_for(1ms);
    ANT_AssignChannelEventFunction(0, nullptr, nullptr);
    EXPECT_TRUE(finished);
}

TEST_F(AntDllPty, LostStickClosesEachOpenChannelOnceThenCommandsFail)
{
    ASSERT_TRUE(ANT_OpenChannel(0));
    ASSERT_TRUE(ANT_OpenChannel(2));
    ASSERT_TRUE(ANT_OpenChannel(3));
    expectFrame(0x4B, {0});
    expectFrame(0x4B, {2});
    expectFrame(0x4B, {3});
    peer.send(0x40, {0, 0x4B, 0x00});
    peer.send(0x40, {3, 0x01, 0x07}); // channel 3 closed by the stick before the loss
    waitForDeliveries(2);
    peer.hangUp();
    auto d = waitForDeliveries(4);
    std::this_thread::sleep_for(100ms);
    d = waitForDeliveries(4);
    ASSERT_EQ(d.size(), 4u);
    EXPECT_FALSE(d[2].response);
    EXPECT_EQ(d[2].channel, 0);
    EXPECT_EQ(d[2].code, 0x07);
    EXPECT_EQ(d[2].row, row16({0, 0x01, 0x07}));
    EXPECT_EQ(d[3].channel, 2);
    EXPECT_EQ(d[3].code, 0x07);
    EXPECT_FALSE(ANT_AssignChannel(0, 0, 0));
    EXPECT_FALSE(ANT_ResetSystem());
    const uint8_t page[8] = {};
    EXPECT_FALSE(ANT_SendAcknowledgedData(0, page));
    ANT_Close();
}

TEST_F(AntDllPty, ACallbackThatThrowsEndsTheStickNotTheProcess)
{
    ASSERT_TRUE(ANT_OpenChannel(0));
    ASSERT_TRUE(ANT_OpenChannel(1));
    expectFrame(0x4B, {0});
    expectFrame(0x4B, {1});
    // Whatever a caller throws, and again while its channels are being closed.
    setOnEvent([](uint8_t, uint8_t event) {
        if (event == 0x9A)
            throw 42;
        throw std::runtime_error("closing");
    });
    testing::internal::CaptureStderr();
    peer.send(0x4E, {0, 1, 2, 3, 4, 5, 6, 7, 8});
    auto d = waitForDeliveries(3);
    std::this_thread::sleep_for(100ms);
    d = waitForDeliveries(3);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0].code, 0x9A);
    EXPECT_EQ(d[1].channel, 0);
    EXPECT_EQ(d[1].code, 0x07);
    EXPECT_EQ(d[2].channel, 1);
    EXPECT_EQ(d[2].code, 0x07);
    EXPECT_FALSE(ANT_OpenChannel(0));

    // Registrations still return: every delivery ended.
    setOnEvent(nullptr);
    ANT_AssignChannelEventFunction(0, nullptr, nullptr);
    ASSERT_TRUE(peer.open());
    ASSERT_TRUE(ANT_OpenChannel(1));
    expectFrame(0x4B, {1});
}

TEST_F(AntDllPty, NothingIsDeliveredAfterCloseReturns)
{
    std::atomic<bool> stop{false};
    std::thread stick([&] {
        const auto frame = antwire::encodeMessage(0x4E, Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8}.data(), 9);
        while (!stop) {
            try {
                peer.writeRaw(frame);
            } catch (const std::exception &) {
                return; // the library let go of the slave side
            }
            std::this_thread::sleep_for(200us);
        }
    });
    waitForDeliveries(20);
    ANT_Close();
    const size_t atClose = deliveryCount();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(deliveryCount(), atClose);
    stop = true;
    stick.join();
    EXPECT_FALSE(ANT_OpenChannel(0));
}

TEST_F(AntDllPty, CommandsFromOtherThreadsRaceCloseAndReopenSafely)
{
    // Senders keep the stick they found alive until their write is done, whoever closes it
    // meanwhile; the address and race checkers see the rest.
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    auto sender = [&] {
        const uint8_t page[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        while (!stop) {
            if (ANT_SendBroadcastData(0, page))
                ++written;
            ANT_RequestMessage(0, 0x52);
            uint16_t pid;
            ANT_GetDeviceUSBPID(&pid);
        }
    };
    std::thread a(sender), b(sender);
    std::thread resetter([&] {
        while (!stop)
            ANT_ResetSystem();
    });
    std::thread drain([&] {
        while (!stop)
            peer.next(20);
    });
    for (int i = 0; i < 20; ++i) {
        ANT_Close();
        if (!peer.open()) {
            ADD_FAILURE() << "reopen " << i;
            break;
        }
        std::this_thread::sleep_for(2ms);
    }
    stop = true;
    a.join();
    b.join();
    resetter.join();
    drain.join();
    EXPECT_GT(written, 0);
}

TEST_F(AntDllPty, CloseFromInsideACallbackStopsFurtherDeliveries)
{
    std::atomic<int> closes{0};
    setOnEvent([&](uint8_t, uint8_t) {
        if (closes++ == 0)
            ANT_Close();
    });
    // Both frames in one write: the second is decoded after the close inside the first.
    auto both = antwire::encodeMessage(0x4E, Bytes{0, 1, 1, 1, 1, 1, 1, 1, 1}.data(), 9);
    const auto second = antwire::encodeMessage(0x4E, Bytes{0, 2, 2, 2, 2, 2, 2, 2, 2}.data(), 9);
    both.insert(both.end(), second.begin(), second.end());
    peer.writeRaw(both);
    waitForDeliveries(1);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(deliveryCount(), 1u);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(ANT_OpenChannel(0));

    // The library opens again afterwards (the closed session is joined on the way).
    ASSERT_TRUE(peer.open());
    setOnEvent(nullptr);
    ASSERT_TRUE(ANT_OpenChannel(0));
    expectFrame(0x4B, {0});
}

TEST(AntDll, WithoutAnOpenStick)
{
    ANT_Close();
    ::setenv("FENNICK_ANT_SERIAL", "", 1);
    ::unsetenv("FENNICK_VIRTUAL_TRAINER");
    uint8_t product[256], serial[256];
    int devices = 0;
    while (ANT_GetDeviceUSBInfo(uint8_t(devices), product, serial))
        ++devices;
    EXPECT_FALSE(ANT_Init(uint8_t(devices), 57600));
    EXPECT_FALSE(ANT_ResetSystem());
    EXPECT_FALSE(ANT_OpenChannel(0));
    uint16_t pid = 0xBEEF;
    EXPECT_FALSE(ANT_GetDeviceUSBPID(&pid));
    EXPECT_EQ(pid, 0xBEEF);
    EXPECT_TRUE(std::isprint(int(ANT_LibVersion() & 0xFF)));
}

// A serial device that cannot be used keeps its reason, as a USB stick does, for a window
// whose user never sees standard error.
TEST(AntDll, ASerialDeviceThatCannotBeOpenedSaysWhy)
{
    ANT_Close();
    ::unsetenv("FENNICK_VIRTUAL_TRAINER");
    ::setenv("FENNICK_ANT_SERIAL", "", 1);
    uint8_t product[256], serial[256];
    int first = 0;
    while (ANT_GetDeviceUSBInfo(uint8_t(first), product, serial))
        ++first;
    auto reasonAfterInit = [&](const std::string &devices) {
        ::setenv("FENNICK_ANT_SERIAL", devices.c_str(), 1);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(ANT_Init(uint8_t(first), 57600)) << devices;
        const std::string said = testing::internal::GetCapturedStderr();
        char text[512];
        const std::string reason = ANT_GetLastErrorText(text, sizeof text) ? text : "";
        EXPECT_NE(said.find(reason.substr(0, reason.find('\n'))), std::string::npos) << said;
        return reason;
    };

    EXPECT_EQ(reasonAfterInit("/nonexistent/tty").rfind("cannot open /nonexistent/tty: No such file", 0), 0u);

    // Listed, so it can be described, but not a terminal.
    ::setenv("FENNICK_ANT_SERIAL", "::/dev/null:", 1);
    ASSERT_TRUE(ANT_GetDeviceUSBInfo(uint8_t(first), product, serial));
    EXPECT_STREQ(reinterpret_cast<char *>(serial), "/dev/null");
    EXPECT_EQ(reasonAfterInit("::/dev/null:").rfind("/dev/null is not a terminal", 0), 0u);

    // A port the user may not open says how to get in.
    PtyPeer peer;
    ASSERT_EQ(::chmod(peer.slavePath().c_str(), 0), 0);
    {
        fennick::test::WithoutFileOverride asAUser;
        const std::string reason = reasonAfterInit(peer.slavePath());
        EXPECT_NE(reason.find("Permission denied"), std::string::npos) << reason;
        EXPECT_NE(reason.find("sudo usermod -aG dialout $USER"), std::string::npos) << reason;
    }
    ::unsetenv("FENNICK_ANT_SERIAL");
}

// A device named in $FENNICK_ANT_SERIAL is whatever the caller says it is, at any speed the
// line takes, termios constant or not.
TEST(AntDll, ANamedSerialDeviceRunsAtTheSpeedTheCallerAsksFor)
{
    ANT_Close();
    PtyPeer peer;
    for (unsigned baud : {57600u, 50000u, 19200u}) {
        ASSERT_TRUE(ANT_Init(uint8_t(peer.deviceNumber()), uint16_t(baud))) << baud;
        EXPECT_EQ(fennick::test::lineSpeedOf(peer.masterFd()), baud);
    }
    ANT_Close();
    ::unsetenv("FENNICK_ANT_SERIAL");
}

TEST_F(AntDllPty, DescribesTheOpenSerialDevice)
{
    uint8_t product[256], serial[256];
    ASSERT_TRUE(ANT_GetDeviceUSBInfo(uint8_t(peer.deviceNumber()), product, serial));
    EXPECT_STREQ(reinterpret_cast<char *>(serial), peer.slavePath().c_str());
    EXPECT_GT(std::strlen(reinterpret_cast<char *>(product)), 0u);
    uint16_t pid = 0;
    EXPECT_FALSE(ANT_GetDeviceUSBPID(&pid)); // a terminal has no USB product id

    // A new ANT_Init closes the previous stick: the old session no longer reads.
    ASSERT_TRUE(peer.open());
    peer.send(0x4E, {0, 1, 2, 3, 4, 5, 6, 7, 8});
    auto d = waitForDeliveries(1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(deliveryCount(), 1u);
}
