#include "app/Logo.h"

#include "app/JpegImage.h"
#include "platform/DebugOutput.h"

#include <QFile>
#include <QPixmap>

namespace {

QImage DecodeResource(const QString &Path)
{
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly)) {
        OutputDebugString("picture " + Path.toStdString() + " is not in the executable");
        return QImage();
    }
    const QByteArray bytes = file.readAll();
    std::string error;
    QImage image = DecodeJpeg(std::string(bytes.constData(), static_cast<size_t>(bytes.size())), &error);
    if (image.isNull())
        OutputDebugString("picture " + Path.toStdString() + " does not decode: " + error);
    return image;
}

} // namespace

QImage LogoImage()
{
    return DecodeResource(QStringLiteral(":/fennick/fennick-logo.jpg"));
}

QIcon ApplicationIcon()
{
    const QImage image = DecodeResource(QStringLiteral(":/fennick/fennick-icon.jpg"));
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}
