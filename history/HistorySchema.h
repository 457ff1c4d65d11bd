#pragma once
// The history file's tables, their version and the steps from each released version to the
// next. A new version adds a step; a released step never changes, as files out there have run it.
#include <QSqlDatabase>
#include <QSqlError>

constexpr int HistorySchemaVersion = 2;
// What ReadHistorySchemaVersion reports for a database without our version table.
constexpr int ForeignSchemaVersion = -1;

// 0 for an empty file, ForeignSchemaVersion for a database of something else.
bool ReadHistorySchemaVersion(const QSqlDatabase &Db, int &Version, QSqlError &Error);
// Brings a file of version From (0: empty) to HistorySchemaVersion inside the caller's
// transaction, so that a failed step leaves the file as it was.
bool UpgradeHistorySchema(const QSqlDatabase &Db, int From, QSqlError &Error);
