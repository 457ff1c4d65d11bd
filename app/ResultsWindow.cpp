#include "app/ResultsWindow.h"

#include "app/Application.h"
#include "app/HeaderBand.h"
#include "app/HistoryView.h"
#include "app/ResultsRecorder.h"
#include "app/SessionResultsView.h"

#include <QTabWidget>
#include <QVBoxLayout>

TResultsWindow::TResultsWindow(TResultsRecorder &Recorder, QWidget *Parent) : QWidget(Parent, Qt::Window)
{
    setWindowTitle(QString("%1 \u2013 %2").arg(Title, ApplicationTitle));
    // Room for the table's six columns and a chart that can be read.
    setMinimumSize(600, 640);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new THeaderBand("ResultsHeader", this));
    Tabs = new QTabWidget(this);
    Session = new TSessionResultsView(Recorder, Tabs);
    History = new THistoryView([&Recorder] { return Recorder.History(); }, [&Recorder] { return Recorder.TrainerIdentity(); },
                               Tabs);
    Tabs->addTab(Session, "This session");
    Tabs->addTab(History, "History");
    layout->addWidget(Tabs, 1);
    connect(&Recorder, &TResultsRecorder::SessionChanged, Session, [this] {
        // Hidden tabs are brought up to date when they are shown: no work while calibrating.
        if (isVisible() && Tabs->currentWidget() == Session)
            Session->Refresh();
    });
    connect(&Recorder, &TResultsRecorder::HistoryChanged, History, [this] {
        if (isVisible() && Tabs->currentWidget() == History)
            History->Refresh();
    });
    connect(Tabs, &QTabWidget::currentChanged, this, [this] {
        if (Tabs->currentWidget() == Session)
            Session->Refresh();
        else
            History->Refresh();
    });
}
