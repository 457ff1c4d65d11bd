#include "antlib/UsbTransport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <libusb.h>
#include <mutex>

#include "antlib/LastError.h"

namespace antlib {

namespace {

constexpr int kInterface = 0;
constexpr size_t kPacketSize = 64;
constexpr int kReadSliceMs = 50;  // how long close() may wait for a blocked reader
constexpr int kUsbWriteTimeoutMs = 2000;

bool isAntStick(const libusb_device_descriptor &d)
{
    return d.idVendor == kAntVendorId &&
           (d.idProduct == kAntUsb2ProductId || d.idProduct == kAntUsbMProductId);
}

std::string genericName(uint16_t pid)
{
    return pid == kAntUsbMProductId ? "ANT USB-m Stick" : "ANT USBStick2";
}

void explainAccessDenied(uint8_t bus, uint8_t address)
{
    char where[48];
    std::snprintf(where, sizeof where, "bus %03u device %03u", unsigned(bus), unsigned(address));
    reportStickFailure(std::string("no permission to open the ANT USB stick on ") + where + ".\n" +
                       "install the udev rule packaging/99-fennick-ant.rules:\n"
                       "  sudo cp packaging/99-fennick-ant.rules /etc/udev/rules.d/\n"
                       "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
                       "then unplug the stick and plug it in again.");
}

void explainBusy(const char *step)
{
    reportStickFailure(std::string("another program holds the ANT USB stick (cannot ") + step +
                       ").\nclose that program, then try again.");
}

// The reason for a libusb failure while opening: permission and busy get their fix.
void explainOpenFailure(const char *step, int code, const UsbStick &stick)
{
    if (code == LIBUSB_ERROR_ACCESS)
        explainAccessDenied(stick.bus, stick.address);
    else if (code == LIBUSB_ERROR_BUSY)
        explainBusy(step);
    else
        reportStickFailure(std::string("cannot ") + step + ": " + libusb_strerror(code));
}

// Runs `fn` with the device at bus/address of a fresh context; false when it is not there.
template <typename Fn>
bool withDevice(const UsbStick &stick, libusb_context *ctx, Fn fn)
{
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(ctx, &list);
    bool found = false;
    for (ssize_t i = 0; i < count && !found; ++i) {
        libusb_device *dev = list[i];
        if (libusb_get_bus_number(dev) == stick.bus &&
            libusb_get_device_address(dev) == stick.address) {
            found = true;
            fn(dev);
        }
    }
    if (list)
        libusb_free_device_list(list, 1);
    return found;
}

class UsbTransport final : public antwire::Transport {
public:
    UsbTransport(libusb_context *ctx, libusb_device_handle *handle, uint8_t in, uint8_t out,
                 uint16_t pid, std::string product, std::string serial)
        : FCtx(ctx), FHandle(handle), FIn(in), FOut(out), FPid(pid), FProduct(std::move(product)),
          FSerial(std::move(serial))
    {
    }
    ~UsbTransport() override
    {
        libusb_release_interface(FHandle, kInterface);
        libusb_close(FHandle);
        libusb_exit(FCtx);
    }

    bool write(const uint8_t *data, size_t size) override
    {
        size_t done = 0;
        while (done < size) {
            if (FClosed)
                return false;
            int sent = 0;
            const int chunk = int(std::min(size - done, kPacketSize));
            const int r = libusb_bulk_transfer(FHandle, FOut, const_cast<uint8_t *>(data + done),
                                               chunk, &sent, kUsbWriteTimeoutMs);
            if (r != 0 && !(r == LIBUSB_ERROR_TIMEOUT && sent > 0))
                return false;
            done += size_t(sent);
        }
        return true;
    }

    int read(uint8_t *buffer, size_t capacity, int timeoutMs) override
    {
        if (capacity == 0)
            return 0;
        // Bytes left over when the caller's buffer was smaller than a USB packet.
        if (FLeftCount > 0)
            return takeLeftOver(buffer, capacity);
        int waited = 0;
        while (!FClosed) {
            const int slice = std::max(1, std::min(kReadSliceMs, timeoutMs - waited));
            int got = 0;
            const int r = libusb_bulk_transfer(FHandle, FIn, FPacket, int(kPacketSize), &got, slice);
            if (got > 0) {
                FLeftStart = 0;
                FLeftCount = size_t(got);
                return takeLeftOver(buffer, capacity);
            }
            switch (r) {
            case 0:
            case LIBUSB_ERROR_TIMEOUT:
            case LIBUSB_ERROR_INTERRUPTED:
            case LIBUSB_ERROR_OVERFLOW:
                break;
            case LIBUSB_ERROR_PIPE:
                libusb_clear_halt(FHandle, FIn);
                break;
            default: // unplugged, I/O error
                return -1;
            }
            waited += slice;
            if (waited >= timeoutMs)
                return 0;
        }
        return -1;
    }

    void close() override { FClosed = true; }
    uint16_t productId() const override { return FPid; }
    std::string productName() const override { return FProduct; }
    std::string serialNumber() const override { return FSerial; }

private:
    int takeLeftOver(uint8_t *buffer, size_t capacity)
    {
        const size_t n = std::min(capacity, FLeftCount);
        std::memcpy(buffer, FPacket + FLeftStart, n);
        FLeftStart += n;
        FLeftCount -= n;
        return int(n);
    }

    libusb_context *const FCtx;
    libusb_device_handle *const FHandle;
    const uint8_t FIn;
    const uint8_t FOut;
    const uint16_t FPid;
    const std::string FProduct;
    const std::string FSerial;
    std::atomic<bool> FClosed{false};
    uint8_t FPacket[kPacketSize] = {};
    size_t FLeftStart = 0;
    size_t FLeftCount = 0;
};

std::string stringDescriptor(libusb_device_handle *h, uint8_t index)
{
    if (index == 0)
        return {};
    unsigned char text[256] = {};
    const int n = libusb_get_string_descriptor_ascii(h, index, text, sizeof text - 1);
    return n > 0 ? std::string(reinterpret_cast<char *>(text), size_t(n)) : std::string();
}

bool findBulkEndpoints(libusb_device *dev, uint8_t &in, uint8_t &out)
{
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(dev, &config) != 0 || !config)
        return false;
    bool haveIn = false, haveOut = false;
    if (config->bNumInterfaces > kInterface && config->interface[kInterface].num_altsetting > 0) {
        const libusb_interface_descriptor &alt = config->interface[kInterface].altsetting[0];
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor &ep = alt.endpoint[e];
            if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
                if (!haveIn)
                    in = ep.bEndpointAddress;
                haveIn = true;
            } else {
                if (!haveOut)
                    out = ep.bEndpointAddress;
                haveOut = true;
            }
        }
    }
    libusb_free_config_descriptor(config);
    return haveIn && haveOut;
}

} // namespace

std::vector<UsbStick> listUsbSticks()
{
    std::vector<UsbStick> sticks;
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) != 0)
        return sticks;
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(ctx, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) != 0 || !isAntStick(desc))
            continue;
        sticks.push_back({libusb_get_bus_number(list[i]), libusb_get_device_address(list[i]),
                          desc.idProduct});
    }
    if (list)
        libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    std::sort(sticks.begin(), sticks.end(), [](const UsbStick &a, const UsbStick &b) {
        return a.bus != b.bus ? a.bus < b.bus : a.address < b.address;
    });
    return sticks;
}

bool describeUsbStick(const UsbStick &stick, std::string &product, std::string &serial)
{
    product = genericName(stick.productId);
    serial.clear();
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) != 0)
        return false;
    const bool found = withDevice(stick, ctx, [&](libusb_device *dev) {
        libusb_device_descriptor desc{};
        libusb_device_handle *h = nullptr;
        if (libusb_get_device_descriptor(dev, &desc) != 0 || libusb_open(dev, &h) != 0)
            return;
        const std::string p = stringDescriptor(h, desc.iProduct);
        if (!p.empty())
            product = p;
        serial = stringDescriptor(h, desc.iSerialNumber);
        libusb_close(h);
    });
    libusb_exit(ctx);
    return found;
}

std::unique_ptr<antwire::Transport> openUsbTransport(const UsbStick &stick)
{
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) != 0)
        return nullptr;
    std::unique_ptr<antwire::Transport> transport;
    withDevice(stick, ctx, [&](libusb_device *dev) {
        libusb_device_descriptor desc{};
        libusb_get_device_descriptor(dev, &desc);
        uint8_t in = 0, out = 0;
        if (!findBulkEndpoints(dev, in, out)) {
            reportStickFailure("the ANT USB stick has no bulk endpoints on interface 0");
            return;
        }
        libusb_device_handle *h = nullptr;
        const int r = libusb_open(dev, &h);
        if (r != 0) {
            explainOpenFailure("open the ANT USB stick", r, stick);
            return;
        }
        if (libusb_kernel_driver_active(h, kInterface) == 1) {
            const int d = libusb_detach_kernel_driver(h, kInterface);
            if (d != 0 && d != LIBUSB_ERROR_NOT_FOUND) {
                explainOpenFailure("detach the kernel driver", d, stick);
                libusb_close(h);
                return;
            }
        }
        const int c = libusb_claim_interface(h, kInterface);
        if (c != 0) {
            explainOpenFailure("claim the ANT USB stick", c, stick);
            libusb_close(h);
            return;
        }
        std::string product = stringDescriptor(h, desc.iProduct);
        if (product.empty())
            product = genericName(stick.productId);
        const std::string serial = stringDescriptor(h, desc.iSerialNumber);
        transport = std::make_unique<UsbTransport>(ctx, h, in, out, desc.idProduct, product, serial);
    });
    if (!transport)
        libusb_exit(ctx);
    return transport;
}

} // namespace antlib
