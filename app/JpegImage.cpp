#include "app/JpegImage.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace {

// libjpeg reports errors by calling error_exit, which must not return; we jump back to the
// decoder. Only plain C data lives in the frame that the jump crosses.
struct TJpegError {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
};

extern "C" void JpegErrorExit(j_common_ptr Info)
{
    std::longjmp(reinterpret_cast<TJpegError *>(Info->err)->Jump, 1);
}

// Warnings (a truncated picture, for one) are not worth a line on stderr.
extern "C" void JpegSilentMessage(j_common_ptr) {}

struct TRawPicture {
    unsigned char *Pixels;  // malloc'ed RGB rows, Width * 3 bytes each
    unsigned Width;
    unsigned Height;
    char Message[JMSG_LENGTH_MAX];
};

bool DecodeRaw(const unsigned char *Data, unsigned long Size, TRawPicture *Out)
{
    jpeg_decompress_struct info;
    TJpegError error;
    info.err = jpeg_std_error(&error.Base);
    error.Base.error_exit = JpegErrorExit;
    error.Base.output_message = JpegSilentMessage;
    Out->Pixels = nullptr;
    Out->Message[0] = 0;
    if (setjmp(error.Jump)) {
        (*info.err->format_message)(reinterpret_cast<j_common_ptr>(&info), Out->Message);
        jpeg_destroy_decompress(&info);
        std::free(Out->Pixels);
        Out->Pixels = nullptr;
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, Data, Size);
    jpeg_read_header(&info, TRUE);
    if (info.image_width > MaxJpegSide || info.image_height > MaxJpegSide) {
        std::snprintf(Out->Message, sizeof Out->Message, "picture of %ux%u is larger than %ux%u",
                      info.image_width, info.image_height, MaxJpegSide, MaxJpegSide);
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    Out->Width = info.output_width;
    Out->Height = info.output_height;
    const size_t stride = static_cast<size_t>(Out->Width) * 3;
    Out->Pixels = static_cast<unsigned char *>(std::malloc(stride * Out->Height));
    if (!Out->Pixels) {
        std::snprintf(Out->Message, sizeof Out->Message, "out of memory");
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = Out->Pixels + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

QImage DecodeJpeg(const std::string &Bytes, std::string *Error)
{
    TRawPicture raw;
    if (!DecodeRaw(reinterpret_cast<const unsigned char *>(Bytes.data()), Bytes.size(), &raw)) {
        if (Error)
            *Error = raw.Message;
        return QImage();
    }
    QImage image(static_cast<int>(raw.Width), static_cast<int>(raw.Height), QImage::Format_RGB888);
    const size_t stride = static_cast<size_t>(raw.Width) * 3;
    if (!image.isNull())
        for (unsigned y = 0; y < raw.Height; ++y)
            std::memcpy(image.scanLine(static_cast<int>(y)), raw.Pixels + stride * y, stride);
    std::free(raw.Pixels);
    if (image.isNull() && Error)
        *Error = "out of memory";
    return image;
}
