// Image-level DXT encoding: block order and edge replication for every shape,
// byte counts, reading and writing nothing outside the buffers, the flag's two
// forms, and the decoded result of real photographs staying within what the
// method allows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dxt/BcDecoder.h"
#include "dxt/DxtEncoder.h"
#include "dxt/DxtInternal.h"
#include "dxt/DxtTestSupport.h"
#include "support/CpuForms.h"

namespace {

using namespace vt::dxt;

using dxttest::ScopedForm;

struct Encoded {
    std::vector<uint8_t> bytes;
    int reported = -1;
};

// Encodes with the given form. The source sits at the very end of an
// exact-size allocation and so does the destination, so that AddressSanitizer
// reports any read past the image or write past the blocks.
Encoded Encode(const std::vector<uint8_t>& pixels, int width, int height, bool dxt5, int simd) {
    ScopedForm form(simd);
    const size_t blocks = static_cast<size_t>((width + 3) / 4) * ((height + 3) / 4);
    std::unique_ptr<uint8_t[]> source(new uint8_t[pixels.size() ? pixels.size() : 1]);
    if (!pixels.empty()) std::memcpy(source.get(), pixels.data(), pixels.size());
    Encoded e;
    e.bytes.assign(blocks * (dxt5 ? 16 : 8), 0xCD);
    std::unique_ptr<uint8_t[]> out(new uint8_t[e.bytes.size() ? e.bytes.size() : 1]);
    e.reported = 12345;
    if (dxt5)
        EncodeDxt5Image(source.get(), out.get(), width, height, &e.reported);
    else
        EncodeDxt1Image(source.get(), out.get(), width, height, &e.reported);
    if (!e.bytes.empty()) std::memcpy(e.bytes.data(), out.get(), e.bytes.size());
    if (!pixels.empty()) {
        EXPECT_EQ(0, std::memcmp(source.get(), pixels.data(), pixels.size())) << "source changed";
    }
    return e;
}

// What the encoder must produce: every block gathered by clamping to the
// image edge, in raster order, each encoded on its own.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& pixels, int width, int height, bool dxt5) {
    std::vector<uint8_t> out;
    uint8_t block[64], encoded[16];
    for (int by = 0; by < (height + 3) / 4; ++by)
        for (int bx = 0; bx < (width + 3) / 4; ++bx) {
            dxttest::ClampedBlock(pixels.data(), width, height, bx, by, block);
            if (dxt5)
                EncodeDxt5BlockPortable(block, encoded);
            else
                EncodeDxt1BlockPortable(block, encoded);
            out.insert(out.end(), encoded, encoded + (dxt5 ? 16 : 8));
        }
    return out;
}

std::vector<uint8_t> Pixel(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t alpha) { return {c0, c1, c2, alpha}; }

TEST(DxtImage, OnePixelIsOneBlockOfThatPixel) {
    const std::vector<uint8_t> px = Pixel(10, 20, 30, 255);
    for (int simd : {0, 1}) {
        const Encoded d1 = Encode(px, 1, 1, false, simd);
        EXPECT_EQ(d1.reported, 8);
        EXPECT_EQ(dxttest::Hex(d1.bytes.data(), 8), "a3 08 a3 08 00 00 00 00");
        const Encoded d5 = Encode(px, 1, 1, true, simd);
        EXPECT_EQ(d5.reported, 16);
        EXPECT_EQ(dxttest::Hex(d5.bytes.data(), 16), "ff ff 49 92 24 49 92 24 a3 08 a3 08 00 00 00 00");
    }
}

TEST(DxtImage, FourByFourIsOneBlock) {
    const std::vector<uint8_t> px = dxttest::RandomBytes(64, 1);
    EXPECT_EQ(Encode(px, 4, 4, false, 0).reported, 8);
    EXPECT_EQ(Encode(px, 4, 4, true, 1).reported, 16);
}

// 5 x 3: block row 3 repeats image row 2; the second block repeats column 4.
TEST(DxtImage, FiveByThreeRepeatsTheLastRowAndColumn) {
    const std::vector<uint8_t> px = dxttest::RandomBytes(5 * 3 * 4, 2);
    std::vector<uint8_t> expected;
    uint8_t block[64], out[8];
    for (int bx = 0; bx < 2; ++bx) {
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                const int y = r < 3 ? r : 2;
                const int x = bx == 0 ? c : 4;
                std::memcpy(block + 16 * r + 4 * c, &px[(y * 5 + x) * 4], 4);
            }
        EncodeDxt1BlockPortable(block, out);
        expected.insert(expected.end(), out, out + 8);
    }
    for (int simd : {0, 1}) {
        const Encoded e = Encode(px, 5, 3, false, simd);
        EXPECT_EQ(e.reported, 16);
        EXPECT_EQ(e.bytes, expected);
    }
}

// Every shape, both formats, both forms: the blocks of the clamped image in
// raster order (full block, right edge, bottom edge, corner for 6 x 6), and
// exactly blocksAcross x blocksDown x blockSize bytes reported.
TEST(DxtImage, EdgeReplicationForEveryShape) {
    const int shapes[][2] = {{1, 1}, {2, 2},  {3, 3},  {5, 3},   {6, 6}, {7, 9},  {255, 1}, {1, 255},
                             {7, 8}, {13, 4}, {9, 12}, {17, 13}, {8, 5}, {12, 8}, {3, 16},  {33, 31}};
    for (const auto& shape : shapes) {
        const int w = shape[0], h = shape[1];
        const std::vector<uint8_t> px = dxttest::RandomBytes(static_cast<size_t>(w) * h * 4, w * 1000u + h);
        for (bool dxt5 : {false, true}) {
            const std::vector<uint8_t> expected = Reference(px, w, h, dxt5);
            for (int simd : {0, 1}) {
                SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (dxt5 ? " DXT5" : " DXT1") +
                             (simd ? " SIMD" : " portable"));
                const Encoded e = Encode(px, w, h, dxt5, simd);
                EXPECT_EQ(e.reported, static_cast<int>(expected.size()));
                EXPECT_EQ(e.bytes, expected);
            }
        }
    }
}

TEST(DxtImage, LevelByteCounts) {
    const std::vector<uint8_t> px(256 * 256 * 4, 90);
    EXPECT_EQ(Encode(px, 256, 256, false, 1).reported, 32768);
    EXPECT_EQ(Encode(px, 256, 256, true, 1).reported, 65536);
    EXPECT_EQ(Encode(px, 256, 256, false, 0).reported, 32768);
    EXPECT_EQ(Encode(px, 256, 256, true, 0).reported, 65536);
}

TEST(DxtImage, EmptyImageWritesNothingAndReportsZero) {
    const std::vector<uint8_t> px(4 * 7, 1);
    for (int simd : {0, 1})
        for (bool dxt5 : {false, true})
            for (const auto& shape : {std::make_pair(0, 7), std::make_pair(7, 0), std::make_pair(0, 0)}) {
                ScopedForm form(simd);
                uint8_t guard[16];
                std::memset(guard, 0xCD, sizeof guard);
                int reported = 99;
                if (dxt5)
                    EncodeDxt5Image(px.data(), guard, shape.first, shape.second, &reported);
                else
                    EncodeDxt1Image(px.data(), guard, shape.first, shape.second, &reported);
                EXPECT_EQ(reported, 0);
                for (uint8_t b : guard) EXPECT_EQ(b, 0xCD);
            }
}

// Consecutive calls abut: a caller adds the reported count to its offset.
TEST(DxtImage, LevelsChainAtTheReportedCounts) {
    const std::vector<uint8_t> px = dxttest::RandomBytes(9 * 7 * 4, 4);
    std::vector<uint8_t> chained(3 * 2 * 16 * 2, 0xCD);
    int first = 0, second = 0;
    EncodeDxt5Image(px.data(), chained.data(), 9, 7, &first);
    EncodeDxt5Image(px.data(), chained.data() + first, 9, 7, &second);
    ASSERT_EQ(first, 96);
    ASSERT_EQ(second, 96);
    EXPECT_TRUE(std::equal(chained.begin(), chained.begin() + 96, chained.begin() + 96));
}

// Each variant of the SIMD form, chosen through the processor-feature mask as
// the encoders choose it, gives the portable bytes on every shape; skipped
// (visibly) where the build or the processor lacks it.
class SimdVariants : public ::testing::TestWithParam<vt::test::CpuForm> {
protected:
    void SetUp() override { VT_SKIP_UNLESS_FORM_RUNS(GetParam()); }
};

TEST_P(SimdVariants, AgreeWithPortableOnEveryShape) {
    for (int w : {1, 3, 4, 5, 8, 13, 64})
        for (int h : {1, 2, 4, 7, 16}) {
            const std::vector<uint8_t> px = dxttest::RandomBytes(static_cast<size_t>(w) * h * 4, w * 31u + h);
            for (bool dxt5 : {false, true}) {
                const size_t bytes = static_cast<size_t>((w + 3) / 4) * ((h + 3) / 4) * (dxt5 ? 16 : 8);
                std::vector<uint8_t> portable(bytes), variant(bytes);
                int n = 0;
                EncodeImagePortable(px.data(), portable.data(), w, h, dxt5, &n);
                ASSERT_EQ(n, static_cast<int>(bytes));
                {
                    vt::test::ScopedCpuFeatures form(GetParam());
                    (dxt5 ? EncodeDxt5Image : EncodeDxt1Image)(px.data(), variant.data(), w, h, &n);
                }
                ASSERT_EQ(n, static_cast<int>(bytes));
                EXPECT_EQ(portable, variant) << w << "x" << h << (dxt5 ? " DXT5" : " DXT1");
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Forms, SimdVariants, ::testing::Values(vt::test::kSse2Form, vt::test::kAvx2Form, vt::test::kAvx512Form),
                         [](const ::testing::TestParamInfo<vt::test::CpuForm>& info) {
                             return vt::test::FormName(info.param);
                         });

//----------------------------------------------------------------------------
// Decoding the output of real photographs with an independent decoder.

class DxtPhotoTest : public ::testing::TestWithParam<const char*> {};

// Per pixel: a palette color that is nearer than every other by more than 6
// (sum of absolute differences over channels 0-2) is the one chosen. Closer
// calls are left to the comparison network, whose rounded thirds-points and
// strict comparisons settle ties (a tie between color1 and a thirds-point
// falls to color0). The endpoints lie within the block's color range, give
// or take the up to 7 that the 5:6:5 expansion moves a value; the alpha is
// within half a palette step (plus rounding) of the source; and the picture
// as a whole keeps a PSNR that only a working encoder reaches.
void CheckDecoded(const dxttest::Image& image, const std::vector<uint8_t>& encoded, bool dxt5) {
    const int across = (image.width + 3) / 4;
    const std::vector<uint8_t> decoded = bctest::DecodeImage(encoded.data(), image.width, image.height, dxt5);
    double squared = 0;
    int failures = 0;
    for (int by = 0; by < (image.height + 3) / 4; ++by)
        for (int bx = 0; bx < across; ++bx) {
            uint8_t block[64];
            dxttest::ClampedBlock(image.pixels.data(), image.width, image.height, bx, by, block);
            const uint8_t* encodedBlock = &encoded[(static_cast<size_t>(by) * across + bx) * (dxt5 ? 16 : 8)];
            const uint8_t* color = dxt5 ? encodedBlock + 8 : encodedBlock;
            ASSERT_GE(color[0] | (color[1] << 8), color[2] | (color[3] << 8)) << "three-color mode used";
            bctest::Rgb palette[4];
            bctest::Bc1Palette(color, palette);
            int lo[4] = {255, 255, 255, 255}, hi[4] = {0, 0, 0, 0};
            for (int p = 0; p < 16; ++p)
                for (int c = 0; c < 4; ++c) {
                    lo[c] = std::min<int>(lo[c], block[4 * p + c]);
                    hi[c] = std::max<int>(hi[c], block[4 * p + c]);
                }
            for (int e = 0; e < 2; ++e)
                for (int c = 0; c < 3; ++c) {
                    EXPECT_GE(palette[e].c[c], lo[c] - 7);
                    EXPECT_LE(palette[e].c[c], hi[c] + 7);
                }
            for (int p = 0; p < 16; ++p) {
                const int x = 4 * bx + p % 4, y = 4 * by + p / 4;
                if (x >= image.width || y >= image.height) continue;
                const uint8_t* src = &block[4 * p];
                const uint8_t* out = &decoded[(static_cast<size_t>(y) * image.width + x) * 4];
                int d[4];
                for (int e = 0; e < 4; ++e) {
                    d[e] = 0;
                    for (int c = 0; c < 3; ++c) d[e] += std::abs(palette[e].c[c] - src[c]);
                }
                for (int c = 0; c < 3; ++c) squared += (out[c] - src[c]) * (out[c] - src[c]);
                const int chosen = bctest::Bc1Index(color, p);
                for (int e = 0; e < 4; ++e) {
                    bool clearWinner = true;
                    for (int f = 0; f < 4; ++f) clearWinner &= f == e || d[e] + 6 < d[f];
                    if (clearWinner && chosen != e && ++failures < 5)
                        ADD_FAILURE() << "pixel " << x << "," << y << " took " << chosen << ", nearest " << e;
                }
                if (dxt5) {
                    const int range = hi[3] - lo[3];
                    const int error = std::abs(out[3] - src[3]);
                    if (error > range / 14 + 2 && ++failures < 5)
                        ADD_FAILURE() << "alpha off by " << error << " at " << x << "," << y << " range " << range;
                }
            }
        }
    EXPECT_EQ(failures, 0);
    const double mse = squared / (3.0 * image.width * image.height);
    const double psnr = 10.0 * std::log10(255.0 * 255.0 / (mse > 0 ? mse : 1e-9));
    EXPECT_GT(psnr, 28.0) << "color PSNR " << psnr;
}

TEST_P(DxtPhotoTest, DecodesWithinTheMethodsErrorAndFormsAgree) {
    const dxttest::Image full = dxttest::LoadSample(GetParam());
    ASSERT_FALSE(full.pixels.empty()) << "sample missing: " << GetParam();
    // The whole picture (odd sizes: edge blocks) and a 4-multiple crop.
    for (const dxttest::Image& image : {full, dxttest::Crop(full, 128, 96)}) {
        for (bool dxt5 : {false, true}) {
            SCOPED_TRACE(std::to_string(image.width) + "x" + std::to_string(image.height) + (dxt5 ? " DXT5" : " DXT1"));
            const Encoded portable = Encode(image.pixels, image.width, image.height, dxt5, 0);
            const Encoded simd = Encode(image.pixels, image.width, image.height, dxt5, 1);
            ASSERT_EQ(portable.bytes, simd.bytes);
            CheckDecoded(image, portable.bytes, dxt5);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, DxtPhotoTest, ::testing::Values("board.jpg", "pier.png", "plasma.png"));

}  // namespace
