#include "framework/Collection.h"

#include "framework/Exception.h"

#include <algorithm>

namespace {

[[noreturn]] void IndexError(int Index)
{
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

} // namespace

TCollectionItem::TCollectionItem(TCollection *Collection)
{
    if (Collection != nullptr)
        Collection->InsertItem(this);
}

TCollectionItem::~TCollectionItem()
{
    if (FCollection != nullptr)
        FCollection->RemoveItem(this);
}

int TCollectionItem::Index() const
{
    return FCollection ? FCollection->IndexOf(this) : -1;
}

TPersistent *TCollectionItem::GetOwner() const
{
    return FCollection;
}

void TCollectionItem::Changed(bool AllItems)
{
    if (FCollection != nullptr && FCollection->FUpdateCount == 0)
        FCollection->Update(AllItems ? nullptr : this);
}

TCollection::TCollection(ItemFactory Factory, std::string ItemClassName, TPersistent *Owner)
    : FFactory(std::move(Factory)), FItemClassName(std::move(ItemClassName)), FOwner(Owner)
{
}

TCollection::~TCollection()
{
    // No update events while the collection goes away.
    FUpdateCount = 1;
    OnUpdate = nullptr;
    Clear();
}

TCollectionItem *TCollection::Add()
{
    TCollectionItem *item = FFactory(this);
    // A factory that made the item elsewhere would leave it unowned here.
    if (item != nullptr && item->FCollection != this) {
        if (item->FCollection != nullptr)
            item->FCollection->RemoveItem(item);
        InsertItem(item);
    }
    return item;
}

TCollectionItem *TCollection::Insert(int Index)
{
    if (Index < 0 || Index > Count())
        IndexError(Index);
    TCollectionItem *item = Add();
    auto it = std::find(FItems.begin(), FItems.end(), item);
    if (it != FItems.end()) {
        FItems.erase(it);
        FItems.insert(FItems.begin() + Index, item);
        Changed();
    }
    return item;
}

void TCollection::Clear()
{
    if (FItems.empty() || FClearing)
        return;
    FClearing = true;
    BeginUpdate();
    try {
        while (!FItems.empty())
            delete FItems.back();
    } catch (...) {
        FClearing = false;
        EndUpdate();
        throw;
    }
    FClearing = false;
    EndUpdate();
}

void TCollection::Delete(int Index)
{
    if (Index < 0 || Index >= Count())
        IndexError(Index);
    delete FItems[static_cast<size_t>(Index)];
}

TCollectionItem *TCollection::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        IndexError(Index);
    return FItems[static_cast<size_t>(Index)];
}

TCollectionItem *TCollection::FindItemID(int ID) const
{
    for (TCollectionItem *item : FItems)
        if (item->FID == ID)
            return item;
    return nullptr;
}

int TCollection::IndexOf(const TCollectionItem *Item) const
{
    auto it = std::find(FItems.begin(), FItems.end(), Item);
    return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

void TCollection::EndUpdate()
{
    if (FUpdateCount > 0)
        --FUpdateCount;
    Changed();
}

void TCollection::Assign(const TPersistent *Source)
{
    const auto *source = dynamic_cast<const TCollection *>(Source);
    if (source == nullptr || source->FItemClassName != FItemClassName) {
        TPersistent::Assign(Source);
        return;
    }
    // Assigning a collection to itself would clear the very items it copies from.
    if (source == this)
        return;
    BeginUpdate();
    try {
        Clear();
        for (TCollectionItem *item : source->FItems)
            Add()->Assign(item);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TCollection::Update(TCollectionItem *Item)
{
    if (OnUpdate)
        OnUpdate(this, Item);
}

void TCollection::InsertItem(TCollectionItem *Item)
{
    FItems.push_back(Item);
    Item->FCollection = this;
    Item->FID = FNextID++;
    Changed();
}

void TCollection::RemoveItem(TCollectionItem *Item)
{
    auto it = std::find(FItems.begin(), FItems.end(), Item);
    if (it != FItems.end())
        FItems.erase(it);
    Item->FCollection = nullptr;
    Changed();
}

void TCollection::Changed()
{
    if (FUpdateCount == 0)
        Update(nullptr);
}
