#pragma once
// Cutting separated text into cells (the resistance-map text is tab-separated).
#include <string>

// Number of cells: one more than the separators, except that a separator at the very end
// opens no further cell. An empty text has no cells.
int CountFields(const std::string &Text, char Separator);
// The characters between the Index-th separator and the next one (Index from 0); empty
// when the text has fewer cells or Index is negative.
std::string GetField(const std::string &Text, char Separator, int Index);
// Returns what precedes the first separator and removes it, with the separator, from Text.
// Without a separator the whole text is returned and Text is left empty.
std::string CutToken(std::string &Text, char Separator);
// Text with every From character replaced by To.
std::string ReplaceChar(char From, char To, const std::string &Text);
