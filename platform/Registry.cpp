#include "platform/Registry.h"

#include "framework/SysUtils.h"
#include "framework/Utf8.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// ---------------------------------------------------------------- settings

std::mutex gSettingsMutex;
std::string gRegistryFile;
std::function<void()> gBeforeReplaceHook;

// ---------------------------------------------------------------- text helpers

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string TrimBlanks(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && (IsBlank(s[b]) || s[b] == '\r'))
        ++b;
    while (e > b && (IsBlank(s[e - 1]) || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

// UTF-16LE units to UTF-8; stops at `stopAtNul`. False on unpaired surrogates.
bool Utf16ToUtf8(const uint8_t *data, size_t units, std::string &out, bool stopAtNul)
{
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = data[2 * i] | (data[2 * i + 1] << 8);
        if (u == 0 && stopAtNul)
            return true;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= units)
                return false;
            uint32_t v = data[2 * i + 2] | (data[2 * i + 3] << 8);
            if (v < 0xDC00 || v > 0xDFFF)
                return false;
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        } else {
            AppendUtf8(out, u);
        }
    }
    return true;
}

// UTF-8 to UTF-16LE bytes. Invalid sequences become U+FFFD (only our own text is encoded).
std::string Utf8ToUtf16(const std::string &s)
{
    std::u16string units = QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toStdU16String();
    std::string out;
    out.reserve(units.size() * 2);
    for (char16_t u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

// Case folding as Windows compares names: ASCII directly, anything else through Qt.
std::string Fold(const std::string &s)
{
    bool ascii = true;
    for (unsigned char c : s)
        if (c >= 0x80)
            ascii = false;
    if (ascii) {
        std::string r = s;
        for (char &c : r)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return r;
    }
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toCaseFolded().toStdString();
}

std::vector<std::string> SplitPath(const std::string &path)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
        if (c == '\\') {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

std::string JoinPath(const std::vector<std::string> &parts, size_t count)
{
    std::string r;
    for (size_t i = 0; i < count && i < parts.size(); ++i) {
        if (i)
            r += '\\';
        r += parts[i];
    }
    return r;
}

const char *RootName(HKEY root)
{
    switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS: return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG: return "HKEY_CURRENT_CONFIG";
    }
    return nullptr;
}

// Folded, normalised full path: root name (abbreviations expanded) and components.
std::string CanonicalKey(const std::string &fullPath)
{
    std::vector<std::string> parts = SplitPath(fullPath);
    if (parts.empty())
        return std::string();
    std::string root = Fold(parts[0]);
    static const std::pair<const char *, const char *> aliases[] = {
        {"hkcr", "hkey_classes_root"}, {"hkcu", "hkey_current_user"}, {"hklm", "hkey_local_machine"},
        {"hku", "hkey_users"}, {"hkcc", "hkey_current_config"}};
    for (auto &a : aliases)
        if (root == a.first)
            root = a.second;
    parts[0] = root;
    for (size_t i = 1; i < parts.size(); ++i)
        parts[i] = Fold(parts[i]);
    return JoinPath(parts, parts.size());
}

// ---------------------------------------------------------------- document

struct TEntry {
    enum Kind { ekRaw, ekKey, ekValue };
    Kind K = ekRaw;
    std::string Raw;       // text as in the file, line endings included
    std::string KeyPath;   // ekKey
    bool KeyDeletion = false;
    TRegHiveValue Value;   // ekValue
    int Line = 0;
};

struct THiveDoc {
    std::vector<TEntry> Entries;
    THiveParseResult Result;
    bool Utf8Bom = false;
    bool Regedit4 = false;
    std::string Eol = "\r\n";
};

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

// Splits into physical lines, each keeping its line ending.
std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string StripEol(const std::string &line)
{
    std::string s = line;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

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

// ---------------------------------------------------------------- generation

// A value name must fit on its line.
bool NameRepresentable(const std::string &name)
{
    return name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::string EscapeQuoted(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// One value as a line (or hex lines); REGEDIT4 files keep string bytes in the 8-bit
// encoding instead of UTF-16.
std::string ValueText(const TRegHiveValue &v, const std::string &eol, bool regedit4)
{
    std::string line = v.Name.empty() ? std::string("@") : EscapeQuoted(v.Name);
    line += '=';
    static const char hex[] = "0123456789abcdef";
    if (v.Type == REG_DWORD && v.Data.size() == 4) {
        uint32_t x = v.Data[0] | (v.Data[1] << 8) | (v.Data[2] << 16) | (static_cast<uint32_t>(v.Data[3]) << 24);
        line += "dword:";
        for (int shift = 28; shift >= 0; shift -= 4)
            line += hex[(x >> shift) & 0xF];
        return line + eol;
    }
    if (v.Type == REG_SZ && v.Text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos)
        return line + EscapeQuoted(v.Text) + eol;
    std::vector<uint8_t> data = v.Data;
    if (v.Type == REG_SZ || v.Type == REG_EXPAND_SZ) {
        std::string bytes = regedit4 ? v.Text : Utf8ToUtf16(v.Text);
        data.assign(bytes.begin(), bytes.end());
        data.push_back(0);
        if (!regedit4)
            data.push_back(0);
    }
    if (v.Type == REG_BINARY) {
        line += "hex:";
    } else {
        line += "hex(";
        std::string t;
        uint32_t type = v.Type;
        do {
            t.insert(t.begin(), hex[type & 0xF]);
            type >>= 4;
        } while (type);
        line += t + "):";
    }
    size_t width = line.size();
    for (size_t i = 0; i < data.size(); ++i) {
        line += hex[data[i] >> 4];
        line += hex[data[i] & 0xF];
        width += 2;
        if (i + 1 < data.size()) {
            line += ',';
            ++width;
            if (width >= 76) {
                line += "\\" + eol + "  ";
                width = 2;
            }
        }
    }
    return line + eol;
}

std::string Serialize(const THiveDoc &doc)
{
    std::string text;
    for (const auto &e : doc.Entries)
        text += e.Raw;
    if (doc.Result.Utf16)
        return std::string("\xFF\xFE", 2) + Utf8ToUtf16(text);
    if (doc.Utf8Bom)
        return "\xEF\xBB\xBF" + text;
    return text;
}

void EnsureHeader(THiveDoc &doc)
{
    for (const auto &e : doc.Entries)
        if (e.K == TEntry::ekRaw && !TrimBlanks(StripEol(e.Raw)).empty() && TrimBlanks(StripEol(e.Raw))[0] != ';')
            return;
    TEntry header;
    header.Raw = "Windows Registry Editor Version 5.00" + doc.Eol;
    doc.Entries.insert(doc.Entries.begin(), header);
}

void TerminateLastLine(THiveDoc &doc)
{
    if (!doc.Entries.empty() && !doc.Entries.back().Raw.empty() && doc.Entries.back().Raw.back() != '\n')
        doc.Entries.back().Raw += doc.Eol;
}

// Index of the key entry that owns entry `i`, or -1.
int OwnerKey(const THiveDoc &doc, size_t i)
{
    for (size_t k = i + 1; k-- > 0;)
        if (doc.Entries[k].K == TEntry::ekKey)
            return static_cast<int>(k);
    return -1;
}

bool KeyEntryMatches(const TEntry &e, const std::string &canonical)
{
    return e.K == TEntry::ekKey && !e.KeyDeletion && CanonicalKey(e.KeyPath) == canonical;
}

// The spelling already used in the hive for the longest existing part of `full`.
std::string SpellKey(const THiveDoc &doc, const std::string &full)
{
    std::vector<std::string> parts = SplitPath(full);
    for (size_t n = parts.size(); n > 0; --n) {
        std::string prefix = CanonicalKey(JoinPath(parts, n));
        for (const auto &e : doc.Entries) {
            if (e.K != TEntry::ekKey || e.KeyDeletion)
                continue;
            std::vector<std::string> have = SplitPath(e.KeyPath);
            if (have.size() >= n && CanonicalKey(JoinPath(have, n)) == prefix) {
                std::vector<std::string> spelled(have.begin(), have.begin() + static_cast<long>(n));
                spelled.insert(spelled.end(), parts.begin() + static_cast<long>(n), parts.end());
                return JoinPath(spelled, spelled.size());
            }
        }
    }
    return JoinPath(parts, parts.size());
}

// Index after which new values of the key at `keyIndex` go.
size_t SectionInsertPoint(const THiveDoc &doc, size_t keyIndex)
{
    size_t last = keyIndex;
    for (size_t i = keyIndex + 1; i < doc.Entries.size() && doc.Entries[i].K != TEntry::ekKey; ++i)
        if (doc.Entries[i].K == TEntry::ekValue)
            last = i;
    return last + 1;
}

size_t AppendKey(THiveDoc &doc, const std::string &full)
{
    EnsureHeader(doc);
    TerminateLastLine(doc);
    if (!doc.Entries.empty() && !TrimBlanks(StripEol(doc.Entries.back().Raw)).empty()) {
        TEntry blank;
        blank.Raw = doc.Eol;
        doc.Entries.push_back(blank);
    }
    TEntry key;
    key.K = TEntry::ekKey;
    key.KeyPath = SpellKey(doc, full);
    key.Raw = "[" + key.KeyPath + "]" + doc.Eol;
    doc.Entries.push_back(key);
    return doc.Entries.size() - 1;
}

bool DocHasKey(const THiveDoc &doc, const std::string &full)
{
    const std::string canonical = CanonicalKey(full);
    for (const auto &e : doc.Entries)
        if (KeyEntryMatches(e, canonical))
            return true;
    return false;
}

void DocSetValue(THiveDoc &doc, const std::string &full, const TRegHiveValue &value)
{
    const std::string canonical = CanonicalKey(full);
    const std::string name = Fold(value.Name);
    int lastKey = -1;
    int lastValue = -1;
    for (size_t i = 0; i < doc.Entries.size(); ++i) {
        const TEntry &e = doc.Entries[i];
        if (KeyEntryMatches(e, canonical))
            lastKey = static_cast<int>(i);
        if (e.K == TEntry::ekValue && !e.Value.Deletion && Fold(e.Value.Name) == name) {
            int owner = OwnerKey(doc, i);
            if (owner >= 0 && KeyEntryMatches(doc.Entries[static_cast<size_t>(owner)], canonical))
                lastValue = static_cast<int>(i);
        }
    }
    if (lastValue >= 0) {
        TEntry &e = doc.Entries[static_cast<size_t>(lastValue)];
        TRegHiveValue v = value;
        v.Name = e.Value.Name; // keep the spelling already in the hive
        const bool hadEol = !e.Raw.empty() && e.Raw.back() == '\n';
        e.Value = v;
        e.Raw = ValueText(v, doc.Eol, doc.Regedit4);
        if (!hadEol)
            e.Raw.resize(e.Raw.size() - doc.Eol.size());
        return;
    }
    if (lastKey < 0)
        lastKey = static_cast<int>(AppendKey(doc, full));
    size_t at = SectionInsertPoint(doc, static_cast<size_t>(lastKey));
    if (at == doc.Entries.size())
        TerminateLastLine(doc);
    else if (!doc.Entries[at - 1].Raw.empty() && doc.Entries[at - 1].Raw.back() != '\n')
        doc.Entries[at - 1].Raw += doc.Eol;
    TEntry e;
    e.K = TEntry::ekValue;
    e.Value = value;
    e.Raw = ValueText(value, doc.Eol, doc.Regedit4);
    doc.Entries.insert(doc.Entries.begin() + static_cast<long>(at), e);
}

bool DocDeleteValue(THiveDoc &doc, const std::string &full, const std::string &valueName)
{
    const std::string canonical = CanonicalKey(full);
    const std::string name = Fold(valueName);
    bool removed = false;
    int owner = -1;
    for (size_t i = 0; i < doc.Entries.size();) {
        const TEntry &e = doc.Entries[i];
        if (e.K == TEntry::ekKey)
            owner = static_cast<int>(i);
        if (e.K == TEntry::ekValue && !e.Value.Deletion && Fold(e.Value.Name) == name && owner >= 0 &&
            KeyEntryMatches(doc.Entries[static_cast<size_t>(owner)], canonical)) {
            doc.Entries.erase(doc.Entries.begin() + static_cast<long>(i));
            removed = true;
            continue;
        }
        ++i;
    }
    return removed;
}

// ---------------------------------------------------------------- file access

struct TFd {
    int Fd = -1;
    explicit TFd(int fd) : Fd(fd) {}
    ~TFd()
    {
        if (Fd >= 0)
            close(Fd);
    }
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
};

enum TReadStatus { rsOk, rsMissing, rsError };

TReadStatus ReadFile(const std::string &path, std::string &bytes)
{
    bytes.clear();
    TFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Fd < 0)
        return errno == ENOENT ? rsMissing : rsError;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd.Fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return rsError;
        }
        if (n == 0)
            return rsOk;
        bytes.append(buf, static_cast<size_t>(n));
    }
}

bool WriteAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string DirOf(const std::string &path)
{
    std::filesystem::path p(path);
    std::filesystem::path dir = p.parent_path();
    return dir.empty() ? std::string(".") : dir.string();
}

// The parsed hive for reading: a missing file is empty, an unreadable one too.
THiveParseResult LoadHive()
{
    std::string bytes;
    TReadStatus status = ReadFile(RegistryFile(), bytes);
    if (status == rsOk)
        return ParseHive(bytes);
    THiveParseResult empty;
    empty.Complete = status == rsMissing;
    if (status == rsError) {
        empty.ErrorLine = 0;
        empty.Error = "hive cannot be read";
    }
    return empty;
}

// Runs `change` on the current hive under the writers' lock and puts the result in place.
// `change` returns false when nothing is to be written. False when the hive was not
// written because of an error (or an incomplete parse).
bool ModifyHive(const std::function<bool(THiveDoc &)> &change, bool &changed)
{
    changed = false;
    const std::string path = RegistryFile();
    const std::string dir = DirOf(path);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return false;

    TFd lock(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.Fd < 0)
        return false;
    while (flock(lock.Fd, LOCK_EX) != 0)
        if (errno != EINTR)
            return false;

    std::string bytes;
    TReadStatus status = ReadFile(path, bytes);
    if (status == rsError)
        return false;
    THiveDoc doc = ParseDoc(bytes);
    if (!doc.Result.Complete)
        return false;
    if (status == rsMissing)
        doc.Eol = "\n";
    if (!change(doc))
        return true;
    changed = true;
    const std::string out = Serialize(doc);

    // Temporary files left by a writer that died: under the lock nobody else writes one.
    const std::string base = std::filesystem::path(path).filename().string() + ".tmp-";
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, base.size(), base) == 0)
            std::filesystem::remove(entry.path(), ec);
    }

    std::string tmpl = path + ".tmp-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int tmpFd = mkstemp(name.data());
    if (tmpFd < 0)
        return false;
    TFd tmp(tmpFd);
    const std::string tmpPath(name.data());
    struct stat st{};
    mode_t mode = (status == rsOk && stat(path.c_str(), &st) == 0) ? (st.st_mode & 07777) : 0600;
    bool ok = fchmod(tmp.Fd, mode) == 0 && WriteAll(tmp.Fd, out) && fsync(tmp.Fd) == 0;
    if (ok) {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> g(gSettingsMutex);
            hook = gBeforeReplaceHook;
        }
        if (hook)
            hook();
        ok = rename(tmpPath.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
        unlink(tmpPath.c_str());
        return false;
    }
    TFd dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Fd >= 0)
        (void)fsync(dirFd.Fd);
    return true;
}

bool ModifyHive(const std::function<bool(THiveDoc &)> &change)
{
    bool changed;
    return ModifyHive(change, changed);
}

bool KeyExistsIn(const THiveParseResult &hive, const std::string &full)
{
    const std::string canonical = CanonicalKey(full);
    const std::string prefix = canonical + "\\";
    for (const auto &k : hive.Keys) {
        if (k.Deletion)
            continue;
        const std::string c = CanonicalKey(k.Path);
        if (c == canonical || c.compare(0, prefix.size(), prefix) == 0)
            return true;
    }
    return false;
}

bool WriteRights(uint32_t access)
{
    return (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
}

} // namespace

// ---------------------------------------------------------------- public functions

std::string RegistryFile()
{
    {
        std::lock_guard<std::mutex> lock(gSettingsMutex);
        if (!gRegistryFile.empty())
            return gRegistryFile;
    }
    if (const char *env = std::getenv("FENNICK_REGISTRY"); env && *env)
        return env;
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && xdg[0] == '/')
        return std::string(xdg) + "/fennick/registry.reg";
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/fennick/registry.reg";
}

void SetRegistryFile(const std::string &path)
{
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    gRegistryFile = path;
}

void SetRegistryBeforeReplaceHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    gBeforeReplaceHook = std::move(hook);
}

THiveParseResult ParseHive(const std::string &bytes)
{
    return ParseDoc(bytes).Result;
}

bool SetHiveValue(const std::string &bytes, const std::string &fullKeyPath, const TRegHiveValue &value,
                  std::string &out)
{
    THiveDoc doc = ParseDoc(bytes);
    if (!doc.Result.Complete || !NameRepresentable(value.Name))
        return false;
    if (bytes.empty())
        doc.Eol = "\n";
    DocSetValue(doc, fullKeyPath, value);
    out = Serialize(doc);
    return true;
}

// ---------------------------------------------------------------- TRegistry

TRegistry::TRegistry(uint32_t access) : FAccess(access)
{
}

TRegistry::~TRegistry()
{
    CloseKey();
}

void TRegistry::SetRootKey(HKEY value)
{
    if (value == FRootKey)
        return;
    CloseKey();
    FRootKey = value;
}

void TRegistry::CloseKey()
{
    FOpen = false;
    FOpenWritable = false;
    FCurrentPath.clear();
}

std::string TRegistry::AbsolutePath(const std::string &key) const
{
    std::vector<std::string> parts;
    if (FOpen && (key.empty() || key[0] != '\\'))
        parts = SplitPath(FCurrentPath);
    for (auto &p : SplitPath(key))
        parts.push_back(p);
    return JoinPath(parts, parts.size());
}

namespace {
std::string FullPath(HKEY root, const std::string &relative)
{
    const char *name = RootName(root);
    std::string r = name ? name : "";
    if (!relative.empty())
        r += "\\" + relative;
    return r;
}

// Names in the spelling first met, each once whatever its letter case.
class TFoldedNames {
public:
    void Add(const std::string &name)
    {
        const std::string f = Fold(name);
        if (std::find(FFolded.begin(), FFolded.end(), f) == FFolded.end()) {
            FFolded.push_back(f);
            Names.push_back(name);
        }
    }
    std::vector<std::string> Names;

private:
    std::vector<std::string> FFolded;
};
} // namespace

bool TRegistry::HiveWritable()
{
    const std::string path = RegistryFile();
    struct stat st{};
    const std::string dir = DirOf(path);
    if (stat(path.c_str(), &st) == 0)
        return S_ISREG(st.st_mode) && access(path.c_str(), W_OK) == 0 && access(dir.c_str(), W_OK | X_OK) == 0;
    // Missing hive: the nearest existing ancestor must be a directory we may write in.
    std::filesystem::path p(dir);
    for (;;) {
        if (stat(p.c_str(), &st) == 0)
            return S_ISDIR(st.st_mode) && access(p.c_str(), W_OK | X_OK) == 0;
        if (errno != ENOENT || !p.has_parent_path() || p.parent_path() == p)
            return false;
        p = p.parent_path();
    }
}

bool TRegistry::OpenKey(const std::string &key, bool canCreate)
{
    if (!RootName(FRootKey))
        return false;
    const std::string relative = AbsolutePath(key);
    const std::string full = FullPath(FRootKey, relative);
    const bool writeRights = WriteRights(FAccess);
    if (writeRights && !HiveWritable())
        return false;
    bool exists = relative.empty() || KeyExistsIn(LoadHive(), full);
    if (!exists) {
        if (!canCreate)
            return false;
        bool ok = ModifyHive([&](THiveDoc &doc) {
            if (DocHasKey(doc, full))
                return false;
            AppendKey(doc, full);
            return true;
        });
        if (!ok)
            return false;
    }
    CloseKey();
    FOpen = true;
    FOpenWritable = writeRights;
    FCurrentPath = relative;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string &key)
{
    FAccess = KEY_READ;
    return OpenKey(key, false);
}

bool TRegistry::KeyExists(const std::string &key)
{
    if (!RootName(FRootKey))
        return false;
    const std::string relative = AbsolutePath(key);
    return relative.empty() || KeyExistsIn(LoadHive(), FullPath(FRootKey, relative));
}

std::string TRegistry::OpenKeyCanonical() const
{
    return CanonicalKey(FullPath(FRootKey, FOpen ? FCurrentPath : std::string()));
}

bool TRegistry::FindValue(const std::string &name, TRegHiveValue &out)
{
    if (!RootName(FRootKey))
        return false;
    const THiveParseResult hive = LoadHive();
    const std::string canonical = OpenKeyCanonical();
    const std::string folded = Fold(name);
    bool found = false;
    for (const auto &k : hive.Keys) {
        if (k.Deletion || CanonicalKey(k.Path) != canonical)
            continue;
        for (const auto &v : k.Values) {
            if (!v.Deletion && Fold(v.Name) == folded) {
                out = v;
                found = true;
            }
        }
    }
    return found;
}

bool TRegistry::ValueExists(const std::string &name)
{
    TRegHiveValue v;
    return FindValue(name, v);
}

TRegDataType TRegistry::GetDataType(const std::string &name)
{
    TRegHiveValue v;
    if (!FindValue(name, v))
        return rdUnknown;
    switch (v.Type) {
    case REG_SZ: return rdString;
    case REG_EXPAND_SZ: return rdExpandString;
    case REG_DWORD: return rdInteger;
    case REG_BINARY: return rdBinary;
    }
    return rdUnknown;
}

std::vector<std::string> TRegistry::GetValueNames()
{
    TFoldedNames names;
    if (!RootName(FRootKey))
        return names.Names;
    const THiveParseResult hive = LoadHive();
    const std::string canonical = OpenKeyCanonical();
    for (const auto &k : hive.Keys) {
        if (k.Deletion || CanonicalKey(k.Path) != canonical)
            continue;
        for (const auto &v : k.Values)
            if (!v.Deletion)
                names.Add(v.Name);
    }
    return names.Names;
}

std::vector<std::string> TRegistry::GetKeyNames()
{
    TFoldedNames names;
    if (!RootName(FRootKey))
        return names.Names;
    const THiveParseResult hive = LoadHive();
    const std::string canonical = OpenKeyCanonical();
    const size_t depth = SplitPath(canonical).size();
    for (const auto &k : hive.Keys) {
        if (k.Deletion)
            continue;
        std::vector<std::string> parts = SplitPath(k.Path);
        if (parts.size() <= depth || CanonicalKey(JoinPath(parts, depth)) != canonical)
            continue;
        names.Add(parts[depth]);
    }
    return names.Names;
}

std::string TRegistry::ReadString(const std::string &name)
{
    TRegHiveValue v;
    if (!FindValue(name, v))
        return std::string();
    if (v.Type != REG_SZ && v.Type != REG_EXPAND_SZ)
        throw ERegistryException("Invalid data type for '" + name + "'");
    return v.Text;
}

int32_t TRegistry::ReadInteger(const std::string &name)
{
    TRegHiveValue v;
    if (!FindValue(name, v))
        throw ERegistryException("Failed to get data for '" + name + "'");
    if (v.Type != REG_DWORD)
        throw ERegistryException("Invalid data type for '" + name + "'");
    if (v.Data.size() != 4)
        throw ERegistryException("Failed to get data for '" + name + "'");
    uint32_t x = v.Data[0] | (v.Data[1] << 8) | (v.Data[2] << 16) | (static_cast<uint32_t>(v.Data[3]) << 24);
    return static_cast<int32_t>(x);
}

void TRegistry::WriteValue(const std::string &name, TRegHiveValue value)
{
    const bool allowed = FOpen ? FOpenWritable : WriteRights(FAccess);
    value.Name = name;
    const bool representable = NameRepresentable(name);
    const std::string full = FullPath(FRootKey, FOpen ? FCurrentPath : std::string());
    if (!allowed || !representable || !RootName(FRootKey) || !ModifyHive([&](THiveDoc &doc) {
            DocSetValue(doc, full, value);
            return true;
        }))
        throw ERegistryException("Failed to set data for '" + name + "'");
}

void TRegistry::WriteString(const std::string &name, const std::string &value)
{
    TRegHiveValue v;
    v.Type = REG_SZ;
    v.Text = value;
    WriteValue(name, v);
}

void TRegistry::WriteInteger(const std::string &name, int32_t value)
{
    const uint32_t x = static_cast<uint32_t>(value);
    TRegHiveValue v;
    v.Type = REG_DWORD;
    v.Data = {static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x >> 16),
              static_cast<uint8_t>(x >> 24)};
    WriteValue(name, v);
}

bool TRegistry::DeleteValue(const std::string &name)
{
    const bool allowed = FOpen ? FOpenWritable : WriteRights(FAccess);
    if (!allowed || !RootName(FRootKey))
        return false;
    const std::string full = FullPath(FRootKey, FOpen ? FCurrentPath : std::string());
    bool changed = false;
    bool ok = ModifyHive([&](THiveDoc &doc) { return DocDeleteValue(doc, full, name); }, changed);
    return ok && changed;
}
