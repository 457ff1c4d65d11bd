#pragma once
// Timed requests with an optional time-out, and the controller's list of them. A request's
// ticks come either from a thread-driven timer (artThreaded, ticks on the user-interface
// thread) or from a waitable timer waited on by the caller (artWaitableTimer, the enabling
// call blocks in a message-processing loop until the request ends).
#include "ant/AntPacing.h"
#include "ant/AntRequestTimer.h"
#include "framework/Collection.h"
#include "framework/Persistent.h"
#include "framework/Streams.h"
#include "persist/StreamedList.h"
#include "platform/Thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class TAntChannel;

class TAntRequests;

class TAntRequest : public TCollectionItem {
public:
    explicit TAntRequest(TCollection *Collection);
    ~TAntRequest() override;

    std::string ClassName() const override { return "TAntRequest"; }
    const TPropList &Properties() const override;

    bool Enabled() const { return FPacing.Enabled(); }
    // Starts (true, also when already running: a fresh timer and Elapsed from 0) or stops
    // the request. With artWaitableTimer, true returns only when the request has ended.
    void SetEnabled(bool Value) { FPacing.SetEnabled(Value); }
    int32_t TimeOut() const { return FPacing.TimeOut(); }
    void SetTimeOut(int32_t Value) { FPacing.SetTimeOut(Value); }
    int32_t Interval() const { return FPacing.Interval(); }
    void SetInterval(int32_t Value) { FPacing.SetInterval(Value); }
    TThreadPriority ThreadPriority() const { return FPacing.ThreadPriority(); }
    void SetThreadPriority(TThreadPriority Value) { FPacing.SetThreadPriority(Value); }
    int32_t RequestResult() const { return FRequestResult; }
    void SetRequestResult(int32_t Value) { FRequestResult = Value; }
    TAntRequestType AntRequestType() const { return FPacing.Type(); }
    void SetAntRequestType(TAntRequestType Value) { FPacing.SetType(Value); }
    TAntChannel *Channel() const { return FChannel; }
    void SetChannel(TAntChannel *Value) { FChannel = Value; }

    TNotifyEvent OnRequestTimeOut;
    TNotifyEvent OnRequestHandled;
    TNotifyEvent OnTimer;

    // The last timer made by enabling (artThreaded); kept after disabling until the next
    // enable or the request's end.
    TAntRequestTimer *Timer() const { return FPacing.Timer(); }
    bool TimedOut() const { return FPacing.TimedOut(); }
    bool Handled() const { return FPacing.Handled(); }
    uint32_t StartTick() const { return FPacing.StartTick(); }
    uint32_t Elapsed() const { return FPacing.Elapsed(); }

    // Tick handler of the request's own timer (user-interface thread).
    void TimerTick(TObject *) { FPacing.TimerTick(); }
    // True: cancels a waitable timer, clears the Enabled flag only and raises OnRequestHandled.
    void SetHandled(bool Value) { FPacing.SetHandled(Value); }
    void DoRequestTimeOut();
    void DoRequestHandled();
    void DoTimer();

    // Closes a waitable timer that is still open (the wait in progress ends at once).
    void CloseWaitableTimer() { FPacing.CloseWaitableTimer(); }

private:
    int32_t FRequestResult = 0;
    TAntChannel *FChannel = nullptr;
    // Last member: destroyed first, so no tick runs on a half-destroyed request.
    TAntPacing FPacing{{[this] { DoTimer(); }, [this] { DoRequestTimeOut(); }, [this] { DoRequestHandled(); }}};
};

class TAntRequests : public TCollection {
public:
    explicit TAntRequests(TPersistent *AOwner);
    std::string ClassName() const override { return "TAntRequests"; }
    TAntRequest *Items(int Index) const { return static_cast<TAntRequest *>(TCollection::Items(Index)); }
};

// Stored in the binary form of the component stream.
class TAntRequestList : public TStreamedList<TAntRequestList, psfBinary> {
public:
    // AOwner (the controller) names the list's owner for name paths; it is not freed here.
    explicit TAntRequestList(TPersistent *AOwner);
    // Stops every enabled request (index order), closes open waitable timers, frees the requests.
    ~TAntRequestList() override;
    TAntRequestList(const TAntRequestList &) = delete;
    TAntRequestList &operator=(const TAntRequestList &) = delete;

    std::string ClassName() const override { return "TAntRequestList"; }
    const TPropList &Properties() const override;
    TPersistent *GetOwner() const override { return FOwner; }

    const std::string &Filename() const { return FFilename; }
    void SetFilename(const std::string &Value) { FFilename = Value; }
    TAntRequests *AntRequestItems() const { return FAntRequestItems; }

    TAntRequest *Add();
    TAntRequest *AntRequests(int Index) const { return FAntRequestItems->Items(Index); }
    int Count() const { return FAntRequestItems->Count(); }
    void Clear();
    // Does nothing for an index outside the list.
    void Delete(int Index);

private:
    TPersistent *FOwner = nullptr;
    std::string FFilename;
    TAntRequests *FAntRequestItems = nullptr;
};
