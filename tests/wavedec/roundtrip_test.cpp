// Lossless code streams decode to exactly the pixels that went in, in every
// layout, whatever the stream holds: color, grey, alpha, other precisions,
// signed and sub-sampled components, several tiles, a JP2 file around it.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "WavedecTestUtil.h"

namespace {

using namespace wavedec_test;
using vt::j2kenc::Component;
using vt::j2kenc::Options;

class WavedecRoundTrip : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        board_ = new Image(LoadContent("board.jpg"));
        pier_ = new Image(LoadContent("pier.png"));
        plasma_ = new Image(LoadContent("plasma.png"));
    }
    static void TearDownTestSuite() {
        delete board_;
        delete pier_;
        delete plasma_;
    }
    void SetUp() override {
        ASSERT_EQ(board_->width, 720);
        ASSERT_EQ(pier_->width, 430);
        ASSERT_EQ(plasma_->width, 256);
    }

    // Encodes losslessly and expects every mode to give the exact layout.
    static void ExpectExactInAllModes(const Image& img, const Options& options) {
        const Bytes stream = Encode(img, options);
        ASSERT_FALSE(stream.empty());
        for (int mode = 0; mode <= 2; ++mode) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode);
            Bytes out;
            int components = 0;
            ASSERT_TRUE(DecodeExact(stream, mode, out, &components));
            EXPECT_EQ(components, img.components);
            ASSERT_EQ(out, Expected(img, mode));
        }
    }

    static Image* board_;
    static Image* pier_;
    static Image* plasma_;
};

Image* WavedecRoundTrip::board_ = nullptr;
Image* WavedecRoundTrip::pier_ = nullptr;
Image* WavedecRoundTrip::plasma_ = nullptr;

TEST_F(WavedecRoundTrip, PhotoTilesAreExactInEveryMode) {
    ExpectExactInAllModes(Crop(*board_, 200, 120, 256, 256), Options::Lossless());
    ExpectExactInAllModes(*plasma_, Options::Lossless());
}

TEST_F(WavedecRoundTrip, OddSizedCropIsExact) {
    ExpectExactInAllModes(Crop(*pier_, 101, 37, 173, 61), Options::Lossless());
}

TEST_F(WavedecRoundTrip, SeveralTilesAreExact) {
    Options options = Options::Lossless();
    options.tileSize = 64;
    ExpectExactInAllModes(Crop(*board_, 13, 7, 200, 150), options);
}

TEST_F(WavedecRoundTrip, ImageOffsetOnTheReferenceGridIsExact) {
    Options options = Options::Lossless();
    options.originX = 37;
    options.originY = 5;
    ExpectExactInAllModes(Crop(*pier_, 0, 100, 90, 70), options);
}

TEST_F(WavedecRoundTrip, InfoReportsSizeAndComponents) {
    const Image img = Crop(*pier_, 0, 0, 173, 61);
    const Bytes stream = Encode(img, Options::Lossless());
    int w = -1, h = -1, extra = -1;
    ASSERT_TRUE(j2k_decodeImgInfo(const_cast<std::uint8_t*>(stream.data()), static_cast<int>(stream.size()), w, h,
                                  extra));
    EXPECT_EQ(w, 173);
    EXPECT_EQ(h, 61);
    EXPECT_EQ(extra, 3);
}

// 5:6:5 packs by truncation with blue in bits 15-11 and red in bits 4-0, low
// byte first; component 0 (red) lands in byte 2 of the 3- and 4-byte layouts.
TEST_F(WavedecRoundTrip, PixelLayoutsOfKnownColors) {
    Image img;
    img.width = 4;
    img.height = 1;
    img.components = 3;
    img.pixels = {255, 255, 255,  // white
                  8, 4, 8,        // one step of each channel: 0x0821
                  255, 0, 0,      // red
                  7, 3, 200};     // below one step in red and green
    const Bytes stream = Encode(img, Options::Lossless());
    Bytes rgb565, bgr, bgra;
    ASSERT_TRUE(DecodeExact(stream, 0, rgb565));
    ASSERT_TRUE(DecodeExact(stream, 1, bgr));
    ASSERT_TRUE(DecodeExact(stream, 2, bgra));
    EXPECT_EQ(rgb565, (Bytes{0xFF, 0xFF, 0x21, 0x08, 0x1F, 0x00, 0x00, 0xC8}));
    EXPECT_EQ(bgr, (Bytes{255, 255, 255, 8, 4, 8, 0, 0, 255, 200, 3, 7}));
    EXPECT_EQ(bgra, (Bytes{255, 255, 255, 255, 8, 4, 8, 255, 0, 0, 255, 255, 200, 3, 7, 255}));
}

TEST_F(WavedecRoundTrip, GreyIsReplicatedIntoAllColors) {
    const Image rgb = Crop(*board_, 300, 200, 120, 90);
    Image grey;
    grey.width = rgb.width;
    grey.height = rgb.height;
    grey.components = 1;
    for (size_t i = 0; i < rgb.pixels.size(); i += 3) grey.pixels.push_back(rgb.pixels[i + 1]);
    ExpectExactInAllModes(grey, Options::Lossless());
}

TEST_F(WavedecRoundTrip, FourthComponentIsAlpha) {
    const Image rgba = WithAlpha(Crop(*pier_, 50, 50, 128, 96), *plasma_);
    ExpectExactInAllModes(rgba, Options::Lossless());
}

TEST_F(WavedecRoundTrip, TwoComponentsAreGreyAndAlpha) {
    const Image src = WithAlpha(Crop(*board_, 0, 0, 64, 48), *plasma_);
    std::vector<Component> planes(2);
    Image expect;
    expect.width = 64;
    expect.height = 48;
    expect.components = 2;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            planes[0].samples.push_back(src.at(x, y, 0));
            planes[1].samples.push_back(src.at(x, y, 3));
            expect.pixels.push_back(src.at(x, y, 0));
            expect.pixels.push_back(src.at(x, y, 3));
        }
    Bytes stream;
    ASSERT_TRUE(vt::j2kenc::EncodePlanes(64, 48, planes, Options::Lossless(), stream));
    for (int mode = 0; mode <= 2; ++mode) {
        Bytes out;
        ASSERT_TRUE(DecodeExact(stream, mode, out));
        EXPECT_EQ(out, Expected(expect, mode)) << "mode " << mode;
    }
}

TEST_F(WavedecRoundTrip, ComponentsBeyondTheFourthAreIgnored) {
    const Image rgba = WithAlpha(Crop(*board_, 400, 300, 80, 60), *pier_);
    std::vector<Component> planes(5);
    for (int y = 0; y < rgba.height; ++y)
        for (int x = 0; x < rgba.width; ++x) {
            for (int c = 0; c < 4; ++c) planes[c].samples.push_back(rgba.at(x, y, c));
            planes[4].samples.push_back((x * 7 + y * 3) & 0xFF);
        }
    Bytes stream;
    ASSERT_TRUE(vt::j2kenc::EncodePlanes(rgba.width, rgba.height, planes, Options::Lossless(), stream));
    for (int mode = 0; mode <= 2; ++mode) {
        Bytes out;
        ASSERT_TRUE(DecodeExact(stream, mode, out));
        EXPECT_EQ(out, Expected(rgba, mode)) << "mode " << mode;
    }
}

// Three components of `precision` bits, made from a photo crop: the top 8 bits
// are the photo, the bits below are noise that decoding must drop. Signed
// components hold the same values minus half their range.
void ExpectPrecisionRoundTrip(const Image& photo, unsigned precision, bool isSigned) {
    SCOPED_TRACE(::testing::Message() << precision << " bits" << (isSigned ? ", signed" : ""));
    std::mt19937 noise(precision);
    std::vector<Component> planes(3);
    for (int c = 0; c < 3; ++c) {
        planes[c].precision = precision;
        planes[c].isSigned = isSigned;
        for (int y = 0; y < photo.height; ++y)
            for (int x = 0; x < photo.width; ++x) {
                std::int32_t v;
                if (precision >= 8) {
                    const unsigned low = precision - 8;
                    v = static_cast<std::int32_t>((photo.at(x, y, c) << low) | (noise() & ((1u << low) - 1)));
                } else {
                    v = photo.at(x, y, c) >> (8 - precision);
                }
                if (isSigned) v -= 1 << (precision - 1);
                planes[c].samples.push_back(v);
            }
    }
    Image expect = photo;
    if (precision < 8) {  // scaled to the full 8-bit range
        const unsigned top = (1u << precision) - 1;
        for (auto& p : expect.pixels) p = static_cast<std::uint8_t>(((p >> (8 - precision)) * 255 + top / 2) / top);
    }
    Bytes stream;
    ASSERT_TRUE(vt::j2kenc::EncodePlanes(photo.width, photo.height, planes, Options::Lossless(), stream));
    for (int mode = 0; mode <= 2; ++mode) {
        Bytes out;
        ASSERT_TRUE(DecodeExact(stream, mode, out));
        EXPECT_EQ(out, Expected(expect, mode)) << "mode " << mode;
    }
}

TEST_F(WavedecRoundTrip, OtherPrecisionsAreScaledToEightBits) {
    const Image photo = Crop(*pier_, 200, 100, 96, 64);
    ExpectPrecisionRoundTrip(photo, 16, false);
    ExpectPrecisionRoundTrip(photo, 12, false);
    ExpectPrecisionRoundTrip(photo, 10, false);
    ExpectPrecisionRoundTrip(photo, 4, false);
    ExpectPrecisionRoundTrip(photo, 1, false);
}

TEST_F(WavedecRoundTrip, SignedComponentsAreOffsetToUnsigned) {
    const Image photo = Crop(*board_, 500, 50, 96, 64);
    ExpectPrecisionRoundTrip(photo, 8, true);
    ExpectPrecisionRoundTrip(photo, 12, true);
    ExpectPrecisionRoundTrip(photo, 16, true);
}

// Chroma-like components sampled every second column and row (4:2:0) and one
// sampled every fourth column only: each pixel takes the sample at or before it.
TEST_F(WavedecRoundTrip, SubSampledComponentsAreStretchedToFullSize) {
    const int w = 75, h = 51;  // odd: the last sample covers a single pixel
    const Image photo = Crop(*board_, 100, 300, w, h);
    const unsigned dx[3] = {1, 2, 4};
    const unsigned dy[3] = {1, 2, 1};
    std::vector<Component> planes(3);
    for (int c = 0; c < 3; ++c) {
        planes[c].dx = dx[c];
        planes[c].dy = dy[c];
        const unsigned cw = vt::j2kenc::SampleCount(0, w, dx[c]);
        const unsigned ch = vt::j2kenc::SampleCount(0, h, dy[c]);
        for (unsigned v = 0; v < ch; ++v)
            for (unsigned u = 0; u < cw; ++u) planes[c].samples.push_back(photo.at(u * dx[c], v * dy[c], c));
    }
    Image expect = photo;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                expect.pixels[(static_cast<size_t>(y) * w + x) * 3 + c] =
                    photo.at(x - x % static_cast<int>(dx[c]), y - y % static_cast<int>(dy[c]), c);
    Bytes stream;
    ASSERT_TRUE(vt::j2kenc::EncodePlanes(w, h, planes, Options::Lossless(), stream));
    for (int mode = 0; mode <= 2; ++mode) {
        Bytes out;
        ASSERT_TRUE(DecodeExact(stream, mode, out));
        EXPECT_EQ(out, Expected(expect, mode)) << "mode " << mode;
    }
}

TEST_F(WavedecRoundTrip, Jp2FilesAreRecognisedAndExact) {
    Options options = Options::Lossless();
    options.jp2 = true;
    const Image rgb = Crop(*board_, 10, 10, 100, 80);
    const Bytes stream = Encode(rgb, options);
    ASSERT_GE(stream.size(), 12u);
    ASSERT_EQ(stream[4], 'j');  // signature box, not a bare code stream
    ExpectExactInAllModes(rgb, options);
    ExpectExactInAllModes(WithAlpha(rgb, *pier_), options);
}

// Decodes share nothing: several threads decoding at once get the pixels a
// single thread gets.
TEST_F(WavedecRoundTrip, ConcurrentDecodesAgree) {
    const Bytes lossy = Encode(Crop(*board_, 0, 0, 256, 256), Options::Ratio(10));
    const Bytes lossless = Encode(Crop(*pier_, 0, 0, 256, 200), Options::Lossless());
    Bytes lossyRef, losslessRef;
    ASSERT_TRUE(DecodeExact(lossy, 2, lossyRef));
    ASSERT_TRUE(DecodeExact(lossless, 1, losslessRef));
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                Bytes a, b;
                if (!DecodeExact(lossy, 2, a) || a != lossyRef) ++mismatches[t];
                if (!DecodeExact(lossless, 1, b) || b != losslessRef) ++mismatches[t];
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
