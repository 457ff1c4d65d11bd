#include "app/Dialogs.h"

#include "framework/Exception.h"

#include <QApplication>
#include <QMessageBox>

namespace {

class TMessageBoxDialogs : public TDialogs {
public:
    void ShowMessage(const std::string &Text) override { Show(QMessageBox::NoIcon, Text); }
    void ShowError(const std::string &Text) override { Show(QMessageBox::Critical, Text); }

private:
    static void Show(QMessageBox::Icon Icon, const std::string &Text)
    {
        QMessageBox box(Icon, QGuiApplication::applicationDisplayName(), QString::fromStdString(Text),
                        QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }
};

TMessageBoxDialogs MessageBoxes;
TDialogs *Current = nullptr;

} // namespace

TDialogs &Dialogs()
{
    return Current ? *Current : MessageBoxes;
}

void SetDialogs(TDialogs *Replacement)
{
    Current = Replacement;
}

void ShowMessage(const std::string &Text)
{
    Dialogs().ShowMessage(Text);
}

void ShowError(const std::string &Text)
{
    Dialogs().ShowError(Text);
}

void RunHandler(const std::function<void()> &Handler)
{
    try {
        Handler();
    } catch (const Exception &e) {
        ShowError(e.Message());
    } catch (const std::exception &e) {
        ShowError(e.what());
    } catch (...) {
        ShowError("An unexpected error stopped the operation");
    }
}
