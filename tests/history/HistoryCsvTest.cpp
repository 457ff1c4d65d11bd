// The CSV export read back with an RFC 4180 reader of its own, field by field.
#include "history/HistoryCsv.h"

#include "CsvReader.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using fennick::test::ReadCsv;

// Each record as column name -> value, checking that every record has the header's width.
std::vector<std::map<std::string, std::string>> ReadTable(const std::string &Text)
{
    const auto records = ReadCsv(Text);
    EXPECT_FALSE(records.empty());
    std::vector<std::map<std::string, std::string>> rows;
    for (size_t r = 1; r < records.size(); ++r) {
        EXPECT_EQ(records[r].size(), records[0].size()) << "record " << r;
        std::map<std::string, std::string> row;
        for (size_t c = 0; c < records[r].size() && c < records[0].size(); ++c)
            row[records[0][c]] = records[r][c];
        rows.push_back(row);
    }
    return rows;
}

THistorySession AwkwardSession()
{
    THistorySession session;
    session.Id = 12;
    session.StartedMs = 1'714'558'830'123; // 2024-05-01T10:20:30.123Z
    session.EndedMs = 1'714'559'430'000;
    session.TrainerIdentity = "manufacturer 32, model 4, serial 123456";
    session.DeviceNumber = 4711;
    session.UnitType = 2.5;
    session.SettingsFile = "/home/rider/\"odd\", name\r\nline two/registry.reg";
    session.AppVersion = "0.1";
    THistoryPoint point;
    point.Name = "P1";
    point.Level = 3;
    point.TargetKmh = 20.1;
    point.StartedSeconds = 12.5;
    point.Settled = true;
    point.MeanKmh = 20.35;
    point.StdDevKmh = 0.1;
    point.SettleSeconds = 7;
    point.DeviationKmh = 0.25;
    point.DeviationPercent = 1.2437810945273631;
    point.Samples = {{1, 20}, {2, 20.5}};
    session.Points.push_back(point);
    point.Name = "P2";
    point.Settled = false;
    point.DeviationPercent.reset();
    session.Points.push_back(point);
    return session;
}

} // namespace

TEST(HistoryCsv, PointsSessionsAndCalibrationsReadBackFieldByField)
{
    THistorySession empty;
    empty.Id = 13;
    empty.StartedMs = -1500; // before 1970: the milliseconds stay positive
    THistoryTrainerCalibration calibration;
    calibration.Id = 3;
    calibration.TimeMs = 0;
    calibration.TrainerIdentity = "manufacturer 32, model 4, serial 123456";
    calibration.Kinds = "zero offset and spin-down";
    calibration.Outcome = "failed";
    calibration.ZeroOffset = -12;
    calibration.TemperatureC = 14.5;
    calibration.EndText = "The trainer is too cold (14.5 °C); warm up first";

    std::ostringstream out;
    WriteHistoryCsv({AwkwardSession(), empty}, {calibration}, out);
    const auto rows = ReadTable(out.str());
    ASSERT_EQ(rows.size(), 4u);

    EXPECT_EQ(rows[0].at("record"), "point");
    EXPECT_EQ(rows[0].at("time_utc"), "2024-05-01T10:20:30.123Z");
    EXPECT_EQ(rows[0].at("ended_utc"), "2024-05-01T10:30:30.000Z");
    EXPECT_EQ(rows[0].at("trainer"), "manufacturer 32, model 4, serial 123456");
    EXPECT_EQ(rows[0].at("settings_file"), "/home/rider/\"odd\", name\r\nline two/registry.reg");
    EXPECT_EQ(rows[0].at("session_id"), "12");
    EXPECT_EQ(rows[0].at("point"), "P1");
    EXPECT_EQ(rows[0].at("target_kmh"), "20.1");
    EXPECT_EQ(rows[0].at("mean_kmh"), "20.35");
    EXPECT_EQ(std::stod(rows[0].at("deviation_percent")), 1.2437810945273631);
    EXPECT_EQ(rows[0].at("settled"), "yes");
    EXPECT_EQ(rows[0].at("samples"), "2");
    EXPECT_EQ(rows[0].at("outcome"), "");
    EXPECT_EQ(rows[1].at("point"), "P2");
    EXPECT_EQ(rows[1].at("settled"), "no");
    EXPECT_EQ(rows[1].at("deviation_percent"), "");

    EXPECT_EQ(rows[2].at("record"), "session");
    EXPECT_EQ(rows[2].at("session_id"), "13");
    EXPECT_EQ(rows[2].at("time_utc"), "1969-12-31T23:59:58.500Z");
    EXPECT_EQ(rows[2].at("ended_utc"), "");
    EXPECT_EQ(rows[2].at("point"), "");

    EXPECT_EQ(rows[3].at("record"), "trainer calibration");
    EXPECT_EQ(rows[3].at("time_utc"), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(rows[3].at("calibration_kinds"), "zero offset and spin-down");
    EXPECT_EQ(rows[3].at("zero_offset"), "-12");
    EXPECT_EQ(rows[3].at("spin_down_ms"), "");
    EXPECT_EQ(rows[3].at("temperature_c"), "14.5");
    EXPECT_EQ(rows[3].at("end_text"), "The trainer is too cold (14.5 °C); warm up first");
    EXPECT_EQ(rows[3].at("session_id"), "");
}

TEST(HistoryCsv, EmptyHistoryIsTheHeaderAlone)
{
    std::ostringstream out;
    WriteHistoryCsv({}, {}, out);
    const auto records = ReadCsv(out.str());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].front(), "record");
    EXPECT_EQ(records[0].size(), 27u);
}
