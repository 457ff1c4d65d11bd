#pragma once
// The hive file: read for every access, replaced whole under the writers' lock.
#include "platform/RegistryDocument.h"

#include <functional>
#include <string>

#include <sys/types.h>

namespace RegHive {

// Directory of a file path ("." for a bare name).
std::string DirOf(const std::string &path);

// The parsed hive for reading: a missing file is empty, an unreadable one too.
THiveParseResult LoadHive();

// Runs `change` on the current hive under the writers' lock and puts the result in place.
// `change` returns false when nothing is to be written. False when the hive was not
// written because of an error (or an incomplete parse). `changed` tells whether it wrote.
bool ModifyHive(const std::function<bool(THiveDoc &)> &change, bool &changed);

struct THiveWrite {
    bool Ok = false;       // written, or nothing was to be written
    bool Changed = false;  // `change` asked for a write
    std::string Why;       // when not Ok: the system's reason ("No space left on device")
};
// ModifyHive on the hive file at `path`, saying why it failed. With `keepBackup` the file as
// it was before becomes `<path>.bak` before the new one replaces it.
THiveWrite ModifyHiveFile(const std::string &path, const std::function<bool(THiveDoc &)> &change, bool keepBackup);

struct TReplaceOptions {
    mode_t Mode = 0600;
    // The current bytes of the file, to be kept as `<path>.bak`; nullptr for no backup.
    const std::string *Backup = nullptr;
};
// Puts `bytes` at `path` whole: a synced temporary file beside it renamed over it, then the
// folder synced. At every moment `path` holds the old or the new complete file. False, with
// the reason in `why` and no temporary file left, when it fails.
bool ReplaceFile(const std::string &path, const std::string &bytes, const TReplaceOptions &options, std::string &why);
bool ModifyHive(const std::function<bool(THiveDoc &)> &change);

} // namespace RegHive
