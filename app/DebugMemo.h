#pragma once
// The debug memo's widget. It lies outside the client area and stays hidden, so its text
// document, about 0.9 KB a line, is only built while it is shown: on showing it takes the
// lines kept so far, and from then on the window appends to it.
#include <QPlainTextEdit>

#include <functional>

class TDebugMemo : public QPlainTextEdit {
public:
    explicit TDebugMemo(QWidget *Parent) : QPlainTextEdit(Parent) {}
    std::function<void()> OnShown;
    std::function<void()> OnHidden;

protected:
    void showEvent(QShowEvent *Event) override;
    void hideEvent(QHideEvent *Event) override;
};
