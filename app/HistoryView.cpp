#include "app/HistoryView.h"

#include "app/Dialogs.h"
#include "app/TrainerCalibrationAdvice.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <fstream>

namespace {

QString Date(int64_t Ms) { return QDateTime::fromMSecsSinceEpoch(Ms).toString("yyyy-MM-dd hh:mm"); }
QString HistoryDecimal(double Value, int Decimals = 1) { return QString::fromStdString(LocaleDecimal(Value, Decimals)); }

QString PointsText(const THistorySession &S)
{
    QStringList parts;
    for (const THistoryPoint &p : S.Points)
        parts << QString::fromStdString(p.Name) + " " + (p.DeviationKmh > 0 ? "+" : "") + HistoryDecimal(p.DeviationKmh) +
                     " km/h" + (p.Settled ? "" : " (not settled)");
    return parts.isEmpty() ? QString("no point measured") : parts.join(", ");
}

QString CalibrationText(const THistoryTrainerCalibration &C)
{
    QString s = QString::fromStdString(C.Kinds + ": " + C.Outcome);
    if (C.SpinDownMs)
        s += ", spin-down " + HistoryDecimal(*C.SpinDownMs / 1000.0, 2) + " s";
    if (C.ZeroOffset)
        s += ", zero offset " + QString::number(*C.ZeroOffset);
    return s;
}

QTableWidgetItem *HistoryCell(const QString &Text)
{
    auto *item = new QTableWidgetItem(Text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

} // namespace

THistoryView::THistoryView(std::function<THistoryStore *()> Store, std::function<std::string()> Trainer,
                           QWidget *Parent)
    : QWidget(Parent), FStore(std::move(Store)), FTrainer(std::move(Trainer))
{
    auto *layout = new QVBoxLayout(this);
    auto *filters = new QHBoxLayout;
    TrainerFilter = new QComboBox(this);
    TrainerFilter->addItems({"This trainer", "All trainers"});
    TrainerFilter->setAccessibleName("Trainer");
    PointChoice = new QComboBox(this);
    PointChoice->addItems({"P1", "P2", "P3", "PA", "PB"});
    PointChoice->setAccessibleName("Point in the chart");
    filters->addWidget(new QLabel("Show:", this));
    filters->addWidget(TrainerFilter);
    filters->addSpacing(12);
    filters->addWidget(new QLabel("Chart of point:", this));
    filters->addWidget(PointChoice);
    filters->addStretch(1);
    layout->addLayout(filters);

    Table = new QTableWidget(0, 4, this);
    Table->setHorizontalHeaderLabels({"Date", "What", "Trainer", "Result"});
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setAccessibleName("Past sessions and trainer calibrations");
    layout->addWidget(Table, 1);

    Chart = new QChartView(new QChart, this);
    Chart->setRenderHint(QPainter::Antialiasing);
    Chart->setMinimumHeight(200);
    Chart->setAccessibleName("Drift over the dates");
    layout->addWidget(Chart, 1);

    auto *buttons = new QHBoxLayout;
    Status = new QLabel(this);
    Status->setWordWrap(true);
    ExportCsvButton = new QPushButton("Export CSV\u2026", this);
    SaveChartButton = new QPushButton("Save chart as PNG\u2026", this);
    buttons->addWidget(Status, 1);
    buttons->addWidget(ExportCsvButton);
    buttons->addWidget(SaveChartButton);
    layout->addLayout(buttons);

    connect(TrainerFilter, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
    connect(PointChoice, &QComboBox::currentIndexChanged, this, [this] { FillChart(); });
    connect(ExportCsvButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, "Export the history as CSV", "fennick-history.csv",
                                                          "CSV files (*.csv)");
        if (!path.isEmpty())
            ExportCsv(path);
    });
    connect(SaveChartButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, "Save the chart as PNG", "fennick-drift.png",
                                                          "PNG images (*.png)");
        if (!path.isEmpty())
            SaveChartPng(path);
    });
    Refresh();
}

std::string THistoryView::FilterIdentity() const { return TrainerFilter->currentIndex() == 0 ? FTrainer() : ""; }

void THistoryView::Refresh()
{
    THistoryStore *store = FStore();
    FSessions.clear();
    FCalibrations.clear();
    if (store) {
        FSessions = store->Sessions(FilterIdentity());
        FCalibrations = store->TrainerCalibrations(FilterIdentity());
    }
    QString status = store ? QString("History file: %1").arg(QString::fromStdString(store->Path()))
                           : QString("No history: the history file could not be opened.");
    // Until the trainer has named itself there is no "this trainer" to pick out.
    if (store && TrainerFilter->currentIndex() == 0 && FTrainer().empty())
        status = "No trainer connected yet: every trainer is shown. " + status;
    Status->setText(status);
    ExportCsvButton->setEnabled(store != nullptr);
    FillTable();
    FillChart();
}

void THistoryView::FillTable()
{
    struct TRow {
        int64_t Ms;
        QString What, Trainer, Result;
    };
    std::vector<TRow> rows;
    for (const THistorySession &s : FSessions)
        rows.push_back({s.StartedMs, "Calibration session", QString::fromStdString(s.TrainerIdentity), PointsText(s)});
    for (const THistoryTrainerCalibration &c : FCalibrations)
        rows.push_back({c.TimeMs, "Trainer calibration", QString::fromStdString(c.TrainerIdentity), CalibrationText(c)});
    std::stable_sort(rows.begin(), rows.end(), [](const TRow &a, const TRow &b) { return a.Ms > b.Ms; });
    Table->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const TRow &row = rows[static_cast<size_t>(r)];
        Table->setItem(r, 0, HistoryCell(Date(row.Ms)));
        Table->setItem(r, 1, HistoryCell(row.What));
        Table->setItem(r, 2, HistoryCell(row.Trainer.isEmpty() ? QString("unknown") : row.Trainer));
        Table->setItem(r, 3, HistoryCell(row.Result));
    }
}

void THistoryView::FillChart()
{
    auto *chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto *deviation = new QLineSeries(chart);
    deviation->setName(PointChoice->currentText() + " deviation (km/h)");
    deviation->setPointsVisible(true);
    auto *spinDown = new QScatterSeries(chart);
    spinDown->setName("Spin-down time (s)");
    spinDown->setMarkerSize(8);
    const std::string point = PointChoice->currentText().toStdString();
    int64_t first = 0, last = 0;
    double worst = 0, longest = 0;
    auto span = [&](int64_t Ms) {
        first = first == 0 ? Ms : std::min(first, Ms);
        last = std::max(last, Ms);
    };
    for (auto s = FSessions.rbegin(); s != FSessions.rend(); ++s)
        for (const THistoryPoint &p : s->Points)
            if (p.Name == point && p.Settled) {
                deviation->append(static_cast<qreal>(s->StartedMs), p.DeviationKmh);
                worst = std::max(worst, std::abs(p.DeviationKmh));
                span(s->StartedMs);
            }
    for (auto c = FCalibrations.rbegin(); c != FCalibrations.rend(); ++c)
        if (c->SpinDownMs) {
            spinDown->append(static_cast<qreal>(c->TimeMs), *c->SpinDownMs / 1000.0);
            longest = std::max(longest, *c->SpinDownMs / 1000.0);
            span(c->TimeMs);
        }
    chart->addSeries(deviation);
    auto *dates = new QDateTimeAxis(chart);
    dates->setFormat("MM-dd");
    dates->setTickCount(4);
    dates->setTitleText("date");
    if (first != 0)
        dates->setRange(QDateTime::fromMSecsSinceEpoch(first - 43200000), QDateTime::fromMSecsSinceEpoch(last + 43200000));
    // Around zero, so that a trainer reading high and one reading low look it; never a range
    // of nothing when every session gave the same deviation.
    auto *kmh = new QValueAxis(chart);
    kmh->setTitleText("deviation, km/h");
    const double reach = std::ceil(worst + 0.5);
    kmh->setRange(-reach, reach);
    chart->addAxis(dates, Qt::AlignBottom);
    chart->addAxis(kmh, Qt::AlignLeft);
    deviation->attachAxis(dates);
    deviation->attachAxis(kmh);
    if (spinDown->count() > 0) {
        chart->addSeries(spinDown);
        auto *seconds = new QValueAxis(chart);
        seconds->setTitleText("spin-down, s");
        seconds->setRange(0, std::ceil(longest * 1.2));
        chart->addAxis(seconds, Qt::AlignRight);
        spinDown->attachAxis(dates);
        spinDown->attachAxis(seconds);
    } else {
        delete spinDown;
    }
    QChart *old = Chart->chart();
    Chart->setChart(chart);
    delete old;
    Chart->setAccessibleDescription(ChartSummary());
}

QString THistoryView::ChartSummary() const
{
    const std::string point = PointChoice->currentText().toStdString();
    int points = 0, spinDowns = 0;
    QString latest;
    for (const THistorySession &s : FSessions)
        for (const THistoryPoint &p : s.Points)
            if (p.Name == point && p.Settled && ++points == 1)
                latest = "latest " + QString(p.DeviationKmh > 0 ? "+" : "") + HistoryDecimal(p.DeviationKmh) + " km/h on " +
                         Date(s.StartedMs);
    for (const THistoryTrainerCalibration &c : FCalibrations)
        spinDowns += c.SpinDownMs ? 1 : 0;
    return QString("Deviation of %1 from its target over %2 sessions%3; %4 spin-down times.")
        .arg(PointChoice->currentText())
        .arg(points)
        .arg(latest.isEmpty() ? QString() : ", " + latest)
        .arg(spinDowns);
}

bool THistoryView::ExportCsv(const QString &Path)
{
    std::ofstream out(Path.toStdString(), std::ios::binary | std::ios::trunc);
    if (out)
        WriteHistoryCsv(FSessions, FCalibrations, out);
    out.close();
    if (!out) {
        ShowMessage("The history could not be written to '" + Path.toStdString() + "'.");
        return false;
    }
    Status->setText("Exported " + QString::number(FSessions.size() + FCalibrations.size()) + " records to " + Path);
    return true;
}

bool THistoryView::SaveChartPng(const QString &Path)
{
    if (!Chart->grab().save(Path, "PNG")) {
        ShowMessage("The chart could not be saved as '" + Path.toStdString() + "'.");
        return false;
    }
    Status->setText("Chart saved as " + Path);
    return true;
}
