#pragma once
// The application's pictures, built into the executable: the header logo and the window icon.
#include <QIcon>
#include <QImage>

// The logo of the window header (150 x 25).
QImage LogoImage();
// The window icon.
QIcon ApplicationIcon();
