#include "device/TrainerCalibrationRun.h"

#include "ant/channels/AntChannels.h"
#include "platform/TickCount.h"
#include "platform/TimerThread.h"

namespace {

std::string CommandText(TTrainerCalibrationCommand Command)
{
    return Command == tccSendRequest ? "calibration request" : "cancel request";
}

} // namespace

TTrainerCalibrationRun::TTrainerCalibrationRun(THooks Hooks) : FHooks(std::move(Hooks))
{
    // Called only inside the machine's operations, which run under the lock.
    FMachine.OnLog = [this](const std::string &Line) {
        if (!FQuiet)
            FPendingLog.push_back(Line);
    };
    FClock = std::make_unique<TThreadTimerControl>([this] {
        if (!FShutDown)
            Tick();
    });
    FClock->SetInterval(TickIntervalMs);
}

TTrainerCalibrationRun::~TTrainerCalibrationRun() { Shutdown(); }

void TTrainerCalibrationRun::Shutdown()
{
    FShutDown = true;
    FClock.reset();
}

uint32_t TTrainerCalibrationRun::Now() const { return FHooks.Clock ? FHooks.Clock() : GetTickCount(); }

TTrainerCalibrationView TTrainerCalibrationRun::ViewLocked() const
{
    TTrainerCalibrationView v;
    v.State = FMachine.State();
    v.Asked = FMachine.Asked();
    v.Progress = FMachine.Progress();
    v.Result = FMachine.Result();
    v.Required = FMachine.Required();
    v.EndText = FEndTextOverride.empty() ? FMachine.EndText() : FEndTextOverride;
    v.Resends = FMachine.Resends();
    return v;
}

TTrainerCalibrationView TTrainerCalibrationRun::View() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return ViewLocked();
}

bool TTrainerCalibrationRun::Running() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FMachine.Running();
}

bool TTrainerCalibrationRun::ClockRunning() const { return FClock && FClock->Enabled(); }

void TTrainerCalibrationRun::FlushLog()
{
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        lines.swap(FPendingLog);
    }
    if (FHooks.Log)
        for (const std::string &line : lines)
            FHooks.Log(line);
}

void TTrainerCalibrationRun::Log(const std::string &Text)
{
    FlushLog();
    if (FHooks.Log)
        FHooks.Log("Trainer calibration: " + Text);
}

void TTrainerCalibrationRun::NotifyWhen(bool Changed)
{
    if (Changed && FHooks.Changed)
        FHooks.Changed();
}

void TTrainerCalibrationRun::SetClock(bool Running)
{
    if (!FShutDown && FClock)
        FClock->SetEnabled(Running);
}

bool TTrainerCalibrationRun::Send(TAntChannel *Channel, const TTrainerCalibrationAction &Action)
{
    if (Action.Command == tccNone)
        return true;
    bool sent = false;
    if (Channel != nullptr)
        sent = Action.Command == tccSendRequest
                   ? Channel->SendCalibrationRequest(Action.Kinds.ZeroOffset, Action.Kinds.SpinDown)
                   : Channel->SendCalibrationCancel();
    if (!sent)
        Log("the " + CommandText(Action.Command) + " could not be sent: no trainer connected");
    return sent;
}

bool TTrainerCalibrationRun::Start(TTrainerCalibrationKinds Kinds)
{
    TAntChannel *channel = FHooks.TrainerChannel ? FHooks.TrainerChannel() : nullptr;
    if (channel == nullptr || !channel->Connected()) {
        Log("not started: no trainer connected");
        return false;
    }
    if (!Kinds.Any()) {
        Log("not started: no calibration kind chosen");
        return false;
    }
    TTrainerCalibrationAction action;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (!FMachine.Running()) {
            FEndTextOverride.clear();
            action = FMachine.Start(Kinds, Now());
        }
    }
    if (action.Command != tccSendRequest) {
        Log("not started: a calibration is already running");
        return false;
    }
    FlushLog();
    if (!Send(channel, action)) {
        EndQuietly("The calibration request could not be sent to the trainer.");
        NotifyWhen(true);
        return false;
    }
    SetClock(true);
    NotifyWhen(true);
    return true;
}

bool TTrainerCalibrationRun::EndQuietly(const std::string &Text)
{
    std::lock_guard<std::mutex> lock(FMutex);
    if (!FMachine.Running())
        return false;
    // The machine's own line would claim a cancel that may not go out; the caller says what did.
    FQuiet = true;
    FMachine.Cancel(Now());
    FQuiet = false;
    FEndTextOverride = Text;
    return true;
}

void TTrainerCalibrationRun::Cancel()
{
    TTrainerCalibrationAction action;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        action = FMachine.Cancel(Now());
    }
    FlushLog();
    if (action.Command == tccSendCancel)
        Send(FHooks.TrainerChannel ? FHooks.TrainerChannel() : nullptr, action);
    SetClock(false);
    NotifyWhen(action.Changed);
}

void TTrainerCalibrationRun::Page(TAntChannel *Channel, const TFePagePayload &Payload)
{
    TTrainerCalibrationAction action;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        const TTrainerCalibrationView before = ViewLocked();
        action = FMachine.Page(Payload, Now());
        // The machine counts a speed change as one only during a run; the view shows it always.
        changed = action.Changed || !(ViewLocked() == before);
    }
    FlushLog();
    // The clock is left to stop itself: it belongs to the user-interface thread.
    Send(Channel, action);
    NotifyWhen(changed);
}

void TTrainerCalibrationRun::Tick()
{
    TTrainerCalibrationAction action;
    bool running = false;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        action = FMachine.Tick(Now());
        running = FMachine.Running();
    }
    FlushLog();
    if (action.Command != tccNone)
        Send(FHooks.TrainerChannel ? FHooks.TrainerChannel() : nullptr, action);
    if (!running)
        SetClock(false);
    NotifyWhen(action.Changed);
}

void TTrainerCalibrationRun::EndForLostTrainer(TAntChannel *Channel, const std::string &Text)
{
    if (!EndQuietly(Text))
        return;
    const bool sent = Channel != nullptr && Channel->SendCalibrationCancel();
    Log("ended: " + Text + (sent ? " Cancel request sent." : " No cancel sent: the channel can no longer send."));
    NotifyWhen(true);
}
