#include "history/HistorySchema.h"

#include <QSqlQuery>
#include <QVariant>

#include <array>
#include <vector>

namespace {

using TStep = std::vector<const char *>;

// Version 1, the first released file: sessions and their points.
const TStep ToVersion1 = {
    "CREATE TABLE schema_version (version INTEGER NOT NULL)",
    "INSERT INTO schema_version (version) VALUES (1)",
    "CREATE TABLE sessions ("
    " id INTEGER PRIMARY KEY, started_ms INTEGER NOT NULL, ended_ms INTEGER,"
    " device_number INTEGER NOT NULL, unit_type REAL NOT NULL,"
    " settings_file TEXT NOT NULL, app_version TEXT NOT NULL)",
    "CREATE INDEX sessions_by_start ON sessions (started_ms)",
    "CREATE TABLE points ("
    " id INTEGER PRIMARY KEY,"
    " session_id INTEGER NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,"
    " position INTEGER NOT NULL, name TEXT NOT NULL, level INTEGER NOT NULL,"
    " target_kmh REAL NOT NULL, started_seconds REAL NOT NULL, settled INTEGER NOT NULL,"
    " mean_kmh REAL NOT NULL, stddev_kmh REAL NOT NULL, settle_seconds REAL NOT NULL,"
    " deviation_kmh REAL NOT NULL, deviation_percent REAL, samples BLOB NOT NULL,"
    " UNIQUE (session_id, position))",
};

// Version 2: which trainer a session ran on, and the trainer's own calibrations.
const TStep ToVersion2 = {
    "ALTER TABLE sessions ADD COLUMN trainer_identity TEXT NOT NULL DEFAULT ''",
    "CREATE INDEX sessions_by_trainer ON sessions (trainer_identity, started_ms)",
    "CREATE TABLE trainer_calibrations ("
    " id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, trainer_identity TEXT NOT NULL,"
    " device_number INTEGER NOT NULL, kinds TEXT NOT NULL, outcome TEXT NOT NULL,"
    " spin_down_ms INTEGER, zero_offset INTEGER, temperature_c REAL, end_text TEXT NOT NULL)",
    "CREATE INDEX trainer_calibrations_by_trainer ON trainer_calibrations (trainer_identity, time_ms)",
    "UPDATE schema_version SET version = 2",
};

const std::array<const TStep *, HistorySchemaVersion> Steps = {&ToVersion1, &ToVersion2};

bool Run(const QSqlDatabase &Db, const char *Sql, QSqlError &Error)
{
    QSqlQuery query(Db);
    if (query.exec(QString::fromUtf8(Sql)))
        return true;
    Error = query.lastError();
    return false;
}

bool SelectInteger(const QSqlDatabase &Db, const char *Sql, QVariant &Value, QSqlError &Error)
{
    QSqlQuery query(Db);
    if (!query.exec(QString::fromUtf8(Sql)) || !query.next()) {
        Error = query.lastError();
        return false;
    }
    Value = query.value(0);
    return true;
}

} // namespace

bool ReadHistorySchemaVersion(const QSqlDatabase &Db, int &Version, QSqlError &Error)
{
    QVariant objects, versionTables, version;
    if (!SelectInteger(Db, "SELECT count(*) FROM sqlite_master", objects, Error))
        return false;
    if (objects.toInt() == 0) {
        Version = 0;
        return true;
    }
    if (!SelectInteger(Db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'",
                       versionTables, Error))
        return false;
    if (versionTables.toInt() == 0) {
        Version = ForeignSchemaVersion;
        return true;
    }
    if (!SelectInteger(Db, "SELECT max(version) FROM schema_version", version, Error))
        return false;
    Version = version.isNull() ? ForeignSchemaVersion : version.toInt();
    return true;
}

bool UpgradeHistorySchema(const QSqlDatabase &Db, int From, QSqlError &Error)
{
    for (int step = From; step < HistorySchemaVersion; ++step)
        for (const char *sql : *Steps[size_t(step)])
            if (!Run(Db, sql, Error))
                return false;
    return true;
}
