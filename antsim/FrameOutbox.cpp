#include "antsim/FrameOutbox.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace antsim {

void FrameOutbox::push(const std::vector<uint8_t> &bytes)
{
    size_t at = 0;
    while (at < bytes.size()) {
        // The engines emit whole frames: sync, length, id, data, checksum. Bytes that are not
        // one are kept together as a single piece rather than split.
        const size_t size = bytes.size() - at >= 2 ? std::min(size_t(bytes[at + 1]) + 4, bytes.size() - at)
                                                   : bytes.size() - at;
        if (FBytes.size() + size <= FCapacity)
            FBytes.insert(FBytes.end(), bytes.begin() + long(at), bytes.begin() + long(at + size));
        else
            ++FDropped;
        at += size;
    }
}

bool FrameOutbox::pushPiece(const std::vector<uint8_t> &piece)
{
    if (FBytes.size() + piece.size() > FCapacity) {
        ++FDropped;
        return false;
    }
    FBytes.insert(FBytes.end(), piece.begin(), piece.end());
    return true;
}

bool FrameOutbox::flush(int fd)
{
    uint8_t chunk[1024];
    while (!FBytes.empty()) {
        const size_t n = std::min(FBytes.size(), sizeof chunk);
        std::copy_n(FBytes.begin(), n, chunk);
        const ssize_t written = ::write(fd, chunk, n);
        if (written > 0) {
            FBytes.erase(FBytes.begin(), FBytes.begin() + written);
            continue;
        }
        if (written == 0)
            return true;
        if (errno == EINTR)
            continue;
        // Full: the rest waits, the part of a frame already written included.
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
}

} // namespace antsim
