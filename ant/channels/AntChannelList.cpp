#include "ant/channels/AntChannelList.h"


TAntChannels::TAntChannels(TPersistent *Owner)
    : TCollection([](TCollection *c) -> TCollectionItem * { return new TAntChannel(c); }, "TAntChannel", Owner)
{
}

TAntChannelList::TAntChannelList(TComponent *AOwner)
    : FOwner(AOwner), FAntChannelItems(std::make_unique<TAntChannels>(this))
{
}

TAntChannelList::~TAntChannelList() = default;

const TPropList &TAntChannelList::Properties() const
{
    static const TPropList props = [] {
        using C = TAntChannelList;
        TPropList p;
        p.push_back(StrProp<C>("Name", &C::Name, &C::SetName));
        p.push_back(StrProp<C>("Filename", &C::Filename, &C::SetFilename, "TFileName"));
        p.push_back(ObjProp<C>("AntChannelItems", "TAntChannels", &C::AntChannelItems));
        return p;
    }();
    return props;
}

void TAntChannelList::SetName(const std::string &Value)
{
    if (FName != Value)
        FName = Value;
}
void TAntChannelList::SetFilename(const std::string &Value)
{
    if (FFilename != Value)
        FFilename = Value;
}

TAntChannel *TAntChannelList::Add() { return FAntChannelItems->Add(); }

void TAntChannelList::Clear()
{
    for (int i = Count() - 1; i >= 0; --i)
        FAntChannelItems->Delete(i);
}

void TAntChannelList::Delete(int Index)
{
    if (Index >= 0 && Index < Count())
        FAntChannelItems->Delete(Index);
}

void TAntChannelList::Assign(const TPersistent *Source)
{
    if (auto *src = dynamic_cast<const TAntChannelList *>(Source)) {
        SetFilename(src->Filename());
        FAntChannelItems->Assign(src->AntChannelItems());
        return;
    }
    TPersistent::Assign(Source);
}
