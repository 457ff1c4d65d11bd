#include "framework/SysUtils.h"

#include <QLocale>
#include <QString>

#include <mutex>

namespace {

// Guards the override and every QLocale read: the time stamp is taken on the library's thread.
std::mutex SettingsLock;
std::optional<TFormatSettings> SettingsOverride;

char AsciiChar(const QString &S, char Fallback)
{
    if (S.size() == 1 && S.at(0).unicode() < 0x80 && S.at(0).unicode() > 0x20)
        return static_cast<char>(S.at(0).unicode());
    return Fallback;
}

} // namespace

TFormatSettings CurrentFormatSettings()
{
    {
        std::lock_guard<std::mutex> guard(SettingsLock);
        if (SettingsOverride)
            return *SettingsOverride;
    }
    return SystemFormatSettings();
}

TFormatSettings SystemFormatSettings()
{
    std::lock_guard<std::mutex> guard(SettingsLock);
    const QLocale loc = QLocale::system();
    TFormatSettings fs;
    fs.DecimalSeparator = AsciiChar(loc.decimalPoint(), '.');
    fs.LongTimeFormat = ClassicTimeFormat(loc.timeFormat(QLocale::LongFormat).toStdString());
    fs.ThousandSeparator = loc.groupSeparator().toStdString();
    fs.CurrencyString = loc.currencySymbol().toStdString();
    return fs;
}

void SetFormatSettingsOverride(std::optional<TFormatSettings> Settings)
{
    std::lock_guard<std::mutex> guard(SettingsLock);
    SettingsOverride = std::move(Settings);
}

char DecimalSeparator()
{
    return CurrentFormatSettings().DecimalSeparator;
}
