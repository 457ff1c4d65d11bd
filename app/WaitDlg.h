#pragma once
// The wait dialog: a small borderless window above all others that shows a one-line message
// while a long operation runs, and keeps the rest of the application disabled until it is
// hidden, without blocking the code that showed it.
#include "app/WaitWidgets.h"

#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <cstdint>
#include <string>

// A window message sent to the application object (the Cancel button sends one).
class TApplicationMessageEvent : public QEvent {
public:
    TApplicationMessageEvent(int32_t Msg, intptr_t WParam, intptr_t LParam);
    static QEvent::Type EventType();
    int32_t Msg;
    intptr_t WParam;
    intptr_t LParam;
};

class TWaitDlgForm : public QWidget {
public:
    static constexpr int ClientWidth = 374;
    static constexpr int ClientHeight = 77;

    TWaitDlgForm();

    TGradientPanel *Panel;
    QLabel *LabelWait;
    TWaitProgress *WaitProgress;
    QPushButton *BtCancel;
    QProgressBar *WaitBar;

    // Sent to the application, both parameters 0, when Cancel is pressed.
    int32_t CancelMessage = 0;
    // True while the Cancel button's handler runs.
    bool InCancel() const { return FInCancel; }

private:
    void BtCancelClick();
    bool FInCancel = false;
};

// Shows `Message` in the wait dialog: disables every visible, enabled window of the
// application, keeps the dialog above them (other stay-on-top windows are lowered meanwhile)
// and processes pending messages once so the dialog is painted. `ColorScheme` is a
// TColorScheme index; any other value keeps silver. The picture shows one still frame.
// Shown again while up, the same dialog takes the new message and options, and windows shown
// since are disabled too; one HideWaitDialog undoes everything.
void ShowWaitDialog(const std::string &Message, bool ShowCancel, bool ShowPicture, uint8_t ColorScheme);
// Closes and frees the dialog, enables the windows that showing it disabled and gives the
// stay-on-top windows their place back. Without a dialog only the last step runs.
void HideWaitDialog();

// The dialog now shown, or nullptr.
TWaitDlgForm *CurrentWaitDialog();
