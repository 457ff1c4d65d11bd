#include "framework/Component.h"
#include "framework/Exception.h"
#include "framework/Persistent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string AssignMessage(TPersistent &Dest, const TPersistent *Source)
{
    try {
        Dest.Assign(Source);
    } catch (const EConvertError &e) {
        return e.Message();
    }
    return "(no error)";
}

class TPart : public TPersistent {
public:
    std::string ClassName() const override { return "TPart"; }
    void Assign(const TPersistent *Source) override
    {
        if (const auto *p = dynamic_cast<const TPart *>(Source)) {
            Text = p->Text;
            ++AssignCount;
            return;
        }
        TPersistent::Assign(Source);
    }
    std::string Text;
    int AssignCount = 0;
};

enum TShade { shLight, shDark, shGrey };

class TThing : public TPersistent {
public:
    std::string ClassName() const override { return "TThing"; }
    const TPropList &Properties() const override
    {
        static const TPropList props = InheritProps(
            TPersistent::Properties(),
            {IntProp<TThing, uint16_t>("Count", "Word", &TThing::Count, &TThing::SetCount, 3),
             IntProp<TThing, int64_t>("Big", "Int64", &TThing::Big, &TThing::SetBig),
             BoolProp<TThing>("Flag", &TThing::Flag, &TThing::SetFlag, false),
             EnumProp<TThing, TShade>("Shade", "TShade", {"shLight", "shDark", "shGrey"}, &TThing::Shade,
                                      &TThing::SetShade, shLight),
             FloatProp<TThing, double>("Ratio", "Double", &TThing::Ratio, &TThing::SetRatio),
             StrProp<TThing>("Caption", &TThing::Caption, &TThing::SetCaption),
             ObjProp<TThing>("Part", "TPart", &TThing::Part), RefProp()});
        return props;
    }
    uint16_t Count() const { return FCount; }
    void SetCount(uint16_t V) { FCount = V; }
    int64_t Big() const { return FBig; }
    void SetBig(int64_t V) { FBig = V; }
    bool Flag() const { return FFlag; }
    void SetFlag(bool V) { FFlag = V; }
    TShade Shade() const { return FShade; }
    void SetShade(TShade V) { FShade = V; }
    double Ratio() const { return FRatio; }
    void SetRatio(double V) { FRatio = V; }
    const std::string &Caption() const { return FCaption; }
    void SetCaption(const std::string &V) { FCaption = V; }
    TPart *Part() const { return const_cast<TPart *>(&FPart); }
    TPart *Ref() const { return FRef; }

    uint16_t FCount = 3;
    int64_t FBig = 0;
    bool FFlag = false;
    TShade FShade = shLight;
    double FRatio = 1.0;
    std::string FCaption;
    TPart FPart;
    TPart *FRef = nullptr;

private:
    static TPropInfo RefProp()
    {
        TPropInfo p = ObjProp<TThing>("Ref", "TPart", &TThing::Ref);
        p.Stored = false;
        return p;
    }
};

class TOther : public TPersistent {
public:
    std::string ClassName() const override { return "TOther"; }
};

// Knows how to put itself into a TThing, which knows nothing about it.
class TThingSource : public TPersistent {
public:
    std::string ClassName() const override { return "TThingSource"; }

protected:
    void AssignTo(TPersistent *Dest) const override
    {
        if (auto *t = dynamic_cast<TThing *>(Dest)) {
            t->SetCaption("from source");
            return;
        }
        TPersistent::AssignTo(Dest);
    }
};

} // namespace

TEST(Persistent, AssignErrorsNameSourceAndDestination)
{
    TThing thing;
    TOther other;
    EXPECT_EQ(AssignMessage(thing, nullptr), "Cannot assign a nil to a TThing");
    EXPECT_EQ(AssignMessage(thing, &other), "Cannot assign a TOther to a TThing");
    EXPECT_EQ(AssignMessage(other, &thing), "Cannot assign a TThing to a TOther");
    TPart part;
    EXPECT_EQ(AssignMessage(part, &other), "Cannot assign a TOther to a TPart");
    // The source's AssignTo gets its chance before the error.
    TThingSource source;
    EXPECT_EQ(AssignMessage(thing, &source), "(no error)");
    EXPECT_EQ(thing.Caption(), "from source");
    EXPECT_EQ(AssignMessage(other, &source), "Cannot assign a TThingSource to a TOther");
}

TEST(Persistent, StoredRules)
{
    TThing t;
    auto stored = [&](const char *Name) { return IsPropertyStored(t, *FindProperty(t, Name)); };
    EXPECT_FALSE(stored("Count")); // equal to the declared default
    EXPECT_TRUE(stored("Big"));    // no default declared: always written
    EXPECT_FALSE(stored("Flag"));
    EXPECT_FALSE(stored("Shade"));
    EXPECT_TRUE(stored("Ratio"));
    EXPECT_FALSE(stored("Caption")); // empty text
    EXPECT_TRUE(stored("Part"));
    EXPECT_FALSE(stored("Ref")); // references are never written
    t.SetCount(4);
    t.SetFlag(true);
    t.SetShade(shGrey);
    t.SetCaption("x");
    EXPECT_TRUE(stored("Count"));
    EXPECT_TRUE(stored("Flag"));
    EXPECT_TRUE(stored("Shade"));
    EXPECT_TRUE(stored("Caption"));
}

TEST(Persistent, PropertyTableLookupAndCopy)
{
    TThing a;
    ASSERT_NE(FindProperty(a, "caption"), nullptr);
    EXPECT_EQ(FindProperty(a, "CAPTION")->Name, "Caption");
    EXPECT_EQ(FindProperty(a, "Missing"), nullptr);
    EXPECT_EQ(FindProperty(a, "Shade")->EnumNames.at(2), "shGrey");
    ASSERT_EQ(a.Properties().size(), 8u);
    EXPECT_EQ(a.Properties().front().Name, "Count");

    TPart elsewhere;
    elsewhere.Text = "not mine";
    a.SetCount(65535);
    a.SetBig(-5000000000LL);
    a.SetFlag(true);
    a.SetShade(shDark);
    a.SetRatio(0.125);
    a.SetCaption("copied");
    a.FPart.Text = "inner";
    a.FRef = &elsewhere;
    TThing b;
    TPart bRef;
    b.FRef = &bRef;
    AssignPublishedProperties(a, b);
    EXPECT_EQ(b.Count(), 65535);
    EXPECT_EQ(b.Big(), -5000000000LL);
    EXPECT_TRUE(b.Flag());
    EXPECT_EQ(b.Shade(), shDark);
    EXPECT_EQ(b.Ratio(), 0.125);
    EXPECT_EQ(b.Caption(), "copied");
    EXPECT_EQ(b.FPart.Text, "inner");
    EXPECT_EQ(b.FPart.AssignCount, 1);
    // A reference is neither repointed nor written through.
    EXPECT_EQ(b.FRef, &bRef);
    EXPECT_EQ(bRef.AssignCount, 0);
    EXPECT_EQ(elsewhere.Text, "not mine");

    TComponent c(nullptr);
    ASSERT_NE(FindProperty(c, "Name"), nullptr);
    FindProperty(c, "Name")->SetStr(c, "Comp1");
    EXPECT_EQ(c.Name(), "Comp1");
}

TEST(Persistent, ClassRegistryIsCaseInsensitive)
{
    RegisterClass("TRegisteredThing", [] { return new TThing; });
    RegisterClass("TRegisteredThing", [] { return new TOther; });
    const TPersistentFactory *f = FindClassFactory("tregisteredTHING");
    ASSERT_NE(f, nullptr);
    TPersistent *made = (*f)();
    EXPECT_EQ(made->ClassName(), "TThing"); // the first registration stays
    delete made;
    EXPECT_EQ(FindClassFactory("TNeverRegistered"), nullptr);
}

// ---- components ----------------------------------------------------------------------------

namespace {

struct Event {
    std::string Receiver;
    std::string About;
    TOperation Operation;
    bool operator==(const Event &) const = default;
};

class TProbe : public TComponent {
public:
    TProbe(TComponent *AOwner, std::string AName, std::vector<std::string> *Freed = nullptr,
           std::vector<Event> *Events = nullptr)
        : TComponent(AOwner), FFreed(Freed), FEvents(Events)
    {
        SetName(AName);
    }
    ~TProbe() override
    {
        if (FFreed)
            FFreed->push_back(Name() + (IsDestroying() ? "(destroying)" : ""));
        if (OnFree)
            OnFree();
    }
    std::string ClassName() const override { return "TProbe"; }
    void Notification(TComponent *AComponent, TOperation Operation) override
    {
        if (FEvents)
            FEvents->push_back({Name(), AComponent ? AComponent->Name() : "?", Operation});
        if (Operation == opRemove && AComponent == Partner)
            Partner = nullptr;
        if (OnNotify)
            OnNotify(AComponent, Operation);
        TComponent::Notification(AComponent, Operation);
    }
    TComponent *Partner = nullptr;
    std::function<void()> OnFree;
    std::function<void(TComponent *, TOperation)> OnNotify;

private:
    std::vector<std::string> *FFreed;
    std::vector<Event> *FEvents;
};

} // namespace

TEST(Component, OwnerFreesItsComponentsLastCreatedFirst)
{
    std::vector<std::string> freed;
    auto *owner = new TProbe(nullptr, "Owner", &freed);
    auto *a = new TProbe(owner, "A", &freed);
    new TProbe(owner, "B", &freed);
    new TProbe(a, "A1", &freed);
    new TProbe(owner, "C", &freed);
    ASSERT_EQ(owner->ComponentCount(), 3);
    EXPECT_EQ(owner->Components(0), a);
    EXPECT_EQ(a->Owner(), owner);
    EXPECT_EQ(a->ComponentCount(), 1);
    delete owner;
    EXPECT_EQ(freed, (std::vector<std::string>{"Owner", "C(destroying)", "B(destroying)", "A(destroying)",
                                               "A1(destroying)"}));
}

TEST(Component, FreedChildLeavesItsOwnerAndTellsTheSiblings)
{
    std::vector<Event> events;
    TProbe owner(nullptr, "Owner", nullptr, &events);
    auto *a = new TProbe(&owner, "A", nullptr, &events);
    auto *b = new TProbe(&owner, "B", nullptr, &events);
    EXPECT_EQ(events[0].Operation, opInsert);
    EXPECT_EQ(events[0].Receiver, "Owner");
    events.clear();
    delete b;
    ASSERT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(owner.Components(0), a);
    EXPECT_FALSE(owner.IsDestroying());
    EXPECT_NE(std::find(events.begin(), events.end(), Event{"Owner", "B", opRemove}), events.end());
    EXPECT_NE(std::find(events.begin(), events.end(), Event{"A", "B", opRemove}), events.end());
    try {
        owner.Components(1);
        FAIL() << "no error";
    } catch (const EListError &e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (1)");
    }
    EXPECT_THROW(owner.Components(-1), EListError);
}

TEST(Component, FreeNotificationIsMutualAndCanBeWithdrawn)
{
    std::vector<Event> events;
    auto *map = new TProbe(nullptr, "Map", nullptr, &events);
    auto *calibration = new TProbe(nullptr, "Calibration", nullptr, &events);
    map->Partner = calibration;
    map->FreeNotification(calibration);
    map->FreeNotification(calibration); // asking twice is one registration
    delete calibration;
    EXPECT_EQ(events, (std::vector<Event>{{"Map", "Calibration", opRemove}}));
    EXPECT_EQ(map->Partner, nullptr);
    delete map; // must not reach the freed partner

    events.clear();
    auto *x = new TProbe(nullptr, "X", nullptr, &events);
    auto *y = new TProbe(nullptr, "Y", nullptr, &events);
    x->FreeNotification(y);
    delete x; // the partner hears about it too
    EXPECT_EQ(events, (std::vector<Event>{{"Y", "X", opRemove}}));
    events.clear();
    auto *z = new TProbe(nullptr, "Z", nullptr, &events);
    y->FreeNotification(z);
    z->RemoveFreeNotification(y); // withdrawn from either side
    delete z;
    delete y;
    EXPECT_TRUE(events.empty());
}

TEST(Component, HandlersThatFreeOtherComponentsDuringDestruction)
{
    // A partner that frees another partner while being told.
    auto *source = new TProbe(nullptr, "Source");
    auto *first = new TProbe(nullptr, "First");
    auto *second = new TProbe(nullptr, "Second");
    source->FreeNotification(first);
    source->FreeNotification(second);
    second->OnNotify = [&](TComponent *, TOperation Op) {
        if (Op == opRemove && first) {
            delete first;
            first = nullptr;
        }
    };
    delete source;
    EXPECT_EQ(first, nullptr);
    delete second;

    // An owned component that frees a sibling from its destructor.
    std::vector<std::string> freed;
    auto *owner = new TProbe(nullptr, "Owner", &freed);
    auto *a = new TProbe(owner, "A", &freed);
    auto *b = new TProbe(owner, "B", &freed);
    b->OnFree = [a] { delete a; };
    delete owner;
    EXPECT_EQ(freed, (std::vector<std::string>{"Owner", "B(destroying)", "A(destroying)"}));
}

TEST(Component, StateFlagsAndMovingBetweenOwners)
{
    TProbe root(nullptr, "Root");
    auto *child = new TProbe(&root, "Child");
    auto *grandchild = new TProbe(child, "Grandchild");
    root.SetDesigning(true);
    EXPECT_TRUE(child->IsDesigning());
    EXPECT_TRUE(grandchild->IsDesigning());
    auto *late = new TProbe(&root, "Late");
    EXPECT_TRUE(late->IsDesigning()); // joins a designing owner
    root.SetDesigning(false, false);
    EXPECT_FALSE(root.IsDesigning());
    EXPECT_TRUE(child->IsDesigning());
    root.SetDesigning(false);
    EXPECT_FALSE(grandchild->IsDesigning());

    child->SetLoading(true);
    EXPECT_TRUE(child->IsLoading());
    EXPECT_TRUE(child->ComponentState() & csLoading);
    child->Loaded();
    EXPECT_FALSE(child->IsLoading());

    TProbe other(nullptr, "Other");
    other.InsertComponent(grandchild);
    EXPECT_EQ(grandchild->Owner(), &other);
    EXPECT_EQ(child->ComponentCount(), 0);
    other.RemoveComponent(grandchild);
    EXPECT_EQ(grandchild->Owner(), nullptr);
    EXPECT_EQ(other.ComponentCount(), 0);
    delete grandchild;
    EXPECT_EQ(root.ComponentCount(), 2);
}
