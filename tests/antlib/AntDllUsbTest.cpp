// The library's USB sticks, against a stand-in libusb defined in this program: the library's
// libusb calls resolve here first, so no hardware is needed.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <libusb.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "antwire/AntMessage.h"
#include "antlib/ant_dll.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

struct libusb_context {
    int unused;
};
struct libusb_device {
    size_t index;
};
struct libusb_device_handle {
    size_t index;
};

namespace {

constexpr uint8_t kInEndpoint = 0x83;
constexpr uint8_t kOutEndpoint = 0x02;

struct FakeStick {
    uint8_t bus = 1;
    uint8_t address = 1;
    uint16_t vendor = 0x0FCF;
    uint16_t product = 0x1008;
    std::string productText;
    std::string serialText;
    int openResult = 0;
    int detachResult = 0;
    int claimResult = 0;
    bool kernelDriver = false;
    // What happened to it.
    bool detached = false;
    bool claimed = false;
    int handles = 0;
};

// Everything the stand-in knows, under one mutex: the library reads on its own thread.
struct FakeUsb {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<FakeStick> sticks;
    std::deque<Bytes> inPackets; // stick to host, one USB packet each
    Bytes written;               // host to stick
    std::vector<uint8_t> outEndpoints;
    int pipeErrors = 0; // IN transfers still to fail with a stall
    std::vector<uint8_t> clearedHalts;
    bool gone = false;
    int contexts = 0;
};

FakeUsb g_usb;
libusb_device g_devices[8];
libusb_endpoint_descriptor g_endpoints[3];
libusb_interface_descriptor g_altsetting;
libusb_interface g_interface;
libusb_config_descriptor g_config;

FakeStick &stickOf(libusb_device_handle *h)
{
    return g_usb.sticks.at(h->index);
}

} // namespace

extern "C" {

int libusb_init(libusb_context **ctx)
{
    std::lock_guard lock(g_usb.mutex);
    ++g_usb.contexts;
    *ctx = new libusb_context{};
    return 0;
}

void libusb_exit(libusb_context *ctx)
{
    std::lock_guard lock(g_usb.mutex);
    --g_usb.contexts;
    delete ctx;
}

const char *libusb_strerror(int)
{
    return "stand-in error";
}

ssize_t libusb_get_device_list(libusb_context *, libusb_device ***list)
{
    std::lock_guard lock(g_usb.mutex);
    const size_t n = g_usb.sticks.size();
    *list = new libusb_device *[n + 1];
    for (size_t i = 0; i < n; ++i) {
        g_devices[i].index = i;
        (*list)[i] = &g_devices[i];
    }
    (*list)[n] = nullptr;
    return ssize_t(n);
}

void libusb_free_device_list(libusb_device **list, int)
{
    delete[] list;
}

int libusb_get_device_descriptor(libusb_device *dev, libusb_device_descriptor *desc)
{
    std::lock_guard lock(g_usb.mutex);
    const FakeStick &s = g_usb.sticks.at(dev->index);
    *desc = {};
    desc->idVendor = s.vendor;
    desc->idProduct = s.product;
    desc->iProduct = 1;
    desc->iSerialNumber = 2;
    return 0;
}

int libusb_get_active_config_descriptor(libusb_device *, libusb_config_descriptor **config)
{
    // An interrupt endpoint first: only the bulk pair may be taken.
    g_endpoints[0] = {};
    g_endpoints[0].bEndpointAddress = 0x81;
    g_endpoints[0].bmAttributes = LIBUSB_TRANSFER_TYPE_INTERRUPT;
    g_endpoints[1] = {};
    g_endpoints[1].bEndpointAddress = kInEndpoint;
    g_endpoints[1].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
    g_endpoints[2] = {};
    g_endpoints[2].bEndpointAddress = kOutEndpoint;
    g_endpoints[2].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
    g_altsetting = {};
    g_altsetting.bNumEndpoints = 3;
    g_altsetting.endpoint = g_endpoints;
    g_interface = {};
    g_interface.altsetting = &g_altsetting;
    g_interface.num_altsetting = 1;
    g_config = {};
    g_config.bNumInterfaces = 1;
    g_config.interface = &g_interface;
    *config = &g_config;
    return 0;
}

void libusb_free_config_descriptor(libusb_config_descriptor *) {}

uint8_t libusb_get_bus_number(libusb_device *dev)
{
    std::lock_guard lock(g_usb.mutex);
    return g_usb.sticks.at(dev->index).bus;
}

uint8_t libusb_get_device_address(libusb_device *dev)
{
    std::lock_guard lock(g_usb.mutex);
    return g_usb.sticks.at(dev->index).address;
}

int libusb_open(libusb_device *dev, libusb_device_handle **handle)
{
    std::lock_guard lock(g_usb.mutex);
    FakeStick &s = g_usb.sticks.at(dev->index);
    if (s.openResult != 0)
        return s.openResult;
    ++s.handles;
    *handle = new libusb_device_handle{dev->index};
    return 0;
}

void libusb_close(libusb_device_handle *handle)
{
    std::lock_guard lock(g_usb.mutex);
    --stickOf(handle).handles;
    delete handle;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle *handle, uint8_t index,
                                       unsigned char *data, int length)
{
    std::lock_guard lock(g_usb.mutex);
    const FakeStick &s = stickOf(handle);
    const std::string &text = index == 1 ? s.productText : s.serialText;
    const int n = std::min(int(text.size()), length);
    std::memcpy(data, text.data(), size_t(n));
    return n;
}

int libusb_kernel_driver_active(libusb_device_handle *handle, int)
{
    std::lock_guard lock(g_usb.mutex);
    return stickOf(handle).kernelDriver && !stickOf(handle).detached ? 1 : 0;
}

int libusb_detach_kernel_driver(libusb_device_handle *handle, int)
{
    std::lock_guard lock(g_usb.mutex);
    FakeStick &s = stickOf(handle);
    if (s.detachResult != 0)
        return s.detachResult;
    s.detached = true;
    return 0;
}

int libusb_claim_interface(libusb_device_handle *handle, int interface)
{
    std::lock_guard lock(g_usb.mutex);
    FakeStick &s = stickOf(handle);
    if (s.claimResult != 0)
        return s.claimResult;
    if (interface != 0 || (s.kernelDriver && !s.detached))
        return LIBUSB_ERROR_BUSY;
    s.claimed = true;
    return 0;
}

int libusb_release_interface(libusb_device_handle *handle, int)
{
    std::lock_guard lock(g_usb.mutex);
    stickOf(handle).claimed = false;
    return 0;
}

int libusb_clear_halt(libusb_device_handle *, unsigned char endpoint)
{
    std::lock_guard lock(g_usb.mutex);
    g_usb.clearedHalts.push_back(endpoint);
    return 0;
}

int libusb_bulk_transfer(libusb_device_handle *, unsigned char endpoint, unsigned char *data,
                         int length, int *transferred, unsigned int timeout)
{
    std::unique_lock lock(g_usb.mutex);
    *transferred = 0;
    if (endpoint & LIBUSB_ENDPOINT_IN) {
        if (endpoint != kInEndpoint)
            return LIBUSB_ERROR_IO;
        g_usb.changed.wait_for(lock, std::chrono::milliseconds(timeout), [] {
            return g_usb.gone || g_usb.pipeErrors > 0 || !g_usb.inPackets.empty();
        });
        if (g_usb.gone)
            return LIBUSB_ERROR_NO_DEVICE;
        if (g_usb.pipeErrors > 0) {
            --g_usb.pipeErrors;
            return LIBUSB_ERROR_PIPE;
        }
        if (g_usb.inPackets.empty())
            return LIBUSB_ERROR_TIMEOUT;
        Bytes packet = std::move(g_usb.inPackets.front());
        g_usb.inPackets.pop_front();
        if (int(packet.size()) > length)
            return LIBUSB_ERROR_OVERFLOW;
        std::memcpy(data, packet.data(), packet.size());
        *transferred = int(packet.size());
        return 0;
    }
    if (g_usb.gone)
        return LIBUSB_ERROR_NO_DEVICE;
    g_usb.outEndpoints.push_back(endpoint);
    g_usb.written.insert(g_usb.written.end(), data, data + length);
    *transferred = length;
    g_usb.changed.notify_all();
    return 0;
}

} // extern "C"

namespace {

struct Delivery {
    bool response;
    uint8_t channel;
    uint8_t code;
    Bytes row;
};

std::mutex g_mutex;
std::condition_variable g_delivered;
std::vector<Delivery> g_deliveries;
uint8_t g_responseRow[10];
uint8_t g_eventRows[8][16];

bool onResponse(uint8_t channel, uint8_t id)
{
    {
        std::lock_guard lock(g_mutex);
        g_deliveries.push_back({true, channel, id, Bytes(g_responseRow, g_responseRow + 10)});
    }
    g_delivered.notify_all();
    return true;
}

bool onEvent(uint8_t channel, uint8_t event)
{
    {
        std::lock_guard lock(g_mutex);
        g_deliveries.push_back({false, channel, event, Bytes(g_eventRows[channel], g_eventRows[channel] + 16)});
    }
    g_delivered.notify_all();
    return true;
}

std::vector<Delivery> waitForDeliveries(size_t n, std::chrono::milliseconds timeout = 2s)
{
    std::unique_lock lock(g_mutex);
    g_delivered.wait_for(lock, timeout, [&] { return g_deliveries.size() >= n; });
    return g_deliveries;
}

Bytes frame(uint8_t id, Bytes data)
{
    return antwire::encodeMessage(id, data.data(), data.size());
}

// The frames the library wrote so far, waiting until there are at least `n`.
std::vector<antwire::AntMessage> writtenFrames(size_t n)
{
    Bytes bytes;
    {
        std::unique_lock lock(g_usb.mutex);
        g_usb.changed.wait_for(lock, 2s, [&] { return g_usb.written.size() >= n * 4; });
        bytes = g_usb.written;
    }
    std::vector<antwire::AntMessage> frames;
    antwire::AntMessageDecoder decoder([&](const antwire::AntMessage &m) { frames.push_back(m); });
    decoder.feed(bytes.data(), bytes.size());
    return frames;
}

class AntDllUsb : public ::testing::Test {
protected:
    void SetUp() override
    {
        ANT_Close();
        ANT_UnassignAllResponseFunctions();
        ::unsetenv("FENNICK_ANT_SERIAL");
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
        std::lock_guard lock(g_usb.mutex);
        g_usb.sticks.clear();
        g_usb.inPackets.clear();
        g_usb.written.clear();
        g_usb.outEndpoints.clear();
        g_usb.clearedHalts.clear();
        g_usb.pipeErrors = 0;
        g_usb.gone = false;
        std::lock_guard delivered(g_mutex);
        g_deliveries.clear();
    }
    void TearDown() override
    {
        ANT_Close();
        ANT_UnassignAllResponseFunctions();
        ::unsetenv("FENNICK_ANT_SERIAL");
    }

    static void addStick(FakeStick s)
    {
        std::lock_guard lock(g_usb.mutex);
        g_usb.sticks.push_back(std::move(s));
    }
    static void fromStick(Bytes packet)
    {
        {
            std::lock_guard lock(g_usb.mutex);
            g_usb.inPackets.push_back(std::move(packet));
        }
        g_usb.changed.notify_all();
    }
};

} // namespace

TEST_F(AntDllUsb, SticksComeFirstInBusAddressOrderThenTheSerialDevices)
{
    FakeStick usbM;
    usbM.bus = 2;
    usbM.address = 3;
    usbM.product = 0x1009;
    usbM.productText = "ANT USB-m Stick";
    usbM.serialText = "123";
    addStick(usbM);
    FakeStick mouse;
    mouse.vendor = 0x046D;
    mouse.product = 0xC52B;
    addStick(mouse);
    FakeStick bridge; // the oldest stick is a serial bridge, reached as a tty
    bridge.product = 0x1004;
    addStick(bridge);
    FakeStick usb2;
    usb2.bus = 1;
    usb2.address = 9;
    usb2.serialText = "456";
    addStick(usb2); // no product text: a name is made up for it
    const std::string longPath = "/dev/" + std::string(300, 'x');
    ::setenv("FENNICK_ANT_SERIAL", ("/dev/ttyUSB7:" + longPath).c_str(), 1);

    // Exactly 256 bytes each, so that a longer write is caught by the address checker.
    auto product = std::make_unique<uint8_t[]>(256);
    auto serial = std::make_unique<uint8_t[]>(256);
    auto text = [](const std::unique_ptr<uint8_t[]> &b) { return std::string(reinterpret_cast<char *>(b.get())); };
    ASSERT_TRUE(ANT_GetDeviceUSBInfo(0, product.get(), serial.get()));
    EXPECT_EQ(text(product), "ANT USBStick2");
    EXPECT_EQ(text(serial), "456");
    ASSERT_TRUE(ANT_GetDeviceUSBInfo(1, product.get(), serial.get()));
    EXPECT_EQ(text(product), "ANT USB-m Stick");
    EXPECT_EQ(text(serial), "123");
    ASSERT_TRUE(ANT_GetDeviceUSBInfo(2, product.get(), serial.get()));
    EXPECT_EQ(text(serial), "/dev/ttyUSB7");
    std::memset(serial.get(), 0xEE, 256);
    ASSERT_TRUE(ANT_GetDeviceUSBInfo(3, product.get(), serial.get()));
    EXPECT_EQ(text(serial), longPath.substr(0, 255));
    EXPECT_FALSE(ANT_GetDeviceUSBInfo(4, product.get(), serial.get()));

    // Opening the second stick reaches the USB-m one.
    ASSERT_TRUE(ANT_Init(1, 57600));
    uint16_t pid = 0;
    ASSERT_TRUE(ANT_GetDeviceUSBPID(&pid));
    EXPECT_EQ(pid, 0x1009);
    ANT_Close();
    std::lock_guard lock(g_usb.mutex);
    EXPECT_EQ(g_usb.contexts, 0) << "every libusb context is given back";
    for (const FakeStick &s : g_usb.sticks) {
        EXPECT_EQ(s.handles, 0);
        EXPECT_FALSE(s.claimed);
    }
}

TEST_F(AntDllUsb, LackOfPermissionNamesTheUdevRule)
{
    FakeStick s;
    s.productText = "ANT USBStick2";
    s.openResult = LIBUSB_ERROR_ACCESS;
    addStick(s);
    uint8_t product[256], serial[256];
    // Still listed and described, so the user learns which stick it is.
    EXPECT_TRUE(ANT_GetDeviceUSBInfo(0, product, serial));

    for (int step = 0; step < 3; ++step) {
        {
            std::lock_guard lock(g_usb.mutex);
            FakeStick &f = g_usb.sticks[0];
            f.openResult = step == 0 ? LIBUSB_ERROR_ACCESS : 0;
            f.kernelDriver = step == 1;
            f.detachResult = step == 1 ? LIBUSB_ERROR_ACCESS : 0;
            f.claimResult = step == 2 ? LIBUSB_ERROR_ACCESS : 0;
        }
        testing::internal::CaptureStderr();
        EXPECT_FALSE(ANT_Init(0, 57600)) << "step " << step;
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("packaging/99-fennick-ant.rules"), std::string::npos)
            << "step " << step << ": " << said;
        // The same reason, for a window that has no standard error to show.
        char reason[512];
        ASSERT_TRUE(ANT_GetLastErrorText(reason, sizeof reason)) << "step " << step;
        EXPECT_NE(std::string(reason).find("packaging/99-fennick-ant.rules"), std::string::npos)
            << "step " << step << ": " << reason;
        EXPECT_NE(std::string(reason).find("no permission"), std::string::npos) << reason;
        EXPECT_FALSE(ANT_AssignChannel(0, 0, 0));
    }

    // Another failure says what it was and does not blame the permissions.
    {
        std::lock_guard lock(g_usb.mutex);
        g_usb.sticks[0].claimResult = LIBUSB_ERROR_BUSY;
    }
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ANT_Init(0, 57600));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("99-fennick-ant.rules"), std::string::npos) << said;
    EXPECT_NE(said.find("claim"), std::string::npos) << said;
    EXPECT_NE(said.find("another program holds the ANT USB stick"), std::string::npos) << said;
    char reason[512];
    ASSERT_TRUE(ANT_GetLastErrorText(reason, sizeof reason));
    EXPECT_NE(std::string(reason).find("another program holds the ANT USB stick"), std::string::npos)
        << reason;
    EXPECT_EQ(std::string(reason).find("99-fennick-ant.rules"), std::string::npos) << reason;
    std::lock_guard lock(g_usb.mutex);
    EXPECT_EQ(g_usb.contexts, 0);
    EXPECT_EQ(g_usb.sticks[0].handles, 0);
}

TEST_F(AntDllUsb, TheLastReasonFitsTheCallersBufferAndGoesWhenAStickOpens)
{
    FakeStick s;
    s.openResult = LIBUSB_ERROR_ACCESS;
    addStick(s);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ANT_Init(0, 57600));
    testing::internal::GetCapturedStderr();

    char whole[512];
    ASSERT_TRUE(ANT_GetLastErrorText(whole, sizeof whole));
    char cut[9];
    std::memset(cut, 'x', sizeof cut);
    ASSERT_TRUE(ANT_GetLastErrorText(cut, 8));
    EXPECT_EQ(std::string(cut), std::string(whole).substr(0, 7));
    EXPECT_EQ(cut[8], 'x') << "nothing is written past the size given";
    EXPECT_FALSE(ANT_GetLastErrorText(nullptr, 8));
    EXPECT_FALSE(ANT_GetLastErrorText(cut, 0));

    // Scanning past the last stick keeps the reason the stick itself gave.
    EXPECT_FALSE(ANT_Init(1, 57600));
    EXPECT_TRUE(ANT_GetLastErrorText(whole, sizeof whole));

    {
        std::lock_guard lock(g_usb.mutex);
        g_usb.sticks[0].openResult = 0;
    }
    ASSERT_TRUE(ANT_Init(0, 57600));
    EXPECT_FALSE(ANT_GetLastErrorText(whole, sizeof whole));
    EXPECT_STREQ(whole, "");

    // A stick lost while it is reset is a reason too.
    {
        std::lock_guard lock(g_usb.mutex);
        g_usb.gone = true;
    }
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ANT_ResetSystem());
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ANT_GetLastErrorText(whole, sizeof whole));
    EXPECT_NE(std::string(whole).find("stopped answering when it was reset"), std::string::npos) << whole;
    ANT_Close();

    // With no stick left at all there is nothing to explain.
    {
        std::lock_guard lock(g_usb.mutex);
        g_usb.sticks.clear();
    }
    EXPECT_FALSE(ANT_Init(0, 57600));
    EXPECT_FALSE(ANT_GetLastErrorText(whole, sizeof whole));
}

TEST_F(AntDllUsb, TalksOnTheBulkEndpointsOfInterfaceZeroAfterDetachingTheKernelDriver)
{
    FakeStick s;
    s.kernelDriver = true;
    s.productText = "ANT USBStick2";
    s.serialText = "42";
    addStick(s);
    ASSERT_TRUE(ANT_Init(0, 57600));
    {
        std::lock_guard lock(g_usb.mutex);
        EXPECT_TRUE(g_usb.sticks[0].detached);
        EXPECT_TRUE(g_usb.sticks[0].claimed);
    }
    ANT_AssignResponseFunction(onResponse, g_responseRow);
    ANT_AssignChannelEventFunction(1, onEvent, g_eventRows[1]);

    ASSERT_TRUE(ANT_SetChannelPeriod(1, 8192));
    const auto frames = writtenFrames(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].id, 0x43);
    EXPECT_EQ(frames[0].data, (Bytes{1, 0x00, 0x20}));
    {
        std::lock_guard lock(g_usb.mutex);
        for (uint8_t ep : g_usb.outEndpoints)
            EXPECT_EQ(ep, kOutEndpoint);
    }

    // Frames run across packet boundaries; a stalled pipe is cleared and reading goes on.
    Bytes stream = frame(0x40, {1, 0x43, 0x00});
    const Bytes data = frame(0x4E, {1, 16, 25, 0, 0, 0x10, 0x27, 0xFF, 0x24});
    stream.insert(stream.end(), data.begin(), data.end());
    fromStick(Bytes(stream.begin(), stream.begin() + 10));
    {
        std::lock_guard lock(g_usb.mutex);
        g_usb.pipeErrors = 1;
    }
    fromStick(Bytes(stream.begin() + 10, stream.end()));
    const auto d = waitForDeliveries(2);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_TRUE(d[0].response);
    EXPECT_EQ(Bytes(d[0].row.begin(), d[0].row.begin() + 3), (Bytes{1, 0x43, 0x00}));
    EXPECT_FALSE(d[1].response);
    EXPECT_EQ(d[1].code, 0x9A);
    EXPECT_EQ(Bytes(d[1].row.begin(), d[1].row.begin() + 9), (Bytes{1, 16, 25, 0, 0, 0x10, 0x27, 0xFF, 0x24}));
    {
        std::lock_guard lock(g_usb.mutex);
        EXPECT_EQ(g_usb.clearedHalts, (std::vector<uint8_t>{kInEndpoint}));
    }

    // The open stick is described from what was read when it was opened.
    uint8_t product[256], serial[256];
    ASSERT_TRUE(ANT_GetDeviceUSBInfo(0, product, serial));
    EXPECT_STREQ(reinterpret_cast<char *>(product), "ANT USBStick2");
    EXPECT_STREQ(reinterpret_cast<char *>(serial), "42");
    uint16_t pid = 0;
    ASSERT_TRUE(ANT_GetDeviceUSBPID(&pid));
    EXPECT_EQ(pid, 0x1008);
}

TEST_F(AntDllUsb, AnUnpluggedStickClosesEachOpenChannelOnceThenCommandsFail)
{
    addStick(FakeStick{});
    ASSERT_TRUE(ANT_Init(0, 57600));
    for (uint8_t ch = 0; ch < 3; ++ch)
        ANT_AssignChannelEventFunction(ch, onEvent, g_eventRows[ch]);
    ASSERT_TRUE(ANT_OpenChannel(0));
    ASSERT_TRUE(ANT_OpenChannel(2));
    writtenFrames(2);
    {
        std::lock_guard lock(g_usb.mutex);
        g_usb.gone = true;
    }
    g_usb.changed.notify_all();
    auto d = waitForDeliveries(2);
    std::this_thread::sleep_for(100ms);
    d = waitForDeliveries(2);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].channel, 0);
    EXPECT_EQ(d[0].code, 0x07);
    EXPECT_EQ(Bytes(d[0].row.begin(), d[0].row.begin() + 3), (Bytes{0, 0x01, 0x07}));
    EXPECT_EQ(d[1].channel, 2);
    EXPECT_EQ(d[1].code, 0x07);
    EXPECT_FALSE(ANT_OpenChannel(1));
    EXPECT_FALSE(ANT_ResetSystem());
    ANT_Close();
    std::lock_guard lock(g_usb.mutex);
    EXPECT_EQ(g_usb.contexts, 0);
    EXPECT_EQ(g_usb.sticks[0].handles, 0);
}
