#include "tests/antlib/EmulatedUsbStick.h"

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include "antsim/VirtualTransport.h"

namespace fennick::test {

namespace {

constexpr const char *kSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
constexpr const char *kDevNode = "/dev/bus/usb/001/002";
constexpr const char *kProductText = "ANT USBStick2";
constexpr const char *kMakerText = "ANT";

// Device, configuration, interface and both bulk endpoints, as the kernel's sysfs shows them.
std::string descriptorsHex(uint16_t pid)
{
    char device[64];
    std::snprintf(device, sizeof device, "1201000200000020CF0F%02X%02X000101020301", pid & 0xFF,
                  pid >> 8);
    return std::string(device) + "09022000010100803209040000" "02FF000000" "0705810240000107050102400001";
}

std::string deviceRecord(uint16_t pid)
{
    char ids[64];
    std::snprintf(ids, sizeof ids, "A: idVendor=0fcf\nA: idProduct=%04x\n", pid);
    return std::string("P: ") + (kSysPath + 4) + "\nN: bus/usb/001/002\n" +
           "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=" + kDevNode + "\n" +
           "E: BUSNUM=001\nE: DEVNUM=002\n" + "A: busnum=1\nA: devnum=2\nA: speed=12\n" +
           "A: bConfigurationValue=1\n" + ids + "H: descriptors=" + descriptorsHex(pid) + "\n";
}

std::vector<uint8_t> stringDescriptor(const std::string &ascii)
{
    std::vector<uint8_t> d{uint8_t(2 + 2 * ascii.size()), 0x03};
    for (char c : ascii) {
        d.push_back(uint8_t(c));
        d.push_back(0);
    }
    return d;
}

// A URB the host submitted, held in umockdev's copy of the host's memory until it is reaped.
struct Urb {
    UMockdevIoctlData *urb = nullptr;    // struct usbdevfs_urb
    UMockdevIoctlData *buffer = nullptr; // its transfer buffer
    usbdevfs_urb *fields() const { return reinterpret_cast<usbdevfs_urb *>(urb->data); }
};

} // namespace

struct EmulatedUsbStick::State {
    Options options;
    UMockdevTestbed *testbed = nullptr;
    UMockdevIoctlBase *handler = nullptr;
    std::string setupError;

    mutable std::mutex mutex; // the rest is shared with umockdev's worker thread
    std::unique_ptr<antwire::Transport> device;
    std::deque<Urb> pendingIn; // waiting for the stick to say something
    std::deque<Urb> done;      // completed, to be reaped
    std::vector<uint8_t> hostBytes;
    std::vector<uint8_t> outEndpoints;
    bool claimed = false;
    bool unplugged = false;

    long handle(unsigned long request, UMockdevIoctlData *arg, int &error);
    long submit(UMockdevIoctlData *arg, int &error);
    long discard(UMockdevIoctlData *arg, int &error);
    long reap(UMockdevIoctlData *arg, int &error);
    void answerControl(Urb &u);
    void fillFromDevice();
};

namespace {

gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
{
    auto *state = static_cast<EmulatedUsbStick::State *>(self);
    int error = 0;
    const long result = state->handle(umockdev_ioctl_client_get_request(client),
                                      umockdev_ioctl_client_get_arg(client), error);
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

} // namespace

long EmulatedUsbStick::State::handle(unsigned long request, UMockdevIoctlData *arg, int &error)
{
    std::unique_lock lock(mutex);
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        const long r = reap(arg, error); // libusb only ever asks without waiting
        if (r != 0 && error == EAGAIN) {
            // libusb polls a socket that is always writable; a short pause keeps it from
            // spinning both cores while the stick has nothing to say.
            lock.unlock();
            g_usleep(300);
        }
        return r;
    }
    if (unplugged) {
        error = ENODEV;
        return -1;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
        *reinterpret_cast<uint32_t *>(umockdev_ioctl_data_resolve(arg, 0, 4, nullptr)->data) =
            USBDEVFS_CAP_BULK_CONTINUATION;
        return 0;
    case USBDEVFS_GETDRIVER:
        error = ENODATA; // no kernel driver bound
        return -1;
    case USBDEVFS_CLAIMINTERFACE:
        if (options.claimErrno != 0) {
            error = options.claimErrno;
            return -1;
        }
        claimed = true;
        return 0;
    case USBDEVFS_RELEASEINTERFACE:
        claimed = false;
        return 0;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
        return 0;
    case USBDEVFS_SUBMITURB:
        return submit(arg, error);
    case USBDEVFS_DISCARDURB:
        return discard(arg, error);
    default:
        error = ENOTTY;
        return -1;
    }
}

long EmulatedUsbStick::State::submit(UMockdevIoctlData *arg, int &error)
{
    Urb u;
    u.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (!u.urb) {
        error = EFAULT;
        return -1;
    }
    g_object_ref(u.urb);
    usbdevfs_urb *f = u.fields();
    u.buffer = umockdev_ioctl_data_resolve(u.urb, offsetof(usbdevfs_urb, buffer),
                                           size_t(f->buffer_length), nullptr);
    if (f->type == USBDEVFS_URB_TYPE_CONTROL) {
        answerControl(u);
    } else if (f->type == USBDEVFS_URB_TYPE_BULK && f->endpoint == kInEndpoint) {
        pendingIn.push_back(u);
    } else if (f->type == USBDEVFS_URB_TYPE_BULK && (f->endpoint & 0x80) == 0) {
        outEndpoints.push_back(f->endpoint);
        const uint8_t *bytes = u.buffer->data;
        hostBytes.insert(hostBytes.end(), bytes, bytes + f->buffer_length);
        device->write(bytes, size_t(f->buffer_length));
        done.push_back(u);
        f->status = 0;
        f->actual_length = f->buffer_length;
    } else {
        g_object_unref(u.urb);
        error = EINVAL;
        return -1;
    }
    return 0;
}

void EmulatedUsbStick::State::answerControl(Urb &u)
{
    usbdevfs_urb *f = u.fields();
    uint8_t *setup = u.buffer->data;
    const bool getString = setup[0] == 0x80 && setup[1] == 0x06 && setup[3] == 0x03;
    std::vector<uint8_t> reply;
    if (getString) {
        switch (setup[2]) {
        case 0: reply = {4, 0x03, 0x09, 0x04}; break; // English (US)
        case 1: reply = stringDescriptor(kMakerText); break;
        case 2: reply = stringDescriptor(kProductText); break;
        case 3: reply = stringDescriptor(options.serial); break;
        }
    }
    const size_t wanted = size_t(setup[6] | setup[7] << 8);
    const size_t n = std::min({reply.size(), wanted, size_t(f->buffer_length) - 8});
    std::memcpy(setup + 8, reply.data(), n);
    f->status = reply.empty() ? -EPIPE : 0; // a stall for what a stick does not answer
    f->actual_length = int(n);
    done.push_back(u);
}

long EmulatedUsbStick::State::discard(UMockdevIoctlData *arg, int &error)
{
    // The argument is the URB's address in the host, not a pointer to data.
    unsigned long address = 0;
    std::memcpy(&address, arg->data, std::min(sizeof address, size_t(arg->data_len)));
    const auto it = std::find_if(pendingIn.begin(), pendingIn.end(),
                                 [&](const Urb &u) { return u.urb->client_addr == address; });
    if (it == pendingIn.end()) {
        error = EINVAL; // already completed
        return -1;
    }
    Urb u = *it;
    pendingIn.erase(it);
    u.fields()->status = -ENOENT;
    u.fields()->actual_length = 0;
    done.push_back(u);
    return 0;
}

void EmulatedUsbStick::State::fillFromDevice()
{
    while (!unplugged && !pendingIn.empty()) {
        Urb u = pendingIn.front();
        const int n = device->read(u.buffer->data, size_t(u.fields()->buffer_length), 0);
        if (n <= 0)
            return;
        pendingIn.pop_front();
        u.fields()->status = 0;
        u.fields()->actual_length = n;
        done.push_back(u);
    }
}

long EmulatedUsbStick::State::reap(UMockdevIoctlData *arg, int &error)
{
    fillFromDevice();
    if (done.empty()) {
        error = unplugged ? ENODEV : EAGAIN;
        return -1;
    }
    Urb u = done.front();
    done.pop_front();
    UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), nullptr);
    umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
    g_object_unref(u.urb); // the reply holds it now
    return 0;
}

EmulatedUsbStick::EmulatedUsbStick(Options options) : FState(std::make_unique<State>())
{
    State &s = *FState;
    s.options = std::move(options);
    s.device = antsim::makeVirtualTransport("default", [&](const std::string &why) {
        s.setupError += why;
    });
    if (!s.device)
        return;
    s.testbed = umockdev_testbed_new();
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(s.testbed, deviceRecord(s.options.productId).c_str(),
                                          &error)) {
        s.setupError = std::string("umockdev cannot add the stick: ") + error->message;
        g_error_free(error);
        return;
    }
    s.handler = umockdev_ioctl_base_new();
    g_signal_connect(s.handler, "handle-ioctl", G_CALLBACK(onIoctl), &s);
    if (!umockdev_testbed_attach_ioctl(s.testbed, kDevNode, s.handler, &error)) {
        s.setupError = std::string("umockdev cannot take the stick's ioctls: ") + error->message;
        g_error_free(error);
        return;
    }
    if (s.options.deniedToUser) {
        gchar *root = umockdev_testbed_get_root_dir(s.testbed);
        const std::string node = std::string(root) + kDevNode;
        g_free(root);
        if (::chmod(node.c_str(), 0) != 0)
            s.setupError = "cannot take the permissions off " + node;
    }
}

EmulatedUsbStick::~EmulatedUsbStick()
{
    State &s = *FState;
    if (s.testbed && s.handler)
        umockdev_testbed_detach_ioctl(s.testbed, kDevNode, nullptr);
    if (s.handler)
        g_object_unref(s.handler);
    if (s.testbed)
        g_object_unref(s.testbed); // removes the test bed's directory
    std::lock_guard lock(s.mutex);
    for (const Urb &u : s.pendingIn)
        g_object_unref(u.urb);
    for (const Urb &u : s.done)
        g_object_unref(u.urb);
}

std::string EmulatedUsbStick::setupError() const
{
    if (!preloaded())
        return "run with LD_PRELOAD=libumockdev-preload.so.0";
    return FState->setupError;
}

void EmulatedUsbStick::unplug()
{
    State &s = *FState;
    {
        std::lock_guard lock(s.mutex);
        s.unplugged = true;
        for (Urb &u : s.pendingIn) {
            u.fields()->status = -ESHUTDOWN;
            u.fields()->actual_length = 0;
            s.done.push_back(u);
        }
        s.pendingIn.clear();
    }
    umockdev_testbed_uevent(s.testbed, kSysPath, "remove");
    umockdev_testbed_remove_device(s.testbed, kSysPath);
}

void EmulatedUsbStick::setClaimErrno(int error)
{
    std::lock_guard lock(FState->mutex);
    FState->options.claimErrno = error;
}

std::vector<uint8_t> EmulatedUsbStick::hostBytes() const
{
    std::lock_guard lock(FState->mutex);
    return FState->hostBytes;
}

std::vector<uint8_t> EmulatedUsbStick::outEndpoints() const
{
    std::lock_guard lock(FState->mutex);
    return FState->outEndpoints;
}

bool EmulatedUsbStick::claimed() const
{
    std::lock_guard lock(FState->mutex);
    return FState->claimed;
}

bool EmulatedUsbStick::preloaded()
{
    const char *preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload") != nullptr;
}

} // namespace fennick::test
