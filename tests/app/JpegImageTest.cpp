#include "app/JpegImage.h"
#include "app/Logo.h"

#include "GuiTestApp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

// A JPEG of Width x Height in `Space` with every sample `Value`, made with libjpeg's encoder.
std::string EncodeJpeg(int Width, int Height, J_COLOR_SPACE Space, int Components, unsigned char Value)
{
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = Width;
    info.image_height = Height;
    info.input_components = Components;
    info.in_color_space = Space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(static_cast<size_t>(Width) * Components, Value);
    while (info.next_scanline < info.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    std::string bytes(reinterpret_cast<char *>(buffer), size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return bytes;
}

QImage Decode(const std::string &Bytes, std::string &Error)
{
    Error.clear();
    return DecodeJpeg(Bytes, &Error);
}

TEST(JpegImageTest, TheBuiltInPicturesDecode)
{
    GuiTestApp();
    const QImage logo = LogoImage();
    ASSERT_FALSE(logo.isNull());
    EXPECT_EQ(logo.size(), QSize(150, 25));
    const QColor corner = logo.pixelColor(1, 1);
    EXPECT_GT(corner.red(), 160) << "the logo's band is red";
    EXPECT_LT(corner.green(), 60);
    EXPECT_FALSE(ApplicationIcon().isNull());
}

TEST(JpegImageTest, GreyAndColourPictures)
{
    std::string error;
    const QImage grey = Decode(EncodeJpeg(17, 5, JCS_GRAYSCALE, 1, 200), error);
    ASSERT_FALSE(grey.isNull()) << error;
    EXPECT_EQ(grey.size(), QSize(17, 5));
    EXPECT_NEAR(grey.pixelColor(16, 4).red(), 200, 2);
    EXPECT_NEAR(grey.pixelColor(16, 4).blue(), 200, 2);

    const QImage colour = Decode(EncodeJpeg(33, 9, JCS_RGB, 3, 90), error);
    ASSERT_FALSE(colour.isNull()) << error;
    EXPECT_EQ(colour.size(), QSize(33, 9));
    EXPECT_NEAR(colour.pixelColor(32, 8).green(), 90, 3);
}

TEST(JpegImageTest, BytesThatAreNotAUsableJpegGiveANullImageAndAReason)
{
    std::string error;
    EXPECT_TRUE(Decode("", error).isNull());
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(Decode("GIF89a not a jpeg at all", error).isNull());
    EXPECT_FALSE(error.empty());
    const std::string good = EncodeJpeg(8, 8, JCS_RGB, 3, 10);
    EXPECT_TRUE(Decode(good.substr(0, 40), error).isNull()) << "cut inside the header";
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(Decode(EncodeJpeg(8, 8, JCS_CMYK, 4, 10), error).isNull()) << "CMYK has no RGB form here";
    EXPECT_FALSE(error.empty());
}

TEST(JpegImageTest, AForgedHugeSizeIsRefusedBeforeAnyAllocation)
{
    std::string bytes = EncodeJpeg(1, 1, JCS_RGB, 3, 10);
    // The frame header (SOF0: FF C0, length, precision, height, width).
    const size_t sof = bytes.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    bytes[sof + 5] = '\xEA';  // height 60000
    bytes[sof + 6] = '\x60';
    bytes[sof + 7] = '\xEA';  // width 60000
    bytes[sof + 8] = '\x60';
    std::string error;
    EXPECT_TRUE(Decode(bytes, error).isNull());
    EXPECT_EQ(error, "picture of 60000x60000 is larger than 8192x8192");
}

} // namespace
