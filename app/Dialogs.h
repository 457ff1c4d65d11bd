#pragma once
// The one way the application shows modal messages: plain message boxes with an OK button and
// the error box that shows an error's message. The application uses message boxes; tests put a
// recorder in their place, so nothing waits for a click.
#include <functional>
#include <string>

class TDialogs {
public:
    virtual ~TDialogs() = default;
    // A plain modal message with one OK button; returns when it is dismissed.
    virtual void ShowMessage(const std::string &Text) = 0;
    // The application's error box with the error's message as it stands.
    virtual void ShowError(const std::string &Text) = 0;
};

// The dialogs in use: message boxes unless SetDialogs installed others.
TDialogs &Dialogs();
// Installs `Replacement` (not owned; it must outlive its use); nullptr returns to message boxes.
void SetDialogs(TDialogs *Replacement);

// Shortcuts for Dialogs().ShowMessage / ShowError.
void ShowMessage(const std::string &Text);
void ShowError(const std::string &Text);

// Runs a window handler. An error it raises ends the handler there (what it did before stays
// done) and its message goes to the error box; nothing is thrown into the event loop.
void RunHandler(const std::function<void()> &Handler);
