#pragma once
// This session's points as a table (level, target, mean ± spread, deviation, settled) and a
// chart of the speed over time with each point's target as a step line, live while calibrating.
#include <QWidget>

class QChartView;
class QLineSeries;
class QTableWidget;
class QValueAxis;
class TResultsRecorder;

class TSessionResultsView : public QWidget {
public:
    TSessionResultsView(const TResultsRecorder &Recorder, QWidget *Parent);

    // Reads the recorder again.
    void Refresh();
    // The chart in words, for a screen reader (its accessible description) and for tests.
    QString ChartSummary() const;

    QTableWidget *Table;
    QChartView *Chart;

private:
    void FillTable();
    void FillChart();

    const TResultsRecorder &FRecorder;
    QLineSeries *FSpeed;
    QLineSeries *FTarget;
    QValueAxis *FTime;
    QValueAxis *FKmh;
};
