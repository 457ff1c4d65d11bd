#include "app/Dialogs.h"

#include "DialogRecorder.h"
#include "GuiTestApp.h"
#include "framework/Exception.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>

#include <stdexcept>
#include <utility>
#include <vector>

namespace {

TEST(DialogsTest, HandlerErrorsReachTheErrorBoxAndEarlierStepsStay)
{
    TDialogRecorder dialogs;
    int steps = 0;
    RunHandler([&] {
        ++steps;
        ShowMessage("first step done");
        throw EConvertError("'12a' is not a valid integer value");
        ++steps;
    });
    RunHandler([&] { throw std::runtime_error("plain error"); });
    RunHandler([&] { throw 42; });
    RunHandler([&] { ++steps; });
    EXPECT_EQ(steps, 2);
    ASSERT_EQ(dialogs.Shown.size(), 4u);
    EXPECT_EQ(dialogs.Shown[0], (TDialogRecorder::TShown{TDialogRecorder::dkMessage, "first step done"}));
    EXPECT_EQ(dialogs.Shown[1], (TDialogRecorder::TShown{TDialogRecorder::dkError, "'12a' is not a valid integer value"}));
    EXPECT_EQ(dialogs.Shown[2], (TDialogRecorder::TShown{TDialogRecorder::dkError, "plain error"}));
    EXPECT_EQ(dialogs.Shown[3].Kind, TDialogRecorder::dkError);
}

TEST(DialogsTest, DetailsReachTheErrorBoxAndTheRecorder)
{
    {
        TDialogRecorder dialogs;
        RunHandler([] { throw EErrorWithDetails("Error: not able to connect", "why and its fix"); });
        ShowMessage("Trainer Not Found", "the reason");
        // Details added to an error of another class: still caught as that class, and shown.
        bool caughtAsItsClass = false;
        RunHandler([&] {
            try {
                throw EWithDetails<EConvertError>(EConvertError("'12a' is not a valid integer value"), "where");
            } catch (const EConvertError &) {
                caughtAsItsClass = true;
                throw;
            }
        });
        EXPECT_TRUE(caughtAsItsClass);
        ASSERT_EQ(dialogs.Shown.size(), 3u);
        EXPECT_EQ(dialogs.Shown[2], (TDialogRecorder::TShown{TDialogRecorder::dkError, "'12a' is not a valid integer value",
                                                             "where"}));
        EXPECT_EQ(dialogs.Shown[0], (TDialogRecorder::TShown{TDialogRecorder::dkError, "Error: not able to connect",
                                                             "why and its fix"}));
        EXPECT_EQ(dialogs.Shown[1], (TDialogRecorder::TShown{TDialogRecorder::dkMessage, "Trainer Not Found", "the reason"}));
    }

    // The real message box: read while it is up, then dismissed.
    GuiTestApp();
    std::vector<std::pair<std::string, std::string>> seen;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            seen.push_back({box->text().toStdString(), box->detailedText().toStdString()});
            box->accept();
        }
    });
    auto readAndDismiss = [&] { poll.start(); };
    readAndDismiss();
    ShowError("Error: not able to connect", "install the udev rule");
    readAndDismiss();
    ShowError("plain error");
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{
                        {"Error: not able to connect", "install the udev rule"}, {"plain error", ""}}));
}

TEST(DialogsTest, TheRecorderIsInPlaceForItsLifetimeOnly)
{
    {
        TDialogRecorder dialogs;
        EXPECT_EQ(&Dialogs(), &dialogs);
    }
    EXPECT_EQ(dynamic_cast<TDialogRecorder *>(&Dialogs()), nullptr);
}

} // namespace
