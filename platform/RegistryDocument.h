#pragma once
// The hive as a document: its lines in file order, each a key, a value or raw text kept as it
// was, so that an edit rewrites only the lines it changes.
#include "platform/Registry.h"

#include <cstddef>
#include <string>
#include <vector>

namespace RegHive {

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

// Parses the bytes of a hive file (byte-order mark and encoding detected here); the result
// says how far it got.
THiveDoc ParseDoc(const std::string &bytes);

// The document's bytes, in the encoding it was read in.
std::string Serialize(const THiveDoc &doc);
// A value name must fit on its line.
bool NameRepresentable(const std::string &name);
// Appends the key `full` (in the spelling already used for its existing part); its index.
size_t AppendKey(THiveDoc &doc, const std::string &full);
bool DocHasKey(const THiveDoc &doc, const std::string &full);
// Replaces the value's last occurrence in the key, or adds it after the key's values.
void DocSetValue(THiveDoc &doc, const std::string &full, const TRegHiveValue &value);
// Removes every occurrence of the value from the key; true when there was one.
bool DocDeleteValue(THiveDoc &doc, const std::string &full, const std::string &valueName);
// The key or one below it is in the parsed hive.
bool KeyExistsIn(const THiveParseResult &hive, const std::string &full);

} // namespace RegHive
