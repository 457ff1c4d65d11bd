#include "settings/SettingsFile.h"

#include "framework/SysUtils.h"
#include "platform/RegistryHiveFile.h"
#include "settings/SettingsHive.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

enum class TRead { Ok, Missing, Failed };

TRead ReadWholeFile(const std::string &Path, std::string &Bytes, std::string &Why)
{
    errno = 0;
    std::ifstream in(Path, std::ios::binary);
    if (!in) {
        const int error = errno;
        if (error == ENOENT)
            return TRead::Missing;
        Why = std::strerror(error ? error : EIO);
        return TRead::Failed;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        Why = std::strerror(EIO);
        return TRead::Failed;
    }
    Bytes = bytes.str();
    return TRead::Ok;
}

std::string NotValid(const THiveParseResult &Hive)
{
    return Format("it is not valid at line %d: %s", {Hive.ErrorLine, Hive.Error});
}

std::string Unsaved(const std::string &Path, const std::string &Why)
{
    return Format("The settings could not be saved to '%s': %s. The previous settings are unchanged.", {Path, Why});
}

const char *const OutOfRange = "a setting is out of range";

} // namespace

TSettingsLoad LoadSettingsFile(const std::string &Path)
{
    TSettingsLoad load;
    std::string bytes, why;
    const TRead read = ReadWholeFile(Path, bytes, why);
    if (read == TRead::Failed) {
        load.Why = Format("The settings file '%s' cannot be read: %s.", {Path, why});
        return load;
    }
    load.Hive = ParseHive(bytes);
    if (!load.Hive.Complete) {
        load.Why = Format("The settings file '%s' cannot be used: %s.", {Path, NotValid(load.Hive)});
        return load;
    }
    load.Text = SettingsTextOf(load.Hive);
    load.Ok = true;
    return load;
}

TSettingsSave SaveSettingsFile(const std::string &Path, const TTrainerSettings &Settings)
{
    if (!SettingsValid(Settings))
        return {false, Unsaved(Path, OutOfRange)};
    const RegHive::THiveWrite write = RegHive::ModifyHiveFile(
        Path,
        [&](RegHive::THiveDoc &doc) {
            PutSettings(doc, Settings);
            return true;
        },
        true);
    if (!write.Ok)
        return {false, Unsaved(Path, write.Why)};
    return {true, Format("Saved to '%s'; the previous file is kept as '%s.bak'.", {Path, Path})};
}

TSettingsLoad ImportSettings(const std::string &Path)
{
    TSettingsLoad load;
    std::string bytes, why;
    const TRead read = ReadWholeFile(Path, bytes, why);
    if (read != TRead::Ok) {
        load.Why = Format("'%s' cannot be imported: %s.", {Path, read == TRead::Missing ? "there is no such file" : why});
        return load;
    }
    load.Hive = ParseHive(bytes);
    if (!load.Hive.Complete)
        load.Why = Format("'%s' cannot be imported: %s.", {Path, NotValid(load.Hive)});
    else if (!HasTrainerSettings(load.Hive))
        load.Why = Format("'%s' holds no trainer settings.", {Path});
    if (!load.Why.empty())
        return load;
    load.Text = SettingsTextOf(load.Hive);
    load.Ok = true;
    return load;
}

std::string ExportBytes(const TTrainerSettings &Settings)
{
    RegHive::THiveDoc doc = RegHive::ParseDoc("");
    doc.Result.Utf16 = true;
    doc.Eol = "\r\n";
    PutSettings(doc, Settings);
    return RegHive::Serialize(doc);
}

TSettingsSave ExportSettings(const std::string &Path, const TTrainerSettings &Settings)
{
    auto failed = [&](const std::string &why) {
        return TSettingsSave{false, Format("The settings could not be exported to '%s': %s.", {Path, why})};
    };
    if (!SettingsValid(Settings))
        return failed(OutOfRange);
    std::string why;
    RegHive::TReplaceOptions options;
    options.Mode = 0644;
    if (!RegHive::ReplaceFile(Path, ExportBytes(Settings), options, why))
        return failed(why);
    return {true, Format("Exported to '%s'.", {Path})};
}
