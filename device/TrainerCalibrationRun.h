#pragma once
// The trainer's own calibration run as the device carries it out: the state machine, the
// clock that drives its resends and its limit, and the pages it asks to be sent.
//
// Threads: pages arrive on the channel message thread, Start/Cancel and the clock's ticks
// run on the user-interface thread, the trainer's loss may come on the library's thread.
// The state machine is only touched under the mutex; nothing is sent, logged or notified
// while it is held, so no handler can dead-lock against a page.
#include "ant/profiles/TrainerCalibration.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TAntChannel;
class TThreadTimerControl;

struct TTrainerCalibrationView {           // a copy of what the run shows
    TTrainerCalibrationState State = tcsIdle;
    TTrainerCalibrationKinds Asked;
    TTrainerCalibrationProgress Progress;   // incl. CurrentSpeed from page 16
    TTrainerCalibrationResult Result;
    TTrainerCalibrationKinds Required;      // page 25, kept across runs
    std::string EndText;                    // how the last run ended; empty while none ended
    int Resends = 0;
    bool Running() const { return State == tcsRequesting || State == tcsInProgress; }
    bool operator==(const TTrainerCalibrationView &) const = default;
};

class TTrainerCalibrationRun {
public:
    static constexpr uint32_t TickIntervalMs = 250;
    static constexpr const char *DisconnectedText = "The trainer was disconnected during the calibration.";
    static constexpr const char *ConnectionLostText = "The connection to the trainer was lost during the calibration.";

    struct THooks {
        // The trainer channel to send on, or nullptr; asked on the user-interface thread.
        std::function<TAntChannel *()> TrainerChannel;
        // One readable line for the debug log; any thread.
        std::function<void(const std::string &Line)> Log;
        // Something the view shows changed; any thread, must not block.
        std::function<void()> Changed;
        // Milliseconds as the tick count; GetTickCount when not given.
        std::function<uint32_t()> Clock;
    };

    explicit TTrainerCalibrationRun(THooks Hooks);
    ~TTrainerCalibrationRun();
    TTrainerCalibrationRun(const TTrainerCalibrationRun &) = delete;
    TTrainerCalibrationRun &operator=(const TTrainerCalibrationRun &) = delete;

    // User-interface thread. False, with a log line saying why, without a connected trainer
    // channel, without a kind or while a run goes on; true once the request was sent.
    bool Start(TTrainerCalibrationKinds Kinds);
    // User-interface thread; the cancel goes out only when a run goes on.
    void Cancel();
    // A page the trainer channel heard, on the thread that decoded it; Channel sends the
    // cancel when the run reaches its limit.
    void Page(TAntChannel *Channel, const TFePagePayload &Payload);
    // The clock: resends and the limit. User-interface thread (the timer's tick).
    void Tick();
    // The device lets go of the trainer: a running run ends with Text as its ending. The
    // cancel goes out on Channel when it can still send. Any thread.
    void EndForLostTrainer(TAntChannel *Channel, const std::string &Text);
    // Stops the clock for good; the owner calls it before its channels go. UI thread.
    void Shutdown();

    // Any thread.
    TTrainerCalibrationView View() const;
    bool Running() const;
    // True while the clock ticks; user-interface thread.
    bool ClockRunning() const;

private:
    // Under the lock: the state machine's view with the run's own ending, if any.
    TTrainerCalibrationView ViewLocked() const;
    // Ends a running run as cancelled with Text as its ending, without the machine's log
    // line; false when no run went on.
    bool EndQuietly(const std::string &Text);
    // Sends what the state machine asked for; false (and a log line) when it could not go out.
    bool Send(TAntChannel *Channel, const TTrainerCalibrationAction &Action);
    void FlushLog();
    void Log(const std::string &Text);
    void NotifyWhen(bool Changed);
    void SetClock(bool Running);
    uint32_t Now() const;

    THooks FHooks;
    mutable std::mutex FMutex;
    TTrainerCalibration FMachine;       // under FMutex
    std::string FEndTextOverride;       // under FMutex: an ending the machine does not know
    std::vector<std::string> FPendingLog; // under FMutex: lines to write once it is released
    bool FQuiet = false;                // under FMutex: the machine's lines are not collected
    std::unique_ptr<TThreadTimerControl> FClock;
    bool FShutDown = false;             // user-interface thread
};
