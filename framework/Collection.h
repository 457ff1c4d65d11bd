#pragma once
// TCollection owns its items; items know their collection and index.
#include "framework/Persistent.h"

#include <functional>
#include <string>
#include <vector>

class TCollection;

class TCollectionItem : public TPersistent {
public:
    explicit TCollectionItem(TCollection *Collection);
    ~TCollectionItem() override; // leaves its collection
    TCollectionItem(const TCollectionItem &) = delete;
    TCollectionItem &operator=(const TCollectionItem &) = delete;

    std::string ClassName() const override { return "TCollectionItem"; }
    TCollection *Collection() const { return FCollection; }
    int Index() const;
    int ID() const { return FID; }
    TPersistent *GetOwner() const override;

protected:
    // Notifies the collection that this item changed.
    void Changed(bool AllItems);

private:
    friend class TCollection;
    TCollection *FCollection = nullptr;
    int FID = 0;
};

class TCollection : public TPersistent {
public:
    using ItemFactory = std::function<TCollectionItem *(TCollection *)>;
    // Factory makes one item of the collection's item class inside the given collection.
    TCollection(ItemFactory Factory, std::string ItemClassName, TPersistent *Owner = nullptr);
    ~TCollection() override; // frees every item
    TCollection(const TCollection &) = delete;
    TCollection &operator=(const TCollection &) = delete;

    std::string ClassName() const override { return "TCollection"; }
    const std::string &ItemClassName() const { return FItemClassName; }

    TCollectionItem *Add();
    TCollectionItem *Insert(int Index);
    void Clear();            // last first
    void Delete(int Index);  // EListError "List index out of bounds (%d)" on a bad index
    int Count() const { return static_cast<int>(FItems.size()); }
    TCollectionItem *Items(int Index) const; // EListError on a bad index
    TCollectionItem *FindItemID(int ID) const;
    int IndexOf(const TCollectionItem *Item) const;

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    // Same class: clears and adds a copy of each source item (item Assign); else the base.
    void Assign(const TPersistent *Source) override;
    TPersistent *GetOwner() const override { return FOwner; }

    // Raised after items were added, removed or changed (Item nullptr: many changed).
    std::function<void(TCollection *Sender, TCollectionItem *Item)> OnUpdate;

protected:
    virtual void Update(TCollectionItem *Item);

private:
    friend class TCollectionItem;
    void InsertItem(TCollectionItem *Item);
    void RemoveItem(TCollectionItem *Item);
    void Changed();
    ItemFactory FFactory;
    std::string FItemClassName;
    TPersistent *FOwner = nullptr;
    std::vector<TCollectionItem *> FItems;
    int FNextID = 0;
    int FUpdateCount = 0;
    bool FClearing = false;
};
