#include "app/HeaderBand.h"

#include "app/Application.h"
#include "app/Logo.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QToolButton>

namespace {

// A picture that keeps its colours while its window is disabled (the wait dialog disables the
// window): a plain label would grey the logo and leave the header half red.
class TPictureLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.drawPixmap(0, 0, pixmap());
    }
};

} // namespace

THeaderBand::THeaderBand(const char *Name, QWidget *Parent) : QFrame(Parent)
{
    setObjectName(Name);
    setStyleSheet(QString("QFrame#%1 { background: %2; border: none; }").arg(Name, Red));
    setFixedHeight(BandHeight);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 0, 2, 0);
    layout->setSpacing(0);
    FLogo = new TPictureLabel(this);
    FLogo->setFixedSize(150, BandHeight);
    FLogo->setPixmap(QPixmap::fromImage(LogoImage()));
    FLogo->setAccessibleName(ApplicationTitle);
    layout->addWidget(FLogo);
    layout->addStretch(1);
}

QMenu *THeaderBand::Menu()
{
    if (FMenu)
        return FMenu;
    FMenuButton = new QToolButton(this);
    FMenuButton->setText(QString::fromUtf8("Menu \u25BE"));
    FMenuButton->setAccessibleName("Menu");
    FMenuButton->setToolTip("Trainer calibration and more");
    FMenuButton->setPopupMode(QToolButton::InstantPopup);
    FMenuButton->setFixedHeight(BandHeight - 4);
    FMenuButton->setStyleSheet("QToolButton { color: white; border: none; font-weight: bold; padding: 0 4px; }"
                               "QToolButton:hover, QToolButton:pressed { background: rgba(255, 255, 255, 60); }"
                               "QToolButton::menu-indicator { image: none; }");
    FMenu = new QMenu(FMenuButton);
    FMenuButton->setMenu(FMenu);
    static_cast<QHBoxLayout *>(layout())->addWidget(FMenuButton);
    return FMenu;
}
