#include "app/WaitDlg.h"

#include "GuiTestApp.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QTimer>

namespace {

int WaitDialogsAlive()
{
    int n = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        n += dynamic_cast<TWaitDlgForm *>(w) != nullptr;
    return n;
}

class WaitDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Main.resize(314, 246);
        Main.show();
    }
    void TearDown() override
    {
        HideWaitDialog();
        EXPECT_EQ(CurrentWaitDialog(), nullptr);
    }
    QApplication &App = GuiTestApp();  // before any widget
    QWidget Main;
};

TEST_F(WaitDlgTest, ShowsTheMessageAboveADisabledApplication)
{
    ShowWaitDialog("Start to pedal and Wait Connection....", false, true, 1);
    TWaitDlgForm *dialog = CurrentWaitDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->isEnabled());
    EXPECT_FALSE(Main.isEnabled());
    EXPECT_EQ(dialog->LabelWait->text(), "Start to pedal and Wait Connection....");
    EXPECT_FALSE(dialog->BtCancel->isVisible());
    EXPECT_TRUE(dialog->WaitProgress->isVisible());
    EXPECT_FALSE(dialog->WaitProgress->Playing()) << "one still frame";
    EXPECT_EQ(dialog->WaitProgress->CurrentFrame(), 0);
    EXPECT_FALSE(dialog->WaitBar->isVisible());
    EXPECT_EQ(dialog->Panel->ColorScheme(), csDesert);
    EXPECT_TRUE(dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(dialog->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(dialog->size(), QSize(374, 77));
    EXPECT_EQ(dialog->geometry().center(), Main.frameGeometry().center()) << "centred on the main window";
}

TEST_F(WaitDlgTest, CancelAndPictureFollowTheCall)
{
    ShowWaitDialog("Working", true, false, 3);
    TWaitDlgForm *dialog = CurrentWaitDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->BtCancel->isVisible());
    EXPECT_EQ(dialog->BtCancel->text(), "&Cancel");
    EXPECT_FALSE(dialog->WaitProgress->isVisible());
}

TEST_F(WaitDlgTest, HideEnablesTheWindowsAgainAndFreesTheDialog)
{
    ShowWaitDialog("Disconnection ...please wait!", false, true, 1);
    QPointer<TWaitDlgForm> dialog = CurrentWaitDialog();
    HideWaitDialog();
    EXPECT_TRUE(Main.isEnabled());
    EXPECT_TRUE(dialog.isNull());
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
    EXPECT_EQ(WaitDialogsAlive(), 0);

    // A second hide changes nothing, and leaves alone a window the application disabled itself.
    Main.setEnabled(false);
    HideWaitDialog();
    EXPECT_FALSE(Main.isEnabled());
    Main.setEnabled(true);
}

TEST_F(WaitDlgTest, OnlyVisibleEnabledWindowsAreDisabledAndLaterReEnabled)
{
    QWidget alreadyDisabled, hidden;
    alreadyDisabled.show();
    alreadyDisabled.setEnabled(false);
    ShowWaitDialog("Wait", false, true, 1);
    EXPECT_FALSE(Main.isEnabled());
    EXPECT_TRUE(hidden.isEnabled()) << "hidden windows are not touched";
    HideWaitDialog();
    EXPECT_TRUE(Main.isEnabled());
    EXPECT_FALSE(alreadyDisabled.isEnabled()) << "it was not disabled by the dialog";
}

TEST_F(WaitDlgTest, AWindowClosedWhileTheDialogIsUpIsNoTrouble)
{
    auto *other = new QWidget;
    other->show();
    ShowWaitDialog("Wait", false, true, 1);
    delete other;  // the calibration window closes itself before hiding the dialog on Close
    HideWaitDialog();
    EXPECT_TRUE(Main.isEnabled());
}

TEST_F(WaitDlgTest, ColourSchemeIndexes)
{
    const TColorScheme expected[] = {csCustom, csDesert, csGrass, csSilver, csSky, csRose, csSun};
    for (int index = 0; index < 7; ++index) {
        ShowWaitDialog("Wait", false, true, static_cast<uint8_t>(index));
        EXPECT_EQ(CurrentWaitDialog()->Panel->ColorScheme(), expected[index]) << index;
        HideWaitDialog();
    }
    for (uint8_t index : {7, 9, 255}) {
        ShowWaitDialog("Wait", false, true, index);
        EXPECT_EQ(CurrentWaitDialog()->Panel->ColorScheme(), csSilver) << int(index);
        HideWaitDialog();
    }
    // Every named scheme has colours of its own.
    for (int a = csDesert; a <= csSun; ++a)
        for (int b = a + 1; b <= csSun; ++b)
            EXPECT_NE(SchemeColors(TColorScheme(a)).Bottom, SchemeColors(TColorScheme(b)).Bottom) << a << b;
}

TEST_F(WaitDlgTest, ALongMessageWrapsInsideTheLabel)
{
    const std::string longText = "Start to pedal and Wait Connection.... the trainer may take a while "
                                 "to answer when it has just woken up";
    ShowWaitDialog(longText, false, true, 1);
    QLabel *label = CurrentWaitDialog()->LabelWait;
    EXPECT_EQ(label->geometry(), QRect(56, 12, 309, 29));
    EXPECT_TRUE(label->wordWrap());
    const int oneLine = label->fontMetrics().height();
    EXPECT_GT(label->heightForWidth(309), oneLine) << "the text breaks into lines at the label's width";
}

TEST_F(WaitDlgTest, OtherStayOnTopWindowsGoBelowTheDialogUntilItIsHidden)
{
    QWidget palette(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
    palette.show();
    ShowWaitDialog("Wait", false, true, 1);
    EXPECT_FALSE(palette.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(palette.isVisible());
    HideWaitDialog();
    EXPECT_TRUE(palette.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(palette.isVisible());
}

TEST_F(WaitDlgTest, TimersKeepRunningWhileTheDialogIsUp)
{
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(0);
    ShowWaitDialog("Wait", false, true, 1);
    EXPECT_GT(ticks, 0) << "showing processes pending messages once";
    const int shown = ticks;
    HideWaitDialog();
    EXPECT_GT(ticks, shown) << "so does hiding";
}

TEST_F(WaitDlgTest, ASecondShowKeepsOneDialogAndOneHideUndoesIt)
{
    ShowWaitDialog("First", false, true, 1);
    TWaitDlgForm *first = CurrentWaitDialog();
    QWidget later;
    later.show();
    ShowWaitDialog("Second", true, false, 4);
    EXPECT_EQ(CurrentWaitDialog(), first);
    EXPECT_EQ(first->LabelWait->text(), "Second");
    EXPECT_EQ(first->Panel->ColorScheme(), csSky);
    EXPECT_FALSE(first->WaitProgress->isVisible());
    EXPECT_FALSE(later.isEnabled());
    EXPECT_EQ(WaitDialogsAlive(), 1);
    HideWaitDialog();
    EXPECT_TRUE(Main.isEnabled());
    EXPECT_TRUE(later.isEnabled());
}

// A receiver of the application's window messages.
class TMessageSpy : public QObject {
public:
    std::vector<int32_t> Messages;
    std::function<void()> OnMessage;
    bool eventFilter(QObject *, QEvent *E) override
    {
        if (E->type() == TApplicationMessageEvent::EventType()) {
            Messages.push_back(static_cast<TApplicationMessageEvent *>(E)->Msg);
            if (OnMessage)
                OnMessage();
        }
        return false;
    }
};

TEST_F(WaitDlgTest, CancelSendsItsMessageToTheApplication)
{
    TMessageSpy spy;
    qApp->installEventFilter(&spy);
    ShowWaitDialog("Wait", true, true, 1);
    EXPECT_EQ(CurrentWaitDialog()->CancelMessage, 0);
    CurrentWaitDialog()->CancelMessage = 0x8123;
    CurrentWaitDialog()->BtCancel->click();
    EXPECT_EQ(spy.Messages, std::vector<int32_t>{0x8123});

    // A receiver that hides the dialog from inside the click: the dialog goes away safely.
    spy.OnMessage = [] { HideWaitDialog(); };
    QPointer<TWaitDlgForm> dialog = CurrentWaitDialog();
    dialog->BtCancel->click();
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
    EXPECT_TRUE(Main.isEnabled());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.isNull());
    qApp->removeEventFilter(&spy);
}

} // namespace
