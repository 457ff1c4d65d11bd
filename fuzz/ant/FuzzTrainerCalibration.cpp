// Drives the trainer's calibration run with arbitrary pages, starts, cancels and clock steps.
// The input is read in chunks of 9 bytes: an operation byte followed by an 8-byte payload.
// Operation bits 0-2: 0 the payload as a page, 1 the payload as page 1, 2, 16 or 25 (chosen by
// its byte 0), 2 start (kinds from payload byte 1), 3 cancel, otherwise a clock tick; bits 3-7:
// n, the clock moves n * n * 200 ms before the operation (up to 192 s, past the run's limit).
#include "ant/profiles/TrainerCalibration.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

bool Within(TTrainerCalibrationKinds Part, TTrainerCalibrationKinds Whole)
{
    return (Part.Bits() & ~Whole.Bits()) == 0;
}

void CheckTemperature(const std::optional<double> &T)
{
    if (T && (*T < -25.0 || *T > 102.0))
        __builtin_trap();
}

void Check(const TTrainerCalibration &Cal, const TTrainerCalibrationAction &Action, uint8_t Op, bool WasRunning,
           uint32_t Now, uint32_t Started)
{
    switch (Action.Command) {
    case tccNone: break;
    case tccSendRequest:
        // Only a start from rest or a resend while the trainer is silent asks for a request.
        if (!(Op == 2 && !WasRunning) && !(Op > 3 && Cal.State() == tcsRequesting))
            __builtin_trap();
        if (!Action.Kinds.Any() || !(Action.Kinds == Cal.Asked()))
            __builtin_trap();
        break;
    case tccSendCancel:
        // Asked for by Cancel, or when a run reaches its limit.
        if (!WasRunning || !((Op == 3 && Cal.State() == tcsCancelled) || (Op != 2 && Cal.State() == tcsTimedOut)))
            __builtin_trap();
        break;
    }
    if (Cal.Resends() < 0 || Cal.Resends() > TTrainerCalibration::MaxResends)
        __builtin_trap();
    // A refused start is the one operation that leaves the limit to the next tick or page.
    if (Op != 2 && Cal.Running() && static_cast<uint32_t>(Now - Started) >= TTrainerCalibration::RunLimitMs)
        __builtin_trap();
    const TTrainerCalibrationResult &r = Cal.Result();
    if ((r.Succeeded.Bits() & r.Failed.Bits()) != 0 || !Within(r.Succeeded, Cal.Asked()) ||
        !Within(r.Failed, Cal.Asked()))
        __builtin_trap();
    if ((r.ZeroOffset && (!r.Succeeded.ZeroOffset || *r.ZeroOffset == 0xFFFF)) ||
        (r.SpinDownTime && (!r.Succeeded.SpinDown || *r.SpinDownTime == 0xFFFF)))
        __builtin_trap();
    CheckTemperature(r.Temperature);
    const TTrainerCalibrationProgress &p = Cal.Progress();
    if (!Within(p.Pending, Cal.Asked()))
        __builtin_trap();
    CheckTemperature(p.Temperature);
    if ((p.TargetSpinDownTime && *p.TargetSpinDownTime == 0xFFFF) ||
        (p.TargetSpeed && *p.TargetSpeed > 65534 * 0.0036))
        __builtin_trap();
    const bool ended = !Cal.Running() && Cal.State() != tcsIdle;
    if (ended == Cal.EndText().empty())
        __builtin_trap();
    if (Cal.State() == tcsSucceeded && r.Failed.Any())
        __builtin_trap();
    if (Cal.State() == tcsFailed && !r.Failed.Any())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TTrainerCalibration cal;
    cal.OnLog = [](const std::string &Line) {
        if (Line.rfind("Trainer calibration: ", 0) != 0 || Line.find("65535") != std::string::npos)
            __builtin_trap();
    };
    uint32_t now = 0xFFFF0000u; // near the tick count's wrap
    uint32_t started = now;
    static constexpr uint8_t pages[] = {1, 2, 16, 25};
    for (size_t pos = 0; pos + 9 <= size; pos += 9) {
        const uint8_t op = data[pos] & 0x07;
        const uint32_t n = data[pos] >> 3;
        now += n * n * 200;
        TFePagePayload page;
        std::memcpy(page.data(), data + pos + 1, page.size());
        const bool wasRunning = cal.Running();
        TTrainerCalibrationAction action;
        switch (op) {
        case 0: action = cal.Page(page, now); break;
        case 1:
            page[0] = pages[page[0] & 0x03];
            action = cal.Page(page, now);
            break;
        case 2:
            action = cal.Start(TTrainerCalibrationKinds::FromBits(page[1]), now);
            if (action.Command == tccSendRequest)
                started = now;
            break;
        case 3: action = cal.Cancel(now); break;
        default: action = cal.Tick(now); break;
        }
        Check(cal, action, op, wasRunning, now, started);
    }
    return 0;
}
