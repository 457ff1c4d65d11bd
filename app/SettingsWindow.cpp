#include "app/SettingsWindow.h"

#include "app/Application.h"
#include "app/HeaderBand.h"
#include "app/TrainerList.h"
#include "framework/SysUtils.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsHive.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString Text(const std::string &S)
{
    return QString::fromStdString(S);
}

QString Capitalised(const std::string &S)
{
    QString text = Text(S);
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

TSettingsWindow::TSettingsWindow(std::unique_ptr<TDiscoverySource> Source, std::function<bool()> StickBusy,
                                 QWidget *Parent)
    : QWidget(Parent, Qt::Window)
{
    setWindowTitle(QString("%1 \u2013 %2").arg(Title, ApplicationTitle));
    // Room for the list's seven columns and a field's sentence on one line.
    setMinimumWidth(820);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new THeaderBand("SettingsHeader", this));
    auto *body = new QVBoxLayout;
    body->setContentsMargins(10, 6, 10, 10);
    layout->addLayout(body, 1);

    Trainers = new TTrainerList(std::move(Source), std::move(StickBusy), this);
    Trainers->OnUse = [this](uint16_t Number) { DeviceNumber->setText(QString::number(Number)); };
    body->addWidget(Trainers, 1);

    auto *grid = new QGridLayout;
    grid->setColumnStretch(3, 1);
    CreateFields(*grid);
    body->addLayout(grid);
    CreateButtons();
    body->addWidget(SaveRefusal);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {SaveButton, ImportButton, ExportButton})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(CloseButton);
    body->addLayout(buttons);
    body->addWidget(Status);
    Reload();
}

QLineEdit *TSettingsWindow::AddField(QGridLayout &Grid, int Row, TSettingsField Field, const QString &Unit)
{
    auto *edit = new QLineEdit(this);
    auto *label = new QLabel(this);
    label->setBuddy(edit);
    auto *unit = new QLabel(Unit, this);
    auto *problem = new QLabel(this);
    problem->setWordWrap(true);
    problem->setStyleSheet("color: #B00020;");
    problem->setMinimumWidth(420);
    edit->setMaximumWidth(110);
    Grid.addWidget(label, Row, 0);
    Grid.addWidget(edit, Row, 1);
    Grid.addWidget(unit, Row, 2);
    Grid.addWidget(problem, Row, 3);
    Edits[Field] = edit;
    FieldLabels[Field] = label;
    Problems[Field] = problem;
    FUnits[Field] = unit;
    connect(edit, &QLineEdit::textChanged, this, [this] {
        if (!FShowing)
            Revalidate();
    });
    return edit;
}

void TSettingsWindow::CreateFields(QGridLayout &Grid)
{
    UnitType = AddField(Grid, 0, sfUnitType, "");
    connect(UnitType, &QLineEdit::editingFinished, this, [this] { ModelChanged(); });
    PointCount = new QComboBox(this);
    PointCount->addItems({"Three points (P1, P2, P3)", "Two points (PA, PB)"});
    PointCount->setAccessibleName("Calibration points of the model");
    auto *pointsLabel = new QLabel("Calibration &points:", this);
    pointsLabel->setBuddy(PointCount);
    Grid.addWidget(pointsLabel, 1, 0);
    Grid.addWidget(PointCount, 1, 1, 1, 2);
    connect(PointCount, &QComboBox::currentIndexChanged, this, [this] {
        ShowPointNames();
        Revalidate();
    });
    DeviceNumber = AddField(Grid, 2, sfDeviceNumber, "(0: any trainer)");
    Diameter = AddField(Grid, 3, sfDiameter, "mm");
    for (int p = 0; p < 3; ++p) {
        AddField(Grid, 4 + 2 * p, static_cast<TSettingsField>(sfSpeed1 + 2 * p), "km/h");
        AddField(Grid, 5 + 2 * p, static_cast<TSettingsField>(sfLevel1 + 2 * p), "(0 to 200)");
    }
    ShowPointNames();
}

void TSettingsWindow::CreateButtons()
{
    SaveRefusal = new QLabel(this);
    SaveRefusal->setWordWrap(true);
    SaveRefusal->setAccessibleName("Why Save is not possible");
    SaveButton = new QPushButton("&Save", this);
    ImportButton = new QPushButton("&Import\u2026", this);
    ExportButton = new QPushButton("&Export\u2026", this);
    CloseButton = new QPushButton("&Close", this);
    SaveButton->setAccessibleDescription("Write these settings into the settings file that the calibration reads");
    ImportButton->setAccessibleDescription("Take the settings from a .reg file exported on Windows");
    ExportButton->setAccessibleDescription("Write these settings to a .reg file that Windows can import");
    Status = new QLabel(this);
    Status->setWordWrap(true);
    Status->setAccessibleName("Status");
    Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(SaveButton, &QPushButton::clicked, this, [this] { Save(); });
    connect(ImportButton, &QPushButton::clicked, this, [this] { AskImport(); });
    connect(ExportButton, &QPushButton::clicked, this, [this] { AskExport(); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { close(); });
}

void TSettingsWindow::ShowPointNames()
{
    const bool twoPoint = PointCount->currentIndex() == 1;
    for (int f = 0; f < sfFieldCount; ++f) {
        const auto field = static_cast<TSettingsField>(f);
        const QString name = Capitalised(FieldName(field, twoPoint));
        FieldLabels[f]->setText(name + ":");
        Edits[f]->setAccessibleName(name);
        const bool used = FieldUsed(field, twoPoint);
        for (QWidget *w : {static_cast<QWidget *>(FieldLabels[f]), static_cast<QWidget *>(Edits[f]),
                           static_cast<QWidget *>(FUnits[f])})
            w->setVisible(used);
    }
    FieldLabels[sfUnitType]->setText("Trainer &model:");
    FieldLabels[sfDeviceNumber]->setText("&Device number:");
    FieldLabels[sfDiameter]->setText("&Roller diameter:");
}

TSettingsText TSettingsWindow::FieldTexts() const
{
    TSettingsText text;
    text.TwoPoint = PointCount->currentIndex() == 1;
    for (int f = 0; f < sfFieldCount; ++f)
        text.Fields[f] = Edits[f]->text().toStdString();
    return text;
}

void TSettingsWindow::ShowTexts(const TSettingsText &Text)
{
    FShowing = true;
    PointCount->setCurrentIndex(Text.TwoPoint ? 1 : 0);
    for (int f = 0; f < sfFieldCount; ++f)
        Edits[f]->setText(QString::fromStdString(Text.Fields[f]));
    FShowing = false;
    Revalidate();
}

void TSettingsWindow::Revalidate()
{
    const TSettingsCheck check = CheckSettings(FieldTexts());
    for (int f = 0; f < sfFieldCount; ++f) {
        Problems[f]->setText(Text(check.Problems[f]));
        Problems[f]->setVisible(!check.Problems[f].empty());
        Edits[f]->setAccessibleDescription(Text(check.Problems[f]));
    }
    SaveButton->setEnabled(check.Ok());
    ExportButton->setEnabled(check.Ok());
    SaveRefusal->setText(check.Ok() ? QString() : "Save is not possible while a field is not valid: see the red text.");
    SaveRefusal->setVisible(!check.Ok());
    int32_t number = 0;
    Trainers->SetCurrentNumber(check.Problems[sfDeviceNumber].empty() && TryStrToInt(FieldTexts().Fields[sfDeviceNumber], number)
                                   ? number
                                   : -1);
}

// The points shown become the new model's, where the file has that model.
void TSettingsWindow::ModelChanged()
{
    TSettingsText text = FieldTexts();
    int32_t unitType = 0;
    if (!TryStrToInt(text.Fields[sfUnitType], unitType) || !CheckSettings(text).Problems[sfUnitType].empty())
        return;
    TSettingsText fromFile = text;
    ReadModelPoints(FHive, unitType, fromFile);
    bool found = false;
    for (int f = sfSpeed1; f < sfFieldCount; ++f)
        found = found || !fromFile.Fields[f].empty();
    if (found)
        ShowTexts(fromFile);
}

void TSettingsWindow::Reload()
{
    const std::string path = RegistryFile();
    const TSettingsLoad load = LoadSettingsFile(path);
    FHive = load.Hive;
    ShowTexts(load.Text);
    Status->setText(load.Ok ? QString("The settings file is '%1'.").arg(Text(path)) : Text(load.Why));
}

void TSettingsWindow::StopSearch()
{
    Trainers->StopSearch();
}

bool TSettingsWindow::Save()
{
    const TSettingsCheck check = CheckSettings(FieldTexts());
    if (!check.Ok()) {
        Status->setText("Nothing was saved: a field is not valid.");
        return false;
    }
    const std::string path = RegistryFile();
    const TSettingsSave save = SaveSettingsFile(path, check.Settings);
    Status->setText(Text(save.Message));
    if (save.Ok)
        FHive = LoadSettingsFile(path).Hive;
    return save.Ok;
}

bool TSettingsWindow::ImportFrom(const std::string &Path)
{
    const TSettingsLoad import = ImportSettings(Path);
    if (!import.Ok) {
        Status->setText(Text(import.Why));
        return false;
    }
    ShowTexts(import.Text);
    Status->setText(QString("Imported from '%1'. Press Save to use these settings.").arg(Text(Path)));
    return true;
}

bool TSettingsWindow::ExportTo(const std::string &Path)
{
    const TSettingsCheck check = CheckSettings(FieldTexts());
    if (!check.Ok()) {
        Status->setText("Nothing was exported: a field is not valid.");
        return false;
    }
    const TSettingsSave save = ExportSettings(Path, check.Settings);
    Status->setText(Text(save.Message));
    return save.Ok;
}

void TSettingsWindow::AskImport()
{
    const QString path = QFileDialog::getOpenFileName(this, "Import settings", QString(),
                                                      "Registry files (*.reg);;All files (*)");
    if (!path.isEmpty())
        ImportFrom(path.toStdString());
}

void TSettingsWindow::AskExport()
{
    const QString path = QFileDialog::getSaveFileName(this, "Export settings", "fennick-settings.reg",
                                                      "Registry files (*.reg)");
    if (!path.isEmpty())
        ExportTo(path.toStdString());
}
