#pragma once
// The two widgets of the wait dialog that Qt has no ready-made form of: a panel with a
// vertical colour gradient in one of a few named schemes, and a small animated picture.
#include <QColor>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QVector>
#include <QWidget>

enum TColorScheme { csCustom, csDesert, csGrass, csSilver, csSky, csRose, csSun };
constexpr int ColorSchemeCount = csSun + 1;

// The top and bottom colour of a scheme (csCustom: the panel's own custom colours).
struct TGradientColors {
    QColor Top;
    QColor Bottom;
};
TGradientColors SchemeColors(TColorScheme Scheme);

class TGradientPanel : public QWidget {
public:
    explicit TGradientPanel(QWidget *Parent = nullptr);

    TColorScheme ColorScheme() const { return FScheme; }
    void SetColorScheme(TColorScheme Value);
    // The colours of csCustom.
    void SetCustomColors(const TGradientColors &Value);
    TGradientColors Colors() const;

protected:
    void paintEvent(QPaintEvent *Event) override;

private:
    TColorScheme FScheme = csSilver;
    TGradientColors FCustom{QColor(255, 255, 255), QColor(192, 192, 192)};
};

// An hourglass in FrameCount frames; it shows frame 0 until Play() runs the frames.
class TWaitProgress : public QLabel {
public:
    static constexpr int FrameCount = 8;
    static constexpr int Side = 44;
    static constexpr int FrameIntervalMs = 120;

    explicit TWaitProgress(QWidget *Parent = nullptr);

    int CurrentFrame() const { return FFrame; }
    bool Playing() const { return FTimer.isActive(); }
    void Play();
    // Stops the frames where they are.
    void Stop();

private:
    void ShowFrame(int Index);

    QVector<QPixmap> FFrames;
    QTimer FTimer;
    int FFrame = 0;
};
