#include "app/CalibrationWindow.h"

#include "app/Application.h"
#include "app/CalibrationSettings.h"
#include "app/DeviceEventBridge.h"
#include "app/Dialogs.h"
#include "app/HeaderBand.h"
#include "app/HeaderMenu.h"
#include "app/ResultsRecorder.h"
#include "app/Logo.h"
#include "framework/SysUtils.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

bool TForm1::FTwoPointMode = false;

namespace {

QLabel *MakeLabel(QWidget *Parent, const char *Text, int X, int Y, int W, int H)
{
    auto *label = new QLabel(QString::fromUtf8(Text), Parent);
    label->setGeometry(X, Y, W, H);
    return label;
}

QPushButton *MakeButton(QWidget *Parent, const char *Text, int X, int Y, int W)
{
    auto *button = new QPushButton(QString::fromUtf8(Text), Parent);
    button->setGeometry(X, Y, W, 25);
    return button;
}

QFrame *MakeBlock(QWidget *Parent, const char *Name, const char *Colour, int X, int Y, int W, int H)
{
    auto *block = new QFrame(Parent);
    block->setObjectName(Name);
    block->setGeometry(X, Y, W, H);
    block->setStyleSheet(QString("QFrame#%1 { background: %2; border: 1px solid #808080; }").arg(Name, Colour));
    return block;
}

} // namespace

TArrowWidget::TArrowWidget(QWidget *Parent) : QWidget(Parent)
{
    setAccessibleName("Measured speed pointer");
}

void TArrowWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xD0, 0x10, 0x10));
    const double w = width(), h = height(), shaft = w / 3;
    const QPointF outline[] = {{w / 2, 0},          {w, h * 0.45},     {w / 2 + shaft / 2, h * 0.45},
                               {w / 2 + shaft / 2, h}, {w / 2 - shaft / 2, h}, {w / 2 - shaft / 2, h * 0.45},
                               {0, h * 0.45}};
    painter.drawPolygon(outline, 7);
}

TForm1::TForm1() : FDevice(std::make_unique<TTarvoDeviceAntP>(nullptr))
{
    setWindowTitle(ApplicationTitle);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(ClientWidth, ClientHeight);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);

    FDeviceEvents = new TDeviceEventBridge(*FDevice, this);
    FResults = new TResultsRecorder(*FDevice, *FDeviceEvents, FMemoLines, this);
    CreateHeader();
    CreatePointControls();
    CreateScale();
    CreateFooter();
    ApplyDeviceDesignValues();
    BindDeviceEvents();
    FMemoLines.SetMaxLines(MemoLineLimit);
    FMemoLines.AddLineObserver([this](const std::string &Line) { QueueMemoLine(Line); });
    SetSettingsNoticeSink([this](const std::string &Line) { FMemoLines.Add(TimeStamp() + " " + Line); });

    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // Keyboard preview: the window sees every key before the focused control.
    qApp->installEventFilter(this);
    RunHandler([this] { FormCreate(); });
}

TForm1::~TForm1()
{
    // The memo is hidden with the window, after this part of it is gone.
    Memo1->OnShown = {};
    Memo1->OnHidden = {};
    qApp->removeEventFilter(this);
    SetSettingsNoticeSink({});
    // Freeing the device waits for its threads while processing messages: an event queued
    // before must find no window to run in.
    delete FDeviceEvents;
    FDeviceEvents = nullptr;
    // The session's end is written and logged while the log lines still exist.
    delete FResults;
    FResults = nullptr;
    // The device goes next: after it, nothing raises events or writes log lines any more.
    FDevice.reset();
}

void TForm1::CreateHeader()
{
    shp1 = MakeBlock(this, "shp1", "white", 0, 0, ClientWidth, ClientHeight);
    shp1->setStyleSheet("QFrame#shp1 { background: white; border: none; }");
    auto *band = new THeaderBand("Shape3", this);
    band->setGeometry(0, 0, ClientWidth, THeaderBand::BandHeight);
    Shape3 = band;
    Image1 = band->Logo();
    FHeaderMenu = new THeaderMenu(*band, *FDevice, *FDeviceEvents, *FResults, this);
}

void TForm1::CreatePointControls()
{
    Button1 = MakeButton(this, "P1", 8, 34, 60);
    Button2 = MakeButton(this, "P2", 76, 34, 60);
    Button3 = MakeButton(this, "P3", 144, 34, 60);
    lblCirc = MakeLabel(this, "Circumference", 214, 30, 96, 16);
    QFont underlined = lblCirc->font();
    underlined.setBold(true);
    underlined.setUnderline(true);
    lblCirc->setFont(underlined);
    lblCirc->hide();
    editCirc = new QLineEdit("2070", this);
    editCirc->setGeometry(214, 47, 90, 22);
    editCirc->setAccessibleName("Circumference");
    editCirc->hide();
    lblSpeed = MakeLabel(this, "Speed 00,0", 8, 72, 200, 22);
    QFont bold = lblSpeed->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    lblSpeed->setFont(bold);
    lblTarget = MakeLabel(this, "Target Speed: 00,0", 8, 96, 240, 18);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
}

void TForm1::CreateScale()
{
    Shape1 = MakeBlock(this, "Shape1", "white", 8, 136, 305, 17);
    Shape1->setAccessibleName("Speed scale, 0 to 50");
    Shape2 = MakeBlock(this, "Shape2", "aqua", 0, 136, 10, 17);
    Shape2->setAccessibleName("Target speed marker");
    VrArrow1 = new TArrowWidget(this);
    VrArrow1->setGeometry(0, 154, 33, 41);
    Label2 = MakeLabel(this, "---", 254, 117, 56, 16);
    QFont small = Label2->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    Label2->setFont(small);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    set_range(0);
    set_arrow(0);
}

void TForm1::CreateFooter()
{
    Label1 = MakeLabel(this, "Label1", 8, 198, 300, 14);
    Label1->setFont(Label2->font());
    Button5 = MakeButton(this, "Connect", 150, 215, 76);
    Button4 = MakeButton(this, "Close", 232, 215, 76);
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    // Outside the client area: the debug lines are kept, never shown.
    Memo1 = new TDebugMemo(this);
    Memo1->OnShown = [this] { FollowMemoLines(true); };
    Memo1->OnHidden = [this] { FollowMemoLines(false); };
    Memo1->setGeometry(0, ClientHeight + 10, 300, 100);
    Memo1->setReadOnly(true);
    Memo1->setMaximumBlockCount(MemoLineLimit);
    Memo1->setAccessibleName("Debug log");
    Memo1->hide();
    Timer1 = new QTimer(this);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TForm1::ApplyDeviceDesignValues()
{
    TTarvoDeviceAntP &d = *FDevice;
    d.SetRiderWeight(0);
    d.SetUOM(umKm);
    d.SetColor(0);
    d.SetBikeWeight(10);
    d.SetTimerStatsEnabled(false);
    d.SetTimerStatsInterval(0);
    d.SetTimerStatsThreadPriority(tpNormal);
    d.SetTimeToleranceMs(0);
    d.SetCalibration(1);
    d.SetHeartEnabled(false);
    d.SetResistanceReducer(1);
    d.SetUnitType(-1);
    d.SetHighPowerReduceCoefficient(1);
    d.SetHighPowerReduceCoefficientMinimum(0.25);
    d.SetEvenPerTurn(0);
    d.SetDeviceNumber(101);
    d.SetCadenceArrayLength(1);
    d.SetHrArrayLength(5);
    d.SetTolerance(2);
    d.SetVirtualSpeedAttenuation(1);
    d.SetResistanceMode(rmAsPercent);
}

void TForm1::BindDeviceEvents()
{
    TDeviceEventBridge &events = *FDeviceEvents;
    connect(&events, &TDeviceEventBridge::Stats, this, [this] { TarvoDeviceANT1Stats(FDevice.get()); });
    connect(&events, &TDeviceEventBridge::ChannelConnected, this, [this](TAntChannel *Channel) {
        TTarvoDeviceAntP *d = FDevice.get();
        // A channel deleted before the call came through is no longer the device's.
        if (Channel == d->ChannelTrainer() || Channel == d->ChannelHR() || Channel == d->ChannelConsole())
            TarvoDeviceANT1ChannelConnected(d, Channel);
    });
    connect(&events, &TDeviceEventBridge::ConnectChannelTimeOut, this,
            [this](TConnectChannelThread *Sequencer) { TarvoDeviceANT1ConnectChannelTimeOut(FDevice.get(), Sequencer); });
    connect(&events, &TDeviceEventBridge::TrainerCalibrationChanged, this, [this] { TrainerCalibrationChanged(); });
}

void TForm1::FollowMemoLines(bool Shown)
{
    std::vector<std::string> lines;
    {
        std::lock_guard lock(FMemoLock);
        FMemoFollowing = Shown;
        FMemoPending.clear();
        if (Shown)
            lines = FMemoLines.ToVector();
    }
    QStringList text;
    text.reserve(qsizetype(lines.size()));
    for (const std::string &line : lines)
        text.append(QString::fromStdString(line));
    Memo1->setPlainText(text.join('\n'));
}

void TForm1::QueueMemoLine(const std::string &Line)
{
    // Nothing reads the memo between statistics ticks, so the lines wait for the next tick
    // rather than wake the user-interface thread once per received page.
    std::lock_guard lock(FMemoLock);
    if (!FMemoFollowing)
        return;
    FMemoPending.push_back(Line);
    if (FMemoPending.size() > size_t(MemoLineLimit))
        FMemoPending.erase(FMemoPending.begin(), FMemoPending.end() - MemoLineLimit);
}

void TForm1::FlushMemoLines()
{
    std::vector<std::string> lines;
    {
        std::lock_guard lock(FMemoLock);
        lines.swap(FMemoPending);
    }
    for (const std::string &line : lines)
        Memo1->appendPlainText(QString::fromStdString(line));
}

void TForm1::paintEvent(QPaintEvent *Event)
{
    QWidget::paintEvent(Event);
    QPainter painter(this);
    painter.setPen(QColor(0x40, 0x40, 0x40));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool TForm1::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Event->type() != QEvent::KeyPress || !Watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(Watched);
    if (widget->window() != this)
        return false;
    // A key the focused control ignores comes again, to each of its parents: see it once.
    const bool propagated = Event == FLastKey && FLastKeyTarget && widget != FLastKeyTarget &&
                            widget->isAncestorOf(FLastKeyTarget);
    if (propagated)
        return false;
    FLastKey = Event;
    FLastKeyTarget = widget;
    auto *key = static_cast<QKeyEvent *>(Event);
    RunHandler([&] { FormKeyDown(key->key(), key->modifiers()); });
    return false;
}
