#include "framework/Collection.h"
#include "framework/Exception.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<int> *FreedValues = nullptr;

class TValueItem : public TCollectionItem {
public:
    explicit TValueItem(TCollection *Collection) : TCollectionItem(Collection) {}
    ~TValueItem() override
    {
        if (FreedValues)
            FreedValues->push_back(FValue);
    }
    std::string ClassName() const override { return "TValueItem"; }
    const TPropList &Properties() const override
    {
        static const TPropList props = InheritProps(
            TCollectionItem::Properties(), {IntProp<TValueItem, int>("Value", "Integer", &TValueItem::Value, &TValueItem::SetValue)});
        return props;
    }
    void Assign(const TPersistent *Source) override
    {
        if (const auto *item = dynamic_cast<const TValueItem *>(Source)) {
            AssignPublishedProperties(*item, *this);
            return;
        }
        TCollectionItem::Assign(Source);
    }
    int Value() const { return FValue; }
    void SetValue(int V)
    {
        if (FValue != V) {
            FValue = V;
            Changed(false);
        }
    }

private:
    int FValue = 0;
};

TCollection *NewValues()
{
    return new TCollection([](TCollection *c) { return new TValueItem(c); }, "TValueItem");
}

TValueItem *Item(TCollection &C, int Index)
{
    return static_cast<TValueItem *>(C.Items(Index));
}

std::string ListError(const std::function<void()> &F)
{
    try {
        F();
    } catch (const EListError &e) {
        return e.Message();
    }
    return "(no error)";
}

} // namespace

TEST(Collection, ItemsKnowTheirCollectionIndexAndID)
{
    std::unique_ptr<TCollection> c(NewValues());
    auto *a = static_cast<TValueItem *>(c->Add());
    auto *b = static_cast<TValueItem *>(c->Add());
    auto *first = static_cast<TValueItem *>(c->Insert(0));
    ASSERT_EQ(c->Count(), 3);
    EXPECT_EQ(c->Items(0), first);
    EXPECT_EQ(a->Index(), 1);
    EXPECT_EQ(b->Index(), 2);
    EXPECT_EQ(a->ID(), 0);
    EXPECT_EQ(b->ID(), 1);
    EXPECT_EQ(first->ID(), 2);
    EXPECT_EQ(a->Collection(), c.get());
    EXPECT_EQ(a->GetOwner(), c.get());
    EXPECT_EQ(c->FindItemID(1), b);
    EXPECT_EQ(c->FindItemID(7), nullptr);
    c->Delete(0);
    EXPECT_EQ(a->Index(), 0);
    EXPECT_EQ(c->FindItemID(2), nullptr);
    delete b; // an item freed directly leaves its collection
    EXPECT_EQ(c->Count(), 1);
    EXPECT_EQ(c->IndexOf(b), -1);
    EXPECT_EQ(c->Add()->ID(), 3); // IDs are never reused
}

TEST(Collection, BadIndexesRaiseListErrors)
{
    std::unique_ptr<TCollection> c(NewValues());
    EXPECT_EQ(ListError([&] { c->Items(0); }), "List index out of bounds (0)");
    EXPECT_EQ(ListError([&] { c->Delete(0); }), "List index out of bounds (0)");
    c->Add();
    EXPECT_EQ(ListError([&] { c->Delete(1); }), "List index out of bounds (1)");
    EXPECT_EQ(ListError([&] { c->Items(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(ListError([&] { c->Insert(3); }), "List index out of bounds (3)");
    EXPECT_EQ(c->Count(), 1); // a failed insert adds nothing
    EXPECT_EQ(ListError([&] { c->Insert(1); }), "(no error)");
}

TEST(Collection, ClearAndDestructionFreeLastFirst)
{
    std::vector<int> freed;
    FreedValues = &freed;
    std::unique_ptr<TCollection> c(NewValues());
    for (int v = 1; v <= 3; ++v)
        static_cast<TValueItem *>(c->Add())->SetValue(v);
    c->Clear();
    EXPECT_EQ(freed, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(c->Count(), 0);
    c->Clear();
    freed.clear();
    for (int v = 4; v <= 5; ++v)
        static_cast<TValueItem *>(c->Add())->SetValue(v);
    c.reset();
    EXPECT_EQ(freed, (std::vector<int>{5, 4}));
    FreedValues = nullptr;
}

TEST(Collection, UpdatesAreReportedOnceOutsideBatches)
{
    std::unique_ptr<TCollection> c(NewValues());
    std::vector<TCollectionItem *> updates;
    c->OnUpdate = [&](TCollection *Sender, TCollectionItem *Item) {
        EXPECT_EQ(Sender, c.get());
        updates.push_back(Item);
    };
    auto *a = static_cast<TValueItem *>(c->Add());
    EXPECT_EQ(updates, (std::vector<TCollectionItem *>{nullptr}));
    updates.clear();
    a->SetValue(9);
    EXPECT_EQ(updates, (std::vector<TCollectionItem *>{a}));
    updates.clear();
    c->BeginUpdate();
    c->Add();
    c->Add();
    a->SetValue(10);
    c->Delete(1);
    EXPECT_TRUE(updates.empty());
    c->EndUpdate();
    EXPECT_EQ(updates, (std::vector<TCollectionItem *>{nullptr}));
    updates.clear();
    c->Clear();
    EXPECT_EQ(updates.size(), 1u);
}

TEST(Collection, AssignCopiesItemsOfTheSameClass)
{
    std::unique_ptr<TCollection> source(NewValues());
    std::unique_ptr<TCollection> target(NewValues());
    for (int v : {7, 8, 9})
        static_cast<TValueItem *>(source->Add())->SetValue(v);
    static_cast<TValueItem *>(target->Add())->SetValue(100);
    int updates = 0;
    target->OnUpdate = [&](TCollection *, TCollectionItem *) { ++updates; };
    target->Assign(source.get());
    ASSERT_EQ(target->Count(), 3);
    EXPECT_EQ(Item(*target, 0)->Value(), 7);
    EXPECT_EQ(Item(*target, 2)->Value(), 9);
    EXPECT_NE(target->Items(0), source->Items(0));
    EXPECT_EQ(updates, 1);

    // Assigning a collection to itself keeps its items.
    target->Assign(target.get());
    EXPECT_EQ(target->Count(), 3);
    EXPECT_EQ(Item(*target, 1)->Value(), 8);

    TCollection others([](TCollection *c) { return new TCollectionItem(c); }, "TCollectionItem");
    others.Add();
    try {
        target->Assign(&others);
        FAIL() << "no error";
    } catch (const EConvertError &e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TCollection to a TCollection");
    }
    EXPECT_EQ(target->Count(), 3); // left as it was
    EXPECT_THROW(target->Assign(nullptr), EConvertError);
    // Items without an assignment of their own cannot be copied.
    EXPECT_THROW(others.Items(0)->Assign(target->Items(0)), EConvertError);
}
