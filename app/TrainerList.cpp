#include "app/TrainerList.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

// A trainer heard within two broadcast periods counts as heard now.
constexpr double HeardNowSeconds = 2.0;

QStringList RowTexts(const TDiscoverySource &Source, const TDiscoveredDevice &Device, bool Current)
{
    QString maker = Device.ManufacturerId ? QString::fromStdString(Source.Manufacturer(*Device.ManufacturerId)) : QString("unknown");
    if (Device.ModelNumber)
        maker += QString(" model %1").arg(*Device.ModelNumber);
    return {Current ? QString("\u2713 current") : QString(),
            QString::number(Device.DeviceNumber),
            QString::number(Device.TransmissionType),
            maker,
            Device.FeType ? QString::fromStdString(Source.FeType(*Device.FeType)) : QString("unknown"),
            QString::number(Device.MessagesPerSecond, 'f', 1),
            QString::fromStdString(LastHeardText(Device.SecondsSinceHeard))};
}

} // namespace

std::string LastHeardText(double SecondsSinceHeard)
{
    if (SecondsSinceHeard < HeardNowSeconds)
        return "heard now";
    return "not heard since " + std::to_string(static_cast<long long>(std::floor(SecondsSinceHeard))) + " s";
}

TTrainerList::TTrainerList(std::unique_ptr<TDiscoverySource> Source, std::function<bool()> StickBusy, QWidget *Parent)
    : QGroupBox("Trainers on the air", Parent), FSource(std::move(Source)), FStickBusy(std::move(StickBusy))
{
    auto *layout = new QVBoxLayout(this);
    Table = new QTreeWidget(this);
    Table->setAccessibleName("Trainers on the air");
    Table->setRootIsDecorated(false);
    Table->setColumnCount(clCount);
    Table->setHeaderLabels({"", "Device number", "Transmission type", "Manufacturer / model", "FE type",
                            "Messages/s", "Last heard"});
    Table->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Table->setMinimumHeight(120);
    layout->addWidget(Table);

    auto *buttons = new QHBoxLayout;
    SearchButton = new QPushButton("&Search", this);
    StopButton = new QPushButton("S&top", this);
    UseButton = new QPushButton("&Use this trainer", this);
    SearchButton->setAccessibleDescription("Search for trainers on the air with the ANT stick");
    UseButton->setAccessibleDescription("Take the selected trainer's device number into the settings");
    for (QPushButton *b : {SearchButton, StopButton, UseButton})
        buttons->addWidget(b);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    SearchStatus = new QLabel(this);
    SearchStatus->setWordWrap(true);
    SearchStatus->setAccessibleName("Search status");
    layout->addWidget(SearchStatus);

    connect(SearchButton, &QPushButton::clicked, this, [this] { StartSearch(); });
    connect(StopButton, &QPushButton::clicked, this, [this] { StopSearch(); });
    connect(UseButton, &QPushButton::clicked, this, [this] { UseSelected(); });
    connect(Table, &QTreeWidget::itemDoubleClicked, this, [this] { UseSelected(); });
    connect(Table, &QTreeWidget::itemSelectionChanged, this, [this] { ShowButtons(); });
    connect(&FPoll, &QTimer::timeout, this, [this] { Refresh(); });
    ShowButtons();
}

TTrainerList::~TTrainerList()
{
    FSource->Stop();
}

void TTrainerList::SetCurrentNumber(int32_t Number)
{
    FCurrent = Number;
    Refresh();
}

bool TTrainerList::StartSearch()
{
    if (FStickBusy && FStickBusy()) {
        SearchStatus->setText("The ANT stick is in use by the calibration window, which is connected to the "
                              "trainer. Disconnect there, then search.");
        return false;
    }
    std::string why;
    if (!FSource->Start(why)) {
        SearchStatus->setText(QString::fromStdString(why));
        ShowButtons();
        return false;
    }
    SearchStatus->setText("Searching\u2026 Pedal, so that your trainer wakes up and is heard.");
    FPoll.start(PollMs);
    Refresh();
    return true;
}

void TTrainerList::StopSearch()
{
    const bool wasRunning = FSource->Running();
    FSource->Stop();
    FPoll.stop();
    Refresh();
    if (wasRunning)
        SearchStatus->setText("The search is stopped; the ANT stick is free.");
}

void TTrainerList::Refresh()
{
    ShowDevices(FSource->Devices());
    ShowButtons();
}

int32_t TTrainerList::SelectedNumber() const
{
    const QTreeWidgetItem *item = Table->currentItem();
    return item && item->isSelected() ? item->text(clDeviceNumber).toInt() : -1;
}

void TTrainerList::ShowDevices(const std::vector<TDiscoveredDevice> &Devices)
{
    const int32_t selected = SelectedNumber();
    int row = 0;
    for (const TDiscoveredDevice &device : Devices) {
        if (device.Kind != TDiscoveredKind::Trainer)
            continue;
        const bool current = device.DeviceNumber == FCurrent;
        QTreeWidgetItem *item = row < Table->topLevelItemCount() ? Table->topLevelItem(row) : new QTreeWidgetItem(Table);
        const QStringList texts = RowTexts(*FSource, device, current);
        for (int c = 0; c < clCount; ++c)
            item->setText(c, texts[c]);
        QFont font = item->font(clDeviceNumber);
        font.setBold(current);
        for (int c = 0; c < clCount; ++c)
            item->setFont(c, font);
        if (device.DeviceNumber == selected)
            Table->setCurrentItem(item);
        ++row;
    }
    while (Table->topLevelItemCount() > row)
        delete Table->takeTopLevelItem(row);
}

void TTrainerList::ShowButtons()
{
    const bool running = FSource->Running();
    SearchButton->setEnabled(!running);
    StopButton->setEnabled(running);
    UseButton->setEnabled(SelectedNumber() >= 0);
}

void TTrainerList::UseSelected()
{
    const int32_t number = SelectedNumber();
    if (number >= 0 && OnUse)
        OnUse(static_cast<uint16_t>(number));
}
