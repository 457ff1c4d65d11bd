// A file as the first released Fennick wrote it (schema version 1: sessions and points, no
// trainer identity, no trainer calibrations), made here with raw SQL.
#include "HistoryTestFiles.h"

#include "history/HistoryStore.h"

using namespace fennick::test;

namespace {

void WriteVersion1File(const std::string &File)
{
    RawDatabase db(File);
    db.Exec("CREATE TABLE schema_version (version INTEGER NOT NULL)");
    db.Exec("INSERT INTO schema_version (version) VALUES (1)");
    db.Exec("CREATE TABLE sessions (id INTEGER PRIMARY KEY, started_ms INTEGER NOT NULL, ended_ms INTEGER,"
            " device_number INTEGER NOT NULL, unit_type REAL NOT NULL, settings_file TEXT NOT NULL,"
            " app_version TEXT NOT NULL)");
    db.Exec("CREATE INDEX sessions_by_start ON sessions (started_ms)");
    db.Exec("CREATE TABLE points (id INTEGER PRIMARY KEY,"
            " session_id INTEGER NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,"
            " position INTEGER NOT NULL, name TEXT NOT NULL, level INTEGER NOT NULL, target_kmh REAL NOT NULL,"
            " started_seconds REAL NOT NULL, settled INTEGER NOT NULL, mean_kmh REAL NOT NULL,"
            " stddev_kmh REAL NOT NULL, settle_seconds REAL NOT NULL, deviation_kmh REAL NOT NULL,"
            " deviation_percent REAL, samples BLOB NOT NULL, UNIQUE (session_id, position))");
    db.Exec("INSERT INTO sessions VALUES (7, 1600000000000, 1600000900000, 12, 1.5, '/old/registry.reg', '0.0.9')");
    // Two samples, (1.5 s, 20.25 km/h) and (2 s, 20.5 km/h), as little-endian doubles.
    db.Exec("INSERT INTO points VALUES (1, 7, 0, 'PA', 5, 20.0, 1.0, 1, 20.375, 0.125, 4.0, 0.375, 1.875,"
            " X'000000000000F83F000000000040344000000000000000400000000000803440')");
}

} // namespace

TEST(HistoryMigration, Version1FileKeepsItsSessionsAndGainsTheNewTables)
{
    TempFolder folder;
    const std::string file = folder.File("history.sqlite");
    WriteVersion1File(file);

    std::string error;
    auto store = THistoryStore::Open(file, error);
    ASSERT_NE(store, nullptr) << error;
    auto sessions = store->Sessions();
    ASSERT_EQ(sessions.size(), 1u) << store->LastError();
    EXPECT_EQ(sessions[0].Id, 7);
    EXPECT_EQ(sessions[0].EndedMs, 1600000900000);
    EXPECT_EQ(sessions[0].TrainerIdentity, "");
    EXPECT_EQ(sessions[0].SettingsFile, "/old/registry.reg");
    ASSERT_EQ(sessions[0].Points.size(), 1u);
    const THistoryPoint &point = sessions[0].Points[0];
    EXPECT_EQ(point.Name, "PA");
    EXPECT_EQ(point.DeviationPercent, 1.875);
    ASSERT_EQ(point.Samples.size(), 2u);
    EXPECT_EQ(point.Samples[0].Seconds, 1.5);
    EXPECT_EQ(point.Samples[0].SpeedKmh, 20.25);
    EXPECT_EQ(point.Samples[1].Seconds, 2.0);
    EXPECT_EQ(point.Samples[1].SpeedKmh, 20.5);

    THistorySession session;
    session.StartedMs = 1700000000000;
    session.TrainerIdentity = "manufacturer 32, model 4, serial 123456";
    ASSERT_GT(store->BeginSession(session), 0) << store->LastError();
    THistoryTrainerCalibration calibration;
    calibration.TrainerIdentity = session.TrainerIdentity;
    calibration.Outcome = "timed out";
    ASSERT_TRUE(store->AddTrainerCalibration(calibration)) << store->LastError();
    EXPECT_EQ(store->Sessions(session.TrainerIdentity).size(), 1u);
    EXPECT_EQ(store->TrainerCalibrations(session.TrainerIdentity).size(), 1u);
    EXPECT_EQ(store->Sessions().size(), 2u);
    store.reset();
    EXPECT_EQ(RawDatabase(file).Value("SELECT version FROM schema_version"), "2");
}

// The step to version 2 runs as one transaction: when a part of it fails, nothing of it stays.
TEST(HistoryMigration, FailedMigrationLeavesTheVersion1FileAsItWas)
{
    TempFolder folder;
    const std::string file = folder.File("history.sqlite");
    WriteVersion1File(file);
    RawDatabase(file).Exec("CREATE TABLE trainer_calibrations (unexpected TEXT)");

    std::string error;
    EXPECT_EQ(THistoryStore::Open(file, error), nullptr);
    EXPECT_EQ(error, "The history file '" + file +
                         "' cannot be written: table trainer_calibrations already exists");
    RawDatabase db(file);
    EXPECT_EQ(db.Value("SELECT version FROM schema_version"), "1");
    EXPECT_EQ(db.Value("SELECT count(*) FROM pragma_table_info('sessions') WHERE name = 'trainer_identity'"), "0");
    EXPECT_EQ(db.Value("SELECT count(*) FROM sessions"), "1");
}
