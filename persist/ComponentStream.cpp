#include "persist/ComponentStream.h"

#include "framework/Collection.h"
#include "framework/Component.h"
#include "framework/Exception.h"
#include "framework/Filer.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include "framework/Utf8.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <limits>
#include <string>
#include <vector>

namespace {

const char StreamSignature[4] = {'T', 'P', 'F', '0'};
const char *const InvalidFormat = "Invalid stream format";
const char *const ReadErrorText = "Stream read error";
const char *const InvalidValue = "Invalid property value";

[[noreturn]] void InvalidStream() { throw EReadError(InvalidFormat); }

// ---- shared helpers ------------------------------------------------------------------------

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

bool IsIdent(const std::string &S)
{
    if (S.empty() || !IsIdentStart(S[0]))
        return false;
    for (char c : S)
        if (!IsIdentChar(c))
            return false;
    return true;
}

// Words that open or close a block in the text form cannot name a property there.
bool IsKeyword(const std::string &S)
{
    return SameText(S, "object") || SameText(S, "end") || SameText(S, "inherited") ||
           SameText(S, "inline") || SameText(S, "item");
}

// A property path as the text form can carry it: identifiers joined by dots, not starting
// with a block word.
bool IsPropertyPath(const std::string &S)
{
    size_t start = 0;
    while (true) {
        size_t dot = S.find('.', start);
        std::string part = S.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!IsIdent(part) || (start == 0 && IsKeyword(part)))
            return false;
        if (dot == std::string::npos)
            return true;
        start = dot + 1;
    }
}

bool IsAscii(const std::string &S)
{
    for (unsigned char c : S)
        if (c >= 0x80)
            return false;
    return true;
}

// x87 extended layout, built from the value's parts so it does not depend on the host's
// long double format.
void EncodeExtended(long double V, uint8_t Out[10])
{
    uint64_t mant = 0;
    unsigned exp = 0;
    bool neg = std::signbit(V);
    if (std::isnan(V)) {
        exp = 0x7FFF;
        mant = 0xC000000000000000ull;
    } else if (std::isinf(V)) {
        exp = 0x7FFF;
        mant = 0x8000000000000000ull;
    } else if (V != 0) {
        int e = 0;
        long double m = std::frexp(std::fabs(V), &e); // [0.5, 1)
        mant = static_cast<uint64_t>(std::ldexp(m, 64));
        int biased = e + 16382;
        if (biased <= 0) {
            int shift = 1 - biased;
            mant = shift >= 64 ? 0 : mant >> shift;
            biased = 0;
        } else if (biased >= 0x7FFF) {
            biased = 0x7FFF;
            mant = 0x8000000000000000ull;
        }
        exp = static_cast<unsigned>(biased);
    }
    for (int i = 0; i < 8; ++i)
        Out[i] = static_cast<uint8_t>(mant >> (8 * i));
    uint16_t se = static_cast<uint16_t>(exp | (neg ? 0x8000u : 0u));
    Out[8] = static_cast<uint8_t>(se & 0xFF);
    Out[9] = static_cast<uint8_t>(se >> 8);
}

long double DecodeExtended(const uint8_t In[10])
{
    uint64_t mant = 0;
    for (int i = 0; i < 8; ++i)
        mant |= static_cast<uint64_t>(In[i]) << (8 * i);
    uint16_t se = static_cast<uint16_t>(In[8] | (In[9] << 8));
    bool neg = (se & 0x8000) != 0;
    int exp = se & 0x7FFF;
    long double v;
    if (exp == 0x7FFF)
        v = (mant << 1) == 0 ? std::numeric_limits<long double>::infinity()
                             : std::numeric_limits<long double>::quiet_NaN();
    else
        v = std::ldexp(static_cast<long double>(mant), (exp == 0 ? 1 : exp) - 16383 - 63);
    return neg ? -v : v;
}

// Shortest text that reads back as the same value, always recognisable as a float.
std::string FloatText(long double V)
{
    if (std::isnan(V))
        return "NAN";
    if (std::isinf(V))
        return V < 0 ? "-INF" : "INF";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, V);
    std::string s(buf, res.ptr);
    if (s.find_first_of(".e") == std::string::npos)
        s += ".0";
    return s;
}

// Single quotes with '' for a quote; control characters as #nnn outside the quotes.
std::string QuoteText(const std::string &S)
{
    if (S.empty())
        return "''";
    std::string out;
    bool inQuote = false;
    for (unsigned char c : S) {
        if (c < 32 || c == 127) {
            if (inQuote) {
                out += '\'';
                inQuote = false;
            }
            out += '#';
            out += std::to_string(c);
        } else {
            if (!inQuote) {
                out += '\'';
                inQuote = true;
            }
            out += static_cast<char>(c);
            if (c == '\'')
                out += '\'';
        }
    }
    if (inQuote)
        out += '\'';
    return out;
}

// Whatever is left of a stream from its position, in memory; never more than the stream holds.
std::vector<uint8_t> ReadRest(TStream &Stream, int64_t &Start)
{
    Start = Stream.Position();
    int64_t size = Stream.Size();
    std::vector<uint8_t> data;
    if (size > Start) {
        data.resize(static_cast<size_t>(size - Start));
        int64_t got = Stream.Read(data.data(), static_cast<int64_t>(data.size()));
        data.resize(static_cast<size_t>(got < 0 ? 0 : got));
    }
    return data;
}

// ---- binary output --------------------------------------------------------------------------

class TBinOut {
public:
    std::vector<uint8_t> Data;

    void Byte(uint8_t B) { Data.push_back(B); }
    void Bytes(const void *P, size_t N)
    {
        const uint8_t *b = static_cast<const uint8_t *>(P);
        Data.insert(Data.end(), b, b + N);
    }
    void LE(uint64_t V, int N)
    {
        for (int i = 0; i < N; ++i)
            Byte(static_cast<uint8_t>(V >> (8 * i)));
    }
    void ShortStr(const std::string &S)
    {
        if (S.size() > 255)
            throw EWriteError(Format("Name too long for a component stream: %s", {S.substr(0, 64)}));
        Byte(static_cast<uint8_t>(S.size()));
        Bytes(S.data(), S.size());
    }
    void Int(int64_t V)
    {
        if (V >= -128 && V <= 127) {
            Byte(vaInt8);
            LE(static_cast<uint64_t>(V), 1);
        } else if (V >= -32768 && V <= 32767) {
            Byte(vaInt16);
            LE(static_cast<uint64_t>(V), 2);
        } else if (V >= std::numeric_limits<int32_t>::min() && V <= std::numeric_limits<int32_t>::max()) {
            Byte(vaInt32);
            LE(static_cast<uint64_t>(V), 4);
        } else {
            Byte(vaInt64);
            LE(static_cast<uint64_t>(V), 8);
        }
    }
    void Str(const std::string &S)
    {
        if (!IsAscii(S)) {
            Byte(vaUTF8String);
            LE(S.size(), 4);
        } else if (S.size() <= 255) {
            Byte(vaString);
            Byte(static_cast<uint8_t>(S.size()));
        } else {
            Byte(vaLString);
            LE(S.size(), 4);
        }
        Bytes(S.data(), S.size());
    }
    void Ident(const std::string &S)
    {
        Byte(vaIdent);
        ShortStr(S);
    }
    void Float(long double V)
    {
        uint8_t b[10];
        EncodeExtended(V, b);
        Byte(vaExtended);
        Bytes(b, 10);
    }
};

// ---- binary input ---------------------------------------------------------------------------

class TBinIn {
public:
    TBinIn(const uint8_t *P, size_t N) : FData(P), FSize(N) {}

    size_t Pos() const { return FPos; }
    size_t Remaining() const { return FSize - FPos; }
    uint8_t Peek() const
    {
        if (FPos >= FSize)
            throw EReadError(ReadErrorText);
        return FData[FPos];
    }
    uint8_t Byte()
    {
        uint8_t b = Peek();
        ++FPos;
        return b;
    }
    const uint8_t *Take(size_t N)
    {
        if (N > Remaining())
            throw EReadError(ReadErrorText);
        const uint8_t *p = FData + FPos;
        FPos += N;
        return p;
    }
    uint64_t LE(int N)
    {
        const uint8_t *p = Take(static_cast<size_t>(N));
        uint64_t v = 0;
        for (int i = 0; i < N; ++i)
            v |= static_cast<uint64_t>(p[i]) << (8 * i);
        return v;
    }
    std::string ShortStr()
    {
        size_t n = Byte();
        const uint8_t *p = Take(n);
        return std::string(reinterpret_cast<const char *>(p), n);
    }
    std::string LongStr()
    {
        uint64_t n = LE(4);
        // The length is checked against what is left before anything is allocated.
        const uint8_t *p = Take(static_cast<size_t>(n));
        return std::string(reinterpret_cast<const char *>(p), static_cast<size_t>(n));
    }
    // The value after its tag Type.
    int64_t IntAfter(uint8_t Type)
    {
        switch (Type) {
        case vaInt8: return static_cast<int8_t>(LE(1));
        case vaInt16: return static_cast<int16_t>(LE(2));
        case vaInt32: return static_cast<int32_t>(LE(4));
        case vaInt64: return static_cast<int64_t>(LE(8));
        default: InvalidStream();
        }
    }
    std::string StrAfter(uint8_t Type)
    {
        switch (Type) {
        case vaString: return ShortStr();
        case vaLString:
        case vaUTF8String: return LongStr();
        default: InvalidStream();
        }
    }
    long double FloatAfter() { return DecodeExtended(Take(10)); }
    void Signature()
    {
        if (Remaining() < 4 || std::memcmp(FData + FPos, StreamSignature, 4) != 0)
            InvalidStream();
        FPos += 4;
    }

private:
    const uint8_t *FData;
    size_t FSize;
    size_t FPos = 0;
};

bool IsIntType(uint8_t T) { return T == vaInt8 || T == vaInt16 || T == vaInt32 || T == vaInt64; }
bool IsStrType(uint8_t T) { return T == vaString || T == vaLString || T == vaUTF8String; }

// Steps over one value (after nothing has been read of it).
void SkipValue(TBinIn &In, int Depth)
{
    if (Depth > MaxStreamNesting)
        InvalidStream();
    uint8_t t = In.Byte();
    switch (t) {
    case vaInt8:
    case vaInt16:
    case vaInt32:
    case vaInt64: In.IntAfter(t); break;
    case vaExtended: In.Take(10); break;
    case vaString:
    case vaLString:
    case vaUTF8String: In.StrAfter(t); break;
    case vaIdent: In.ShortStr(); break;
    case vaFalse:
    case vaTrue:
    case vaNil: break;
    case vaList:
        while (In.Peek() != vaNull)
            SkipValue(In, Depth + 1);
        In.Byte();
        break;
    case vaCollection:
        while (In.Peek() != vaNull) {
            if (IsIntType(In.Peek()))
                In.IntAfter(In.Byte());
            if (In.Byte() != vaList)
                InvalidStream();
            while (In.Peek() != vaNull) {
                In.ShortStr();
                SkipValue(In, Depth + 1);
            }
            In.Byte();
        }
        In.Byte();
        break;
    default: InvalidStream();
    }
}

// ---- writing objects ------------------------------------------------------------------------

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

// ---- reading objects ------------------------------------------------------------------------

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

// ---- binary to text -------------------------------------------------------------------------

class TBinaryToText {
public:
    explicit TBinaryToText(TBinIn &In) : FIn(In) {}
    std::string Out;

    void Convert()
    {
        FIn.Signature();
        ConvertObject(0);
    }

private:
    void Eol() { Out += "\r\n"; }
    void Indent(int Level) { Out.append(static_cast<size_t>(Level) * 2, ' '); }

    void ConvertObject(int Level)
    {
        if (Level > MaxStreamNesting)
            InvalidStream();
        std::string cls = FIn.ShortStr();
        std::string name = FIn.ShortStr();
        if (!IsIdent(cls) || (!name.empty() && !IsIdent(name)))
            InvalidStream();
        Indent(Level);
        Out += "object ";
        Out += name.empty() ? cls : name + ": " + cls;
        Eol();
        while (FIn.Peek() != vaNull)
            ConvertProperty(Level + 1, Level);
        FIn.Byte();
        while (FIn.Peek() != vaNull)
            ConvertObject(Level + 1);
        FIn.Byte();
        Indent(Level);
        Out += "end";
        Eol();
    }

    void ConvertProperty(int Level, int Depth)
    {
        std::string name = FIn.ShortStr();
        if (!IsPropertyPath(name))
            InvalidStream();
        Indent(Level);
        Out += name;
        Out += " = ";
        ConvertValue(Level, Depth + 1);
        Eol();
    }

    void ConvertValue(int Level, int Depth)
    {
        if (Depth > MaxStreamNesting)
            InvalidStream();
        uint8_t t = FIn.Byte();
        switch (t) {
        case vaInt8:
        case vaInt16:
        case vaInt32:
        case vaInt64: Out += std::to_string(FIn.IntAfter(t)); break;
        case vaExtended: Out += FloatText(FIn.FloatAfter()); break;
        case vaString:
        case vaLString:
        case vaUTF8String: Out += QuoteText(FIn.StrAfter(t)); break;
        case vaIdent: {
            std::string id = FIn.ShortStr();
            // An identifier the text form would read back as another kind of value.
            if (!IsIdent(id) || SameText(id, "True") || SameText(id, "False") || SameText(id, "nil") ||
                id == "INF" || id == "NAN")
                InvalidStream();
            Out += id;
            break;
        }
        case vaFalse: Out += "False"; break;
        case vaTrue: Out += "True"; break;
        case vaNil: Out += "nil"; break;
        case vaList:
            Out += "(";
            while (FIn.Peek() != vaNull) {
                Eol();
                Indent(Level + 1);
                ConvertValue(Level + 1, Depth + 1);
            }
            FIn.Byte();
            Out += ")";
            break;
        case vaCollection:
            Out += "<";
            while (FIn.Peek() != vaNull) {
                Eol();
                Indent(Level + 1);
                Out += "item";
                if (IsIntType(FIn.Peek()))
                    Out += " [" + std::to_string(FIn.IntAfter(FIn.Byte())) + "]";
                if (FIn.Byte() != vaList)
                    InvalidStream();
                Eol();
                while (FIn.Peek() != vaNull)
                    ConvertProperty(Level + 2, Depth);
                FIn.Byte();
                Indent(Level + 1);
                Out += "end";
            }
            FIn.Byte();
            Out += ">";
            break;
        default: InvalidStream();
        }
    }

    TBinIn &FIn;
};

// ---- text to binary -------------------------------------------------------------------------

enum class TToken { Eof, Symbol, Ident, String, Integer, Float };

class TTextToBinary {
public:
    TTextToBinary(const std::vector<uint8_t> &Text, TBinOut &Out) : FText(Text), FOut(Out) {}

    void Convert()
    {
        Next();
        if (FToken != TToken::Ident || !SameText(FValue, "object"))
            InvalidStream();
        FOut.Bytes(StreamSignature, 4);
        ConvertObject(0);
    }

    // Bytes of the text consumed, up to the end of the root object.
    size_t Consumed() const { return FTokenEnd; }

private:
    [[noreturn]] void Error(const std::string &Reason)
    {
        throw EReadError(Format("%s on line %d", {Reason, FTokenLine}));
    }

    char At(size_t I) const { return I < FText.size() ? static_cast<char>(FText[I]) : '\0'; }
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static bool IsHex(char c) { return HexDigitValue(c) >= 0; }

    void Next()
    {
        size_t i = FTokenEnd;
        while (i < FText.size() && FText[i] <= ' ') {
            if (FText[i] == '\n')
                ++FLine;
            ++i;
        }
        FTokenLine = FLine;
        FValue.clear();
        if (i >= FText.size()) {
            FToken = TToken::Eof;
            FTokenEnd = i;
            return;
        }
        char c = At(i);
        if (IsIdentStart(c)) {
            size_t s = i;
            while (IsIdentChar(At(i)))
                ++i;
            FValue.assign(reinterpret_cast<const char *>(FText.data()) + s, i - s);
            FToken = TToken::Ident;
        } else if (c == '\'' || c == '#') {
            while (At(i) == '\'' || At(i) == '#') {
                if (At(i) == '\'') {
                    ++i;
                    while (true) {
                        if (i >= FText.size() || At(i) == '\r' || At(i) == '\n')
                            Error("Unterminated string");
                        if (At(i) == '\'') {
                            if (At(i + 1) == '\'') {
                                FValue += '\'';
                                i += 2;
                                continue;
                            }
                            ++i;
                            break;
                        }
                        FValue += At(i++);
                    }
                } else {
                    ++i;
                    uint32_t cp = 0;
                    bool any = false;
                    if (At(i) == '$') {
                        ++i;
                        while (IsHex(At(i))) {
                            char h = At(i++);
                            cp = cp * 16 + static_cast<uint32_t>(HexDigitValue(h));
                            any = true;
                            if (cp > 0x10FFFF)
                                Error("Invalid character code");
                        }
                    } else {
                        while (IsDigit(At(i))) {
                            cp = cp * 10 + static_cast<uint32_t>(At(i++) - '0');
                            any = true;
                            if (cp > 0x10FFFF)
                                Error("Invalid character code");
                        }
                    }
                    if (!any || (cp >= 0xD800 && cp <= 0xDFFF))
                        Error("Invalid character code");
                    AppendUtf8(FValue, cp);
                }
            }
            FToken = TToken::String;
        } else if (IsDigit(c) || (c == '-' && IsDigit(At(i + 1))) || (c == '$' && IsHex(At(i + 1)))) {
            size_t s = i;
            bool isFloat = false;
            if (c == '$') {
                ++i;
                while (IsHex(At(i)))
                    ++i;
            } else {
                if (c == '-')
                    ++i;
                while (IsDigit(At(i)))
                    ++i;
                if (At(i) == '.' && IsDigit(At(i + 1))) {
                    isFloat = true;
                    ++i;
                    while (IsDigit(At(i)))
                        ++i;
                }
                if ((At(i) == 'e' || At(i) == 'E') &&
                    (IsDigit(At(i + 1)) || ((At(i + 1) == '+' || At(i + 1) == '-') && IsDigit(At(i + 2))))) {
                    isFloat = true;
                    i += 2;
                    while (IsDigit(At(i)))
                        ++i;
                }
            }
            FValue.assign(reinterpret_cast<const char *>(FText.data()) + s, i - s);
            FToken = isFloat ? TToken::Float : TToken::Integer;
        } else {
            FValue = std::string(1, c);
            FToken = TToken::Symbol;
            ++i;
        }
        FTokenEnd = i;
    }

    bool IsSymbol(char C) const { return FToken == TToken::Symbol && FValue[0] == C; }
    bool IsWord(const char *W) const { return FToken == TToken::Ident && SameText(FValue, W); }

    std::string TakeIdent()
    {
        if (FToken != TToken::Ident)
            Error("Identifier expected");
        if (FValue.size() > 255)
            Error("Identifier too long");
        std::string id = FValue;
        Next();
        return id;
    }

    void Expect(char C)
    {
        if (!IsSymbol(C))
            Error(Format("'%s' expected", {std::string(1, C)}));
        Next();
    }

    // The current token is "object".
    void ConvertObject(int Depth)
    {
        if (Depth > MaxStreamNesting)
            Error("Objects nested too deep");
        Next();
        std::string first = TakeIdent();
        std::string cls = first, name;
        if (IsSymbol(':')) {
            Next();
            name = first;
            cls = TakeIdent();
        }
        FOut.ShortStr(cls);
        FOut.ShortStr(name);
        while (FToken == TToken::Ident && !IsWord("end") && !IsWord("object"))
            ConvertProperty(Depth);
        FOut.Byte(vaNull);
        while (IsWord("object"))
            ConvertObject(Depth + 1);
        FOut.Byte(vaNull);
        if (!IsWord("end"))
            Error("'end' expected");
        // The root's "end" is the last token read: nothing after it belongs to the object.
        if (Depth > 0)
            Next();
    }

    void ConvertProperty(int Depth)
    {
        if (IsKeyword(FValue))
            Error("Property name expected");
        std::string name = TakeIdent();
        while (IsSymbol('.')) {
            Next();
            name += '.';
            name += TakeIdent();
        }
        if (name.size() > 255)
            Error("Property name too long");
        Expect('=');
        FOut.ShortStr(name);
        ConvertValue(Depth + 1);
    }

    void ConvertValue(int Depth)
    {
        if (Depth > MaxStreamNesting)
            Error("Values nested too deep");
        switch (FToken) {
        case TToken::Integer: {
            int64_t v = 0;
            const char *b = FValue.data(), *e = b + FValue.size();
            std::from_chars_result r;
            if (FValue[0] == '$') {
                uint64_t u = 0;
                r = std::from_chars(b + 1, e, u, 16);
                v = static_cast<int64_t>(u);
            } else {
                r = std::from_chars(b, e, v);
            }
            if (r.ec != std::errc() || r.ptr != e)
                Error("Invalid integer");
            FOut.Int(v);
            Next();
            break;
        }
        case TToken::Float: {
            // strtold in the "C" locale, not from_chars: the smallest (subnormal) values must
            // read back too, and the process locale may use a decimal comma.
            static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
            char *end = nullptr;
            long double v = strtold_l(FValue.c_str(), &end, cLocale);
            if (end != FValue.c_str() + FValue.size() || std::isinf(v))
                Error("Invalid floating point number");
            FOut.Float(v);
            Next();
            break;
        }
        case TToken::String: {
            std::string s = FValue;
            Next();
            while (IsSymbol('+')) {
                Next();
                if (FToken != TToken::String)
                    Error("String expected");
                s += FValue;
                Next();
            }
            FOut.Str(s);
            break;
        }
        case TToken::Ident:
            if (SameText(FValue, "True"))
                FOut.Byte(vaTrue);
            else if (SameText(FValue, "False"))
                FOut.Byte(vaFalse);
            else if (SameText(FValue, "nil"))
                FOut.Byte(vaNil);
            else if (FValue == "INF")
                FOut.Float(std::numeric_limits<long double>::infinity());
            else if (FValue == "NAN")
                FOut.Float(std::numeric_limits<long double>::quiet_NaN());
            else if (FValue.size() > 255)
                Error("Identifier too long");
            else
                FOut.Ident(FValue);
            Next();
            break;
        case TToken::Symbol:
            if (IsSymbol('-')) {
                Next();
                if (FToken != TToken::Ident || FValue != "INF")
                    Error("Number expected");
                FOut.Float(-std::numeric_limits<long double>::infinity());
                Next();
            } else if (IsSymbol('(')) {
                Next();
                FOut.Byte(vaList);
                while (!IsSymbol(')')) {
                    if (FToken == TToken::Eof)
                        Error("')' expected");
                    ConvertValue(Depth + 1);
                }
                FOut.Byte(vaNull);
                Next();
            } else if (IsSymbol('<')) {
                Next();
                FOut.Byte(vaCollection);
                while (!IsSymbol('>')) {
                    if (!IsWord("item"))
                        Error("'item' expected");
                    Next();
                    if (IsSymbol('[')) {
                        Next();
                        if (FToken != TToken::Integer)
                            Error("Number expected");
                        ConvertValue(Depth + 1);
                        Expect(']');
                    }
                    FOut.Byte(vaList);
                    while (FToken == TToken::Ident && !IsWord("end"))
                        ConvertProperty(Depth);
                    if (!IsWord("end"))
                        Error("'end' expected");
                    FOut.Byte(vaNull);
                    Next();
                }
                FOut.Byte(vaNull);
                Next();
            } else {
                Error("Invalid property value");
            }
            break;
        case TToken::Eof: Error("Unexpected end of file");
        }
    }

    const std::vector<uint8_t> &FText;
    TBinOut &FOut;
    TToken FToken = TToken::Eof;
    std::string FValue;
    size_t FTokenEnd = 0;
    int FLine = 1;
    int FTokenLine = 1;
};

} // namespace

void WriteComponentStream(TStream &Stream, const TPersistent &Root)
{
    TBinOut out;
    TObjectWriter writer(out);
    writer.WriteRoot(Root);
    Stream.WriteBuffer(out.Data.data(), static_cast<int64_t>(out.Data.size()));
}

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

void ObjectBinaryToText(TStream &Input, TStream &Output)
{
    int64_t start = 0;
    std::vector<uint8_t> data = ReadRest(Input, start);
    TBinIn in(data.data(), data.size());
    TBinaryToText conv(in);
    conv.Convert();
    Input.SetPosition(start + static_cast<int64_t>(in.Pos()));
    Output.WriteBuffer(conv.Out.data(), static_cast<int64_t>(conv.Out.size()));
}

void ObjectTextToBinary(TStream &Input, TStream &Output)
{
    int64_t start = 0;
    std::vector<uint8_t> text = ReadRest(Input, start);
    TBinOut out;
    TTextToBinary conv(text, out);
    conv.Convert();
    Input.SetPosition(start + static_cast<int64_t>(conv.Consumed()));
    Output.WriteBuffer(out.Data.data(), static_cast<int64_t>(out.Data.size()));
}
