// The results window read as a rider reads it: this session's table and chart fed by the
// statistics ticks on a clock of the test's own, the history of a file the test wrote, and the
// CSV export read back with an RFC 4180 reader.
#include "app/CalibrationWindow.h"
#include "app/HeaderMenu.h"
#include "app/HistoryView.h"
#include "app/ResultsRecorder.h"
#include "app/ResultsWindow.h"
#include "app/SessionResultsView.h"
#include "app/WaitDlg.h"

#include "../history/CsvReader.h"
#include "DialogRecorder.h"
#include "GuiTestApp.h"
#include "HiveFile.h"
#include "platform/UiThread.h"

#include <gtest/gtest.h>

#include <QChartView>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QTabWidget>
#include <QTableWidget>

#include <fstream>
#include <sstream>

namespace {

const std::string Trainer = "manufacturer 32, model 4, serial 123456";

class ResultsWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("FENNICK_ANT_LIBRARY", "/nonexistent/libANT_DLL.so", 1);
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
        Hive.Write("[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\TarvoDeviceAntP]\n\"TvdAntP_UnitType\"=\"5\"\n"
                   "\"TvdAntP_DeviceNumber\"=\"4242\"\n\"TvdAntP_Diameter\"=\"659\"\n\n"
                   "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo5]\n"
                   "\"Speed1\"=\"20\"\n\"Resist1\"=\"107\"\n\"Speed2\"=\"30\"\n\"Resist2\"=\"60\"\n"
                   "\"Speed3\"=\"40\"\n\"Resist3\"=\"5\"\n");
        HistoryFile = Hive.Dir + "/history.sqlite";
        Window = std::make_unique<TForm1>();
        Window->Results()->SetClock([this] { return NowMs; });
        Window->show();
        ProcessMessages();
    }
    void TearDown() override
    {
        HideWaitDialog();
        Window.reset();
    }
    // One statistics tick a second later, the device showing Speed.
    void Tick(double Speed)
    {
        NowMs += 1000;
        TTarvoDeviceAntP *d = Window->TarvoDeviceANT1();
        d->SetSpeed(Speed);
        d->OnStats(d);
    }
    TResultsWindow *Results() { return Window->HeaderMenu()->OpenResults(); }
    static std::string Cell(QTableWidget *Table, int Row, int Column)
    {
        QTableWidgetItem *item = Table->item(Row, Column);
        return item ? item->text().toStdString() : "<none>";
    }
    void WriteHistory()
    {
        std::string error;
        auto store = THistoryStore::Open(HistoryFile, error);
        ASSERT_TRUE(store) << error;
        for (int day = 1; day <= 3; ++day) {
            THistorySession s;
            s.StartedMs = 1'700'000'000'000 + day * 86'400'000LL;
            s.EndedMs = s.StartedMs + 600'000;
            s.TrainerIdentity = day == 2 ? "manufacturer 1, model 1, serial 1" : Trainer;
            s.DeviceNumber = 4242;
            s.SettingsFile = "/home/rider/virel, \"old\".reg";
            const int64_t id = store->BeginSession(s);
            THistoryPoint p;
            p.Name = "P2";
            p.Level = 60;
            p.TargetKmh = 30;
            p.Settled = true;
            p.MeanKmh = 30 + 0.5 * day;
            p.DeviationKmh = 0.5 * day;
            p.DeviationPercent = p.DeviationKmh / 30 * 100;
            p.Samples = {{1, 29.9}, {2, 30.1}};
            ASSERT_TRUE(store->AddPoint(id, p)) << store->LastError();
            ASSERT_TRUE(store->EndSession(id, *s.EndedMs)) << store->LastError();
        }
        THistoryTrainerCalibration c;
        c.TimeMs = 1'700'000'000'000 + 4 * 86'400'000LL;
        c.TrainerIdentity = Trainer;
        c.Kinds = "spin-down";
        c.Outcome = "succeeded";
        c.SpinDownMs = 8082;
        ASSERT_TRUE(store->AddTrainerCalibration(c)) << store->LastError();
    }

    QApplication &App = GuiTestApp();
    THiveFile Hive;
    TDialogRecorder Dialogs;
    std::string HistoryFile;
    std::unique_ptr<TForm1> Window;
    int64_t NowMs = 5'000'000;
};

} // namespace

TEST_F(ResultsWindowTest, ThisSessionsTableAndChartFollowTheTicksUntilEachPointSettles)
{
    TResultsWindow *w = Results();
    QTableWidget *table = w->Session->Table;
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_EQ(w->Session->ChartSummary().toStdString(), "No point applied yet.");

    // Pressed before the trainer is there, and applied again when it connects: one measurement.
    Window->Button1->click();
    Window->Button1->click();
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(Cell(table, 0, 0), "P1");
    EXPECT_EQ(Cell(table, 0, 1), "107");
    EXPECT_EQ(Cell(table, 0, 2), "20.0 km/h");
    EXPECT_EQ(Cell(table, 0, 5), "measuring\u2026");

    for (double speed : {12.0, 16.0, 18.5})  // still coming up to speed
        Tick(speed);
    for (int i = 0; i < 11; ++i)
        Tick(i % 2 ? 19.6 : 19.8);
    EXPECT_EQ(Cell(table, 0, 5), "yes, after 14 s") << "settled once 10 s of samples stay within 0.5 km/h";
    EXPECT_EQ(Cell(table, 0, 3), "19.7 \u00B1 0.1 km/h");
    EXPECT_EQ(Cell(table, 0, 4), "-0.3 km/h (-1.5 %)");

    // P2 pressed while the rider is still on its way: P1 stays as it was, P2 starts afresh.
    Window->Button2->click();
    Tick(24.0);
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(Cell(table, 0, 5), "yes, after 14 s");
    EXPECT_EQ(Cell(table, 1, 0), "P2");
    EXPECT_EQ(Cell(table, 1, 3), "24.0 \u00B1 0.0 km/h");
    const QString summary = w->Session->Chart->accessibleDescription();
    EXPECT_TRUE(summary.contains("P1: target 20.0 km/h")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("P2: target 30.0 km/h")) << summary.toStdString();

    // Support reads one line per ended point.
    int lines = 0;
    for (const std::string &line : Window->MemoLines().ToVector())
        lines += line.find("Point P1 settled after 14 s: level 107, target 20.0 km/h") != std::string::npos;
    EXPECT_EQ(lines, 1);
    for (const std::string &line : Window->MemoLines().ToVector())
        EXPECT_EQ(line.find("no speed measured"), std::string::npos) << line;
}

TEST_F(ResultsWindowTest, TheHistoryListsNewestFirstAndExportsWhatItShows)
{
    ASSERT_NO_FATAL_FAILURE(WriteHistory());
    Window->Results()->OpenHistory(HistoryFile);
    TResultsWindow *w = Results();
    w->Tabs->setCurrentWidget(w->History);
    THistoryView *h = w->History;
    h->TrainerFilter->setCurrentIndex(1);  // all trainers
    ASSERT_EQ(h->Table->rowCount(), 4);
    EXPECT_EQ(Cell(h->Table, 0, 1), "Trainer calibration");
    EXPECT_EQ(Cell(h->Table, 0, 3), "spin-down: succeeded, spin-down 8.08 s");
    EXPECT_EQ(Cell(h->Table, 1, 3), "P2 +1.5 km/h") << "newest session next";
    EXPECT_EQ(Cell(h->Table, 3, 3), "P2 +0.5 km/h");
    h->PointChoice->setCurrentText("P2");
    const QString summary = h->Chart->accessibleDescription();
    EXPECT_TRUE(summary.startsWith("Deviation of P2 from its target over 3 sessions, latest +1.5 km/h"))
        << summary.toStdString();
    EXPECT_TRUE(summary.endsWith("1 spin-down times.")) << summary.toStdString();

    const std::string csvFile = Hive.Dir + "/export.csv";
    ASSERT_TRUE(h->ExportCsv(QString::fromStdString(csvFile)));
    std::ifstream in(csvFile, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const auto records = fennick::test::ReadCsv(text.str());
    ASSERT_EQ(records.size(), 5u) << "a header, a row per point, a row per trainer calibration";
    const auto &header = records[0];
    const auto column = [&](const std::string &Name) {
        return static_cast<size_t>(std::find(header.begin(), header.end(), Name) - header.begin());
    };
    ASSERT_LT(column("settings_file"), header.size());
    int points = 0;
    for (size_t r = 1; r < records.size(); ++r) {
        ASSERT_EQ(records[r].size(), header.size());
        if (records[r][column("record")] == "point") {
            ++points;
            EXPECT_EQ(records[r][column("settings_file")], "/home/rider/virel, \"old\".reg");
            EXPECT_EQ(records[r][column("point")], "P2");
        }
    }
    EXPECT_EQ(points, 3);

    const std::string png = Hive.Dir + "/drift.png";
    ASSERT_TRUE(h->SaveChartPng(QString::fromStdString(png)));
    EXPECT_FALSE(QImage(QString::fromStdString(png)).isNull());
    EXPECT_TRUE(Dialogs.Shown.size() == 1) << Dialogs.Shown.back().Text;
}

TEST_F(ResultsWindowTest, AHistoryFileThatCannotBeUsedIsNamedAndTheCalibrationGoesOn)
{
    std::ofstream(HistoryFile, std::ios::binary) << std::string(4096, '\x5A');
    Window->Results()->OpenHistory(HistoryFile);
    EXPECT_EQ(Window->Results()->History(), nullptr);
    EXPECT_NE(Window->Results()->HistoryError().find(HistoryFile), std::string::npos)
        << Window->Results()->HistoryError();
    bool logged = false;
    for (const std::string &line : Window->MemoLines().ToVector())
        logged = logged || (line.find("History: ") != std::string::npos && line.find(HistoryFile) != std::string::npos);
    EXPECT_TRUE(logged);

    TResultsWindow *w = Results();
    w->Tabs->setCurrentWidget(w->History);
    EXPECT_EQ(w->History->Status->text().toStdString(), "No history: the history file could not be opened.");
    EXPECT_FALSE(w->History->ExportCsvButton->isEnabled());
    Window->Button1->click();
    Tick(20);
    w->Tabs->setCurrentWidget(w->Session);
    EXPECT_EQ(w->Session->Table->rowCount(), 1) << "the calibration's results go on without a history";
}
