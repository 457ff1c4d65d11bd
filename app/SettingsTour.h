#pragma once
// The settings window's screenshot tour ($FENNICK_SCREENSHOT_DIR with --settings): the window
// on a list of three trainers, searching, with the one in the settings marked; then with a
// point the trainer cannot take; then it closes.
#include "app/DiscoverySource.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <string>

class TSettingsWindow;

class TSettingsTour : public QObject {
public:
    static constexpr const char *Trainers = "settings-trainers";
    static constexpr const char *InvalidPoint = "settings-invalid-point";

    explicit TSettingsTour(std::string Dir);
    // Three trainers, one of them with the device number the tour's settings name.
    static std::unique_ptr<TDiscoverySource> Source();
    void SetWindow(TSettingsWindow *Window) { FWindow = Window; }

private:
    void Step();

    std::string FDir;
    QPointer<TSettingsWindow> FWindow;
    QTimer FPoll;
    int FStep = 0;
};
