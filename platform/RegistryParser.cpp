// The .reg parser: header, key lines, values and their data forms.
#include "platform/RegistryDocument.h"

#include "framework/SysUtils.h"
#include "platform/RegistryText.h"

namespace RegHive {

namespace {

struct TParseError {
    std::string Message;
};

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
std::string ParseQuoted(const std::string &s, size_t &pos)
{
    std::string out;
    ++pos;
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"')
            return out;
        if (c == '\\' && pos < s.size()) {
            char n = s[pos++];
            if (n == '\\' || n == '"')
                out += n;
            else {
                // Only \\ and \" are escapes in this format; keep anything else as written.
                out += '\\';
                out += n;
            }
        } else {
            out += c;
        }
    }
    throw TParseError{"unterminated quoted text"};
}

void ExpectRestBlank(const std::string &s, size_t pos)
{
    for (; pos < s.size(); ++pos)
        if (!IsBlank(s[pos]) && s[pos] != '\r')
            throw TParseError{"unexpected text after the value"};
}

std::vector<uint8_t> ParseHexBytes(const std::string &s)
{
    std::vector<uint8_t> out;
    size_t pos = 0;
    auto skip = [&] {
        while (pos < s.size() && (IsBlank(s[pos]) || s[pos] == '\r' || s[pos] == '\n'))
            ++pos;
    };
    skip();
    if (pos >= s.size())
        return out;
    for (;;) {
        skip();
        int value = 0, digits = 0;
        while (pos < s.size() && HexDigitValue(s[pos]) >= 0 && digits < 3) {
            value = value * 16 + HexDigitValue(s[pos]);
            ++digits;
            ++pos;
        }
        if (digits == 0 || digits > 2)
            throw TParseError{"bad hexadecimal byte"};
        out.push_back(static_cast<uint8_t>(value));
        skip();
        if (pos >= s.size())
            return out;
        if (s[pos] != ',')
            throw TParseError{"bad hexadecimal byte list"};
        ++pos;
        skip();
        if (pos >= s.size())
            return out; // a trailing comma, as some writers leave it
    }
}

// Text of REG_SZ / REG_EXPAND_SZ bytes up to the first NUL.
std::string DecodeStringBytes(const std::vector<uint8_t> &data, bool ansi)
{
    std::string out;
    if (ansi) {
        for (uint8_t b : data) {
            if (b == 0)
                break;
            out += static_cast<char>(b);
        }
        return out;
    }
    std::string text;
    if (!Utf16ToUtf8(data.data(), data.size() / 2, text, true))
        throw TParseError{"invalid UTF-16 text in a value"};
    return text;
}

void ParseValueData(const std::string &data, TRegHiveValue &v, bool regedit4)
{
    if (data.empty())
        throw TParseError{"missing value data"};
    if (data[0] == '"') {
        size_t pos = 0;
        v.Type = REG_SZ;
        v.Text = ParseQuoted(data, pos);
        ExpectRestBlank(data, pos);
        return;
    }
    if (data[0] == '-') {
        ExpectRestBlank(data, 1);
        v.Deletion = true;
        return;
    }
    if (StartsText("dword:", data)) {
        std::string digits = TrimBlanks(data.substr(6));
        if (digits.empty() || digits.size() > 8)
            throw TParseError{"bad dword"};
        uint32_t value = 0;
        for (char c : digits) {
            if (HexDigitValue(c) < 0)
                throw TParseError{"bad dword"};
            value = value * 16 + static_cast<uint32_t>(HexDigitValue(c));
        }
        v.Type = REG_DWORD;
        v.Data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 24)};
        return;
    }
    if (StartsText("str(", data)) {
        size_t close = data.find("):", 4);
        if (close == std::string::npos || close == 4 || close > 12)
            throw TParseError{"bad typed string"};
        uint32_t type = 0;
        for (size_t i = 4; i < close; ++i) {
            if (HexDigitValue(data[i]) < 0)
                throw TParseError{"bad typed string"};
            type = type * 16 + static_cast<uint32_t>(HexDigitValue(data[i]));
        }
        size_t pos = close + 2;
        if (pos >= data.size() || data[pos] != '"')
            throw TParseError{"bad typed string"};
        v.Type = type;
        v.Text = ParseQuoted(data, pos);
        ExpectRestBlank(data, pos);
        return;
    }
    if (StartsText("hex", data)) {
        size_t colon = data.find(':');
        if (colon == std::string::npos)
            throw TParseError{"bad hex value"};
        uint32_t type = REG_BINARY;
        if (colon != 3) {
            if (data[3] != '(' || data[colon - 1] != ')' || colon - 1 <= 4 || colon - 1 - 4 > 8)
                throw TParseError{"bad hex value type"};
            type = 0;
            for (size_t i = 4; i < colon - 1; ++i) {
                if (HexDigitValue(data[i]) < 0)
                    throw TParseError{"bad hex value type"};
                type = type * 16 + static_cast<uint32_t>(HexDigitValue(data[i]));
            }
        }
        v.Type = type;
        v.Data = ParseHexBytes(data.substr(colon + 1));
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            v.Text = DecodeStringBytes(v.Data, regedit4);
        return;
    }
    throw TParseError{"unknown value data"};
}

} // namespace

THiveDoc ParseDoc(const std::string &bytes)
{
    THiveDoc doc;
    THiveParseResult &res = doc.Result;
    std::string text;
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
        res.Utf16 = true;
        if (bytes.size() % 2 != 0 ||
            !Utf16ToUtf8(reinterpret_cast<const uint8_t *>(bytes.data()) + 2, (bytes.size() - 2) / 2, text, false)) {
            res.ErrorLine = 1;
            res.Error = "invalid UTF-16 text";
            return doc;
        }
    } else if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF) {
        res.ErrorLine = 1;
        res.Error = "big-endian UTF-16 is not supported";
        return doc;
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        doc.Utf8Bom = true;
        text = bytes.substr(3);
    } else {
        text = bytes;
    }

    std::vector<std::string> lines = SplitLines(text);
    if (!lines.empty()) {
        const std::string &first = lines.front();
        doc.Eol = (first.size() >= 2 && first[first.size() - 2] == '\r' && first.back() == '\n') ? "\r\n" : "\n";
    }
    bool headerSeen = false;
    bool haveKey = false;
    size_t i = 0;
    try {
        while (i < lines.size()) {
            const int lineNo = static_cast<int>(i) + 1;
            const std::string content = StripEol(lines[i]);
            const std::string trimmed = TrimBlanks(content);
            TEntry e;
            e.Line = lineNo;
            e.Raw = lines[i];
            ++i;
            if (trimmed.empty() || trimmed[0] == ';') {
                doc.Entries.push_back(std::move(e));
                continue;
            }
            if (!headerSeen) {
                if (trimmed == "Windows Registry Editor Version 5.00") {
                    headerSeen = true;
                } else if (trimmed == "REGEDIT4") {
                    headerSeen = true;
                    doc.Regedit4 = true;
                } else {
                    throw TParseError{"missing \"Windows Registry Editor Version 5.00\" header"};
                }
                doc.Entries.push_back(std::move(e));
                continue;
            }
            if (trimmed[0] == '[') {
                size_t close = trimmed.rfind(']');
                if (close == std::string::npos || close != trimmed.size() - 1)
                    throw TParseError{"bad key line"};
                std::string path = trimmed.substr(1, close - 1);
                e.K = TEntry::ekKey;
                if (!path.empty() && path[0] == '-') {
                    e.KeyDeletion = true;
                    path.erase(0, 1);
                }
                if (SplitPath(path).empty())
                    throw TParseError{"empty key name"};
                e.KeyPath = path;
                haveKey = true;
                TRegHiveKey key;
                key.Path = path;
                key.Deletion = e.KeyDeletion;
                key.Line = lineNo;
                res.Keys.push_back(std::move(key));
                doc.Entries.push_back(std::move(e));
                continue;
            }
            if (trimmed[0] != '"' && trimmed[0] != '@')
                throw TParseError{"unrecognised line"};
            if (!haveKey)
                throw TParseError{"value outside a key"};
            TRegHiveValue v;
            v.Line = lineNo;
            size_t pos = 0;
            if (trimmed[0] == '@') {
                pos = 1;
            } else {
                v.Name = ParseQuoted(trimmed, pos);
                if (v.Name.empty())
                    throw TParseError{"empty value name"};
            }
            while (pos < trimmed.size() && IsBlank(trimmed[pos]))
                ++pos;
            if (pos >= trimmed.size() || trimmed[pos] != '=')
                throw TParseError{"missing '='"};
            ++pos;
            while (pos < trimmed.size() && IsBlank(trimmed[pos]))
                ++pos;
            std::string data = trimmed.substr(pos);
            // Long hex data goes on over further lines, each ending in a backslash.
            if (StartsText("hex", data)) {
                while (!data.empty() && data.back() == '\\') {
                    data.pop_back();
                    if (i >= lines.size())
                        throw TParseError{"hex data ends inside a continuation"};
                    e.Raw += lines[i];
                    data += TrimBlanks(StripEol(lines[i]));
                    ++i;
                }
            }
            ParseValueData(data, v, doc.Regedit4);
            e.K = TEntry::ekValue;
            e.Value = v;
            res.Keys.back().Values.push_back(std::move(v));
            doc.Entries.push_back(std::move(e));
        }
        res.Complete = true;
    } catch (const TParseError &err) {
        res.Complete = false;
        // `i` has already moved past the offending line (or its last continuation).
        res.ErrorLine = static_cast<int>(i);
        res.Error = err.Message;
    }
    if (res.Complete && !headerSeen && !lines.empty()) {
        // Only blank lines and comments: nothing to read, but not a hive we may rewrite.
        bool onlyBlank = true;
        for (const auto &l : lines)
            if (!TrimBlanks(StripEol(l)).empty())
                onlyBlank = false;
        if (!onlyBlank) {
            res.Complete = false;
            res.ErrorLine = 1;
            res.Error = "missing \"Windows Registry Editor Version 5.00\" header";
        }
    }
    return doc;
}

} // namespace RegHive

THiveParseResult ParseHive(const std::string &bytes)
{
    return RegHive::ParseDoc(bytes).Result;
}
