#pragma once
// The trainer's own calibration (FE-C zero offset and spin-down) as a run with an ending.
//
// Fed by the trainer's pages 1, 2, 16 and 25 (the 8-byte payloads, read in full here; the
// page decoders' calibration status stays as it is) and by a millisecond clock passed in, so
// a run can be replayed from recorded pages without waiting. It sends nothing itself: every
// operation says what its owner has to send, the owner builds and sends the page. Not
// thread-safe; the owner calls it from one thread.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The kinds of calibration, as the bits of byte 1 of pages 1 and 2.
struct TTrainerCalibrationKinds {
    static constexpr uint8_t ZeroOffsetBit = 0x40;
    static constexpr uint8_t SpinDownBit = 0x80;

    bool ZeroOffset = false;
    bool SpinDown = false;

    static TTrainerCalibrationKinds FromBits(uint8_t Bits)
    {
        return {(Bits & ZeroOffsetBit) != 0, (Bits & SpinDownBit) != 0};
    }
    uint8_t Bits() const
    {
        return static_cast<uint8_t>((ZeroOffset ? ZeroOffsetBit : 0) | (SpinDown ? SpinDownBit : 0));
    }
    bool Any() const { return ZeroOffset || SpinDown; }
    bool operator==(const TTrainerCalibrationKinds &) const = default;
};

// "zero offset", "spin-down", "zero offset and spin-down" or "no calibration".
std::string TrainerCalibrationKindsText(TTrainerCalibrationKinds Kinds);

enum TTrainerCalibrationState : uint8_t {
    tcsIdle,        // never started
    tcsRequesting,  // request sent, the trainer has not answered yet
    tcsInProgress,  // the trainer reports progress (page 2)
    tcsSucceeded,   // every kind asked for succeeded
    tcsFailed,      // at least one kind asked for did not succeed
    tcsNotAnswered, // no page 1 or 2 after the request and its resends
    tcsTimedOut,    // no result within the run's limit; the trainer is sent the cancel
    tcsCancelled
};

// Page 2, byte 2 bits 4-5; ctcNotHeard before any page 2 of the run.
enum TCalibrationTemperatureCondition : uint8_t { ctcNotHeard, ctcNotApplicable, ctcTooLow, ctcOk, ctcTooHigh };
// Page 2, byte 2 bits 6-7; value 3 is reserved by the profile and means nothing.
enum TCalibrationSpeedCondition : uint8_t { cscNotHeard, cscNotApplicable, cscTooLow, cscOk, cscReserved };

// What the trainer says while it calibrates; every number absent when the trainer sent
// "unknown" or has not said it yet.
struct TTrainerCalibrationProgress {
    TTrainerCalibrationKinds Pending;
    TCalibrationTemperatureCondition TemperatureCondition = ctcNotHeard;
    TCalibrationSpeedCondition SpeedCondition = cscNotHeard;
    std::optional<double> Temperature;           // °C
    std::optional<double> TargetSpeed;           // km/h
    std::optional<uint16_t> TargetSpinDownTime;  // ms
    std::optional<double> CurrentSpeed;          // km/h, from page 16
    bool operator==(const TTrainerCalibrationProgress &) const = default;
};

struct TTrainerCalibrationResult {
    TTrainerCalibrationKinds Succeeded; // asked for and reported as done
    TTrainerCalibrationKinds Failed;    // asked for and not reported as done
    std::optional<uint16_t> SpinDownTime; // ms
    std::optional<uint16_t> ZeroOffset;   // the trainer's own units
    std::optional<double> Temperature;    // °C
    bool operator==(const TTrainerCalibrationResult &) const = default;
};

enum TTrainerCalibrationCommand : uint8_t {
    tccNone,
    tccSendRequest, // page 1 asking for Kinds, acknowledged
    tccSendCancel   // page 1 with no kind, acknowledged: on Cancel and at the run's limit
};

// What an operation asks of the owner. Changed: something the run shows is different.
struct TTrainerCalibrationAction {
    TTrainerCalibrationCommand Command = tccNone;
    TTrainerCalibrationKinds Kinds;
    bool Changed = false;
};

// The payload of an FE-C data page, byte 0 the page number.
using TFePagePayload = std::array<uint8_t, 8>;

// The pages read in full. Fields the trainer marks unknown are absent.
TTrainerCalibrationProgress DecodeTrainerCalibrationProgress(const TFePagePayload &Page);
struct TTrainerCalibrationResponse {
    TTrainerCalibrationKinds Succeeded;
    std::optional<double> Temperature;
    std::optional<uint16_t> ZeroOffset;
    std::optional<uint16_t> SpinDownTime;
};
TTrainerCalibrationResponse DecodeTrainerCalibrationResponse(const TFePagePayload &Page);
// Page 25, byte 6 bits 4 and 5.
TTrainerCalibrationKinds DecodeTrainerCalibrationRequired(const TFePagePayload &Page);
// Page 16, bytes 4-5, in km/h; absent for 0xFFFF.
std::optional<double> DecodeTrainerSpeed(const TFePagePayload &Page);

class TTrainerCalibration {
public:
    static constexpr uint32_t AnswerWaitMs = 2000;
    static constexpr int MaxResends = 3;
    static constexpr uint32_t RunLimitMs = 3 * 60 * 1000;
    static const char *const NotAnsweredText;

    using TLogEvent = std::function<void(const std::string &Line)>;
    // One line per request, change of progress and ending; never one per page.
    TLogEvent OnLog;

    // Starts a run from nothing; refused (tccNone) while a run goes on or without a kind.
    TTrainerCalibrationAction Start(TTrainerCalibrationKinds Kinds, uint32_t NowMs);
    // Ends a running run as cancelled and asks for the cancel request.
    TTrainerCalibrationAction Cancel(uint32_t NowMs);
    // A page heard from the trainer; pages other than 1, 2, 16 and 25 change nothing. A run
    // past its limit ends as timed out first.
    TTrainerCalibrationAction Page(const TFePagePayload &Payload, uint32_t NowMs);
    // The clock: resends and the run's limit. Times wrap as the tick count does.
    TTrainerCalibrationAction Tick(uint32_t NowMs);

    TTrainerCalibrationState State() const { return FState; }
    bool Running() const { return FState == tcsRequesting || FState == tcsInProgress; }
    TTrainerCalibrationKinds Asked() const { return FAsked; }
    const TTrainerCalibrationProgress &Progress() const { return FProgress; }
    const TTrainerCalibrationResult &Result() const { return FResult; }
    int Resends() const { return FResends; }
    // The kinds the trainer says it needs (page 25), kept across runs.
    TTrainerCalibrationKinds Required() const { return FRequired; }
    // How the last run ended, in plain words; empty while none has ended.
    const std::string &EndText() const { return FEndText; }

private:
    TTrainerCalibrationAction PageInRun(const TFePagePayload &Payload);
    // Ends a run past its limit as timed out.
    bool Expire(uint32_t NowMs);
    TTrainerCalibrationAction ProgressPage(const TFePagePayload &Payload);
    TTrainerCalibrationAction ResponsePage(const TFePagePayload &Payload);
    void LogProgressChanges(const TTrainerCalibrationProgress &Old);
    void End(TTrainerCalibrationState State, const std::string &Text);
    void Log(const std::string &Text) const;

    TTrainerCalibrationState FState = tcsIdle;
    TTrainerCalibrationKinds FAsked;
    TTrainerCalibrationProgress FProgress;
    TTrainerCalibrationResult FResult;
    TTrainerCalibrationKinds FRequired;
    TTrainerCalibrationKinds FIgnoredProgress; // kinds of page 2s ignored in this run
    std::string FEndText;
    uint32_t FStartedMs = 0;
    uint32_t FLastSendMs = 0;
    int FResends = 0;
};
