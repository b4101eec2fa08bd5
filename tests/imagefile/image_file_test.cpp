// Image files of the command-line tool: pixels read as an independent
// decoder (stb_image) reads them, written and read back unchanged, and where
// the implementation has GDAL, a GeoTIFF's placement and coordinate system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "ImageFile.h"
#include "support/Photos.h"
#include "support/TempDir.h"

namespace {

using vt::imagefile::Format;
using vt::imagefile::Georeferencing;
using vt::payloads::Image;

Image FromPhoto(const vt::test::Photo& photo) {
    Image image(photo.width, photo.height);
    image.rgba = photo.pixels;
    return image;
}

// Every pixel a different mix, alpha running through all its values.
Image Pattern(int width, int height) {
    Image image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = image.Pixel(x, y);
            p[0] = static_cast<std::uint8_t>(x * 7 + y), p[1] = static_cast<std::uint8_t>(y * 5);
            p[2] = static_cast<std::uint8_t>(x ^ y), p[3] = static_cast<std::uint8_t>(x + y * width);
        }
    return image;
}

TEST(ImageFile, ReadsPhotographsAsAnIndependentDecoderDoes) {
    Image image;
    Georeferencing georef;
    std::string error;
    ASSERT_TRUE(vt::imagefile::ReadImage(vt::test::PhotoPath("pier.png"), image, georef, error)) << error;
    EXPECT_EQ(image.rgba, FromPhoto(vt::test::LoadPhoto("pier.png", 4)).rgba);
    EXPECT_FALSE(georef.placed);
    EXPECT_TRUE(georef.wktForms.empty());
    // 16 bits a sample reduced to 8: rounded here, cut off by stb_image.
    ASSERT_TRUE(vt::imagefile::ReadImage(vt::test::PhotoPath("plasma.png"), image, georef, error)) << error;
    const Image plasma = FromPhoto(vt::test::LoadPhoto("plasma.png", 4));
    ASSERT_EQ(image.rgba.size(), plasma.rgba.size());
    int farthest = 0;
    for (size_t i = 0; i < image.rgba.size(); ++i)
        farthest = std::max(farthest, std::abs(image.rgba[i] - plasma.rgba[i]));
    EXPECT_LE(farthest, 1);
    // JPEG decoders may round differently; the images agree closely.
    ASSERT_TRUE(vt::imagefile::ReadImage(vt::test::PhotoPath("board.jpg"), image, georef, error)) << error;
    Image reference = FromPhoto(vt::test::LoadPhoto("board.jpg", 4));
    ASSERT_EQ(image.width, reference.width);
    ASSERT_EQ(image.height, reference.height);
    EXPECT_GT(vt::payloads::Psnr(image, reference), 40.0);

    EXPECT_FALSE(vt::imagefile::ReadImage(vt::test::PhotoPath("none.png"), image, georef, error));
    EXPECT_FALSE(error.empty());
}

// Leaves hexadecimal digits on the stack where the next call's locals lie:
// text the encoder builds there (the address of the pixels GDAL reads) must be
// ended by the encoder, not by what the stack held.
__attribute__((noinline)) void HexDigitsOnTheStack() {
    volatile char digits[16384];
    for (std::size_t i = 0; i < sizeof digits; ++i) digits[i] = "0123456789abcdef"[i % 16];
}

TEST(ImageFile, PngKeepsEveryPixelAndItsAlpha) {
    vt::test::TempDir dir;
    const Image pattern = Pattern(37, 23);
    vt::imagefile::Bytes png;
    std::string error;
    HexDigitsOnTheStack();
    ASSERT_TRUE(vt::imagefile::EncodeImage(Format::Png, pattern, nullptr, "", png, error)) << error;
    Image image;
    Georeferencing georef;
    ASSERT_TRUE(vt::imagefile::ReadImage(dir.Write("p.png", png), image, georef, error)) << error;
    EXPECT_EQ(image.width, 37);
    EXPECT_EQ(image.rgba, pattern.rgba);
}

TEST(ImageFile, GeoTiffCarriesItsPlacementAndCoordinateSystem) {
    if (!vt::imagefile::Writes(Format::GeoTiff)) {
        vt::imagefile::Bytes out;
        std::string error;
        EXPECT_FALSE(vt::imagefile::EncodeImage(Format::GeoTiff, Pattern(4, 4), nullptr, "", out, error));
        EXPECT_NE(error.find("PNG only"), std::string::npos) << error;
        return;
    }
    vt::test::TempDir dir;
    const Image pattern = Pattern(40, 30);
    const vt::imagefile::Placement placement{13.0, 47.5, 0.25, 0.125};
    const std::string wkt =
        "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],PRIMEM[\"Greenwich\",0],"
        "UNIT[\"degree\",0.0174532925199433]]";
    vt::imagefile::Bytes tiff;
    std::string error;
    ASSERT_TRUE(vt::imagefile::EncodeImage(Format::GeoTiff, pattern, &placement, wkt, tiff, error)) << error;
    Image image;
    Georeferencing georef;
    ASSERT_TRUE(vt::imagefile::ReadImage(dir.Write("g.tif", tiff), image, georef, error)) << error;
    EXPECT_EQ(image.rgba, pattern.rgba);
    ASSERT_TRUE(georef.placed);
    EXPECT_EQ(georef.placement.west, 13.0);
    EXPECT_EQ(georef.placement.north, 47.5);
    EXPECT_EQ(georef.placement.pixelX, 0.25);
    EXPECT_EQ(georef.placement.pixelY, 0.125);
    ASSERT_FALSE(georef.wktForms.empty());
    EXPECT_EQ(georef.wktForms.front().rfind("GEOGCS[\"WGS 84\"", 0), 0u) << georef.wktForms.front();
}

TEST(ImageFile, WorldFileNamesTheCentreOfTheTopLeftPixel) {
    EXPECT_EQ(vt::imagefile::WorldFileText({500, 1000, 2, 0.5}), "2\n0\n0\n-0.5\n501\n999.75\n");
    EXPECT_EQ(vt::imagefile::AuxiliaryXmlText("LOCAL_CS[\"a<b&c\"]"),
              "<PAMDataset>\n  <SRS>LOCAL_CS[\"a&lt;b&amp;c\"]</SRS>\n</PAMDataset>\n");
}

}  // namespace
