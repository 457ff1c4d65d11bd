#pragma once
// A scripted stick on the master side of a pseudo-terminal: the library opens the slave
// side through $FENNICK_ANT_SERIAL.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "antwire/AntMessage.h"
#include "antlib/ant_dll.h"

class PtyPeer {
public:
    PtyPeer()
    {
        FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
            throw std::runtime_error("no pseudo-terminal");
        FSlave = ::ptsname(FMaster);
        ::setenv("FENNICK_ANT_SERIAL", FSlave.c_str(), 1);
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
    }
    ~PtyPeer() { hangUp(); }
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    const std::string &slavePath() const { return FSlave; }
    int masterFd() const { return FMaster; }

    // The enumeration index of this pseudo-terminal (USB sticks, if any, come first).
    int deviceNumber() const
    {
        uint8_t product[256], serial[256];
        for (int n = 0; n < 32; ++n) {
            if (!ANT_GetDeviceUSBInfo(uint8_t(n), product, serial))
                return -1;
            if (FSlave == reinterpret_cast<char *>(serial))
                return n;
        }
        return -1;
    }

    bool open() { return ANT_Init(uint8_t(deviceNumber()), 57600); }

    void writeRaw(const std::vector<uint8_t> &bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(FMaster, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                throw std::runtime_error("pseudo-terminal write failed");
            done += size_t(n);
        }
    }
    void send(uint8_t id, std::vector<uint8_t> data)
    {
        writeRaw(antwire::encodeMessage(id, data.data(), data.size()));
    }

    // The next frame the library wrote, or nothing within the time-out.
    std::optional<antwire::AntMessage> next(int timeoutMs = 2000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (FFrames.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd p{FMaster, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0)
                continue;
            uint8_t buffer[256];
            const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
            if (n <= 0)
                return std::nullopt;
            FDecoder.feed(buffer, size_t(n));
        }
        auto m = FFrames.front();
        FFrames.pop_front();
        return m;
    }

    void hangUp()
    {
        if (FMaster >= 0)
            ::close(FMaster);
        FMaster = -1;
    }

private:
    int FMaster = -1;
    std::string FSlave;
    std::deque<antwire::AntMessage> FFrames;
    antwire::AntMessageDecoder FDecoder{[this](const antwire::AntMessage &m) { FFrames.push_back(m); }};
};
