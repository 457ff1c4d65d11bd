#pragma once
// Past sessions and trainer calibrations, of the connected trainer or of all, newest first; a
// chart of one point's deviation and of the spin-down time over the dates, so a rider sees the
// trainer drift; the selection exported as CSV and the chart as PNG.
#include "history/HistoryCsv.h"
#include "history/HistoryStore.h"

#include <QWidget>

#include <functional>
#include <string>

class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

class THistoryView : public QWidget {
public:
    // Store: nullptr when no history could be opened. Trainer: the connected trainer's identity.
    THistoryView(std::function<THistoryStore *()> Store, std::function<std::string()> Trainer, QWidget *Parent);

    // Reads the history again.
    void Refresh();
    // What the buttons do after their file dialog; false with a message box on failure.
    bool ExportCsv(const QString &Path);
    bool SaveChartPng(const QString &Path);
    QString ChartSummary() const;

    QComboBox *TrainerFilter;
    QComboBox *PointChoice;
    QTableWidget *Table;
    QChartView *Chart;
    QLabel *Status;
    QPushButton *ExportCsvButton;
    QPushButton *SaveChartButton;

private:
    void FillTable();
    void FillChart();
    std::string FilterIdentity() const;

    std::function<THistoryStore *()> FStore;
    std::function<std::string()> FTrainer;
    std::vector<THistorySession> FSessions;
    std::vector<THistoryTrainerCalibration> FCalibrations;
};
