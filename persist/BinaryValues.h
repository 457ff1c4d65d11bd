#pragma once
// The binary form's values: tags, little-endian numbers, strings and 10-byte extended floats,
// written to and read from memory. Shared by the writer, the reader and both converters.
#include "framework/Streams.h"
#include "persist/ComponentStream.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace StreamFormat {

extern const char StreamSignature[4]; // "TPF0"
extern const char *const InvalidFormat;
extern const char *const ReadErrorText;
extern const char *const InvalidValue;

// EReadError "Invalid stream format".
[[noreturn]] void InvalidStream();

bool IsIntType(uint8_t T);
bool IsStrType(uint8_t T);

// Whatever is left of a stream from its position (stored in Start), in memory; never more
// than the stream holds.
std::vector<uint8_t> ReadRest(TStream &Stream, int64_t &Start);

class TBinOut {
public:
    std::vector<uint8_t> Data;

    void Byte(uint8_t B) { Data.push_back(B); }
    void Bytes(const void *P, size_t N);
    void LE(uint64_t V, int N);
    // Length byte and text; EWriteError for names over 255 bytes.
    void ShortStr(const std::string &S);
    // The smallest integer tag that holds V.
    void Int(int64_t V);
    // vaString, vaLString or (for anything beyond ASCII) vaUTF8String.
    void Str(const std::string &S);
    void Ident(const std::string &S);
    void Float(long double V);
};

// Reads from memory it does not own; running past the end raises "Stream read error".
class TBinIn {
public:
    TBinIn(const uint8_t *P, size_t N) : FData(P), FSize(N) {}

    size_t Pos() const { return FPos; }
    size_t Remaining() const { return FSize - FPos; }
    uint8_t Peek() const;
    uint8_t Byte();
    const uint8_t *Take(size_t N);
    uint64_t LE(int N);
    std::string ShortStr();
    std::string LongStr();
    // The value after its tag Type.
    int64_t IntAfter(uint8_t Type);
    std::string StrAfter(uint8_t Type);
    long double FloatAfter();
    void Signature();

private:
    const uint8_t *FData;
    size_t FSize;
    size_t FPos = 0;
};

// Steps over one value (after nothing has been read of it); Depth counts the nesting so far.
void SkipValue(TBinIn &In, int Depth);

} // namespace StreamFormat
