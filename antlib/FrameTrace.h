#pragma once
// The frame trace of $FENNICK_ANT_TRACE: every frame to and from the stick, one line each
// (antwire/TraceLine.h), written through to the file line by line so that a crash loses
// nothing. A session holds one only while tracing is on; otherwise it costs a null check.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "antwire/TraceLine.h"

namespace antlib {

class FrameTrace {
public:
    // The trace $FENNICK_ANT_TRACE names, shared by every session while the variable stays
    // the same; null when it is unset or the file cannot be written (reported on stderr and
    // as the last stick failure).
    static std::shared_ptr<FrameTrace> forEnvironment();
    // Truncates `path`; null with `error` set when it cannot be opened.
    static std::shared_ptr<FrameTrace> open(const std::string &path, std::string &error);

    ~FrameTrace();
    FrameTrace(const FrameTrace &) = delete;
    FrameTrace &operator=(const FrameTrace &) = delete;

    void frame(antwire::TraceDirection direction, const uint8_t *frame, size_t size);
    void message(antwire::TraceDirection direction, uint8_t id, const uint8_t *data, size_t size);
    // A comment line ("# text").
    void note(const std::string &text);

private:
    explicit FrameTrace(int fd) : FFd(fd) {}
    void writeLine(const std::string &line);
    void writeLocked(const std::string &line); // FMutex held

    const int FFd;
    std::mutex FMutex; // the caller's threads and the reader thread write lines whole and in order
};

} // namespace antlib
