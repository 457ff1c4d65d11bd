#pragma once
// UTF-8 bytes of single code points, for the places that build text from character codes.
#include <cstdint>
#include <string>

// Appends the UTF-8 form of CodePoint (up to U+10FFFF; callers refuse surrogates and larger
// values before they get here). A Latin-1 character is its own code point.
void AppendUtf8(std::string &Out, uint32_t CodePoint);
