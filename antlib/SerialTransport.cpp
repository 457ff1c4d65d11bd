#include "antlib/SerialTransport.h"

#include "antlib/LastError.h"
#include "antlib/LineSpeed.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace antlib {

namespace {

constexpr int kSerialWriteTimeoutMs = 2000;

bool speedFor(unsigned baud, speed_t &speed)
{
    static const struct {
        unsigned baud;
        speed_t speed;
    } table[] = {{4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
                 {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
                 {500000, B500000}, {921600, B921600}};
    for (const auto &e : table)
        if (e.baud == baud) {
            speed = e.speed;
            return true;
        }
    return false;
}

class SerialTransport final : public antwire::Transport {
public:
    SerialTransport(int fd, int wake, std::string path, SerialIdentity identity)
        : FFd(fd), FWake(wake), FPath(std::move(path)), FIdentity(std::move(identity))
    {
    }
    ~SerialTransport() override
    {
        ::close(FFd);
        ::close(FWake);
    }

    bool write(const uint8_t *data, size_t size) override
    {
        size_t done = 0;
        while (done < size) {
            if (FClosed)
                return false;
            const ssize_t n = ::write(FFd, data + done, size - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN) {
                pollfd p[2] = {{FFd, POLLOUT, 0}, {FWake, POLLIN, 0}};
                const int r = ::poll(p, 2, kSerialWriteTimeoutMs);
                if (r == 0 || (r < 0 && errno != EINTR) || (p[0].revents & (POLLERR | POLLHUP)))
                    return false;
                continue;
            }
            return false;
        }
        return true;
    }

    int read(uint8_t *buffer, size_t capacity, int timeoutMs) override
    {
        if (FClosed)
            return -1;
        pollfd p[2] = {{FFd, POLLIN, 0}, {FWake, POLLIN, 0}};
        int r;
        do {
            r = ::poll(p, 2, timeoutMs);
        } while (r < 0 && errno == EINTR);
        if (r < 0 || FClosed)
            return -1;
        if (r == 0)
            return 0;
        if (p[0].revents & POLLIN) {
            ssize_t n;
            do {
                n = ::read(FFd, buffer, capacity);
            } while (n < 0 && errno == EINTR);
            if (n > 0)
                return int(n);
            if (n < 0 && errno == EAGAIN)
                return 0;
            return -1; // end of file (peer hung up) or EIO
        }
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            return -1;
        return 0;
    }

    void close() override
    {
        FClosed = true;
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(FWake, &one, sizeof one);
    }

    uint16_t productId() const override { return FIdentity.productId; }
    std::string productName() const override { return FIdentity.productName; }
    std::string serialNumber() const override { return FPath; }

private:
    const int FFd;
    const int FWake;
    const std::string FPath;
    const SerialIdentity FIdentity;
    std::atomic<bool> FClosed{false};
};

} // namespace

std::vector<std::string> listSerialDevices()
{
    std::vector<std::string> devices;
    const char *list = std::getenv("FENNICK_ANT_SERIAL");
    if (!list)
        return devices;
    std::string text(list);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(':', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            devices.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return devices;
}

namespace {

// Serial ports belong to the dialout group on Debian; an ordinary user is not in it at first.
// The udev rule gives the user at the seat a known stick's tty without that.
void explainOpenFailure(const std::string &path, int error, bool knownStick)
{
    std::string text = "cannot open " + path + ": " + std::strerror(error);
    if (error == EACCES || error == EPERM)
        text += std::string(".\n") +
                (knownStick ? "install the udev rule packaging/99-fennick-ant.rules and plug the "
                              "stick in again,\nor add"
                            : "add") +
                " yourself to the group that owns it (usually dialout):\n"
                "  sudo usermod -aG dialout $USER\n"
                "then log out and in again.";
    else if (error == EBUSY)
        text += ".\nanother program holds it; close that program, then try again.";
    reportStickFailure(text);
}

} // namespace

std::unique_ptr<antwire::Transport> openSerialTransport(const std::string &path, unsigned baud,
                                                        const SerialIdentity &identity)
{
    if (baud == 0) {
        reportStickFailure(path + ": baud rate 0 is not a line speed");
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        explainOpenFailure(path, errno, identity.productId != 0);
        return nullptr;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        reportStickFailure(path + " is not a terminal: " + std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | CRTSCTS);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    speed_t speed;
    const bool standard = speedFor(baud, speed);
    if (standard) {
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
    }
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        reportStickFailure("cannot configure " + path + ": " + std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    if (!standard) {
        if (const int error = setAnyLineSpeed(fd, baud)) {
            reportStickFailure("cannot set " + path + " to " + std::to_string(baud) +
                               " baud: " + std::strerror(error));
            ::close(fd);
            return nullptr;
        }
    }
    ::tcflush(fd, TCIOFLUSH);
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<SerialTransport>(fd, wake, path, identity);
}

} // namespace antlib
