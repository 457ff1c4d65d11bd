#pragma once
#include <string>

// $XDG_DATA_HOME/fennick/history.sqlite, else ~/.local/share/fennick/history.sqlite.
std::string DefaultHistoryPath();
