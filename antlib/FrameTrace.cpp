#include "antlib/FrameTrace.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "antlib/LastError.h"
#include "antwire/AntMessage.h"

namespace antlib {

namespace {

constexpr const char *kHeader =
    "# fennick ANT trace: seconds direction name ch=channel page=page frame bytes in hex\n";

std::mutex gCurrentMutex;
std::string gCurrentPath;
std::shared_ptr<FrameTrace> gCurrent;

int64_t monotonicMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

std::shared_ptr<FrameTrace> FrameTrace::forEnvironment()
{
    const char *env = std::getenv("FENNICK_ANT_TRACE");
    const std::string path = env ? env : "";
    std::lock_guard lock(gCurrentMutex);
    if (path == gCurrentPath && (gCurrent || path.empty()))
        return gCurrent;
    gCurrent.reset();
    gCurrentPath.clear();
    if (path.empty())
        return nullptr;
    std::string error;
    gCurrent = open(path, error);
    if (!gCurrent) {
        reportStickFailure("cannot write the ANT trace " + path + ": " + error);
        return nullptr;
    }
    gCurrentPath = path;
    return gCurrent;
}

std::shared_ptr<FrameTrace> FrameTrace::open(const std::string &path, std::string &error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    std::shared_ptr<FrameTrace> trace(new FrameTrace(fd));
    trace->writeLine(kHeader);
    return trace;
}

FrameTrace::~FrameTrace()
{
    ::close(FFd);
}

void FrameTrace::frame(antwire::TraceDirection direction, const uint8_t *frame, size_t size)
{
    antwire::TraceLine line{0, direction, std::vector<uint8_t>(frame, frame + size)};
    // Stamped under the lock, so that the file reads in time order whichever thread wrote.
    std::lock_guard lock(FMutex);
    line.micros = monotonicMicros();
    writeLocked(antwire::formatTraceLine(line) + '\n');
}

void FrameTrace::message(antwire::TraceDirection direction, uint8_t id, const uint8_t *data, size_t size)
{
    const auto bytes = antwire::encodeMessage(id, data, size);
    frame(direction, bytes.data(), bytes.size());
}

void FrameTrace::note(const std::string &text)
{
    writeLine("# " + text + '\n');
}

void FrameTrace::writeLine(const std::string &line)
{
    std::lock_guard lock(FMutex);
    writeLocked(line);
}

void FrameTrace::writeLocked(const std::string &line)
{
    // One write per line: nothing is held back in a buffer, and a full disk costs lines,
    // never the stick.
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(FFd, line.data() + done, line.size() - done);
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return;
    }
}

} // namespace antlib
