#include "ant/AntRequestList.h"

#include "framework/Exception.h"
#include "persist/PersistentStreamer.h"

// ---- TAntRequest -----------------------------------------------------------------------------

TAntRequest::TAntRequest(TCollection *Collection) : TCollectionItem(Collection) {}

TAntRequest::~TAntRequest() = default;

const TPropList &TAntRequest::Properties() const
{
    using R = TAntRequest;
    // No stream defaults declared: every property is written, whatever its value.
    static const TPropList props = InheritProps(
        TCollectionItem::Properties(),
        {
            BoolProp<R>("Enabled", &R::Enabled, &R::SetEnabled),
            IntProp<R, int32_t>("TimeOut", "Integer", &R::TimeOut, &R::SetTimeOut),
            IntProp<R, int32_t>("Interval", "Integer", &R::Interval, &R::SetInterval),
            EnumProp<R, TThreadPriority>("ThreadPriority", "TThreadPriority", ThreadPriorityNames(), &R::ThreadPriority,
                                         &R::SetThreadPriority),
            IntProp<R, int32_t>("RequestResult", "Integer", &R::RequestResult, &R::SetRequestResult),
            EnumProp<R, TAntRequestType>("AntRequestType", "TAntRequestType", {"artThreaded", "artWaitableTimer"},
                                         &R::AntRequestType, &R::SetAntRequestType),
        });
    return props;
}

void TAntRequest::DoRequestTimeOut()
{
    if (OnRequestTimeOut) {
        TNotifyEvent handler = OnRequestTimeOut;
        handler(this);
    }
}

void TAntRequest::DoRequestHandled()
{
    if (OnRequestHandled) {
        TNotifyEvent handler = OnRequestHandled;
        handler(this);
    }
}

void TAntRequest::DoTimer()
{
    if (OnTimer) {
        TNotifyEvent handler = OnTimer;
        handler(this);
    }
}

// ---- TAntRequests ----------------------------------------------------------------------------

TAntRequests::TAntRequests(TPersistent *AOwner)
    : TCollection([](TCollection *c) -> TCollectionItem * { return new TAntRequest(c); }, "TAntRequest", AOwner)
{
}

// ---- TAntRequestList -------------------------------------------------------------------------

TAntRequestList::TAntRequestList(TPersistent *AOwner) : FOwner(AOwner), FAntRequestItems(new TAntRequests(this)) {}

TAntRequestList::~TAntRequestList()
{
    for (int i = 0; i < Count(); ++i) {
        TAntRequest *request = AntRequests(i);
        if (request->Enabled())
            request->SetEnabled(false);
        request->CloseWaitableTimer();
    }
    delete FAntRequestItems;
    FAntRequestItems = nullptr;
}

const TPropList &TAntRequestList::Properties() const
{
    using L = TAntRequestList;
    static const TPropList props = InheritProps(TPersistent::Properties(),
                                                {
                                                    StrProp<L>("Filename", &L::Filename, &L::SetFilename, "TFileName"),
                                                    ObjProp<L>("AntRequestItems", "TAntRequests", &L::AntRequestItems),
                                                });
    return props;
}

TAntRequest *TAntRequestList::Add()
{
    return static_cast<TAntRequest *>(FAntRequestItems->Add());
}

void TAntRequestList::Clear()
{
    FAntRequestItems->Clear();
}

void TAntRequestList::Delete(int Index)
{
    if (Index >= 0 && Index < Count())
        FAntRequestItems->Delete(Index);
}
