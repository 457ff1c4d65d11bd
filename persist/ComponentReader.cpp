// Applying a binary component stream to an existing object.
#include "persist/ComponentStream.h"

#include "framework/Collection.h"
#include "framework/Component.h"
#include "framework/Exception.h"
#include "framework/Filer.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include "persist/BinaryValues.h"

#include <limits>
#include <string>
#include <vector>

using namespace StreamFormat;

namespace {

struct TIntRange {
    int64_t Min, Max;
};

// Stored integers must fit the property's declared type rather than being silently cut.
TIntRange RangeOf(const TPropInfo &P)
{
    const std::string &t = P.TypeName;
    if (P.Kind == TPropKind::Int64 || SameText(t, "Int64") || SameText(t, "UInt64"))
        return {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()};
    if (SameText(t, "Byte") || SameText(t, "uint8") || SameText(t, "UInt8"))
        return {0, 255};
    if (SameText(t, "ShortInt") || SameText(t, "int8") || SameText(t, "Int8"))
        return {-128, 127};
    if (SameText(t, "Word") || SameText(t, "uint16") || SameText(t, "UInt16"))
        return {0, 65535};
    if (SameText(t, "SmallInt") || SameText(t, "int16") || SameText(t, "Int16"))
        return {-32768, 32767};
    if (SameText(t, "Cardinal") || SameText(t, "LongWord") || SameText(t, "DWORD") || SameText(t, "uint32") ||
        SameText(t, "UInt32"))
        return {0, 4294967295LL};
    if (SameText(t, "Integer") || SameText(t, "LongInt") || SameText(t, "int32") || SameText(t, "Int32"))
        return {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
    return {std::numeric_limits<int32_t>::min(), 4294967295LL};
}

// Raised by the value checks; turned into the message that names the property.
struct TPropertyProblem {
    std::string Reason;
};

class TObjectReader final : public TFiler, public TReader {
public:
    explicit TObjectReader(TBinIn &In) : FIn(In) {}

    void ReadRoot(TPersistent &Root)
    {
        FIn.Signature();
        std::string cls = FIn.ShortStr();
        std::string name = FIn.ShortStr();
        if (!FindClassFactory(cls))
            throw EClassNotFound(Format("Class %s not found", {cls}));
        if (!SameText(cls, Root.ClassName()))
            InvalidStream();
        FRootName = name.empty() ? cls : name;
        try {
            while (FIn.Peek() != vaNull)
                ReadProperty(Root, std::string(), 0);
            FIn.Byte();
            // The streamer stores single objects: a stream with children is not one of ours.
            if (FIn.Byte() != vaNull)
                InvalidStream();
        } catch (...) {
            EndLoading(false);
            throw;
        }
        EndLoading(true);
    }

    // TFiler
    const TPersistent *Ancestor() const override { return nullptr; }
    void DefineProperty(const std::string &Name, const std::function<void(TReader &)> &ReadData,
                        const std::function<void(TWriter &)> &WriteData, bool HasData) override
    {
        (void)WriteData;
        (void)HasData;
        if (FDefFound || !SameText(Name, FDefName))
            return;
        FDefFound = true;
        size_t before = FIn.Pos();
        if (ReadData) {
            FListDepth = 0;
            ReadData(*this);
            if (FListDepth != 0)
                InvalidStream();
        }
        if (FIn.Pos() == before)
            SkipValue(FIn, FDepth);
    }

    // TReader
    void ReadListBegin() override
    {
        if (FListDepth + FDepth >= MaxStreamNesting)
            InvalidStream();
        if (FIn.Byte() != vaList)
            throw TPropertyProblem{InvalidValue};
        ++FListDepth;
    }
    bool EndOfList() override { return FIn.Peek() == vaNull; }
    void ReadListEnd() override
    {
        if (FListDepth == 0 || FIn.Byte() != vaNull)
            throw TPropertyProblem{InvalidValue};
        --FListDepth;
    }
    std::string ReadString() override
    {
        uint8_t t = FIn.Byte();
        if (!IsStrType(t))
            throw TPropertyProblem{InvalidValue};
        return FIn.StrAfter(t);
    }

private:
    // Components being read carry csLoading, so they can tell a stream from a caller (a
    // string list replaced by the stream raises no change events, for example).
    void BeginLoading(TPersistent *Target)
    {
        auto *component = dynamic_cast<TComponent *>(Target);
        if (!component || component->IsLoading())
            return;
        component->SetLoading(true);
        FLoading.push_back(component);
    }

    void EndLoading(bool Succeeded)
    {
        std::vector<TComponent *> loading;
        loading.swap(FLoading);
        for (TComponent *c : loading)
            c->SetLoading(false);
        if (Succeeded)
            for (TComponent *c : loading)
                c->Loaded();
    }

    [[noreturn]] void PropertyError(const std::string &Context, const std::string &Path, const std::string &Reason)
    {
        throw EReadError(Format("Error reading %s.%s%s: %s", {FRootName, Context, Path, Reason}));
    }

    void ReadProperty(TPersistent &Obj, const std::string &Context, int Depth)
    {
        std::string path = FIn.ShortStr();
        TPersistent *target = &Obj;
        size_t start = 0;
        std::string last;
        while (true) {
            size_t dot = path.find('.', start);
            std::string seg = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
            if (dot == std::string::npos) {
                last = seg;
                break;
            }
            const TPropInfo *p = FindProperty(*target, seg);
            TPersistent *sub = (p && p->Kind == TPropKind::Object && p->GetObj) ? p->GetObj(*target) : nullptr;
            if (!sub)
                PropertyError(Context, path, Format("Property %s does not exist", {seg}));
            target = sub;
            start = dot + 1;
        }
        BeginLoading(target);
        try {
            if (const TPropInfo *p = FindProperty(*target, last)) {
                ReadValue(*target, *p, Context, path, Depth);
                return;
            }
            if (TStrings *strings = dynamic_cast<TStrings *>(target); strings && SameText(last, "Strings")) {
                ReadStrings(*strings, Depth);
                return;
            }
            FDefName = last;
            FDefFound = false;
            FDepth = Depth;
            target->DefineProperties(*this);
            bool found = FDefFound;
            FDefName.clear();
            FDefFound = false;
            if (!found)
                PropertyError(Context, path, Format("Property %s does not exist", {last}));
        } catch (const TPropertyProblem &problem) {
            PropertyError(Context, path, problem.Reason);
        }
    }

    void ReadStrings(TStrings &Strings, int Depth)
    {
        if (Depth + 1 > MaxStreamNesting)
            InvalidStream();
        if (FIn.Byte() != vaList)
            throw TPropertyProblem{InvalidValue};
        std::vector<std::string> lines;
        while (FIn.Peek() != vaNull)
            lines.push_back(ReadString());
        FIn.Byte();
        Strings.BeginUpdate();
        try {
            Strings.Clear();
            for (const std::string &s : lines)
                Strings.Add(s);
        } catch (...) {
            Strings.EndUpdate();
            throw;
        }
        Strings.EndUpdate();
    }

    void ReadValue(TPersistent &Obj, const TPropInfo &P, const std::string &Context, const std::string &Path,
                   int Depth)
    {
        uint8_t t = FIn.Byte();
        switch (P.Kind) {
        case TPropKind::Integer:
        case TPropKind::Int64: {
            if (!IsIntType(t) || !P.SetOrd)
                throw TPropertyProblem{InvalidValue};
            int64_t v = FIn.IntAfter(t);
            TIntRange r = RangeOf(P);
            if (v < r.Min || v > r.Max)
                throw TPropertyProblem{InvalidValue};
            P.SetOrd(Obj, v);
            break;
        }
        case TPropKind::Boolean:
            if ((t != vaFalse && t != vaTrue) || !P.SetOrd)
                throw TPropertyProblem{InvalidValue};
            P.SetOrd(Obj, t == vaTrue ? 1 : 0);
            break;
        case TPropKind::Enumeration: {
            if (!P.SetOrd)
                throw TPropertyProblem{InvalidValue};
            int64_t v = -1;
            if (t == vaIdent) {
                std::string name = FIn.ShortStr();
                for (size_t i = 0; i < P.EnumNames.size(); ++i)
                    if (SameText(P.EnumNames[i], name))
                        v = static_cast<int64_t>(i);
            } else if (IsIntType(t)) {
                v = FIn.IntAfter(t);
            }
            if (v < 0 || v >= static_cast<int64_t>(P.EnumNames.size()))
                throw TPropertyProblem{InvalidValue};
            P.SetOrd(Obj, v);
            break;
        }
        case TPropKind::Float:
            if (!P.SetFloat)
                throw TPropertyProblem{InvalidValue};
            if (t == vaExtended)
                P.SetFloat(Obj, FIn.FloatAfter());
            else if (IsIntType(t))
                P.SetFloat(Obj, static_cast<long double>(FIn.IntAfter(t)));
            else
                throw TPropertyProblem{InvalidValue};
            break;
        case TPropKind::String:
            if (!IsStrType(t) || !P.SetStr)
                throw TPropertyProblem{InvalidValue};
            P.SetStr(Obj, FIn.StrAfter(t));
            break;
        case TPropKind::Object: {
            TPersistent *sub = P.GetObj ? P.GetObj(Obj) : nullptr;
            if (t == vaNil)
                break;
            TCollection *coll = dynamic_cast<TCollection *>(sub);
            if (t != vaCollection || !coll)
                throw TPropertyProblem{InvalidValue};
            ReadCollection(*coll, Context + Path, Depth);
            break;
        }
        }
    }

    // Stored items replace the collection's items; an empty stored collection leaves them.
    void ReadCollection(TCollection &Coll, const std::string &Path, int Depth)
    {
        if (Depth + 1 > MaxStreamNesting)
            InvalidStream();
        Coll.BeginUpdate();
        try {
            bool cleared = false;
            int index = 0;
            while (FIn.Peek() != vaNull) {
                if (IsIntType(FIn.Peek()))
                    FIn.IntAfter(FIn.Byte());
                if (FIn.Byte() != vaList)
                    InvalidStream();
                if (!cleared) {
                    Coll.Clear();
                    cleared = true;
                }
                TCollectionItem *item = Coll.Add();
                if (!item)
                    InvalidStream();
                std::string context = Path + "[" + std::to_string(index) + "].";
                while (FIn.Peek() != vaNull)
                    ReadProperty(*item, context, Depth + 1);
                FIn.Byte();
                ++index;
            }
            FIn.Byte();
        } catch (...) {
            Coll.EndUpdate();
            throw;
        }
        Coll.EndUpdate();
    }

    std::vector<TComponent *> FLoading;
    TBinIn &FIn;
    std::string FRootName;
    std::string FDefName;
    bool FDefFound = false;
    int FDepth = 0;
    int FListDepth = 0;
};

} // namespace

void ReadComponentStream(TStream &Stream, TPersistent &Root)
{
    int64_t start = 0;
    std::vector<uint8_t> data = ReadRest(Stream, start);
    TBinIn in(data.data(), data.size());
    TObjectReader reader(in);
    try {
        reader.ReadRoot(Root);
    } catch (...) {
        Stream.SetPosition(start + static_cast<int64_t>(in.Pos()));
        throw;
    }
    Stream.SetPosition(start + static_cast<int64_t>(in.Pos()));
}
