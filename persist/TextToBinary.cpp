// The text form parsed into the binary form.
#include "persist/ComponentStream.h"

#include "framework/Exception.h"
#include "framework/SysUtils.h"
#include "framework/Utf8.h"
#include "persist/BinaryValues.h"
#include "persist/StreamNames.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>
#include <vector>

using namespace StreamFormat;

namespace {

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
