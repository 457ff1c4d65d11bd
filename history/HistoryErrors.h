#pragma once
// Messages about the history file that a rider or support can act on: the file, what failed,
// SQLite's reason and, where there is one, what to do.
#include <QSqlError>

#include <string>

enum class THistoryAccess { Open, Read, Write };

// "The history file '/x/history.sqlite' cannot be written: attempt to write a readonly database"
std::string HistoryErrorText(const std::string &Path, THistoryAccess Access, const QSqlError &Error);
std::string HistoryErrorText(const std::string &Path, const std::string &Problem);
