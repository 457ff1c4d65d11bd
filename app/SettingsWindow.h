#pragma once
// The settings the calibration window reads, made on Linux: the trainer (taken from the list of
// trainers on the air or typed), the model, its calibration points and the roller diameter,
// each checked as it is typed, saved into the settings file in use, and carried to and from a
// Windows machine as a .reg file. Every text is in a standard widget that a screen reader reads.
#include "app/DiscoverySource.h"
#include "settings/TrainerSettings.h"
#include "platform/Registry.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class TTrainerList;

class TSettingsWindow : public QWidget {
public:
    static constexpr const char *Title = "Settings";

    // StickBusy: whether the calibration window holds the ANT stick. Parent: the window it belongs
    // to; it still opens as a window of its own.
    TSettingsWindow(std::unique_ptr<TDiscoverySource> Source, std::function<bool()> StickBusy,
                    QWidget *Parent = nullptr);

    // Reads the settings file in use again into the fields.
    void Reload();
    // Stops a running search, freeing the stick (the calibration window's Connect needs it).
    void StopSearch();
    bool Save();
    bool ImportFrom(const std::string &Path);
    bool ExportTo(const std::string &Path);

    TTrainerList *Trainers;
    QLineEdit *UnitType;
    QComboBox *PointCount;
    QLineEdit *DeviceNumber;
    QLineEdit *Diameter;
    // Per field (TSettingsField): its editor and the sentence shown while it is not valid.
    std::array<QLineEdit *, sfFieldCount> Edits{};
    std::array<QLabel *, sfFieldCount> FieldLabels{};
    std::array<QLabel *, sfFieldCount> Problems{};
    QLabel *SaveRefusal;
    QPushButton *SaveButton;
    QPushButton *ImportButton;
    QPushButton *ExportButton;
    QPushButton *CloseButton;
    QLabel *Status;

private:
    void CreateFields(QGridLayout &Grid);
    void CreateButtons();
    QLineEdit *AddField(QGridLayout &Grid, int Row, TSettingsField Field, const QString &Unit);
    TSettingsText FieldTexts() const;
    void ShowTexts(const TSettingsText &Text);
    void Revalidate();
    void ModelChanged();
    void ShowPointNames();
    void AskImport();
    void AskExport();

    std::array<QLabel *, sfFieldCount> FUnits{};
    THiveParseResult FHive;  // the file as last read, for the points of another model
    bool FShowing = false;   // fields filled from a file: no re-validation per field
};
