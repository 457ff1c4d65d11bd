#include "app/SettingsWindow.h"

#include "GuiTestApp.h"
#include "HiveFile.h"
#include "app/CalibrationSettings.h"
#include "app/TrainerList.h"
#include "framework/SysUtils.h"
#include "settings/SettingsFile.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

struct TFakeState {
    bool Running = false;
    std::string Refusal;
    std::vector<TDiscoveredDevice> Devices;
};

class TFakeSource : public TDiscoverySource {
public:
    explicit TFakeSource(std::shared_ptr<TFakeState> State) : FState(std::move(State)) {}
    bool Start(std::string &Why) override
    {
        Why = FState->Refusal;
        FState->Running = Why.empty();
        return FState->Running;
    }
    void Stop() override { FState->Running = false; }
    bool Running() const override { return FState->Running; }
    std::vector<TDiscoveredDevice> Devices() const override { return FState->Devices; }

private:
    std::shared_ptr<TFakeState> FState;
};

TDiscoveredDevice Trainer(uint16_t Number, double SecondsSinceHeard)
{
    TDiscoveredDevice d;
    d.DeviceNumber = Number;
    d.TransmissionType = 5;
    d.ManufacturerId = 32;
    d.FeType = 25;
    d.MessagesPerSecond = 4;
    d.SecondsSinceHeard = SecondsSinceHeard;
    return d;
}

const std::string Installed = "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\TarvoDeviceAntP]\n"
                              "\"TvdAntP_UnitType\"=\"13\"\n\"TvdAntP_DeviceNumber\"=\"4711\"\n"
                              "\"TvdAntP_Diameter\"=\"659.5\"\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo13]\n"
                              "\"Speed1\"=\"20\"\n\"Speed2\"=\"30\"\n\"Speed3\"=\"40\"\n"
                              "\"Resist1\"=\"107\"\n\"Resist2\"=\"61\"\n\"Resist3\"=\"0\"\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Ulmora\\Virel\\Calibration\\Tarvo17]\n"
                              "\"SpeedA\"=\"18\"\n\"ResistA\"=\"90\"\n\"SpeedB\"=\"33\"\n\"ResistB\"=\"40\"\n";

class SettingsWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GuiTestApp();
        SetFormatSettingsOverride(TFormatSettings{});
        Hive.Write(Installed);
        State->Devices = {Trainer(31022, 0.3), Trainer(4711, 0.5), Trainer(602, 14.2)};
        TDiscoveredDevice strap = Trainer(99, 0);
        strap.Kind = TDiscoveredKind::HeartRate;
        State->Devices.push_back(strap);
        Window = std::make_unique<TSettingsWindow>(std::make_unique<TFakeSource>(State), [this] { return Busy; });
    }
    void TearDown() override { SetFormatSettingsOverride(std::nullopt); }
    QString Status() const { return Window->Status->text(); }

    THiveFile Hive;
    std::shared_ptr<TFakeState> State = std::make_shared<TFakeState>();
    bool Busy = false;
    std::unique_ptr<TSettingsWindow> Window;
};

TEST_F(SettingsWindowTest, ShowsTheFileAndRefusesSaveWhileAFieldIsInvalid)
{
    EXPECT_EQ(Window->Edits[sfLevel1]->text(), "107");
    EXPECT_EQ(Window->Diameter->text(), "659.5");
    EXPECT_TRUE(Window->SaveButton->isEnabled());
    EXPECT_EQ(Window->Edits[sfSpeed2]->accessibleName(), "P2 speed");

    Window->Edits[sfSpeed2]->setText("75");
    EXPECT_FALSE(Window->SaveButton->isEnabled());
    EXPECT_EQ(Window->Problems[sfSpeed2]->text(), "The P2 speed must be a whole number of km/h from 1 to 50.");
    EXPECT_EQ(Window->Edits[sfSpeed2]->accessibleDescription(), Window->Problems[sfSpeed2]->text());
    EXPECT_FALSE(Window->SaveRefusal->text().isEmpty());
    EXPECT_FALSE(Window->Save());
    EXPECT_EQ(ReadSpeed(2), 30);

    Window->Edits[sfSpeed2]->setText("35");
    EXPECT_TRUE(Window->SaveButton->isEnabled());
    EXPECT_TRUE(Window->Problems[sfSpeed2]->text().isEmpty());
    Window->SaveButton->click();
    EXPECT_EQ(ReadSpeed(2), 35);
    EXPECT_TRUE(Status().startsWith(QString::fromStdString("Saved to '" + Hive.Path + "'"))) << Status().toStdString();
}

TEST_F(SettingsWindowTest, ChangingTheModelShowsItsPointsAndItsKind)
{
    Window->UnitType->setText("17");
    emit Window->UnitType->editingFinished();
    EXPECT_EQ(Window->PointCount->currentIndex(), 1);
    EXPECT_EQ(Window->Edits[sfSpeed1]->text(), "18");
    EXPECT_EQ(Window->Edits[sfLevel2]->text(), "40");
    EXPECT_EQ(Window->Edits[sfSpeed1]->accessibleName(), "PA speed");
    EXPECT_TRUE(Window->Edits[sfSpeed3]->isHidden());
    ASSERT_TRUE(Window->Save());
    EXPECT_EQ(ReadUnitType(), 17);
    EXPECT_EQ(ReadSpeedB(), 33);
}

TEST_F(SettingsWindowTest, TheListMarksTheCurrentTrainerAndUseTakesTheSelectedOne)
{
    TTrainerList &list = *Window->Trainers;
    ASSERT_TRUE(list.StartSearch());
    EXPECT_FALSE(list.SearchButton->isEnabled());
    QTreeWidget &table = *list.Table;
    ASSERT_EQ(table.topLevelItemCount(), 3);  // the strap is no trainer
    EXPECT_EQ(table.topLevelItem(0)->text(TTrainerList::clCurrent), "");
    EXPECT_EQ(table.topLevelItem(1)->text(TTrainerList::clCurrent), "\u2713 current");
    EXPECT_EQ(table.topLevelItem(2)->text(TTrainerList::clHeard), "not heard since 14 s");
    EXPECT_EQ(table.topLevelItem(0)->text(TTrainerList::clHeard), "heard now");

    EXPECT_FALSE(list.UseButton->isEnabled());
    table.setCurrentItem(table.topLevelItem(0));
    list.UseButton->click();
    EXPECT_EQ(Window->DeviceNumber->text(), "31022");
    EXPECT_EQ(table.topLevelItem(0)->text(TTrainerList::clCurrent), "\u2713 current");
    EXPECT_EQ(table.topLevelItem(1)->text(TTrainerList::clCurrent), "");

    list.StopButton->click();
    EXPECT_FALSE(State->Running);
    EXPECT_TRUE(list.SearchButton->isEnabled());
}

TEST_F(SettingsWindowTest, ASearchSaysWhyItCannotRun)
{
    Busy = true;
    EXPECT_FALSE(Window->Trainers->StartSearch());
    EXPECT_FALSE(State->Running);
    EXPECT_TRUE(Window->Trainers->SearchStatus->text().contains("in use by the calibration window"));
    Busy = false;
    State->Refusal = "No ANT stick was found.";
    EXPECT_FALSE(Window->Trainers->StartSearch());
    EXPECT_EQ(Window->Trainers->SearchStatus->text(), "No ANT stick was found.");
    State->Refusal.clear();
    ASSERT_TRUE(Window->Trainers->StartSearch());
    Window->StopSearch();  // what Connect in the calibration window does first
    EXPECT_FALSE(State->Running);
}

TEST_F(SettingsWindowTest, ExportAndImportCarryTheFieldsAcross)
{
    const std::string exported = Hive.Dir + "/trainer.reg";
    ASSERT_TRUE(Window->ExportTo(exported));
    EXPECT_EQ(Status(), QString::fromStdString("Exported to '" + exported + "'."));
    Window->DeviceNumber->setText("1");
    Window->Edits[sfLevel3]->setText("5");
    ASSERT_TRUE(Window->ImportFrom(exported));
    EXPECT_EQ(Window->DeviceNumber->text(), "4711");
    EXPECT_EQ(Window->Edits[sfLevel3]->text(), "0");
    EXPECT_TRUE(Status().startsWith("Imported from"));

    EXPECT_FALSE(Window->ImportFrom(Hive.Dir + "/missing.reg"));
    EXPECT_TRUE(Status().contains("there is no such file"));
    Window->Diameter->setText("0");
    EXPECT_FALSE(Window->ExportTo(exported));
    EXPECT_EQ(Status(), "Nothing was exported: a field is not valid.");
}

TEST_F(SettingsWindowTest, AFileThatCannotBeSavedIsSaidInTheStatusLine)
{
    Hive.WriteBytes("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Broken\n");
    EXPECT_FALSE(Window->Save());
    EXPECT_TRUE(Status().contains("The previous settings are unchanged.")) << Status().toStdString();
}

} // namespace
