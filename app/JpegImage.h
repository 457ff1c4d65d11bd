#pragma once
// JPEG pictures decoded with libjpeg.
#include <QImage>

#include <string>

// The largest width or height accepted: a forged header cannot make us allocate gigabytes.
constexpr unsigned MaxJpegSide = 8192;

// Decodes JPEG bytes (greyscale, RGB or YCbCr) into an RGB image. Bytes that are not such a
// JPEG give a null image, and `Error` (when given) says why.
QImage DecodeJpeg(const std::string &Bytes, std::string *Error = nullptr);
