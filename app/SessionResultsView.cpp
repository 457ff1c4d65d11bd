#include "app/SessionResultsView.h"

#include "app/ResultsRecorder.h"
#include "app/TrainerCalibrationAdvice.h"

#include <QChart>
#include <QChartView>
#include <QHeaderView>
#include <QLineSeries>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString SessionDecimal(double Value, int Decimals = 1) { return QString::fromStdString(LocaleDecimal(Value, Decimals)); }

QString Deviation(const TPointVerdict &V)
{
    QString s = (V.DeviationKmh > 0 ? "+" : "") + SessionDecimal(V.DeviationKmh) + " km/h";
    if (V.DeviationPercent)
        s += " (" + QString(*V.DeviationPercent > 0 ? "+" : "") + SessionDecimal(*V.DeviationPercent) + " %)";
    return s;
}

QTableWidgetItem *SessionCell(const QString &Text)
{
    auto *item = new QTableWidgetItem(Text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

// The points to show: an ended one that never saw a sample measured nothing.
std::vector<TPointVerdict> ShownVerdicts(const TCalibrationSession &Session)
{
    std::vector<TPointVerdict> shown;
    for (TPointVerdict &v : Session.Verdicts())
        if (!v.Ended || !v.Samples.empty())
            shown.push_back(std::move(v));
    return shown;
}

} // namespace

TSessionResultsView::TSessionResultsView(const TResultsRecorder &Recorder, QWidget *Parent)
    : QWidget(Parent), FRecorder(Recorder)
{
    auto *layout = new QVBoxLayout(this);
    Table = new QTableWidget(0, 6, this);
    Table->setHorizontalHeaderLabels({"Point", "Level", "Target", "Mean \u00B1 spread", "Deviation", "Settled"});
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->setAccessibleName("This session's points");
    Table->setMinimumHeight(120);
    layout->addWidget(Table);

    auto *chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    FSpeed = new QLineSeries(chart);
    FSpeed->setName("Speed");
    FTarget = new QLineSeries(chart);
    FTarget->setName("Target speed");
    QPen dashed(QColor(0xC8, 0x10, 0x2E));
    dashed.setStyle(Qt::DashLine);
    dashed.setWidth(2);
    FTarget->setPen(dashed);
    chart->addSeries(FSpeed);
    chart->addSeries(FTarget);
    FTime = new QValueAxis(chart);
    FTime->setTitleText("s");
    FTime->setLabelFormat("%d");
    FKmh = new QValueAxis(chart);
    FKmh->setTitleText("km/h");
    FKmh->setLabelFormat("%d");
    FKmh->setTickCount(6);
    chart->addAxis(FTime, Qt::AlignBottom);
    chart->addAxis(FKmh, Qt::AlignLeft);
    for (QLineSeries *series : {FSpeed, FTarget}) {
        series->attachAxis(FTime);
        series->attachAxis(FKmh);
    }
    Chart = new QChartView(chart, this);
    Chart->setRenderHint(QPainter::Antialiasing);
    Chart->setMinimumHeight(220);
    Chart->setAccessibleName("Speed over time");
    layout->addWidget(Chart, 1);
    Refresh();
}

void TSessionResultsView::Refresh()
{
    FillTable();
    FillChart();
    Chart->setAccessibleDescription(ChartSummary());
}

void TSessionResultsView::FillTable()
{
    const std::vector<TPointVerdict> verdicts = ShownVerdicts(FRecorder.Session());
    Table->setRowCount(static_cast<int>(verdicts.size()));
    for (int row = 0; row < static_cast<int>(verdicts.size()); ++row) {
        const TPointVerdict &v = verdicts[static_cast<size_t>(row)];
        const bool measured = !v.Samples.empty();
        Table->setItem(row, 0, SessionCell(QString::fromStdString(v.Name)));
        Table->setItem(row, 1, SessionCell(QString::number(v.Level)));
        Table->setItem(row, 2, SessionCell(SessionDecimal(v.TargetKmh) + " km/h"));
        Table->setItem(row, 3, SessionCell(measured ? SessionDecimal(v.MeanKmh) + " \u00B1 " + SessionDecimal(v.StdDevKmh) + " km/h" : "\u2013"));
        Table->setItem(row, 4, SessionCell(measured ? Deviation(v) : "\u2013"));
        Table->setItem(row, 5, SessionCell(v.Settled ? "yes, after " + QString::number(v.SettleSeconds, 'f', 0) + " s"
                                    : v.Ended ? "no"
                                              : "measuring\u2026"));
    }
}

void TSessionResultsView::FillChart()
{
    const TCalibrationSession &session = FRecorder.Session();
    QList<QPointF> speeds, targets;
    double last = 0;
    for (const TPointSample &s : session.Speeds()) {
        speeds.append({s.Seconds, s.SpeedKmh});
        last = std::max(last, s.Seconds);
    }
    // A step line: each target holds until the next one.
    for (const TTargetStep &s : session.Targets()) {
        if (!targets.isEmpty())
            targets.append({s.Seconds, targets.back().y()});
        targets.append({s.Seconds, s.TargetKmh});
    }
    if (!targets.isEmpty())
        targets.append({std::max(last, targets.back().x()), targets.back().y()});
    FSpeed->replace(speeds);
    FTarget->replace(targets);
    FTime->setRange(0, std::max(60.0, last));
    FKmh->setRange(0, 50);
}

QString TSessionResultsView::ChartSummary() const
{
    const std::vector<TPointVerdict> verdicts = ShownVerdicts(FRecorder.Session());
    if (verdicts.empty())
        return "No point applied yet.";
    QStringList parts;
    for (const TPointVerdict &v : verdicts)
        parts << QString::fromStdString(v.Name) + ": target " + SessionDecimal(v.TargetKmh) + " km/h, " +
                     (v.Samples.empty() ? QString("no speed yet")
                                        : "speed " + SessionDecimal(v.Samples.back().SpeedKmh) + " km/h now, mean " +
                                              SessionDecimal(v.MeanKmh) + " km/h");
    return "Speed over time. " + parts.join("; ") + ".";
}
