#include "app/WaitDlg.h"

#include "platform/UiThread.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

#include <vector>

TApplicationMessageEvent::TApplicationMessageEvent(int32_t Msg, intptr_t WParam, intptr_t LParam)
    : QEvent(EventType()), Msg(Msg), WParam(WParam), LParam(LParam)
{
}

QEvent::Type TApplicationMessageEvent::EventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

TWaitDlgForm::TWaitDlgForm() : QWidget(nullptr, Qt::Dialog | Qt::FramelessWindowHint)
{
    setWindowTitle(QString::fromUtf8("Statut de l'op\u00e9ration"));
    setFixedSize(ClientWidth, ClientHeight);
    setAttribute(Qt::WA_DeleteOnClose, false);

    Panel = new TGradientPanel(this);
    Panel->setGeometry(0, 0, ClientWidth, ClientHeight);

    LabelWait = new QLabel(QStringLiteral("Progression:"), Panel);
    LabelWait->setGeometry(56, 12, 309, 29);
    LabelWait->setWordWrap(true);
    LabelWait->setAttribute(Qt::WA_TranslucentBackground);

    WaitProgress = new TWaitProgress(Panel);
    WaitProgress->move(6, (ClientHeight - TWaitProgress::Side) / 2);
    WaitProgress->hide();

    BtCancel = new QPushButton(QStringLiteral("&Cancel"), Panel);
    BtCancel->setGeometry(ClientWidth - 83, ClientHeight - 31, 75, 25);
    QObject::connect(BtCancel, &QPushButton::clicked, this, [this] { BtCancelClick(); });

    WaitBar = new QProgressBar(Panel);
    WaitBar->setRange(0, 100);
    WaitBar->setGeometry(56, ClientHeight - 25, 220, 15);
    WaitBar->hide();
}

void TWaitDlgForm::BtCancelClick()
{
    FInCancel = true;
    TApplicationMessageEvent message(CancelMessage, 0, 0);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &message);
    FInCancel = false;
}

namespace {

QPointer<TWaitDlgForm> Current;
std::vector<QPointer<QWidget>> DisabledWindows;
// Stay-on-top windows lowered while the dialog is up.
std::vector<QPointer<QWidget>> LoweredTopMosts;

bool StaysOnTop(const QWidget *W)
{
    return W->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

// Changing window flags hides a window; a visible one is shown again.
void SetStaysOnTop(QWidget *W, bool OnTop)
{
    const bool visible = W->isVisible();
    W->setWindowFlag(Qt::WindowStaysOnTopHint, OnTop);
    if (visible)
        W->show();
}

void DisableOtherWindows(const QWidget *Dialog)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != Dialog && w->isWindow() && w->isVisible() && w->isEnabled()) {
            w->setEnabled(false);
            DisabledWindows.emplace_back(w);
        }
}

void EnableDisabledWindows()
{
    for (const QPointer<QWidget> &w : DisabledWindows)
        if (w)
            w->setEnabled(true);
    DisabledWindows.clear();
}

void LowerOtherTopMosts(const QWidget *Dialog)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != Dialog && w->isVisible() && StaysOnTop(w)) {
            SetStaysOnTop(w, false);
            LoweredTopMosts.emplace_back(w);
        }
}

void RestoreTopMosts()
{
    std::vector<QPointer<QWidget>> lowered;
    lowered.swap(LoweredTopMosts);
    for (const QPointer<QWidget> &w : lowered)
        if (w)
            SetStaysOnTop(w, true);
}

// Over the first window the dialog disabled (the main window), else mid-screen.
void CenterDialog(TWaitDlgForm *Dialog)
{
    QRect area;
    for (const QPointer<QWidget> &w : DisabledWindows)
        if (w) {
            area = w->frameGeometry();
            break;
        }
    if (area.isEmpty())
        if (QScreen *screen = QGuiApplication::primaryScreen())
            area = screen->availableGeometry();
    QRect frame(QPoint(0, 0), Dialog->size());
    frame.moveCenter(area.center());
    Dialog->move(frame.topLeft());
}

} // namespace

void ShowWaitDialog(const std::string &Message, bool ShowCancel, bool ShowPicture, uint8_t ColorScheme)
{
    DisableOtherWindows(Current);
    const bool fresh = !Current;
    if (fresh)
        Current = new TWaitDlgForm();
    TWaitDlgForm *dialog = Current;
    if (ColorScheme < ColorSchemeCount)
        dialog->Panel->SetColorScheme(static_cast<TColorScheme>(ColorScheme));
    dialog->BtCancel->setVisible(ShowCancel);
    dialog->WaitBar->setValue(0);
    if (ShowPicture || !fresh)
        dialog->WaitProgress->setVisible(ShowPicture);
    if (!StaysOnTop(dialog))
        SetStaysOnTop(dialog, true);
    dialog->LabelWait->setText(QString::fromStdString(Message));
    dialog->LabelWait->repaint();
    LowerOtherTopMosts(dialog);
    if (fresh)
        CenterDialog(dialog);
    dialog->show();
    if (!fresh)
        dialog->raise();
    ProcessMessages();
}

void HideWaitDialog()
{
    if (QPointer<TWaitDlgForm> dialog = Current) {
        dialog->WaitProgress->hide();
        dialog->WaitProgress->Stop();
        // Handlers run in here, and one of them may hide the dialog itself.
        ProcessMessages();
        if (dialog) {
            dialog->close();
            // Freed later when this call comes from inside its own Cancel handler.
            if (dialog->InCancel())
                dialog->deleteLater();
            else
                delete dialog.data();
        }
        Current = nullptr;
    }
    EnableDisabledWindows();
    RestoreTopMosts();
}

TWaitDlgForm *CurrentWaitDialog()
{
    return Current;
}
