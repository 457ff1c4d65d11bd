#pragma once
// Small classes with one property of every kind the streamer handles.
#include "framework/Collection.h"
#include "framework/Filer.h"
#include "framework/Persistent.h"
#include "framework/Strings.h"

#include <cstdint>
#include <memory>
#include <string>

enum TSampleColour { scRed, scGreen, scBlue };

class TSampleInner : public TPersistent {
public:
    std::string ClassName() const override { return "TSampleInner"; }
    const TPropList &Properties() const override
    {
        static const TPropList props = {
            IntProp<TSampleInner, int32_t>("Depth", "Integer", &TSampleInner::Depth, &TSampleInner::SetDepth, 0),
            StrProp<TSampleInner>("Filename", &TSampleInner::Filename, &TSampleInner::SetFilename)};
        return props;
    }
    int32_t Depth() const { return FDepth; }
    void SetDepth(int32_t V) { FDepth = V; }
    const std::string &Filename() const { return FFilename; }
    void SetFilename(const std::string &V) { FFilename = V; }

private:
    int32_t FDepth = 0;
    std::string FFilename;
};

class TSampleItem : public TCollectionItem {
public:
    explicit TSampleItem(TCollection *C) : TCollectionItem(C) {}
    std::string ClassName() const override { return "TSampleItem"; }
    const TPropList &Properties() const override
    {
        static const TPropList props = {
            IntProp<TSampleItem, uint16_t>("Value", "Word", &TSampleItem::Value, &TSampleItem::SetValue),
            StrProp<TSampleItem>("Caption", &TSampleItem::Caption, &TSampleItem::SetCaption)};
        return props;
    }
    uint16_t Value() const { return FValue; }
    void SetValue(uint16_t V) { FValue = V; }
    const std::string &Caption() const { return FCaption; }
    void SetCaption(const std::string &V) { FCaption = V; }

private:
    uint16_t FValue = 1;
    std::string FCaption;
};

class TSampleItems : public TCollection {
public:
    explicit TSampleItems(TPersistent *Owner)
        : TCollection([](TCollection *c) -> TCollectionItem * { return new TSampleItem(c); }, "TSampleItem", Owner)
    {
    }
    TSampleItem *Item(int I) const { return static_cast<TSampleItem *>(Items(I)); }
};

// Count declares the streaming default 50 but starts at 100; Notes is custom stream data.
class TSample : public TPersistent {
public:
    std::string ClassName() const override { return "TSample"; }
    const TPropList &Properties() const override
    {
        static const TPropList props = {
            IntProp<TSample, uint32_t>("Count", "Cardinal", &TSample::Count, &TSample::SetCount, 50),
            IntProp<TSample, uint8_t>("Level", "Byte", &TSample::Level, &TSample::SetLevel),
            [] {
                TPropInfo p = IntProp<TSample, int64_t>("Big", "Int64", &TSample::Big, &TSample::SetBig, 0);
                p.Kind = TPropKind::Int64;
                return p;
            }(),
            BoolProp<TSample>("Enabled", &TSample::Enabled, &TSample::SetEnabled, false),
            EnumProp<TSample, TSampleColour>("Colour", "TSampleColour", {"scRed", "scGreen", "scBlue"},
                                             &TSample::Colour, &TSample::SetColour, scRed),
            FloatProp<TSample, long double>("Ratio", "Extended", &TSample::Ratio, &TSample::SetRatio),
            StrProp<TSample>("Title", &TSample::Title, &TSample::SetTitle),
            ObjProp<TSample>("Inner", "TSampleInner", &TSample::Inner),
            ObjProp<TSample>("Lines", "TStrings", &TSample::Lines),
            ObjProp<TSample>("Items", "TSampleItems", &TSample::Items),
            [] {
                TPropInfo p = IntProp<TSample, int32_t>("Hidden", "Integer", &TSample::Hidden, &TSample::SetHidden);
                p.Stored = false;
                return p;
            }(),
        };
        return props;
    }
    void DefineProperties(TFiler &Filer) override
    {
        Filer.DefineProperty(
            "Notes",
            [this](TReader &R) {
                FNotes.Clear();
                R.ReadListBegin();
                while (!R.EndOfList())
                    FNotes.Add(R.ReadString());
                R.ReadListEnd();
            },
            [this](TWriter &W) {
                W.WriteListBegin();
                for (int i = 0; i < FNotes.Count(); ++i)
                    W.WriteString(FNotes.Get(i));
                W.WriteListEnd();
            },
            FNotes.Count() > 0);
    }

    uint32_t Count() const { return FCount; }
    void SetCount(uint32_t V) { FCount = V; }
    uint8_t Level() const { return FLevel; }
    void SetLevel(uint8_t V) { FLevel = V; }
    int64_t Big() const { return FBig; }
    void SetBig(int64_t V) { FBig = V; }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool V) { FEnabled = V; }
    TSampleColour Colour() const { return FColour; }
    void SetColour(TSampleColour V) { FColour = V; }
    long double Ratio() const { return FRatio; }
    void SetRatio(long double V) { FRatio = V; }
    const std::string &Title() const { return FTitle; }
    void SetTitle(const std::string &V) { FTitle = V; }
    int32_t Hidden() const { return FHidden; }
    void SetHidden(int32_t V) { FHidden = V; }
    TSampleInner *Inner() const { return FInner.get(); }
    TStringList *Lines() const { return FLines.get(); }
    TSampleItems *Items() const { return FItems.get(); }
    TStringList &Notes() { return FNotes; }

private:
    uint32_t FCount = 100;
    uint8_t FLevel = 0;
    int64_t FBig = 0;
    bool FEnabled = false;
    TSampleColour FColour = scRed;
    long double FRatio = 1.0L;
    std::string FTitle;
    int32_t FHidden = 0;
    std::unique_ptr<TSampleInner> FInner = std::make_unique<TSampleInner>();
    std::unique_ptr<TStringList> FLines = std::make_unique<TStringList>();
    std::unique_ptr<TSampleItems> FItems = std::make_unique<TSampleItems>(this);
    TStringList FNotes;
};
