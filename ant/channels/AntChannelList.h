#pragma once
// The collection that owns the channels and the controller's channel list with its
// persistence.
#include "ant/channels/AntChannels.h"
#include "framework/Collection.h"
#include "framework/Persistent.h"
#include "persist/StreamedList.h"

#include <memory>
#include <string>

class TComponent;
class TStream;

// The owned collection of channels.
class TAntChannels : public TCollection {
public:
    explicit TAntChannels(TPersistent *Owner);
    std::string ClassName() const override { return "TAntChannels"; }
    TAntChannel *Items(int Index) const { return static_cast<TAntChannel *>(TCollection::Items(Index)); }
    TAntChannel *Add() { return static_cast<TAntChannel *>(TCollection::Add()); }
};

// Stored in the text form of the component stream.
class TAntChannelList : public TStreamedList<TAntChannelList, psfText> {
public:
    // Owner: the controller (for name paths); not owned.
    explicit TAntChannelList(TComponent *AOwner);
    ~TAntChannelList() override;
    TAntChannelList(const TAntChannelList &) = delete;
    TAntChannelList &operator=(const TAntChannelList &) = delete;

    std::string ClassName() const override { return "TAntChannelList"; }
    const TPropList &Properties() const override;
    TPersistent *GetOwner() const override { return FOwner; }
    TComponent *Owner() const { return FOwner; }

    const std::string &Name() const { return FName; }
    virtual void SetName(const std::string &Value);
    const std::string &Filename() const { return FFilename; }
    virtual void SetFilename(const std::string &Value);
    TAntChannels *AntChannelItems() const { return FAntChannelItems.get(); }

    TAntChannel *Add();
    TAntChannel *Items(int Index) const { return FAntChannelItems->Items(Index); }
    int Count() const { return FAntChannelItems->Count(); }
    int IndexOf(const TAntChannel *Channel) const { return FAntChannelItems->IndexOf(Channel); }
    virtual void Clear();
    // Does nothing for an index outside the list.
    virtual void Delete(int Index);

    // Another channel list: Filename and the channels, property by property.
    void Assign(const TPersistent *Source) override;

private:
    TComponent *FOwner = nullptr;
    std::string FName;
    std::string FFilename;
    std::unique_ptr<TAntChannels> FAntChannelItems;
};
