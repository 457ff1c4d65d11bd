#pragma once
// Stick frames on their way into a non-blocking file descriptor (the pty of
// fennick-virtual-stick). A host that stops reading fills the descriptor; the frames that
// then do not fit here either are dropped whole, as a USB stick drops messages, and a frame
// the descriptor took only in part is finished first, so the host never sees a cut frame.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace antsim {

class FrameOutbox {
public:
    // Room for a few hundred frames: enough for a host that is briefly late, short enough
    // that a host which comes back is not served stale pages for long.
    static constexpr size_t kDefaultCapacity = 4096;
    explicit FrameOutbox(size_t capacity = kDefaultCapacity) : FCapacity(capacity) {}

    // Queues the whole frames in `bytes` (an engine's output); each frame that does not fit
    // is dropped.
    void push(const std::vector<uint8_t> &bytes);
    // Queues `piece` as one unit (bytes that need not be frames); false, dropping it, when it
    // does not fit.
    bool pushPiece(const std::vector<uint8_t> &piece);
    // Writes what `fd` takes without waiting; false on a write error other than a full
    // descriptor (the host is gone).
    bool flush(int fd);
    bool empty() const { return FBytes.empty(); }
    size_t size() const { return FBytes.size(); }
    size_t capacity() const { return FCapacity; }
    uint64_t framesDropped() const { return FDropped; }

private:
    const size_t FCapacity;
    std::deque<uint8_t> FBytes; // whole frames, the first maybe partly written already
    uint64_t FDropped = 0;
};

} // namespace antsim
