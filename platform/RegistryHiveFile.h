#pragma once
// The hive file: read for every access, replaced whole under the writers' lock.
#include "platform/RegistryDocument.h"

#include <functional>
#include <string>

namespace RegHive {

// Directory of a file path ("." for a bare name).
std::string DirOf(const std::string &path);

// The parsed hive for reading: a missing file is empty, an unreadable one too.
THiveParseResult LoadHive();

// Runs `change` on the current hive under the writers' lock and puts the result in place.
// `change` returns false when nothing is to be written. False when the hive was not
// written because of an error (or an incomplete parse). `changed` tells whether it wrote.
bool ModifyHive(const std::function<bool(THiveDoc &)> &change, bool &changed);
bool ModifyHive(const std::function<bool(THiveDoc &)> &change);

} // namespace RegHive
