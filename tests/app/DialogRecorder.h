#pragma once
// Dialogs for tests: every message is recorded and dismissed at once. Installed for the
// recorder's lifetime.
#include "app/Dialogs.h"

#include <string>
#include <vector>

class TDialogRecorder : public TDialogs {
public:
    enum TKind { dkMessage, dkError };
    struct TShown {
        TKind Kind;
        std::string Text;
        std::string Details = {};
        bool operator==(const TShown &) const = default;
    };

    TDialogRecorder() { SetDialogs(this); }
    ~TDialogRecorder() override { SetDialogs(nullptr); }

    void ShowMessage(const std::string &Text, const std::string &Details) override
    {
        Shown.push_back({dkMessage, Text, Details});
    }
    void ShowError(const std::string &Text, const std::string &Details) override
    {
        Shown.push_back({dkError, Text, Details});
    }

    std::vector<TShown> Shown;
};
