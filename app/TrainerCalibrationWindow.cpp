#include "app/TrainerCalibrationWindow.h"

#include "app/Application.h"
#include "app/HeaderBand.h"
#include "app/TrainerCalibrationAdvice.h"
#include "device/TarvoDeviceAntP.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

bool TDeviceTrainerCalibrationSource::TrainerConnected() const
{
    const TAntChannel *trainer = FDevice.ChannelTrainer();
    return FDevice.Connected() && trainer != nullptr && trainer->Connected();
}

TTrainerCalibrationView TDeviceTrainerCalibrationSource::View() const { return FDevice.TrainerCalibration(); }

bool TDeviceTrainerCalibrationSource::Start(TTrainerCalibrationKinds Kinds)
{
    return FDevice.StartTrainerCalibration(Kinds);
}

void TDeviceTrainerCalibrationSource::Cancel() { FDevice.CancelTrainerCalibration(); }

namespace {

QLabel *WrappedLabel(QWidget *Parent)
{
    auto *label = new QLabel(Parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

TTrainerCalibrationWindow::TTrainerCalibrationWindow(std::unique_ptr<TTrainerCalibrationSource> Source,
                                                     QWidget *Parent)
    : QWidget(Parent, Qt::Window), FSource(std::move(Source))
{
    setWindowTitle(QString("%1 \u2013 %2").arg(Title, ApplicationTitle));
    setMinimumWidth(420);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new THeaderBand("TrainerCalibrationHeader", this));
    FBody = new QVBoxLayout;
    FBody->setContentsMargins(8, 4, 8, 8);
    layout->addLayout(FBody, 1);
    CreateChoice();
    CreateProgress();
    CreateButtons();
    Refresh();
}

void TTrainerCalibrationWindow::CreateChoice()
{
    auto *group = new QGroupBox("Calibration", this);
    auto *column = new QVBoxLayout(group);
    ZeroOffsetChoice = new QRadioButton("Zero offset (pedals still)", group);
    SpinDownChoice = new QRadioButton("Spin-down (ride up to speed, then coast)", group);
    BothChoice = new QRadioButton("Zero offset and spin-down", group);
    ChoiceReason = WrappedLabel(group);
    for (QRadioButton *choice : {ZeroOffsetChoice, SpinDownChoice, BothChoice}) {
        column->addWidget(choice);
        connect(choice, &QRadioButton::clicked, this, [this] { FChoiceTouched = true; });
    }
    column->addWidget(ChoiceReason);
    FBody->addWidget(group);
}

void TTrainerCalibrationWindow::CreateProgress()
{
    Instruction = WrappedLabel(this);
    QFont large = Instruction->font();
    large.setBold(true);
    large.setPointSizeF(large.pointSizeF() * 1.4);
    Instruction->setFont(large);
    Instruction->setMinimumHeight(Instruction->fontMetrics().height() * 2);
    SpeedBar = new QProgressBar(this);
    SpeedBar->setAccessibleName("Speed against the target speed");
    SpeedBar->setTextVisible(true);
    SpeedBar->hide();
    Detail = WrappedLabel(this);
    Result = WrappedLabel(this);
    FBody->addWidget(Instruction);
    FBody->addWidget(SpeedBar);
    FBody->addWidget(Detail);
    FBody->addWidget(Result);
    FBody->addStretch(1);
}

void TTrainerCalibrationWindow::CreateButtons()
{
    auto *row = new QHBoxLayout;
    StartButton = new QPushButton("Start", this);
    CancelButton = new QPushButton("Cancel", this);
    RunAgainButton = new QPushButton("Run again", this);
    CloseButton = new QPushButton("Close", this);
    row->addStretch(1);
    for (QPushButton *button : {StartButton, CancelButton, RunAgainButton, CloseButton})
        row->addWidget(button);
    FBody->addLayout(row);
    connect(StartButton, &QPushButton::clicked, this, [this] { StartRun(ChosenKinds()); });
    connect(RunAgainButton, &QPushButton::clicked, this, [this] { StartRun(FSource->View().Asked); });
    connect(CancelButton, &QPushButton::clicked, this, [this] {
        FSource->Cancel();
        Refresh();
    });
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
}

TTrainerCalibrationKinds TTrainerCalibrationWindow::ChosenKinds() const
{
    if (BothChoice->isChecked())
        return {true, true};
    return {ZeroOffsetChoice->isChecked(), SpinDownChoice->isChecked()};
}

void TTrainerCalibrationWindow::Choose(TTrainerCalibrationKinds Kinds)
{
    QRadioButton *choice = Kinds.ZeroOffset && Kinds.SpinDown ? BothChoice
                           : Kinds.ZeroOffset                 ? ZeroOffsetChoice
                                                              : SpinDownChoice;
    choice->setChecked(true);
}

void TTrainerCalibrationWindow::StartRun(TTrainerCalibrationKinds Kinds)
{
    if (Kinds.Any() && !FSource->View().Running()) {
        Choose(Kinds);
        FSource->Start(Kinds);
    }
    Refresh();
}

void TTrainerCalibrationWindow::Refresh()
{
    const TTrainerCalibrationView view = FSource->View();
    const bool connected = FSource->TrainerConnected();
    const bool running = view.Running();
    ShowChoice(view, connected, running);

    const TTrainerCalibrationAdvice advice = AdviseTrainerCalibration(view);
    Instruction->setText(QString::fromStdString(connected || running || view.State != tcsIdle
                                                    ? advice.Instruction
                                                    : std::string("No trainer connected.")));
    Detail->setText(QString::fromStdString(advice.Detail));
    Detail->setVisible(!advice.Detail.empty());
    Result->setText(QString::fromStdString(advice.Result));
    Result->setVisible(!advice.Result.empty());
    if (advice.ShowSpeed)
        ShowSpeed(advice.SpeedKmh, advice.TargetSpeedKmh, advice.SpeedText);
    SpeedBar->setVisible(advice.ShowSpeed);

    const bool ended = !running && view.State != tcsIdle;
    StartButton->setEnabled(connected && !running);
    CancelButton->setEnabled(running);
    RunAgainButton->setEnabled(connected && ended && view.Asked.Any());
}

void TTrainerCalibrationWindow::ShowChoice(const TTrainerCalibrationView &View, bool Connected, bool Running)
{
    const TTrainerCalibrationChoice suggestion = SuggestTrainerCalibration(View, Connected);
    if (!FChoiceTouched && !Running && View.State == tcsIdle)
        Choose(suggestion.Kinds);
    ChoiceReason->setText(QString::fromStdString(suggestion.Reason));
    for (QRadioButton *choice : {ZeroOffsetChoice, SpinDownChoice, BothChoice})
        choice->setEnabled(!Running);
}

void TTrainerCalibrationWindow::ShowSpeed(double Kmh, double TargetKmh, const std::string &Text)
{
    // Tenths of km/h; the bar runs a little past the target so that reaching it shows.
    const int target = static_cast<int>(std::lround(TargetKmh * 10));
    SpeedBar->setRange(0, std::max(1, target + target / 4));
    SpeedBar->setValue(std::clamp(static_cast<int>(std::lround(Kmh * 10)), 0, SpeedBar->maximum()));
    SpeedBar->setFormat(QString::fromStdString(Text));
    SpeedBar->setAccessibleDescription(QString::fromStdString(Text));
}

void TTrainerCalibrationWindow::closeEvent(QCloseEvent *Event)
{
    // A trainer left calibrating holds its brake released and waits for a rider who is gone.
    if (FSource->View().Running())
        FSource->Cancel();
    QWidget::closeEvent(Event);
}
