#pragma once
// The process locale's number and time formats for the framework's conversions.
#include "framework/SysUtils.h"

// The process locale's settings (QLocale::system()): "de_DE" gives ',' and "hh:nn:ss".
TFormatSettings SystemFormatSettings();

// Makes the framework follow the process locale (installs SystemFormatSettings as its settings
// source). The application calls it once at start; until then the framework uses '.'.
void UseSystemFormatSettings();
