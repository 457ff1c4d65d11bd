#include "app/Dialogs.h"

#include "DialogRecorder.h"
#include "framework/Exception.h"

#include <gtest/gtest.h>

#include <stdexcept>

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

TEST(DialogsTest, TheRecorderIsInPlaceForItsLifetimeOnly)
{
    {
        TDialogRecorder dialogs;
        EXPECT_EQ(&Dialogs(), &dialogs);
    }
    EXPECT_EQ(dynamic_cast<TDialogRecorder *>(&Dialogs()), nullptr);
}

} // namespace
