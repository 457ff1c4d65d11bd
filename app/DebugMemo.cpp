#include "app/DebugMemo.h"

void TDebugMemo::showEvent(QShowEvent *Event)
{
    QPlainTextEdit::showEvent(Event);
    if (OnShown)
        OnShown();
}

void TDebugMemo::hideEvent(QHideEvent *Event)
{
    QPlainTextEdit::hideEvent(Event);
    if (OnHidden)
        OnHidden();
}
