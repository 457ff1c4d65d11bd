#include "persist/BinaryValues.h"

#include "framework/Exception.h"
#include "framework/SysUtils.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace StreamFormat {

const char StreamSignature[4] = {'T', 'P', 'F', '0'};
const char *const InvalidFormat = "Invalid stream format";
const char *const ReadErrorText = "Stream read error";
const char *const InvalidValue = "Invalid property value";

void InvalidStream() { throw EReadError(InvalidFormat); }

namespace {

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

} // namespace

bool IsIntType(uint8_t T) { return T == vaInt8 || T == vaInt16 || T == vaInt32 || T == vaInt64; }
bool IsStrType(uint8_t T) { return T == vaString || T == vaLString || T == vaUTF8String; }

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

// ---- TBinOut ----

void TBinOut::Bytes(const void *P, size_t N)
{
    const uint8_t *b = static_cast<const uint8_t *>(P);
    Data.insert(Data.end(), b, b + N);
}

void TBinOut::LE(uint64_t V, int N)
{
    for (int i = 0; i < N; ++i)
        Byte(static_cast<uint8_t>(V >> (8 * i)));
}

void TBinOut::ShortStr(const std::string &S)
{
    if (S.size() > 255)
        throw EWriteError(Format("Name too long for a component stream: %s", {S.substr(0, 64)}));
    Byte(static_cast<uint8_t>(S.size()));
    Bytes(S.data(), S.size());
}

void TBinOut::Int(int64_t V)
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

void TBinOut::Str(const std::string &S)
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

void TBinOut::Ident(const std::string &S)
{
    Byte(vaIdent);
    ShortStr(S);
}

void TBinOut::Float(long double V)
{
    uint8_t b[10];
    EncodeExtended(V, b);
    Byte(vaExtended);
    Bytes(b, 10);
}

// ---- TBinIn ----

uint8_t TBinIn::Peek() const
{
    if (FPos >= FSize)
        throw EReadError(ReadErrorText);
    return FData[FPos];
}

uint8_t TBinIn::Byte()
{
    uint8_t b = Peek();
    ++FPos;
    return b;
}

const uint8_t *TBinIn::Take(size_t N)
{
    if (N > Remaining())
        throw EReadError(ReadErrorText);
    const uint8_t *p = FData + FPos;
    FPos += N;
    return p;
}

uint64_t TBinIn::LE(int N)
{
    const uint8_t *p = Take(static_cast<size_t>(N));
    uint64_t v = 0;
    for (int i = 0; i < N; ++i)
        v |= static_cast<uint64_t>(p[i]) << (8 * i);
    return v;
}

std::string TBinIn::ShortStr()
{
    size_t n = Byte();
    const uint8_t *p = Take(n);
    return std::string(reinterpret_cast<const char *>(p), n);
}

std::string TBinIn::LongStr()
{
    uint64_t n = LE(4);
    // The length is checked against what is left before anything is allocated.
    const uint8_t *p = Take(static_cast<size_t>(n));
    return std::string(reinterpret_cast<const char *>(p), static_cast<size_t>(n));
}

int64_t TBinIn::IntAfter(uint8_t Type)
{
    switch (Type) {
    case vaInt8: return static_cast<int8_t>(LE(1));
    case vaInt16: return static_cast<int16_t>(LE(2));
    case vaInt32: return static_cast<int32_t>(LE(4));
    case vaInt64: return static_cast<int64_t>(LE(8));
    default: InvalidStream();
    }
}

std::string TBinIn::StrAfter(uint8_t Type)
{
    switch (Type) {
    case vaString: return ShortStr();
    case vaLString:
    case vaUTF8String: return LongStr();
    default: InvalidStream();
    }
}

long double TBinIn::FloatAfter() { return DecodeExtended(Take(10)); }

void TBinIn::Signature()
{
    if (Remaining() < 4 || std::memcmp(FData + FPos, StreamSignature, 4) != 0)
        InvalidStream();
    FPos += 4;
}

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

} // namespace StreamFormat
