#pragma once
// The red band with the logo at the top of the application's windows, with an optional menu
// button at its right end.
#include <QFrame>

class QLabel;
class QMenu;
class QToolButton;

class THeaderBand : public QFrame {
public:
    static constexpr int BandHeight = 25;
    static constexpr const char *Red = "#C8102E";

    THeaderBand(const char *Name, QWidget *Parent);

    QLabel *Logo() const { return FLogo; }
    // The menu behind the button at the band's right end; made with the button on first use.
    QMenu *Menu();
    QToolButton *MenuButton() const { return FMenuButton; }

private:
    QLabel *FLogo;
    QToolButton *FMenuButton = nullptr;
    QMenu *FMenu = nullptr;
};
