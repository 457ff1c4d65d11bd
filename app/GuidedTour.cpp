#include "app/GuidedTour.h"

#include "app/CalibrationWindow.h"
#include "app/ScreenshotTour.h"

#include <QApplication>
#include <QMessageBox>

TGuidedTour::TGuidedTour(std::string Dir, int PollMs) : FDir(std::move(Dir))
{
    connect(&FPoll, &QTimer::timeout, this, [this] { Poll(); });
    FPoll.start(PollMs);
}

bool TGuidedTour::Save(const char *Moment) { return TScreenshotTour::SaveTopLevels(FDir, Moment); }

void TGuidedTour::Poll()
{
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); box && box->isVisible()) {
        box->accept();
        return;
    }
    if (FWindow)
        Step(*FWindow);
}
