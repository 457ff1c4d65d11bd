#pragma once
// One-shot registry operations: each opens its own accessor on Root, never creates a key
// unless asked to, and releases the accessor on every path. Reads open the key for reading
// only, so a hive the user may not write still reads.
#include "platform/Registry.h"

#include <string>

// True when the key opens and holds the value; false on any error.
bool RegistryValueExists(HKEY Root, const std::string &KeyPath, const std::string &ValueName);
// True when the value was deleted; false on any error.
bool RegistryDeleteValue(HKEY Root, const std::string &KeyPath, const std::string &ValueName);
// True when written; false on any error.
bool RegistryWriteString(HKEY Root, const std::string &KeyPath, const std::string &ValueName, bool CreateKey,
                         const std::string &Text);
// The value's text; "0" when the key or the value is missing, the text is empty, or reading
// fails.
std::string RegistryReadString(HKEY Root, const std::string &KeyPath, const std::string &ValueName);
// Path with one backslash appended when it does not end with one; an empty path stays empty.
std::string AddBackslash(const std::string &Path);
