// The binary form rendered as the text form.
#include "persist/ComponentStream.h"

#include "framework/SysUtils.h"
#include "persist/BinaryValues.h"
#include "persist/StreamNames.h"

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

using namespace StreamFormat;

namespace {

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

} // namespace

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
