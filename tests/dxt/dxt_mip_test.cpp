// Mip chains: the truncating 2 x 2 averaging (color only, or all four
// bytes) in both forms, the chain's layout and byte counts, power-of-two
// chains equal to the literal in-place rule, and other shapes averaging only
// pixels that exist.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dxt/DxtEncoder.h"
#include "dxt/DxtInternal.h"
#include "dxt/DxtTestSupport.h"
#include "support/CpuForms.h"

namespace {

using namespace vt::dxt;

using dxttest::ScopedForm;

TEST(DxtMipBytes, ChainSizes) {
    EXPECT_EQ(DxtMipChainBytes(256, 256, kDxt1), 43704);
    EXPECT_EQ(DxtMipChainBytes(256, 256, kDxt5), 87408);
    EXPECT_EQ(DxtMipChainBytes(1, 1, kDxt1), 8);
    EXPECT_EQ(DxtMipChainBytes(1, 1, kDxt5), 16);
    EXPECT_EQ(DxtMipChainBytes(5, 3, kDxt1), 16 + 8 + 8);  // 5x3, 2x1, 1x1
    EXPECT_EQ(DxtMipChainBytes(1024, 1, kDxt1), 513 * 8);  // 256 + 128 + ... + 1 + 1 + 1 blocks
    EXPECT_EQ(DxtMipChainBytes(0, 256, kDxt1), 0);
    EXPECT_EQ(DxtMipChainBytes(256, 0, kDxt5), 0);
}

// The four pixels of a 2 x 2 image, one averaging example per channel.
std::vector<uint8_t> ExamplePixels() {
    // Channel 0: 0,1,1,1 -> 0; 1: 3,3,3,2 -> 2; 2: 255,255,255,254 -> 254;
    // 3: 1,1,1,0 -> 0 (all-four averaging only).
    return {0, 3, 255, 1, 1, 3, 255, 1, 1, 3, 255, 1, 1, 2, 254, 0};
}

// The averaging in one form: 0 portable, 1 SSE2, 2 AVX2 (each only where
// it is built and runs; else the portable form stands in).
void Average(std::vector<uint8_t>& pixels, int w, int h, bool averageAlpha, int form) {
#if VT_HAVE_AVX2
    if (form == 2 && vt::test::FormRuns(vt::test::kAvx2Form)) {
        AverageMipLevelAvx2(pixels.data(), w, h, averageAlpha);
        return;
    }
#endif
#if VT_HAVE_SSE2
    if (form == 1 && vt::test::FormRuns(vt::test::kSse2Form)) {
        AverageMipLevelSse2(pixels.data(), w, h, averageAlpha);
        return;
    }
#endif
    AverageMipLevelPortable(pixels.data(), w, h, averageAlpha);
}

TEST(DxtMipAverage, TruncatingMeansOfTheExamples) {
    for (int simd : {0, 1, 2}) {
        std::vector<uint8_t> colorOnly = ExamplePixels();
        Average(colorOnly, 2, 2, false, simd);
        EXPECT_EQ(dxttest::Hex(colorOnly.data(), 4), "00 02 fe 01") << "byte 3 keeps what lay there";
        std::vector<uint8_t> allFour = ExamplePixels();
        allFour[3] = 255, allFour[7] = 255, allFour[11] = 255, allFour[15] = 254;
        Average(allFour, 2, 2, true, simd);
        EXPECT_EQ(dxttest::Hex(allFour.data(), 4), "00 02 fe fe");
        allFour = ExamplePixels();
        Average(allFour, 2, 2, true, simd);
        EXPECT_EQ(dxttest::Hex(allFour.data(), 4), "00 02 fe 00");
    }
}

// The same examples repeated across a wide image, so that the SIMD form's
// vector path (four new pixels a step) is the one tested, and byte 3 of every
// written pixel is checked to keep its old value.
TEST(DxtMipAverage, ExamplesThroughTheVectorPath) {
    const int w = 20, h = 2;
    std::vector<uint8_t> pixels(w * h * 4);
    const std::vector<uint8_t> ex = ExamplePixels();
    for (int x = 0; x < w / 2; ++x)
        for (int q = 0; q < 4; ++q) {
            const int px = (q / 2) * w + 2 * x + q % 2;
            std::memcpy(&pixels[px * 4], &ex[q * 4], 4);
            pixels[px * 4 + 3] = static_cast<uint8_t>(px);  // distinct, to see byte 3 kept
        }
    for (int simd : {0, 1, 2}) {
        std::vector<uint8_t> colorOnly = pixels;
        Average(colorOnly, w, h, false, simd);
        for (int x = 0; x < w / 2; ++x) {
            EXPECT_EQ(colorOnly[4 * x], 0);
            EXPECT_EQ(colorOnly[4 * x + 1], 2);
            EXPECT_EQ(colorOnly[4 * x + 2], 254);
            EXPECT_EQ(colorOnly[4 * x + 3], pixels[4 * x + 3]) << "pixel " << x;
        }
        std::vector<uint8_t> allFour = pixels;
        Average(allFour, w, h, true, simd);
        for (int x = 0; x < w / 2; ++x) {
            const int expected = (pixels[8 * x + 3] + pixels[8 * x + 7] + pixels[(w + 2 * x) * 4 + 3] +
                                  pixels[(w + 2 * x + 1) * 4 + 3]) >> 2;
            EXPECT_EQ(allFour[4 * x + 3], expected);
        }
    }
}

// Widths up to 35 reach every tail length of both SIMD variants (four and
// eight new pixels a step).
TEST(DxtMipAverage, FormsAgreeOnEveryShape) {
    VT_SKIP_UNLESS_FORM_RUNS(vt::test::kSse2Form);
    for (int w = 1; w <= 35; ++w)
        for (int h : {1, 2, 3, 4, 7, 8}) {
            const std::vector<uint8_t> source = dxttest::RandomBytes(static_cast<size_t>(w) * h * 4, w * 100u + h);
            for (bool averageAlpha : {false, true}) {
                std::vector<uint8_t> portable = source;
                Average(portable, w, h, averageAlpha, 0);
                for (int form : {1, 2}) {
                    std::vector<uint8_t> simd = source;
                    Average(simd, w, h, averageAlpha, form);
                    ASSERT_EQ(portable, simd) << w << "x" << h << " averageAlpha " << averageAlpha << " form " << form;
                }
            }
        }
}

//----------------------------------------------------------------------------
// Chains.

struct Chain {
    std::vector<uint8_t> bytes;
    int reported = -1;
};

// Builds a chain with the given form; scratch and destination are exact-size
// allocations so that AddressSanitizer sees any access outside them.
Chain BuildChain(const std::vector<uint8_t>& pixels, int w, int h, DxtFormat format, bool averageAlpha, int simd) {
    ScopedForm form(simd);
    const size_t size = static_cast<size_t>(DxtMipChainBytes(w, h, format));
    std::unique_ptr<uint8_t[]> scratch(new uint8_t[pixels.size()]);
    std::memcpy(scratch.get(), pixels.data(), pixels.size());
    std::unique_ptr<uint8_t[]> destination(new uint8_t[size]);
    Chain chain;
    chain.reported = EncodeDxtMipChain(scratch.get(), w, h, format, averageAlpha, destination.get());
    chain.bytes.assign(destination.get(), destination.get() + size);
    return chain;
}

void EncodeLevel(const uint8_t* pixels, int w, int h, DxtFormat format, std::vector<uint8_t>& out) {
    std::vector<uint8_t> level(static_cast<size_t>((w + 3) / 4) * ((h + 3) / 4) * (format == kDxt5 ? 16 : 8));
    int n = 0;
    if (format == kDxt5)
        EncodeDxt5Image(pixels, level.data(), w, h, &n);
    else
        EncodeDxt1Image(pixels, level.data(), w, h, &n);
    EXPECT_EQ(n, static_cast<int>(level.size()));
    out.insert(out.end(), level.begin(), level.end());
}

// The in-place rule for square power-of-two images as the decode methods
// write it: k = side >> 1; halve; new byte (x, y) = truncated mean of the old
// bytes at index j x 2w + i; byte 3 untouched unless all four are averaged.
std::vector<uint8_t> LiteralSquareChain(std::vector<uint8_t> scratch, int side, DxtFormat format, bool averageAlpha) {
    std::vector<uint8_t> out;
    int w = side, h = side;
    EncodeLevel(scratch.data(), w, h, format, out);
    for (int k = side >> 1; k != 0; k >>= 1) {
        w = w == 1 ? 1 : w >> 1;
        h = h == 1 ? 1 : h >> 1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < (averageAlpha ? 4 : 3); ++c) {
                    auto old = [&](int i, int j) { return scratch[(static_cast<size_t>(j) * 2 * w + i) * 4 + c]; };
                    scratch[(static_cast<size_t>(y) * w + x) * 4 + c] = static_cast<uint8_t>(
                        (old(2 * x, 2 * y) + old(2 * x, 2 * y + 1) + old(2 * x + 1, 2 * y) + old(2 * x + 1, 2 * y + 1)) /
                        4);
                }
        EncodeLevel(scratch.data(), w, h, format, out);
    }
    return out;
}

// Out-of-place reference for any shape: each level from the one before with
// the source coordinates clamped to it; byte 3, when not averaged, is the byte
// that lay at the written place.
std::vector<uint8_t> ClampedChain(std::vector<uint8_t> level, int w, int h, DxtFormat format, bool averageAlpha) {
    std::vector<uint8_t> out;
    EncodeLevel(level.data(), w, h, format, out);
    while (w > 1 || h > 1) {
        const int nw = w > 1 ? w / 2 : 1, nh = h > 1 ? h / 2 : 1;
        std::vector<uint8_t> next(level.begin(), level.begin() + static_cast<size_t>(nw) * nh * 4);
        for (int y = 0; y < nh; ++y)
            for (int x = 0; x < nw; ++x)
                for (int c = 0; c < (averageAlpha ? 4 : 3); ++c) {
                    auto old = [&](int i, int j) {
                        return level[(static_cast<size_t>(std::min(j, h - 1)) * w + std::min(i, w - 1)) * 4 + c];
                    };
                    next[(static_cast<size_t>(y) * nw + x) * 4 + c] = static_cast<uint8_t>(
                        (old(2 * x, 2 * y) + old(2 * x, 2 * y + 1) + old(2 * x + 1, 2 * y) + old(2 * x + 1, 2 * y + 1)) /
                        4);
                }
        level.swap(next);
        w = nw;
        h = nh;
        EncodeLevel(level.data(), w, h, format, out);
    }
    return out;
}

class DxtMipChainTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        photo_ = new dxttest::Image(dxttest::LoadSample("plasma.png"));
    }
    static void TearDownTestSuite() {
        delete photo_;
        photo_ = nullptr;
    }
    static dxttest::Image* photo_;
};
dxttest::Image* DxtMipChainTest::photo_ = nullptr;

// The fixed 256 x 256 chains (DXT1 with all four bytes averaged, as the
// orthophoto and terrain images build it; DXT1 color-only and DXT5 as image
// payloads build them) keep exactly the bytes of the literal rule.
TEST_F(DxtMipChainTest, PowerOfTwoChainsFollowTheLiteralRule) {
    ASSERT_EQ(photo_->width, 256);
    ASSERT_EQ(photo_->height, 256);
    const struct {
        DxtFormat format;
        bool averageAlpha;
        int bytes;
    } cases[] = {{kDxt1, true, 43704}, {kDxt1, false, 43704}, {kDxt5, true, 87408}};
    for (const auto& c : cases) {
        const std::vector<uint8_t> expected = LiteralSquareChain(photo_->pixels, 256, c.format, c.averageAlpha);
        ASSERT_EQ(expected.size(), static_cast<size_t>(c.bytes));
        for (int simd : {0, 1}) {
            SCOPED_TRACE(std::string(c.format == kDxt5 ? "DXT5" : "DXT1") + (c.averageAlpha ? " all four" : " color") +
                         (simd ? " SIMD" : " portable"));
            const Chain chain = BuildChain(photo_->pixels, 256, 256, c.format, c.averageAlpha, simd);
            EXPECT_EQ(chain.reported, c.bytes);
            EXPECT_TRUE(chain.bytes == expected);
        }
    }
}

// Other shapes (odd sides, sides reaching 1 first): only existing pixels are
// averaged; scratch and destination are exact-size allocations.
TEST_F(DxtMipChainTest, OtherShapesAverageOnlyPixelsThatExist) {
    const int shapes[][2] = {{5, 3}, {7, 9}, {255, 1}, {1, 255}, {8, 2}, {64, 4}, {33, 17}, {100, 60}, {3, 1}, {2, 1}};
    for (const auto& shape : shapes) {
        const int w = shape[0], h = shape[1];
        const std::vector<uint8_t> pixels = dxttest::Crop(*photo_, w, h).pixels;
        for (DxtFormat format : {kDxt1, kDxt5})
            for (bool averageAlpha : {false, true}) {
                const std::vector<uint8_t> expected = ClampedChain(pixels, w, h, format, averageAlpha);
                for (int simd : {0, 1}) {
                    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (format == kDxt5 ? " DXT5" : " DXT1") +
                                 (averageAlpha ? " all four" : " color") + (simd ? " SIMD" : " portable"));
                    const Chain chain = BuildChain(pixels, w, h, format, averageAlpha, simd);
                    EXPECT_EQ(chain.reported, DxtMipChainBytes(w, h, format));
                    EXPECT_TRUE(chain.bytes == expected);
                }
            }
    }
}

TEST_F(DxtMipChainTest, UniformImageEncodesTheSameColorAtEveryLevel) {
    const std::vector<uint8_t> pixels = [] {
        std::vector<uint8_t> p(256 * 256 * 4);
        for (size_t i = 0; i < p.size(); i += 4) p[i] = 10, p[i + 1] = 20, p[i + 2] = 30, p[i + 3] = 255;
        return p;
    }();
    const Chain chain = BuildChain(pixels, 256, 256, kDxt1, true, 1);
    ASSERT_EQ(chain.reported, 43704);
    for (size_t at = 0; at < chain.bytes.size(); at += 8)
        ASSERT_EQ(dxttest::Hex(&chain.bytes[at], 8), "a3 08 a3 08 00 00 00 00") << "offset " << at;
}

// A level or a chain fed in strips (the decoder's 16 rows, or 4) gives the
// whole image's bytes, in every form, including last strips of 1 to 3 rows.
TEST_F(DxtMipChainTest, StripsGiveTheBytesOfTheWholeImage) {
    const int shapes[][2] = {{1, 1}, {2, 1}, {255, 1}, {1, 33}, {5, 3}, {33, 17}, {100, 60}, {9, 49}, {20, 34}};
    for (const auto& shape : shapes) {
        const int w = shape[0], h = shape[1];
        const std::vector<uint8_t> pixels = dxttest::Crop(*photo_, w, h).pixels;
        for (DxtFormat format : {kDxt1, kDxt5}) {
            const std::vector<uint8_t> chain = ClampedChain(pixels, w, h, format, format == kDxt5);
            std::vector<uint8_t> level;
            EncodeLevel(pixels.data(), w, h, format, level);
            for (const vt::test::CpuForm& form : vt::test::kCpuForms) {
                if (!vt::test::FormRuns(form)) continue;
                vt::test::ScopedCpuFeatures features(form);
                for (int stripRows : {16, 4})
                    for (bool wholeChain : {false, true}) {
                        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (format == kDxt5 ? " DXT5 " : " DXT1 ") +
                                     form.name + " strips of " + std::to_string(stripRows) + (wholeChain ? " chain" : ""));
                        const std::vector<uint8_t>& expected = wholeChain ? chain : level;
                        std::vector<uint8_t> next(static_cast<size_t>(vt::dxt::DxtNextLevelBytes(w, h)));
                        std::unique_ptr<uint8_t[]> out(new uint8_t[expected.size()]);
                        vt::dxt::DxtStripEncoder encoder(w, h, format, out.get(), wholeChain ? next.data() : nullptr);
                        for (int y = 0; y < h; y += stripRows) {
                            const int rows = std::min(stripRows, h - y);
                            std::vector<uint8_t> strip(pixels.begin() + static_cast<ptrdiff_t>(y) * w * 4,
                                                       pixels.begin() + static_cast<ptrdiff_t>(y + rows) * w * 4);
                            encoder.AddStrip(strip.data(), rows);
                        }
                        ASSERT_EQ(encoder.Finish(), static_cast<int>(expected.size()));
                        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.get()));
                    }
            }
        }
    }
}

TEST_F(DxtMipChainTest, EmptyImageWritesNothing) {
    uint8_t scratch[4] = {1, 2, 3, 4}, destination[16];
    std::memset(destination, 0xCD, sizeof destination);
    EXPECT_EQ(EncodeDxtMipChain(scratch, 0, 1, kDxt5, true, destination), 0);
    EXPECT_EQ(EncodeDxtMipChain(scratch, 1, 0, kDxt1, false, destination), 0);
    for (uint8_t b : destination) EXPECT_EQ(b, 0xCD);
}

}  // namespace
