#pragma once
// The one way the application shows modal messages: plain message boxes with an OK button and
// the error box that shows an error's message. The application uses message boxes; tests put a
// recorder in their place, so nothing waits for a click.
#include "framework/Exception.h"

#include <functional>
#include <string>
#include <utility>

class TDialogs {
public:
    virtual ~TDialogs() = default;
    // A plain modal message with one OK button; returns when it is dismissed. Details, when
    // not empty, are what the box shows on request below the text.
    virtual void ShowMessage(const std::string &Text, const std::string &Details) = 0;
    // The application's error box with the error's message as it stands, and its details.
    virtual void ShowError(const std::string &Text, const std::string &Details) = 0;
};

// An error whose box also carries details: why it happened and how to fix it.
class EErrorWithDetails : public Exception {
public:
    EErrorWithDetails(std::string Message, std::string Details)
        : Exception(std::move(Message)), FDetails(std::move(Details))
    {
    }
    const std::string &Details() const noexcept { return FDetails; }

private:
    std::string FDetails;
};

// The dialogs in use: message boxes unless SetDialogs installed others.
TDialogs &Dialogs();
// Installs `Replacement` (not owned; it must outlive its use); nullptr returns to message boxes.
void SetDialogs(TDialogs *Replacement);

// Shortcuts for Dialogs().ShowMessage / ShowError.
void ShowMessage(const std::string &Text, const std::string &Details = {});
void ShowError(const std::string &Text, const std::string &Details = {});

// Runs a window handler. An error it raises ends the handler there (what it did before stays
// done) and its message (with details, if it has them) goes to the error box; nothing is
// thrown into the event loop.
void RunHandler(const std::function<void()> &Handler);
