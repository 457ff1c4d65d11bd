#pragma once
// One open stick: writes commands to its transport and runs the reader thread that decodes
// what the stick sends and hands it to the registered callbacks.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "antwire/AntMessage.h"
#include "antlib/CallbackRegistry.h"
#include "antlib/FrameTrace.h"
#include "antlib/SerialErrorLog.h"
#include "antwire/Transport.h"

namespace antlib {

class AntSession {
public:
    // `deviceKey` names the enumerated device the transport belongs to; every frame goes to
    // `trace` when there is one.
    AntSession(std::unique_ptr<antwire::Transport> transport, CallbackRegistry &callbacks,
               std::string deviceKey = {}, std::shared_ptr<FrameTrace> trace = nullptr);
    ~AntSession();
    AntSession(const AntSession &) = delete;
    AntSession &operator=(const AntSession &) = delete;

    void start();
    // Stops the reader thread and releases the transport; no callback starts afterwards.
    // Called on the reader thread itself (from inside a callback) it cannot wait for the
    // thread: it returns false, the callback under way finishes, the thread ends and a later
    // close() from another thread (or the destructor) joins it.
    bool close();

    // True when the whole frame was written.
    bool send(uint8_t id, const uint8_t *data, size_t size);
    // Splits `packets` x 8 bytes into burst packets with sequence bits; written as one run.
    bool sendBurst(uint8_t channel, const uint8_t *data, uint16_t packets);
    // Sends the reset and waits up to `waitMs` for the startup message (not on the reader
    // thread, where the wait could only time out). False when it could not be written or the
    // stick vanished meanwhile.
    bool resetSystem(int waitMs);

    bool failed() const { return FFailed; }
    bool onReaderThread() const;
    const std::string &deviceKey() const { return FDeviceKey; }
    uint16_t productId();
    std::string productName();
    std::string serialNumber();
    // Bit n set while channel n is taken to be open (for the closing events of a failure).
    uint32_t openChannels();

private:
    void readerLoop();
    void dispatch(const antwire::AntMessage &m);
    void noteWritten(uint8_t id, const uint8_t *data, size_t size);
    void transportFailed();
    bool writeFrame(const std::vector<uint8_t> &frame);

    CallbackRegistry &FCallbacks;
    const std::string FDeviceKey;
    // Fixed for the session's life: tracing off costs one test of this pointer per frame.
    const std::shared_ptr<FrameTrace> FTrace;
    antwire::AntMessageDecoder FDecoder;
    SerialErrorLog FSerialErrors; // reader thread only

    // Set once and destroyed with the session: read on the reader thread, write under
    // FWriteMutex, close from anywhere, all of which the transport allows concurrently.
    const std::unique_ptr<antwire::Transport> FTransport;
    std::mutex FWriteMutex;

    std::mutex FStateMutex;
    std::condition_variable FStateChanged;
    uint32_t FOpenChannels = 0;
    uint64_t FStartups = 0;

    std::atomic<bool> FStop{false};
    std::atomic<bool> FFailed{false};

    std::mutex FJoinMutex;
    std::thread FReader;
    std::atomic<std::thread::id> FReaderId{};
};

} // namespace antlib
