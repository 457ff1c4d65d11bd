#include "antlib/SerialStickDiscovery.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <tuple>
#include <unistd.h>

namespace antlib {

namespace {

// A usb-serial tty's USB device is four directories up (class glue, port, interface, device),
// a cdc-acm tty's three; the rest is room for drivers with a layer of their own.
constexpr int kMaxLevels = 6;

bool readAttribute(const std::string &path, std::string &value)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[256];
    ssize_t n;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n < 0)
        return false;
    value.assign(buffer, size_t(n));
    while (!value.empty() && (value.back() == '\n' || value.back() == ' '))
        value.pop_back();
    return true;
}

bool readId(const std::string &path, uint16_t &id)
{
    std::string text;
    if (!readAttribute(path, text) || text.empty() || text.size() > 4)
        return false;
    char *end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (*end != '\0')
        return false;
    id = uint16_t(value);
    return true;
}

// Only a USB device carries idVendor, not its interfaces, so the first directory above `dir`
// that has one is the device the tty belongs to: the walk udev's ATTRS{} matching makes.
// ".." after a sysfs link is the parent of the link's target, in the real /sys and in a copy
// of its layout alike.
bool nearestUsbDevice(std::string dir, uint16_t &vendor, uint16_t &product, std::string &usbDir)
{
    for (int level = 0; level < kMaxLevels; ++level) {
        if (readId(dir + "/idVendor", vendor) && readId(dir + "/idProduct", product)) {
            usbDir = dir;
            return true;
        }
        dir += "/..";
    }
    return false;
}

// Name order with the trailing number compared as a number: ttyUSB2 before ttyUSB10.
bool nameOrder(const std::string &a, const std::string &b)
{
    const auto split = [](const std::string &s) {
        size_t digits = s.size();
        while (digits > 0 && s[digits - 1] >= '0' && s[digits - 1] <= '9')
            --digits;
        const std::string number = s.substr(digits);
        return std::make_tuple(s.substr(0, digits), number.size(), number);
    };
    return split(a) < split(b);
}

} // namespace

const std::vector<SerialStickModel> &serialStickModels()
{
    static const std::vector<SerialStickModel> models{{0x0FCF, 0x1004, 50000}};
    return models;
}

std::vector<SerialStick> findSerialSticks(const std::string &sysRoot)
{
    std::vector<SerialStick> sticks;
    const std::string classDir = sysRoot + "/class/tty";
    DIR *dir = ::opendir(classDir.c_str());
    if (!dir)
        return sticks;
    std::vector<std::string> names;
    while (const dirent *e = ::readdir(dir))
        if (e->d_name[0] != '.')
            names.emplace_back(e->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end(), nameOrder);

    for (const std::string &name : names) {
        uint16_t vendor = 0, product = 0;
        std::string usbDir;
        if (!nearestUsbDevice(classDir + "/" + name + "/..", vendor, product, usbDir))
            continue;
        const auto &models = serialStickModels();
        const auto model = std::find_if(models.begin(), models.end(), [&](const auto &m) {
            return m.vendorId == vendor && m.productId == product;
        });
        if (model == models.end())
            continue;
        SerialStick stick;
        stick.path = "/dev/" + name;
        readAttribute(usbDir + "/product", stick.product);
        stick.model = *model;
        sticks.push_back(stick);
    }
    return sticks;
}

} // namespace antlib
