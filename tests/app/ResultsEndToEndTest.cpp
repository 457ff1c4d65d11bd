// The results of a calibration through the whole application on the virtual trainer: each
// point's verdict against the trainer's own speed pages, the session in the history file after
// Close, and the history of two runs.
#include "ApplicationOnVirtualTrainer.h"

#include "app/HeaderMenu.h"
#include "app/HistoryView.h"
#include "app/ResultsRecorder.h"
#include "app/ResultsWindow.h"
#include "app/SessionResultsView.h"

#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QTableWidget>

namespace {

class ResultsEndToEndTest : public e2e::TApplicationOnVirtualTrainer {
protected:
    void SetUp() override
    {
        TApplicationOnVirtualTrainer::SetUp();
        UseScenario("rider 0 200 90\n");
        HistoryFile = Hive.Dir + "/history.sqlite";
    }
    void Connect()
    {
        Window = std::make_unique<TForm1>();
        Window->Results()->OpenHistory(HistoryFile);
        Window->show();
        ProcessMessages();
        Window->Button5->click();
        ASSERT_TRUE(PumpUntil([&] { return !Window->Button5->isEnabled(); }, 15000)) << "the trainer never connected";
    }
    // Waits until the point being measured has ended; its verdict.
    TPointVerdict Measured(int Index)
    {
        PumpUntil(
            [&] {
                const auto v = Window->Results()->Session().Verdicts();
                return static_cast<int>(v.size()) > Index && v[static_cast<size_t>(Index)].Ended;
            },
            75000);
        const auto v = Window->Results()->Session().Verdicts();
        return static_cast<int>(v.size()) > Index ? v[static_cast<size_t>(Index)] : TPointVerdict{};
    }
    // The mean of the speeds the trainer's page 16 carried (from the debug log's channel rows)
    // between two times of the session.
    double PageSpeedMean(double FromSeconds, double ToSeconds) const
    {
        const QDateTime start = QDateTime::fromMSecsSinceEpoch(Window->Results()->StartedMs());
        const int startMsOfDay = start.time().msecsSinceStartOfDay();
        double sum = 0;
        int n = 0;
        for (const std::string &line : Window->MemoLines().ToVector()) {
            int h, m, s, ms, count, code;
            unsigned bytes[7];
            if (std::sscanf(line.c_str(), "%d:%d:%d.%d %d %d ch1 %x %x %x %x %x %x %x", &h, &m, &s, &ms, &count, &code,
                            &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4], &bytes[5], &bytes[6]) != 13 ||
                bytes[1] != 0x10)
                continue;
            const double at = ((h * 3600 + m * 60 + s) * 1000 + ms - startMsOfDay) / 1000.0;
            if (at >= FromSeconds && at <= ToSeconds) {
                sum += (bytes[5] | bytes[6] << 8) * 0.0036;
                ++n;
            }
        }
        return n > 0 ? sum / n : -1;
    }
    void ExpectAgreesWithTheTrainer(const TPointVerdict &V)
    {
        ASSERT_TRUE(V.Settled) << V.Name << " did not settle";
        const double end = V.StartedSeconds + V.SettleSeconds;
        EXPECT_NEAR(V.MeanKmh, PageSpeedMean(end - 10, end), 0.5) << V.Name;
        EXPECT_NEAR(V.DeviationKmh, V.MeanKmh - V.TargetKmh, 1e-9);
    }
    void Close()
    {
        QTimer::singleShot(0, Window->Button4, [&] { Window->Button4->click(); });
        ASSERT_EQ(RunApplication(), 0);
        Window.reset();
    }

    std::string HistoryFile;
};

} // namespace

TEST_F(ResultsEndToEndTest, EveryPointSettlesOnTheTrainersSpeedAndTheSessionIsKept)
{
    ASSERT_NO_FATAL_FAILURE(Connect());
    TResultsWindow *results = Window->HeaderMenu()->OpenResults();
    ExpectAgreesWithTheTrainer(Measured(0));
    Window->Button2->click();
    ExpectAgreesWithTheTrainer(Measured(1));
    Window->Button3->click();
    ExpectAgreesWithTheTrainer(Measured(2));

    QTableWidget *table = results->Session->Table;
    ASSERT_EQ(table->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(table->item(row, 0)->text().toStdString(), "P" + std::to_string(row + 1));
        EXPECT_TRUE(table->item(row, 5)->text().startsWith("yes, after")) << table->item(row, 5)->text().toStdString();
    }
    EXPECT_EQ(table->item(1, 1)->text(), "61");
    EXPECT_TRUE(results->Session->Chart->accessibleDescription().contains("P3: target 40.0 km/h"));
    int summaries = 0;
    for (const std::string &line : Window->MemoLines().ToVector())
        summaries += line.find("Point P") != std::string::npos && line.find(" settled after ") != std::string::npos;
    EXPECT_EQ(summaries, 3) << "one line for support per point";
    ASSERT_NO_FATAL_FAILURE(Close());

    std::string error;
    const auto store = THistoryStore::Open(HistoryFile, error);
    ASSERT_TRUE(store) << error;
    const std::vector<THistorySession> sessions = store->Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_TRUE(sessions[0].EndedMs.has_value()) << "Close ended the session";
    EXPECT_EQ(sessions[0].DeviceNumber, e2e::TrainerNumber);
    ASSERT_EQ(sessions[0].Points.size(), 3u);
    EXPECT_EQ(sessions[0].Points[2].Name, "P3");
    EXPECT_TRUE(sessions[0].Points[2].Settled);
    EXPECT_FALSE(sessions[0].Points[2].Samples.empty());
}

TEST_F(ResultsEndToEndTest, ASecondRunShowsBothSessionsInTheHistory)
{
    for (int run = 0; run < 2; ++run) {
        ASSERT_NO_FATAL_FAILURE(Connect());
        ASSERT_TRUE(Measured(0).Settled);
        if (run == 1)
            break;
        ASSERT_NO_FATAL_FAILURE(Close());
    }
    TResultsWindow *results = Window->HeaderMenu()->OpenResults();
    results->Tabs->setCurrentWidget(results->History);
    results->History->TrainerFilter->setCurrentIndex(1);
    EXPECT_EQ(results->History->Table->rowCount(), 2) << "the session in progress is there with its settled point";
    ASSERT_NO_FATAL_FAILURE(Close());

    std::string error;
    const auto store = THistoryStore::Open(HistoryFile, error);
    ASSERT_TRUE(store) << error;
    const std::vector<THistorySession> sessions = store->Sessions();
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_GT(sessions[0].StartedMs, sessions[1].StartedMs) << "newest first";
}
