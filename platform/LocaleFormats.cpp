#include "platform/LocaleFormats.h"

#include <QLocale>
#include <QString>

#include <mutex>

namespace {

// QLocale::system() is read from the library's thread too (time stamps).
std::mutex LocaleLock;

char AsciiChar(const QString &S, char Fallback)
{
    if (S.size() == 1 && S.at(0).unicode() < 0x80 && S.at(0).unicode() > 0x20)
        return static_cast<char>(S.at(0).unicode());
    return Fallback;
}

} // namespace

TFormatSettings SystemFormatSettings()
{
    std::lock_guard<std::mutex> guard(LocaleLock);
    const QLocale loc = QLocale::system();
    TFormatSettings fs;
    fs.DecimalSeparator = AsciiChar(loc.decimalPoint(), '.');
    fs.LongTimeFormat = ClassicTimeFormat(loc.timeFormat(QLocale::LongFormat).toStdString());
    fs.ThousandSeparator = loc.groupSeparator().toStdString();
    fs.CurrencyString = loc.currencySymbol().toStdString();
    return fs;
}

void UseSystemFormatSettings()
{
    SetFormatSettingsSource(&SystemFormatSettings);
}
