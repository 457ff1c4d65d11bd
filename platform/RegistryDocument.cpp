// Editing the document and writing it out again.
#include "platform/RegistryDocument.h"

#include "platform/RegistryText.h"

namespace RegHive {

namespace {

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

} // namespace

bool NameRepresentable(const std::string &name)
{
    return name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
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

} // namespace RegHive

bool SetHiveValue(const std::string &bytes, const std::string &fullKeyPath, const TRegHiveValue &value,
                  std::string &out)
{
    using namespace RegHive;
    THiveDoc doc = ParseDoc(bytes);
    if (!doc.Result.Complete || !NameRepresentable(value.Name))
        return false;
    if (bytes.empty())
        doc.Eol = "\n";
    DocSetValue(doc, fullKeyPath, value);
    out = Serialize(doc);
    return true;
}
