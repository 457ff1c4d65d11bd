#pragma once
// The results beside the calibration window: this session's points with a live chart, and the
// history of past sessions and trainer calibrations.
#include <QWidget>

class QTabWidget;
class THistoryView;
class TResultsRecorder;
class TSessionResultsView;

class TResultsWindow : public QWidget {
public:
    static constexpr const char *Title = "Results";

    // Parent: the window it belongs to; it still opens as a window of its own.
    TResultsWindow(TResultsRecorder &Recorder, QWidget *Parent = nullptr);

    QTabWidget *Tabs;
    TSessionResultsView *Session;
    THistoryView *History;
};
