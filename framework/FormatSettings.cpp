#include "framework/SysUtils.h"

#include <mutex>

namespace {

// The time stamp is taken on the library's thread while a test may pin the settings.
std::mutex SettingsLock;
std::optional<TFormatSettings> SettingsOverride;
TFormatSettingsSource SettingsSource = nullptr;

} // namespace

void SetFormatSettingsSource(TFormatSettingsSource Source)
{
    std::lock_guard<std::mutex> guard(SettingsLock);
    SettingsSource = Source;
}

void SetFormatSettingsOverride(std::optional<TFormatSettings> Settings)
{
    std::lock_guard<std::mutex> guard(SettingsLock);
    SettingsOverride = std::move(Settings);
}

TFormatSettings CurrentFormatSettings()
{
    TFormatSettingsSource source;
    {
        std::lock_guard<std::mutex> guard(SettingsLock);
        if (SettingsOverride)
            return *SettingsOverride;
        source = SettingsSource;
    }
    // Outside the lock: a source may take its own.
    return source ? source() : TFormatSettings{};
}

char DecimalSeparator()
{
    return CurrentFormatSettings().DecimalSeparator;
}
