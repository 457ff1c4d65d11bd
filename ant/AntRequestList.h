#pragma once
// Timed requests with an optional time-out, and the controller's list of them. A request's
// ticks come either from a thread-driven timer (artThreaded, ticks on the user-interface
// thread) or from a waitable timer waited on by the caller (artWaitableTimer, the enabling
// call blocks in a message-processing loop until the request ends).
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
class TWaitableTimer;

enum TAntRequestType : uint8_t { artThreaded, artWaitableTimer };

class TAntRequests;

class TAntRequest : public TCollectionItem {
public:
    explicit TAntRequest(TCollection *Collection);
    ~TAntRequest() override;

    std::string ClassName() const override { return "TAntRequest"; }
    const TPropList &Properties() const override;

    bool Enabled() const { return FEnabled.load(std::memory_order_acquire); }
    // Starts (true, also when already running: a fresh timer and Elapsed from 0) or stops
    // the request. With artWaitableTimer, true returns only when the request has ended.
    void SetEnabled(bool Value);
    int32_t TimeOut() const { return FTimeOut; }
    void SetTimeOut(int32_t Value) { FTimeOut = Value; }
    int32_t Interval() const { return FInterval; }
    void SetInterval(int32_t Value) { FInterval = Value; }
    TThreadPriority ThreadPriority() const { return FThreadPriority; }
    void SetThreadPriority(TThreadPriority Value) { FThreadPriority = Value; }
    int32_t RequestResult() const { return FRequestResult; }
    void SetRequestResult(int32_t Value) { FRequestResult = Value; }
    TAntRequestType AntRequestType() const { return FAntRequestType; }
    void SetAntRequestType(TAntRequestType Value) { FAntRequestType = Value; }
    TAntChannel *Channel() const { return FChannel; }
    void SetChannel(TAntChannel *Value) { FChannel = Value; }

    TNotifyEvent OnRequestTimeOut;
    TNotifyEvent OnRequestHandled;
    TNotifyEvent OnTimer;

    // The last timer made by enabling (artThreaded); kept after disabling until the next
    // enable or the request's end.
    TAntRequestTimer *Timer() const { return FTimer; }
    bool TimedOut() const { return FTimedOut.load(std::memory_order_acquire); }
    bool Handled() const { return FHandled.load(std::memory_order_acquire); }
    uint32_t StartTick() const { return FStartTick; }
    uint32_t Elapsed() const { return FElapsed; }

    // Tick handler of the request's own timer (user-interface thread).
    void TimerTick(TObject *Sender);
    // True: cancels a waitable timer, clears the Enabled flag only and raises OnRequestHandled.
    void SetHandled(bool Value);
    void DoRequestTimeOut();
    void DoRequestHandled();
    void DoTimer();

    // Closes a waitable timer that is still open (the wait in progress ends at once).
    void CloseWaitableTimer();

private:
    void EnableThreaded(bool Value);
    void EnableWaitable(bool Value);

    std::atomic<bool> FEnabled{false};
    int32_t FTimeOut = 0;
    int32_t FInterval = 100;
    TThreadPriority FThreadPriority = tpNormal;
    int32_t FRequestResult = 0;
    TAntRequestType FAntRequestType = artThreaded;
    TAntChannel *FChannel = nullptr;

    TAntRequestTimer *FTimer = nullptr;
    std::shared_ptr<TWaitableTimer> FWaitableTimer;
    std::atomic<bool> FTimedOut{false};
    std::atomic<bool> FHandled{false};
    uint32_t FStartTick = 0;
    uint32_t FElapsed = 0;
    // Expires when the request is freed; a waitable-timer loop checks it after each handler.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
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
