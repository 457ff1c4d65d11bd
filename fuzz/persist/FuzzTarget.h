#pragma once
// A small list shaped like the ones the system saves, for the component stream fuzz targets.
#include "framework/Collection.h"
#include "framework/Filer.h"
#include "framework/Strings.h"
#include "persist/ComponentStream.h"
#include "persist/PersistentStreamer.h"

#include "framework/Exception.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

class TFuzzItem : public TCollectionItem {
public:
    explicit TFuzzItem(TCollection *C) : TCollectionItem(C) {}
    std::string ClassName() const override { return "TFuzzItem"; }
    const TPropList &Properties() const override
    {
        static const TPropList props = {
            IntProp<TFuzzItem, uint16_t>("BaudRate", "Word", &TFuzzItem::BaudRate, &TFuzzItem::SetBaudRate),
            EnumProp<TFuzzItem, int>("Mode", "TFuzzMode", {"fmOne", "fmTwo"}, &TFuzzItem::Mode, &TFuzzItem::SetMode, 0)};
        return props;
    }
    uint16_t BaudRate() const { return FBaudRate; }
    void SetBaudRate(uint16_t V) { FBaudRate = V; }
    int Mode() const { return FMode; }
    void SetMode(int V) { FMode = V; }

private:
    uint16_t FBaudRate = 57600;
    int FMode = 0;
};

class TFuzzList : public TPersistent {
public:
    std::string ClassName() const override { return "TFuzzList"; }
    const TPropList &Properties() const override
    {
        static const TPropList props = {
            StrProp<TFuzzList>("Name", &TFuzzList::Name, &TFuzzList::SetName),
            BoolProp<TFuzzList>("Active", &TFuzzList::Active, &TFuzzList::SetActive, false),
            FloatProp<TFuzzList, long double>("Version", "Extended", &TFuzzList::Version, &TFuzzList::SetVersion),
            IntProp<TFuzzList, int32_t>("Delay", "Integer", &TFuzzList::Delay, &TFuzzList::SetDelay, 100),
            ObjProp<TFuzzList>("Lines", "TStrings", &TFuzzList::Lines),
            ObjProp<TFuzzList>("Items", "TFuzzItems", &TFuzzList::Items)};
        return props;
    }
    void DefineProperties(TFiler &Filer) override
    {
        Filer.DefineProperty(
            "StrData",
            [this](TReader &R) {
                FData.Clear();
                R.ReadListBegin();
                while (!R.EndOfList())
                    FData.Add(R.ReadString());
                R.ReadListEnd();
            },
            [this](TWriter &W) {
                W.WriteListBegin();
                for (int i = 0; i < FData.Count(); ++i)
                    W.WriteString(FData.Get(i));
                W.WriteListEnd();
            },
            FData.Count() > 0);
    }
    const std::string &Name() const { return FName; }
    void SetName(const std::string &V) { FName = V; }
    bool Active() const { return FActive; }
    void SetActive(bool V) { FActive = V; }
    long double Version() const { return FVersion; }
    void SetVersion(long double V) { FVersion = V; }
    int32_t Delay() const { return FDelay; }
    void SetDelay(int32_t V) { FDelay = V; }
    TStringList *Lines() const { return FLines.get(); }
    TCollection *Items() const { return FItems.get(); }

private:
    std::string FName;
    bool FActive = false;
    long double FVersion = 4.0L;
    int32_t FDelay = 100;
    std::unique_ptr<TStringList> FLines = std::make_unique<TStringList>();
    std::unique_ptr<TCollection> FItems = std::make_unique<TCollection>(
        [](TCollection *c) -> TCollectionItem * { return new TFuzzItem(c); }, "TFuzzItem", this);
    TStringList FData;
};

inline TMemoryStream FuzzStream(const uint8_t *Data, size_t Size)
{
    TMemoryStream ms;
    if (Size > 0)
        ms.WriteBuffer(Data, static_cast<int64_t>(Size));
    ms.SetPosition(0);
    return ms;
}

// Whatever the binary form converts to must come back unchanged through a second round.
inline void CheckStableText(TStream &Binary)
{
    TMemoryStream text1;
    try {
        ObjectBinaryToText(Binary, text1);
    } catch (const EStreamError &) {
        return;
    }
    text1.SetPosition(0);
    TMemoryStream binary2, text2;
    ObjectTextToBinary(text1, binary2);
    binary2.SetPosition(0);
    ObjectBinaryToText(binary2, text2);
    if (text1.DataString() != text2.DataString())
        std::abort();
}

// Applies a binary stream to a fresh list; only stream errors may come out.
inline void ApplyBinary(TStream &Binary)
{
    TFuzzList list;
    try {
        TPersistentReader reader(Binary, psfBinary);
        reader.ReadObject(&list);
    } catch (const EStreamError &) {
        return;
    }
    // What was read can be written again.
    TMemoryStream out;
    TPersistentWriter(out, psfText).WriteObject(&list);
}
