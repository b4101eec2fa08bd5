// Lossy code streams decode to the same pixels as OpenJPEG's own command-line
// decoder, opj_decompress, gives for the same file, reordered to blue, green,
// red (and alpha).
#include <gtest/gtest.h>

#include <string>

#include "WavedecTestUtil.h"

namespace {

using namespace wavedec_test;
using vt::j2kenc::Component;
using vt::j2kenc::Options;

class WavedecVsOpenJpeg : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(VT_OPJ_DECOMPRESS).empty()) GTEST_SKIP() << "opj_decompress is not installed";
    }

    // The reference's samples as an Image (R,G,B[,A] or grey).
    static Image FromPnm(const Pnm& pnm) {
        Image img;
        img.width = pnm.width;
        img.height = pnm.height;
        img.components = pnm.depth;
        img.pixels = pnm.samples;
        return img;
    }

    // Decodes `stream` both ways and compares every mode.
    static void ExpectSameAsReference(const Bytes& stream, bool jp2, const std::string& ext, int width, int height,
                                      const std::string& args = "") {
        ASSERT_FALSE(stream.empty());
        Pnm pnm;
        ASSERT_TRUE(ReferenceDecode(stream, jp2, ext, pnm, args));
        ASSERT_EQ(pnm.width, width);
        ASSERT_EQ(pnm.height, height);
        const Image reference = FromPnm(pnm);
        for (int mode = 0; mode <= 2; ++mode) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode);
            Bytes out;
            ASSERT_TRUE(DecodeExact(stream, mode, out));
            ASSERT_EQ(out, Expected(reference, mode));
        }
    }
};

TEST_F(WavedecVsOpenJpeg, LossyPhotoTileAtRatio) {
    const Image tile = Crop(LoadContent("board.jpg"), 300, 150, 256, 256);
    ExpectSameAsReference(Encode(tile, Options::Ratio(20)), false, "ppm", 256, 256);
}

TEST_F(WavedecVsOpenJpeg, LossyOddCropAtQuality) {
    const Image crop = Crop(LoadContent("pier.png"), 11, 23, 173, 97);
    ExpectSameAsReference(Encode(crop, Options::Quality(34)), false, "ppm", 173, 97);
}

TEST_F(WavedecVsOpenJpeg, LossySeveralTiles) {
    Options options = Options::Ratio(12);
    options.tileSize = 96;
    const Image crop = Crop(LoadContent("plasma.png"), 0, 0, 250, 200);
    ExpectSameAsReference(Encode(crop, options), false, "ppm", 250, 200);
}

TEST_F(WavedecVsOpenJpeg, LossyGrey) {
    const Image rgb = Crop(LoadContent("board.jpg"), 0, 200, 160, 120);
    Image grey;
    grey.width = rgb.width;
    grey.height = rgb.height;
    grey.components = 1;
    for (size_t i = 0; i < rgb.pixels.size(); i += 3) grey.pixels.push_back(rgb.pixels[i]);
    ExpectSameAsReference(Encode(grey, Options::Ratio(10)), false, "pgm", 160, 120);
}

TEST_F(WavedecVsOpenJpeg, LossyWithAlpha) {
    const Image rgba = WithAlpha(Crop(LoadContent("pier.png"), 100, 100, 128, 128), LoadContent("plasma.png"));
    ExpectSameAsReference(Encode(rgba, Options::Ratio(16)), false, "pnm", 128, 128);  // PAM
}

TEST_F(WavedecVsOpenJpeg, LossyJp2File) {
    Options options = Options::Ratio(25);
    options.jp2 = true;
    const Image tile = Crop(LoadContent("board.jpg"), 64, 64, 256, 256);
    ExpectSameAsReference(Encode(tile, options), true, "ppm", 256, 256);
}

// 12-bit samples: the reference, asked to scale to 8 bits (-p 8S), keeps the
// top bits.
TEST_F(WavedecVsOpenJpeg, LossyTwelveBits) {
    const Image photo = Crop(LoadContent("pier.png"), 250, 40, 128, 96);
    std::vector<Component> planes(3);
    for (int c = 0; c < 3; ++c) {
        planes[c].precision = 12;
        for (int y = 0; y < photo.height; ++y)
            for (int x = 0; x < photo.width; ++x)
                planes[c].samples.push_back((photo.at(x, y, c) << 4) | ((x ^ y) & 15));
    }
    Bytes stream;
    ASSERT_TRUE(vt::j2kenc::EncodePlanes(photo.width, photo.height, planes, Options::Ratio(15), stream));
    ExpectSameAsReference(stream, false, "ppm", photo.width, photo.height, "-p 8S,8S,8S");
}

// Sub-sampled components: the reference stretches them with -upsample. (The
// second component keeps full width: opj_decompress takes a code stream whose
// second component is horizontally sub-sampled for YCbCr and converts it,
// which Wavedec, reading components as red, green and blue, does not.)
TEST_F(WavedecVsOpenJpeg, LossySubSampled) {
    const int w = 128, h = 95;
    const Image photo = Crop(LoadContent("board.jpg"), 20, 300, w, h);
    const unsigned dx[3] = {1, 1, 2};
    const unsigned dy[3] = {1, 2, 2};
    std::vector<Component> planes(3);
    for (int c = 0; c < 3; ++c) {
        planes[c].dx = dx[c];
        planes[c].dy = dy[c];
        for (int y = 0; y < h; y += static_cast<int>(dy[c]))
            for (int x = 0; x < w; x += static_cast<int>(dx[c])) planes[c].samples.push_back(photo.at(x, y, c));
    }
    Bytes stream;
    ASSERT_TRUE(vt::j2kenc::EncodePlanes(w, h, planes, Options::Ratio(10), stream));
    ExpectSameAsReference(stream, false, "ppm", w, h, "-upsample");
}

}  // namespace
