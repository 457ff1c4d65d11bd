// The store on real SQLite files, without a QCoreApplication (the SQLite driver needs none).
#include "HistoryTestFiles.h"

#include "history/HistoryPath.h"
#include "history/HistoryStore.h"

#include <cstdlib>

using namespace fennick::test;

namespace {

THistorySession MakeSession(int64_t StartedMs, const std::string &Trainer)
{
    THistorySession session;
    session.StartedMs = StartedMs;
    session.TrainerIdentity = Trainer;
    session.DeviceNumber = 4711;
    session.UnitType = 2.5;
    session.SettingsFile = "/home/rider/.config/fennick/registry.reg";
    session.AppVersion = "0.1";
    return session;
}

THistoryTrainerCalibration MakeCalibration(int64_t TimeMs, const std::string &Trainer)
{
    THistoryTrainerCalibration calibration;
    calibration.TimeMs = TimeMs;
    calibration.TrainerIdentity = Trainer;
    calibration.DeviceNumber = 4711;
    calibration.Kinds = "spin-down";
    calibration.Outcome = "succeeded";
    calibration.SpinDownMs = 4850;
    calibration.TemperatureC = 21.5;
    calibration.EndText = "Spin-down time 4.85 s";
    return calibration;
}

std::unique_ptr<THistoryStore> OpenStore(const std::string &File)
{
    std::string error;
    auto store = THistoryStore::Open(File, error);
    EXPECT_NE(store, nullptr) << error;
    return store;
}

const std::string TrainerA = "manufacturer 32, model 4, serial 123456";
const std::string TrainerB = "manufacturer 89, model 2, serial 42";

} // namespace

TEST(HistoryStore, SessionWithPointsAndSamplesReadsBackAfterReopening)
{
    TempFolder folder;
    const std::string file = folder.File("nested/folder/history.sqlite");
    {
        auto store = OpenStore(file);
        const int64_t id = store->BeginSession(MakeSession(1'700'000'000'123, TrainerA));
        ASSERT_GT(id, 0) << store->LastError();
        ASSERT_TRUE(store->AddPoint(id, MakePoint("P1", 3, 20.0, 60))) << store->LastError();
        THistoryPoint unsettled = MakePoint("P2", 6, 0.0, 0);
        unsettled.Settled = false;
        unsettled.DeviationPercent.reset();
        ASSERT_TRUE(store->AddPoint(id, unsettled)) << store->LastError();
        ASSERT_TRUE(store->EndSession(id, 1'700'000'600'000)) << store->LastError();
    }
    auto store = OpenStore(file);
    const auto sessions = store->Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    const THistorySession &session = sessions[0];
    EXPECT_EQ(session.StartedMs, 1'700'000'000'123);
    EXPECT_EQ(session.EndedMs, 1'700'000'600'000);
    EXPECT_EQ(session.TrainerIdentity, TrainerA);
    EXPECT_EQ(session.DeviceNumber, 4711);
    EXPECT_EQ(session.UnitType, 2.5);
    EXPECT_EQ(session.SettingsFile, "/home/rider/.config/fennick/registry.reg");
    EXPECT_EQ(session.AppVersion, "0.1");
    ASSERT_EQ(session.Points.size(), 2u);
    const THistoryPoint expected = MakePoint("P1", 3, 20.0, 60);
    const THistoryPoint &p1 = session.Points[0];
    EXPECT_EQ(p1.Name, "P1");
    EXPECT_EQ(p1.Level, 3);
    EXPECT_EQ(p1.TargetKmh, 20.0);
    EXPECT_EQ(p1.StartedSeconds, expected.StartedSeconds);
    EXPECT_TRUE(p1.Settled);
    EXPECT_EQ(p1.MeanKmh, expected.MeanKmh);
    EXPECT_EQ(p1.StdDevKmh, expected.StdDevKmh);
    EXPECT_EQ(p1.SettleSeconds, expected.SettleSeconds);
    EXPECT_EQ(p1.DeviationKmh, expected.DeviationKmh);
    EXPECT_EQ(p1.DeviationPercent, expected.DeviationPercent);
    ASSERT_EQ(p1.Samples.size(), 60u);
    for (size_t i = 0; i < 60; ++i) {
        EXPECT_EQ(p1.Samples[i].Seconds, expected.Samples[i].Seconds) << i;
        EXPECT_EQ(p1.Samples[i].SpeedKmh, expected.Samples[i].SpeedKmh) << i;
    }
    EXPECT_EQ(session.Points[1].Name, "P2");
    EXPECT_FALSE(session.Points[1].Settled);
    EXPECT_FALSE(session.Points[1].DeviationPercent.has_value());
    EXPECT_TRUE(session.Points[1].Samples.empty());
}

TEST(HistoryStore, ListsNewestFirstAndFiltersByTrainer)
{
    TempFolder folder;
    auto store = OpenStore(folder.File("history.sqlite"));
    // Written out of order: the list goes by start time, not by when the row was written.
    const int64_t middle = store->BeginSession(MakeSession(2000, TrainerA));
    const int64_t oldest = store->BeginSession(MakeSession(1000, TrainerB));
    const int64_t newest = store->BeginSession(MakeSession(3000, TrainerA));
    ASSERT_TRUE(store->AddPoint(oldest, MakePoint("PA", 2, 15.0, 3)));
    ASSERT_TRUE(store->AddPoint(newest, MakePoint("P1", 4, 25.0, 3)));

    const auto all = store->Sessions();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].Id, newest);
    EXPECT_EQ(all[1].Id, middle);
    EXPECT_EQ(all[2].Id, oldest);
    EXPECT_FALSE(all[0].EndedMs.has_value());
    ASSERT_EQ(all[2].Points.size(), 1u);
    EXPECT_EQ(all[2].Points[0].Name, "PA");

    const auto onA = store->Sessions(TrainerA);
    ASSERT_EQ(onA.size(), 2u);
    EXPECT_EQ(onA[0].Id, newest);
    EXPECT_EQ(onA[1].Id, middle);
    ASSERT_EQ(onA[0].Points.size(), 1u);
    EXPECT_TRUE(store->Sessions("manufacturer 1, model 1, serial 1").empty());
    EXPECT_EQ(store->LastError(), "");
}

TEST(HistoryStore, TrainerCalibrationsReadBackNewestFirstAndFiltered)
{
    TempFolder folder;
    auto store = OpenStore(folder.File("history.sqlite"));
    THistoryTrainerCalibration zero = MakeCalibration(5000, TrainerB);
    zero.Kinds = "zero offset";
    zero.SpinDownMs.reset();
    zero.TemperatureC.reset();
    zero.ZeroOffset = 1234;
    THistoryTrainerCalibration failed = MakeCalibration(9000, TrainerA);
    failed.Outcome = "failed";
    failed.SpinDownMs.reset();
    ASSERT_TRUE(store->AddTrainerCalibration(MakeCalibration(1000, TrainerA))) << store->LastError();
    ASSERT_TRUE(store->AddTrainerCalibration(zero));
    ASSERT_TRUE(store->AddTrainerCalibration(failed));

    const auto all = store->TrainerCalibrations();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].TimeMs, 9000);
    EXPECT_EQ(all[0].Outcome, "failed");
    EXPECT_FALSE(all[0].SpinDownMs.has_value());
    EXPECT_EQ(all[0].TemperatureC, 21.5);
    EXPECT_EQ(all[1].Kinds, "zero offset");
    EXPECT_EQ(all[1].ZeroOffset, 1234);
    EXPECT_FALSE(all[1].TemperatureC.has_value());
    EXPECT_EQ(all[2].SpinDownMs, 4850);
    EXPECT_EQ(all[2].EndText, "Spin-down time 4.85 s");
    EXPECT_GT(all[2].Id, 0);

    const auto onA = store->TrainerCalibrations(TrainerA);
    ASSERT_EQ(onA.size(), 2u);
    EXPECT_EQ(onA[0].TimeMs, 9000);
    EXPECT_EQ(onA[1].TimeMs, 1000);
}

TEST(HistoryStore, WritesToASessionThatIsNotThereFailAndSaySo)
{
    TempFolder folder;
    const std::string file = folder.File("history.sqlite");
    auto store = OpenStore(file);
    EXPECT_FALSE(store->AddPoint(42, MakePoint("P1", 1, 10.0, 2)));
    EXPECT_EQ(store->LastError(), "The history file '" + file + "' has no session 42 to add the point P1 to");
    EXPECT_FALSE(store->EndSession(42, 1000));
    EXPECT_EQ(store->LastError(), "The history file '" + file + "' has no session 42 to end");
    EXPECT_TRUE(store->Sessions().empty());
    EXPECT_EQ(store->LastError(), "");
}

TEST(HistoryStore, TwoStoresOnOneFileEachHaveTheirOwnConnection)
{
    TempFolder folder;
    const std::string file = folder.File("history.sqlite");
    auto first = OpenStore(file);
    auto second = OpenStore(file);
    const int64_t id = first->BeginSession(MakeSession(1000, TrainerA));
    ASSERT_GT(id, 0);
    second.reset();
    ASSERT_TRUE(first->EndSession(id, 2000)) << first->LastError();
    EXPECT_EQ(OpenStore(file)->Sessions().at(0).EndedMs, 2000);
    EXPECT_EQ(first->Path(), file);
    EXPECT_EQ(RawDatabase(file).Value("PRAGMA journal_mode"), "wal");
}

TEST(HistoryStore, DefaultPathFollowsXdgDataHomeElseHome)
{
    const char *savedData = std::getenv("XDG_DATA_HOME");
    const char *savedHome = std::getenv("HOME");
    const std::string data = savedData ? savedData : "", home = savedHome ? savedHome : "";
    ::setenv("XDG_DATA_HOME", "/data/rider", 1);
    ::setenv("HOME", "/home/rider", 1);
    EXPECT_EQ(DefaultHistoryPath(), "/data/rider/fennick/history.sqlite");
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(DefaultHistoryPath(), "/home/rider/.local/share/fennick/history.sqlite");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(DefaultHistoryPath(), "/home/rider/.local/share/fennick/history.sqlite");
    savedData ? ::setenv("XDG_DATA_HOME", data.c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
    savedHome ? ::setenv("HOME", home.c_str(), 1) : ::unsetenv("HOME");
}
