#include "app/Dialogs.h"

#include "framework/Exception.h"

#include <QApplication>
#include <QMessageBox>

namespace {

class TMessageBoxDialogs : public TDialogs {
public:
    void ShowMessage(const std::string &Text, const std::string &Details) override
    {
        Show(QMessageBox::NoIcon, Text, Details);
    }
    void ShowError(const std::string &Text, const std::string &Details) override
    {
        Show(QMessageBox::Critical, Text, Details);
    }

private:
    static void Show(QMessageBox::Icon Icon, const std::string &Text, const std::string &Details)
    {
        QMessageBox box(Icon, QGuiApplication::applicationDisplayName(), QString::fromStdString(Text),
                        QMessageBox::Ok, QApplication::activeWindow());
        if (!Details.empty())
            box.setDetailedText(QString::fromStdString(Details));
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

void ShowMessage(const std::string &Text, const std::string &Details)
{
    Dialogs().ShowMessage(Text, Details);
}

void ShowError(const std::string &Text, const std::string &Details)
{
    Dialogs().ShowError(Text, Details);
}

void RunHandler(const std::function<void()> &Handler)
{
    try {
        Handler();
    } catch (const Exception &e) {
        const auto *details = dynamic_cast<const TErrorDetails *>(&e);
        ShowError(e.Message(), details ? details->Details() : std::string());
    } catch (const std::exception &e) {
        ShowError(e.what());
    } catch (...) {
        ShowError("An unexpected error stopped the operation");
    }
}
