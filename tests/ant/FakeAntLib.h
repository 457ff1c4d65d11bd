#pragma once
// A recording stand-in for the ANT library's function table: every call is kept with its
// arguments (and the 8 data bytes of the send calls) so tests can check what went out.
#include "ant/binding/AntLib.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct TFakeAntCall {
    std::string Name;
    std::vector<int> Args;
    std::array<uint8_t, 8> Data{};
    // The entry point and buffer handed over by the two callback registrations.
    ANT_EVENT_FUNC Callback = nullptr;
    uint8_t *Buffer = nullptr;
};

class TFakeAntLib {
public:
    // Installs the recording table; the destructor puts an empty table back.
    TFakeAntLib();
    ~TFakeAntLib();
    TFakeAntLib(const TFakeAntLib &) = delete;
    TFakeAntLib &operator=(const TFakeAntLib &) = delete;

    std::vector<TFakeAntCall> Calls() const;
    std::vector<TFakeAntCall> Calls(const std::string &Name) const;
    void Clear();

    // Result of the bool functions (default true).
    static bool Result;
    // Device numbers below this answer ANT_Init (-1: every number answers as Result says).
    static int DevicesPresent;
    // Results of the USB queries and the version code.
    static bool UsbInfoResult;
    static bool UsbPidResult;
    static uint32_t LibVersion;
    // What ANT_GetLastErrorText tells (empty: nothing).
    static std::string LastErrorText;
    static TFakeAntLib *Current;

    void Record(TFakeAntCall Call);
    // Runs inside each call after it is recorded, as a library answering at once would.
    std::function<void(const TFakeAntCall &)> OnCall;

private:
    mutable std::mutex FMutex;
    std::vector<TFakeAntCall> FCalls;
};
