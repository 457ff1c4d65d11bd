#pragma once
// Names as the text form can carry them: identifiers, block words and dotted property paths.
#include <string>

namespace StreamFormat {

bool IsIdentStart(char c);
bool IsIdentChar(char c);
bool IsIdent(const std::string &S);
// Words that open or close a block in the text form cannot name a property there.
bool IsKeyword(const std::string &S);
// Identifiers joined by dots, not starting with a block word.
bool IsPropertyPath(const std::string &S);

} // namespace StreamFormat
