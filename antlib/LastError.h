#pragma once
// Why the last stick could not be used, kept for a caller that shows it to the user (who may
// never see standard error) and written to standard error as well.
#include <string>

namespace antlib {

// Keeps `text` (lines without a prefix) as the reason and writes each line to stderr.
void reportStickFailure(const std::string &text);
void clearStickFailure();
std::string lastStickFailure();

} // namespace antlib
