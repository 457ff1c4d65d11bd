// Writing an object as a binary component stream.
#include "persist/ComponentStream.h"

#include "framework/Collection.h"
#include "framework/Component.h"
#include "framework/Exception.h"
#include "framework/Filer.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include "persist/BinaryValues.h"

#include <string>

using namespace StreamFormat;

namespace {

class TObjectWriter final : public TFiler, public TWriter {
public:
    explicit TObjectWriter(TBinOut &Out) : FOut(&Out) {}

    void WriteRoot(const TPersistent &Root)
    {
        FOut->Bytes(StreamSignature, 4);
        FOut->ShortStr(Root.ClassName());
        const TComponent *comp = dynamic_cast<const TComponent *>(&Root);
        FOut->ShortStr(comp ? comp->Name() : std::string());
        WriteProperties(Root, std::string(), 0);
        FOut->Byte(vaNull); // end of properties
        FOut->Byte(vaNull); // no children
    }

    const TPersistent *Ancestor() const override { return nullptr; }

    void DefineProperty(const std::string &Name, const std::function<void(TReader &)> &ReadData,
                        const std::function<void(TWriter &)> &WriteData, bool HasData) override
    {
        (void)ReadData;
        if (!HasData || !WriteData)
            return;
        // The value goes to a scratch buffer first so that a handler writing nothing (or an
        // unbalanced list) cannot leave a name without its value in the stream.
        TBinOut scratch;
        TBinOut *saved = FOut;
        int savedDepth = FListDepth, savedValues = FTopValues;
        FOut = &scratch;
        FListDepth = 0;
        FTopValues = 0;
        try {
            WriteData(*this);
        } catch (...) {
            FOut = saved;
            FListDepth = savedDepth;
            FTopValues = savedValues;
            throw;
        }
        bool ok = FListDepth == 0 && FTopValues == 1;
        FOut = saved;
        FListDepth = savedDepth;
        FTopValues = savedValues;
        if (!ok)
            throw EWriteError(Format("Error writing %s%s: the custom data is not one value", {FPrefix, Name}));
        FOut->ShortStr(FPrefix + Name);
        FOut->Bytes(scratch.Data.data(), scratch.Data.size());
    }

    void WriteListBegin() override
    {
        if (FListDepth >= MaxStreamNesting)
            throw EWriteError("Object nesting too deep");
        if (FListDepth == 0)
            ++FTopValues;
        ++FListDepth;
        FOut->Byte(vaList);
    }
    void WriteListEnd() override
    {
        if (FListDepth == 0)
            throw EWriteError("List end without a list");
        --FListDepth;
        FOut->Byte(vaNull);
    }
    void WriteString(const std::string &Value) override
    {
        if (FListDepth == 0)
            ++FTopValues;
        FOut->Str(Value);
    }

private:
    void WriteProperties(const TPersistent &Obj, const std::string &Prefix, int Depth)
    {
        if (Depth > MaxStreamNesting)
            throw EWriteError("Object nesting too deep");
        for (const TPropInfo &p : Obj.Properties()) {
            if (!IsPropertyStored(Obj, p))
                continue;
            std::string path = Prefix + p.Name;
            switch (p.Kind) {
            case TPropKind::Integer:
            case TPropKind::Int64:
                if (!p.GetOrd)
                    break;
                FOut->ShortStr(path);
                FOut->Int(p.GetOrd(Obj));
                break;
            case TPropKind::Boolean:
                if (!p.GetOrd)
                    break;
                FOut->ShortStr(path);
                FOut->Byte(p.GetOrd(Obj) != 0 ? vaTrue : vaFalse);
                break;
            case TPropKind::Enumeration: {
                if (!p.GetOrd)
                    break;
                int64_t v = p.GetOrd(Obj);
                FOut->ShortStr(path);
                if (v >= 0 && v < static_cast<int64_t>(p.EnumNames.size()))
                    FOut->Ident(p.EnumNames[static_cast<size_t>(v)]);
                else
                    FOut->Int(v);
                break;
            }
            case TPropKind::Float:
                if (!p.GetFloat)
                    break;
                FOut->ShortStr(path);
                FOut->Float(p.GetFloat(Obj));
                break;
            case TPropKind::String:
                if (!p.GetStr)
                    break;
                FOut->ShortStr(path);
                FOut->Str(p.GetStr(Obj));
                break;
            case TPropKind::Object:
                WriteObjectProperty(Obj, p, path, Depth);
                break;
            }
        }
        std::string savedPrefix = FPrefix;
        FPrefix = Prefix;
        const_cast<TPersistent &>(Obj).DefineProperties(*this);
        FPrefix = savedPrefix;
    }

    void WriteObjectProperty(const TPersistent &Obj, const TPropInfo &P, const std::string &Path, int Depth)
    {
        const TPersistent *sub = P.GetObj ? P.GetObj(Obj) : nullptr;
        if (!sub)
            return;
        if (const TCollection *coll = dynamic_cast<const TCollection *>(sub)) {
            if (Depth + 1 > MaxStreamNesting)
                throw EWriteError("Object nesting too deep");
            FOut->ShortStr(Path);
            FOut->Byte(vaCollection);
            for (int i = 0; i < coll->Count(); ++i) {
                FOut->Byte(vaList);
                WriteProperties(*coll->Items(i), std::string(), Depth + 1);
                FOut->Byte(vaNull);
            }
            FOut->Byte(vaNull);
        } else if (const TStrings *strings = dynamic_cast<const TStrings *>(sub)) {
            if (strings->Count() == 0)
                return;
            FOut->ShortStr(Path + ".Strings");
            FOut->Byte(vaList);
            for (const std::string &s : strings->ToVector())
                FOut->Str(s);
            FOut->Byte(vaNull);
        } else {
            WriteProperties(*sub, Path + ".", Depth + 1);
        }
    }

    TBinOut *FOut;
    std::string FPrefix;
    int FListDepth = 0;
    int FTopValues = 0;
};

} // namespace

void WriteComponentStream(TStream &Stream, const TPersistent &Root)
{
    TBinOut out;
    TObjectWriter writer(out);
    writer.WriteRoot(Root);
    Stream.WriteBuffer(out.Data.data(), static_cast<int64_t>(out.Data.size()));
}
