#pragma once
// The settings window's screenshot tour ($FENNICK_SCREENSHOT_DIR with --settings, on a virtual
// world of three trainers): the window after 10 s of searching, with the one in the settings
// marked; then with a point the trainer cannot take; then it closes.
#include "app/DiscoverySource.h"

#include <QElapsedTimer>
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
    void SetWindow(TSettingsWindow *Window) { FWindow = Window; }

private:
    void Step();

    std::string FDir;
    QPointer<TSettingsWindow> FWindow;
    QTimer FPoll;
    QElapsedTimer FSearching;
    int FStep = 0;
};
