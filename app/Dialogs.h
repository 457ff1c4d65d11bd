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

// What an error's box shows on request below its message: why it happened and how to fix it.
// Mixed into an error of any class, so that callers catching that class still catch it.
class TErrorDetails {
public:
    explicit TErrorDetails(std::string Details) : FDetails(std::move(Details)) {}
    virtual ~TErrorDetails() = default;
    const std::string &Details() const noexcept { return FDetails; }

private:
    std::string FDetails;
};

// An error whose box also carries details.
class EErrorWithDetails : public Exception, public TErrorDetails {
public:
    EErrorWithDetails(std::string Message, std::string Details)
        : Exception(std::move(Message)), TErrorDetails(std::move(Details))
    {
    }
};

// `Error`, of its own class `E`, with details added.
template <class E>
class EWithDetails : public E, public TErrorDetails {
public:
    EWithDetails(const E &Error, std::string Details) : E(Error), TErrorDetails(std::move(Details)) {}
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
