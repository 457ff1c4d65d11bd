#include "tests/antlib/EmulatedSerialStick.h"

#include <umockdev.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "antsim/VirtualTransport.h"
#include "tests/antlib/LineSpeedProbe.h"

namespace fennick::test {

namespace {

constexpr const char *kHub = "/devices/pci0000:00/0000:00:14.0/usb1";

// Device, configuration and interface descriptors of a bridge with one vendor-specific
// interface, so that libusb's own enumeration of the bus finds nothing odd.
std::string descriptorsHex(uint16_t vid, uint16_t pid)
{
    char device[64];
    std::snprintf(device, sizeof device, "1201000200000020%02X%02X%02X%02X000101020301", vid & 0xFF,
                  vid >> 8, pid & 0xFF, pid >> 8);
    return std::string(device) + "09022000010100803209040000" "02FF000000" +
           "0705810240000107050102400001";
}

// The kernel's layout for a usb-serial tty: USB device, interface 0, the driver's port
// device, and the tty class device below it.
std::string records(const EmulatedSerialStick::Tty &tty, int index)
{
    const int devnum = 2 + index;
    const std::string port = "1-" + std::to_string(devnum);
    const std::string usb = std::string(kHub) + "/" + port;
    const std::string interface = usb + "/" + port + ":1.0";
    const std::string ttyPath = interface + "/" + tty.name + "/tty/" + tty.name;
    char ids[96];
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\nA: idProduct=%04x\n", tty.vendorId,
                  tty.productId);
    char busdev[96];
    std::snprintf(busdev, sizeof busdev,
                  "E: BUSNUM=001\nE: DEVNUM=%03d\nA: busnum=1\nA: devnum=%d\n", devnum, devnum);
    return "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" + busdev +
           "A: speed=12\nA: bConfigurationValue=1\n" + ids + "A: product=" + tty.product + "\n" +
           "H: descriptors=" + descriptorsHex(tty.vendorId, tty.productId) + "\n\n" +
           "P: " + interface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n" +
           "A: bInterfaceClass=ff\n\n" +
           "P: " + interface + "/" + tty.name + "\nE: SUBSYSTEM=usb-serial\n\n" +
           "P: " + ttyPath + "\nN: " + tty.name + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" +
           tty.name + "\nA: dev=188:" + std::to_string(index) + "\n\n";
}

// umockdev's preload takes every ioctl() on a node it emulates and refuses those it has no
// record of (glibc's tcsetattr and the like go past it to the kernel); a tty's ioctls belong to
// the terminal behind it, so they are carried out there.
gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer)
{
    int error = 0;
    const int result = umockdev_ioctl_client_execute(client, &error, nullptr);
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

} // namespace

struct EmulatedSerialStick::State {
    Options options;
    UMockdevTestbed *testbed = nullptr;
    UMockdevIoctlBase *handler = nullptr;
    std::string node; // the first tty's, /dev/...
    std::string setupError;
    int master = -1; // umockdev's; not ours to close
    std::unique_ptr<antwire::Transport> device;
    std::thread carrier;
    std::atomic<bool> stop{false};

    mutable std::mutex mutex;
    std::vector<uint8_t> hostBytes;

    void carry();
};

// Host bytes to the virtual stick, its answers back; bytes for a host that closed the tty
// are dropped, as a real line would.
void EmulatedSerialStick::State::carry()
{
    uint8_t buffer[512];
    while (!stop) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 1) > 0) {
            if (p.revents & POLLIN) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0) {
                    {
                        std::lock_guard lock(mutex);
                        hostBytes.insert(hostBytes.end(), buffer, buffer + n);
                    }
                    device->write(buffer, size_t(n));
                }
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1)); // nobody has it open
            }
        }
        const int n = device->read(buffer, sizeof buffer, 1);
        for (int done = 0; done < n;) {
            const ssize_t w = ::write(master, buffer + done, size_t(n - done));
            if (w <= 0)
                break;
            done += int(w);
        }
    }
}

EmulatedSerialStick::EmulatedSerialStick(Options options) : FState(std::make_unique<State>())
{
    State &s = *FState;
    s.options = std::move(options);
    if (s.options.ttys.empty()) {
        s.setupError = "no tty to emulate";
        return;
    }
    s.device = antsim::makeVirtualTransport("default", [&](const std::string &why) {
        s.setupError += why;
    });
    if (!s.device)
        return;
    s.testbed = umockdev_testbed_new();
    std::string description;
    for (size_t i = 0; i < s.options.ttys.size(); ++i)
        description += records(s.options.ttys[i], int(i));
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(s.testbed, description.c_str(), &error)) {
        s.setupError = std::string("umockdev cannot add the stick: ") + error->message;
        g_error_free(error);
        return;
    }
    s.node = "/dev/" + s.options.ttys[0].name;
    const std::string &node = s.node;
    s.master = umockdev_testbed_get_dev_fd(s.testbed, node.c_str());
    if (s.master < 0) {
        s.setupError = "umockdev gives no pseudo-terminal for " + node;
        return;
    }
    ::fcntl(s.master, F_SETFL, ::fcntl(s.master, F_GETFL) | O_NONBLOCK);
    s.handler = umockdev_ioctl_base_new();
    g_signal_connect(s.handler, "handle-ioctl", G_CALLBACK(onIoctl), nullptr);
    if (!umockdev_testbed_attach_ioctl(s.testbed, node.c_str(), s.handler, &error)) {
        s.setupError = std::string("umockdev cannot take the tty's ioctls: ") + error->message;
        g_error_free(error);
        return;
    }

    gchar *rootText = umockdev_testbed_get_root_dir(s.testbed);
    const std::filesystem::path root(rootText);
    g_free(rootText);
    for (const std::string &alias : s.options.aliases) {
        const std::filesystem::path link = root / "dev" / alias;
        std::error_code ec;
        std::filesystem::create_directories(link.parent_path(), ec);
        std::filesystem::create_symlink(
            std::filesystem::relative(root / "dev" / s.options.ttys[0].name, link.parent_path()),
            link, ec);
        if (ec)
            s.setupError = "cannot make /dev/" + alias + ": " + ec.message();
    }
    const std::filesystem::path file = root / ("dev/" + s.options.ttys[0].name);
    if (s.options.deniedToUser && ::chmod(file.c_str(), 0) != 0)
        s.setupError = "cannot take the permissions off " + node;
    s.carrier = std::thread([&s] { s.carry(); });
}

EmulatedSerialStick::~EmulatedSerialStick()
{
    State &s = *FState;
    s.stop = true;
    if (s.carrier.joinable())
        s.carrier.join();
    if (s.testbed && s.handler)
        umockdev_testbed_detach_ioctl(s.testbed, s.node.c_str(), nullptr);
    if (s.handler)
        g_object_unref(s.handler);
    if (s.testbed)
        g_object_unref(s.testbed); // removes the test bed's directory and its terminals
}

std::string EmulatedSerialStick::setupError() const
{
    const char *preload = std::getenv("LD_PRELOAD");
    if (!preload || !std::strstr(preload, "libumockdev-preload"))
        return "run with LD_PRELOAD=libumockdev-preload.so.0";
    return FState->setupError;
}

unsigned EmulatedSerialStick::lineSpeed() const
{
    return FState->master < 0 ? 0 : lineSpeedOf(FState->master);
}

std::vector<uint8_t> EmulatedSerialStick::hostBytes() const
{
    std::lock_guard lock(FState->mutex);
    return FState->hostBytes;
}

} // namespace fennick::test
