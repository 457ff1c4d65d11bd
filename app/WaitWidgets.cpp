#include "app/WaitWidgets.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

TGradientColors SchemeColors(TColorScheme Scheme)
{
    switch (Scheme) {
    case csDesert: return {QColor(250, 232, 196), QColor(196, 152, 96)};
    case csGrass: return {QColor(220, 244, 200), QColor(88, 160, 56)};
    case csSky: return {QColor(226, 240, 255), QColor(100, 160, 224)};
    case csRose: return {QColor(255, 230, 238), QColor(220, 132, 164)};
    case csSun: return {QColor(255, 246, 196), QColor(240, 176, 48)};
    case csCustom:
    case csSilver: break;
    }
    return {QColor(246, 246, 246), QColor(180, 182, 190)};
}

TGradientPanel::TGradientPanel(QWidget *Parent) : QWidget(Parent)
{
    setAutoFillBackground(false);
}

void TGradientPanel::SetColorScheme(TColorScheme Value)
{
    if (Value == FScheme)
        return;
    FScheme = Value;
    update();
}

void TGradientPanel::SetCustomColors(const TGradientColors &Value)
{
    FCustom = Value;
    if (FScheme == csCustom)
        update();
}

TGradientColors TGradientPanel::Colors() const
{
    return FScheme == csCustom ? FCustom : SchemeColors(FScheme);
}

void TGradientPanel::paintEvent(QPaintEvent *)
{
    const TGradientColors colors = Colors();
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, colors.Top);
    gradient.setColorAt(1, colors.Bottom);
    QPainter painter(this);
    painter.fillRect(rect(), gradient);
}

namespace {

// Frame `Index` of the hourglass: the sand runs from the top bulb to the bottom one.
QPixmap HourglassFrame(int Index, int Count, int Side)
{
    QPixmap pixmap(Side, Side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal m = Side * 0.18, top = Side * 0.1, bottom = Side * 0.9, mid = Side / 2.0;
    const qreal left = m, right = Side - m;
    QPainterPath glass;
    glass.moveTo(left, top);
    glass.lineTo(right, top);
    glass.lineTo(mid + 2, mid);
    glass.lineTo(right, bottom);
    glass.lineTo(left, bottom);
    glass.lineTo(mid - 2, mid);
    glass.closeSubpath();
    p.fillPath(glass, QColor(255, 255, 255, 200));

    const qreal share = static_cast<qreal>(Index) / (Count - 1);  // 0: all sand above
    const QColor sand(214, 164, 60);
    const qreal upper = (mid - top) * (1 - share);
    if (upper > 0.5) {
        QPainterPath heap;
        const qreal y = mid - upper, halfWidth = (right - left) / 2 * (upper / (mid - top));
        heap.moveTo(mid - halfWidth, y);
        heap.lineTo(mid + halfWidth, y);
        heap.lineTo(mid, mid);
        heap.closeSubpath();
        p.fillPath(heap, sand);
    }
    const qreal lower = (bottom - mid) * share;
    if (lower > 0.5) {
        QPainterPath heap;
        const qreal halfWidth = (right - left) / 2;
        heap.moveTo(mid - halfWidth, bottom);
        heap.lineTo(mid + halfWidth, bottom);
        heap.lineTo(mid + halfWidth * (1 - lower / (bottom - mid)), bottom - lower);
        heap.lineTo(mid - halfWidth * (1 - lower / (bottom - mid)), bottom - lower);
        heap.closeSubpath();
        p.fillPath(heap, sand);
    }
    p.setPen(QPen(QColor(70, 70, 70), 2));
    p.drawPath(glass);
    p.drawLine(QPointF(left - 3, top), QPointF(right + 3, top));
    p.drawLine(QPointF(left - 3, bottom), QPointF(right + 3, bottom));
    return pixmap;
}

} // namespace

TWaitProgress::TWaitProgress(QWidget *Parent) : QLabel(Parent)
{
    for (int i = 0; i < FrameCount; ++i)
        FFrames.push_back(HourglassFrame(i, FrameCount, Side));
    resize(Side, Side);
    setCursor(Qt::WaitCursor);
    setAccessibleName(QStringLiteral("Please wait"));
    FTimer.setInterval(FrameIntervalMs);
    QObject::connect(&FTimer, &QTimer::timeout, this, [this] { ShowFrame((FFrame + 1) % FrameCount); });
    ShowFrame(0);
}

void TWaitProgress::Play()
{
    FTimer.start();
}

void TWaitProgress::Stop()
{
    FTimer.stop();
}

void TWaitProgress::ShowFrame(int Index)
{
    FFrame = Index;
    setPixmap(FFrames[Index]);
}
