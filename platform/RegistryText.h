#pragma once
// Text of the hive: encodings, blanks and lines, and key paths compared as Windows does.
#include "platform/Registry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace RegHive {

bool IsBlank(char c);
// Without blanks, tabs and carriage returns at either end.
std::string TrimBlanks(const std::string &s);
// The line without its line ending.
std::string StripEol(const std::string &line);
// Splits into physical lines, each keeping its line ending.
std::vector<std::string> SplitLines(const std::string &text);

// UTF-16LE units to UTF-8; stops at `stopAtNul`. False on unpaired surrogates.
bool Utf16ToUtf8(const uint8_t *data, size_t units, std::string &out, bool stopAtNul);
// UTF-8 to UTF-16LE bytes. Invalid sequences become U+FFFD (only our own text is encoded).
std::string Utf8ToUtf16(const std::string &s);
// Case folding as Windows compares names.
std::string Fold(const std::string &s);

// Backslash-separated components, empty ones left out.
std::vector<std::string> SplitPath(const std::string &path);
// The first `count` components joined by backslashes.
std::string JoinPath(const std::vector<std::string> &parts, size_t count);
// "HKEY_CURRENT_USER" and the others; nullptr for an unknown root.
const char *RootName(HKEY root);
// Folded, normalised full path: root name (abbreviations expanded) and components.
std::string CanonicalKey(const std::string &fullPath);

} // namespace RegHive
