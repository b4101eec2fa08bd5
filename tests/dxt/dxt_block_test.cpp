// Block-level DXT1 / DXT5 encoding: the fixed byte vectors of the format,
// the inset and threshold rules, and the portable and SIMD forms giving the
// same bytes for every kind of block, including the near ties.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "dxt/DxtBlockPortable.h"
#include "dxt/DxtBlockSimd.h"
#include "dxt/DxtEncoder.h"
#include "dxt/DxtInternal.h"
#include "dxt/BcDecoder.h"
#include "dxt/DxtTestSupport.h"
#include "support/CpuForms.h"

namespace {

using namespace vt::dxt;

using Block = std::array<uint8_t, 64>;

Block Uniform(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t alpha) {
    Block b;
    for (int p = 0; p < 16; ++p) {
        b[4 * p] = c0;
        b[4 * p + 1] = c1;
        b[4 * p + 2] = c2;
        b[4 * p + 3] = alpha;
    }
    return b;
}

// Black and white checkerboard, black at the top-left; alpha 0 on black and
// 255 on white when `alphaFollows`, else 255 everywhere.
Block Checkerboard(bool alphaFollows) {
    Block b;
    for (int p = 0; p < 16; ++p) {
        const bool white = ((p / 4) + (p % 4)) % 2 == 1;
        const uint8_t v = white ? 255 : 0;
        b[4 * p] = b[4 * p + 1] = b[4 * p + 2] = v;
        b[4 * p + 3] = alphaFollows ? v : 255;
    }
    return b;
}

std::vector<uint8_t> Dxt1(const Block& b) {
    std::vector<uint8_t> out(8);
    EncodeDxt1BlockPortable(b.data(), out.data());
    return out;
}

std::vector<uint8_t> Dxt5(const Block& b) {
    std::vector<uint8_t> out(16);
    EncodeDxt5BlockPortable(b.data(), out.data());
    return out;
}

// The block encoders of the SIMD form's variants, each with the features it
// needs; a variant this build lacks has no functions and never runs.
struct SimdBlockForm {
    vt::test::CpuForm form;
    void (*dxt1)(const uint8_t*, uint8_t*);
    void (*dxt5)(const uint8_t*, uint8_t*);

    std::vector<uint8_t> Dxt1(const Block& b) const {
        std::vector<uint8_t> out(8);
        dxt1(b.data(), out.data());
        return out;
    }
    std::vector<uint8_t> Dxt5(const Block& b) const {
        std::vector<uint8_t> out(16);
        dxt5(b.data(), out.data());
        return out;
    }
};

const SimdBlockForm kSimdBlockForms[] = {
#if VT_HAVE_SSE2
    {vt::test::kSse2Form, EncodeDxt1BlockSse2, EncodeDxt5BlockSse2},
#else
    {vt::test::kSse2Form, nullptr, nullptr},
#endif
#if VT_HAVE_AVX2
    {vt::test::kAvx2Form, EncodeDxt1BlockAvx2, EncodeDxt5BlockAvx2},
#else
    {vt::test::kAvx2Form, nullptr, nullptr},
#endif
#if VT_HAVE_AVX512
    {vt::test::kAvx512Form, EncodeDxt1BlockAvx512, EncodeDxt5BlockAvx512},
#else
    {vt::test::kAvx512Form, nullptr, nullptr},
#endif
};

// Checks a block in the portable form and in every SIMD variant that runs
// here against the expected bytes (the variants' equivalence tests below
// say so visibly where one cannot run).
void ExpectBlock(const Block& b, bool dxt5, const std::vector<uint8_t>& expected) {
    EXPECT_EQ(dxttest::Hex((dxt5 ? Dxt5(b) : Dxt1(b)).data(), expected.size()),
              dxttest::Hex(expected.data(), expected.size()))
        << "portable";
    for (const SimdBlockForm& f : kSimdBlockForms) {
        if (!vt::test::FormRuns(f.form)) continue;
        EXPECT_EQ(dxttest::Hex((dxt5 ? f.Dxt5(b) : f.Dxt1(b)).data(), expected.size()),
                  dxttest::Hex(expected.data(), expected.size()))
            << f.form.name;
    }
}

TEST(DxtBlockVectors, UniformBlockPacksBothEndpointsEqualWithIndexZero) {
    ExpectBlock(Uniform(10, 20, 30, 0), false, {0xa3, 0x08, 0xa3, 0x08, 0, 0, 0, 0});
    ExpectBlock(Uniform(10, 20, 30, 77), false, {0xa3, 0x08, 0xa3, 0x08, 0, 0, 0, 0});
}

TEST(DxtBlockVectors, DifferencesBelowTheFieldResolutionGiveOneColor) {
    Block b = Uniform(8, 20, 30, 255);
    for (int p = 0; p < 16; ++p) b[4 * p] = static_cast<uint8_t>(8 + p % 8);
    // 8..15 >> 3 = 1 for both endpoints: color0 == color1, every index 0.
    ExpectBlock(b, false, {0xa3, 0x08, 0xa3, 0x08, 0, 0, 0, 0});
}

TEST(DxtBlockVectors, CheckerboardInsetsByFifteen) {
    ExpectBlock(Checkerboard(false), false, {0x9e, 0xf7, 0x61, 0x08, 0x11, 0x44, 0x11, 0x44});
}

TEST(DxtBlockVectors, AlphaNeverChangesTheColorBlock) {
    const Block opaque = Checkerboard(false);
    std::mt19937 rng(5);
    for (int trial = 0; trial < 20; ++trial) {
        Block b = opaque;
        for (int p = 0; p < 16; ++p) b[4 * p + 3] = static_cast<uint8_t>(rng());
        ExpectBlock(b, false, Dxt1(opaque));
    }
}

TEST(DxtBlockVectors, OpaqueUniformDxt5Block) {
    ExpectBlock(Uniform(10, 20, 30, 255), true,
                {0xff, 0xff, 0x49, 0x92, 0x24, 0x49, 0x92, 0x24, 0xa3, 0x08, 0xa3, 0x08, 0, 0, 0, 0});
}

TEST(DxtBlockVectors, AlphaRampUsesEveryPaletteValue) {
    Block b = Uniform(0, 0, 0, 0);
    for (int p = 0; p < 16; ++p) b[4 * p + 3] = static_cast<uint8_t>(17 * p);
    const std::vector<uint8_t> out = Dxt5(b);
    EXPECT_EQ(dxttest::Hex(out.data(), 8), "f0 0f c9 6f b7 e4 26 01");
    const int expected[16] = {1, 1, 7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2, 0, 0};
    for (int p = 0; p < 16; ++p) EXPECT_EQ(bctest::Bc3AlphaIndex(out.data(), p), expected[p]) << "pixel " << p;
    ExpectBlock(b, true, out);
}

TEST(DxtBlockVectors, CheckerboardWithAlphaDxt5) {
    ExpectBlock(Checkerboard(true), true,
                {0xf0, 0x0f, 0x41, 0x80, 0x20, 0x41, 0x80, 0x20, 0x9e, 0xf7, 0x61, 0x08, 0x11, 0x44, 0x11, 0x44});
}

TEST(DxtBlockVectors, ColorHalfOfDxt5EqualsDxt1) {
    std::mt19937 rng(9);
    for (int trial = 0; trial < 200; ++trial) {
        Block b;
        for (auto& v : b) v = static_cast<uint8_t>(rng());
        const std::vector<uint8_t> d1 = Dxt1(b), d5 = Dxt5(b);
        EXPECT_TRUE(std::equal(d1.begin(), d1.end(), d5.begin() + 8));
    }
}

// Bounds: a channel range of 15 is kept exactly, a range of 16 moves each
// endpoint inward by one; the same for alpha.
TEST(DxtBlockBounds, InsetStartsAtARangeOfSixteen) {
    for (int range : {15, 16, 31, 32, 255}) {
        Block b = Uniform(100, 100, 100, 100);
        const int base = range == 255 ? 0 : 100;
        for (int p = 0; p < 16; ++p)
            for (int c = 0; c < 4; ++c) b[4 * p + c] = static_cast<uint8_t>(base + (p & 1) * range);
        const int inset = range >> 4;
        uint8_t low[4], high[4];
        FindColorAlphaBounds(b.data(), low, high);
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(low[c], base + inset) << "range " << range;
            EXPECT_EQ(high[c], base + range - inset) << "range " << range;
        }
        uint8_t low3[4] = {1, 2, 3, 4}, high3[4] = {5, 6, 7, 8};
        FindColorBounds(b.data(), low3, high3);
        EXPECT_EQ(0, std::memcmp(low3, low, 3));
        EXPECT_EQ(0, std::memcmp(high3, high, 3));
        EXPECT_EQ(low3[3], 4) << "color bounds leave channel 3 alone";
#if VT_HAVE_SSE2
        uint8_t lowSse2[4], highSse2[4];
        FindColorAlphaBoundsSse2(b.data(), lowSse2, highSse2);
        EXPECT_EQ(0, std::memcmp(lowSse2, low, 4));
        EXPECT_EQ(0, std::memcmp(highSse2, high, 4));
#endif
    }
}

TEST(DxtBlockBounds, Packs565ByTruncation) {
    const uint8_t white[4] = {255, 255, 255, 0}, c[4] = {0x0F, 0x07, 0xFF, 0};
    EXPECT_EQ(PackEndpoint565(white), 0xFFFFu);
    EXPECT_EQ(PackEndpoint565(c), (1u << 11) | (1u << 5) | 31u);
}

// An alpha exactly on a threshold takes the lower palette value. With bounds
// 0 and 255 (alpha0 240, alpha1 15) the thresholds are 31, 63, ..., 223.
TEST(DxtBlockAlpha, AlphaOnAThresholdFallsToTheLowerValue) {
    Block b = Uniform(0, 0, 0, 0);
    const uint8_t alphas[16] = {0, 255, 31, 32, 63, 64, 95, 96, 127, 128, 223, 224, 15, 240, 16, 239};
    // Expected indices: 31 -> alpha1 (1); 32 -> 47 (7); 63 -> 7; 64 -> 6;
    // 223 -> index 2 (208); 224 -> alpha0 (0).
    const int expected[16] = {1, 0, 1, 7, 7, 6, 6, 5, 5, 4, 2, 0, 1, 0, 1, 0};
    for (int p = 0; p < 16; ++p) b[4 * p + 3] = alphas[p];
    const std::vector<uint8_t> out = Dxt5(b);
    ASSERT_EQ(out[0], 240);
    ASSERT_EQ(out[1], 15);
    for (int p = 0; p < 16; ++p) EXPECT_EQ(bctest::Bc3AlphaIndex(out.data(), p), expected[p]) << "alpha " << int(alphas[p]);
    ExpectBlock(b, true, out);
}

TEST(DxtBlockAlpha, NarrowAlphaRangeIsNotInset) {
    Block b = Uniform(0, 0, 0, 0);
    for (int p = 0; p < 16; ++p) b[4 * p + 3] = static_cast<uint8_t>(200 + p);  // range 15
    EXPECT_EQ(Dxt5(b)[0], 215);
    EXPECT_EQ(Dxt5(b)[1], 200);
    b[3] = 199;  // range 16
    EXPECT_EQ(Dxt5(b)[0], 214);
    EXPECT_EQ(Dxt5(b)[1], 200);
}

// The SSE2 alpha step divides by 7 and 14 with multiplies: every endpoint pair
// and alphas on and beside every threshold give the portable bytes.
TEST(DxtBlockEquivalence, AlphaIndicesForEveryEndpointPair) {
    VT_SKIP_UNLESS_FORM_RUNS(vt::test::kSse2Form);
#if VT_HAVE_SSE2
    Block b = Uniform(0, 0, 0, 0);
    for (int a0 = 0; a0 < 256; ++a0) {
        for (int a1 = 0; a1 <= a0; ++a1) {
            uint8_t t[7];
            AlphaThresholds(static_cast<uint32_t>(a1), static_cast<uint32_t>(a0), t);
            for (int p = 0; p < 14; ++p) b[4 * p + 3] = static_cast<uint8_t>(t[p / 2] + (p & 1));
            b[4 * 14 + 3] = static_cast<uint8_t>(a0);
            b[4 * 15 + 3] = static_cast<uint8_t>(a1 > 0 ? a1 - 1 : 255);
            uint8_t portable[6], sse2[6];
            uint8_t* cursor = portable;
            SelectAlphaIndices(b.data(), static_cast<uint32_t>(a1), static_cast<uint32_t>(a0), cursor);
            ASSERT_EQ(cursor, portable + 6);
            ASSERT_EQ(SelectAlphaIndicesSse2(b.data(), static_cast<uint32_t>(a1), static_cast<uint32_t>(a0), sse2),
                      6);
            ASSERT_EQ(0, std::memcmp(portable, sse2, 6)) << "alpha0 " << a0 << " alpha1 " << a1;
        }
    }
#endif
}

// The SSE2 color step expands endpoints and divides by 3 with a multiply:
// every endpoint value in every channel gives the portable index word.
TEST(DxtBlockEquivalence, ColorIndicesForEveryEndpointPair) {
    VT_SKIP_UNLESS_FORM_RUNS(vt::test::kSse2Form);
#if VT_HAVE_SSE2
    const std::vector<uint8_t> noise = dxttest::RandomBytes(64 * 256, 3);
    for (int hi = 0; hi < 256; ++hi) {
        Block b;
        std::memcpy(b.data(), &noise[64 * hi], 64);
        for (int lo = 0; lo < 256; ++lo) {
            const uint8_t low[4] = {static_cast<uint8_t>(lo), static_cast<uint8_t>(255 - lo),
                                    static_cast<uint8_t>(lo ^ 0x5A), 0};
            const uint8_t high[4] = {static_cast<uint8_t>(hi), static_cast<uint8_t>(hi ^ 0xA5),
                                     static_cast<uint8_t>(255 - hi), 0};
            uint8_t portable[4], sse2[4];
            uint8_t* cursor = portable;
            SelectColorIndices(b.data(), low, high, cursor);
            ASSERT_EQ(SelectColorIndicesSse2(b.data(), low, high, sse2), 4);
            ASSERT_EQ(0, std::memcmp(portable, sse2, 4)) << "low " << lo << " high " << hi;
        }
    }
#endif
}

// Blocks built to sit on the edges of every rule.
class AdversarialBlocks {
public:
    explicit AdversarialBlocks(uint32_t seed) : rng_(seed) {}

    Block Next(int kind) {
        Block b;
        switch (kind % 8) {
            case 0:  // uniform noise
                for (auto& v : b) v = Byte();
                break;
            case 1: {  // two colors with a little noise: near ties between palette entries
                uint8_t a[4], c[4];
                for (int k = 0; k < 4; ++k) a[k] = Byte(), c[k] = Byte();
                for (int p = 0; p < 16; ++p)
                    for (int k = 0; k < 4; ++k) b[4 * p + k] = Jitter((rng_() & 1) ? a[k] : c[k], 3);
                break;
            }
            case 2: {  // pixels exactly on the palette and on midpoints between entries
                uint8_t low[4], high[4];
                const Block seed = Random();
                FindColorAlphaBounds(seed.data(), low, high);
                for (int p = 0; p < 16; ++p)
                    for (int k = 0; k < 4; ++k) {
                        const int l = low[k], h = high[k];
                        const int points[6] = {l, h, (2 * h + l) / 3, (h + 2 * l) / 3, (h + l) / 2, (5 * h + l) / 6};
                        b[4 * p + k] = static_cast<uint8_t>(points[rng_() % 6]);
                    }
                break;
            }
            case 3: {  // ranges of exactly 15 and 16 per channel, alpha included
                for (int k = 0; k < 4; ++k) {
                    const int range = 15 + static_cast<int>(rng_() & 1);
                    const int base = static_cast<int>(rng_() % (256 - range));
                    for (int p = 0; p < 16; ++p) b[4 * p + k] = static_cast<uint8_t>(base + rng_() % (range + 1));
                    b[k] = static_cast<uint8_t>(base);
                    b[4 + k] = static_cast<uint8_t>(base + range);
                }
                break;
            }
            case 4: {  // all-equal alphas over random colors
                const uint8_t alpha = Byte();
                b = Random();
                for (int p = 0; p < 16; ++p) b[4 * p + 3] = alpha;
                break;
            }
            case 5: {  // grey ramps and the extremes 0 / 255
                for (int p = 0; p < 16; ++p) {
                    const uint8_t v = (rng_() & 3) == 0 ? static_cast<uint8_t>((rng_() & 1) * 255) : Byte();
                    b[4 * p] = b[4 * p + 1] = b[4 * p + 2] = v;
                    b[4 * p + 3] = (rng_() & 1) ? 255 : 0;
                }
                break;
            }
            case 6: {  // colors that differ only below the 5:6:5 resolution
                const uint8_t base[3] = {static_cast<uint8_t>(Byte() & 0xF8), static_cast<uint8_t>(Byte() & 0xFC),
                                         static_cast<uint8_t>(Byte() & 0xF8)};
                for (int p = 0; p < 16; ++p) {
                    b[4 * p] = static_cast<uint8_t>(base[0] + rng_() % 8);
                    b[4 * p + 1] = static_cast<uint8_t>(base[1] + rng_() % 4);
                    b[4 * p + 2] = static_cast<uint8_t>(base[2] + rng_() % 8);
                    b[4 * p + 3] = Byte();
                }
                break;
            }
            default: {  // alphas on and beside the block's own thresholds
                b = Random();
                uint8_t low[4], high[4], t[7];
                FindColorAlphaBounds(b.data(), low, high);
                AlphaThresholds(low[3], high[3], t);
                for (int p = 2; p < 16; ++p) b[4 * p + 3] = static_cast<uint8_t>(t[rng_() % 7] + (rng_() % 3) - 1);
                break;
            }
        }
        return b;
    }

private:
    uint8_t Byte() { return static_cast<uint8_t>(rng_()); }
    uint8_t Jitter(uint8_t v, int amount) {
        const int j = static_cast<int>(rng_() % (2 * amount + 1)) - amount;
        const int r = v + j;
        return static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
    }
    Block Random() {
        Block b;
        for (auto& v : b) v = Byte();
        return b;
    }
    std::mt19937 rng_;
};

// Each SIMD variant against the portable form, skipped (visibly) where the
// build or the processor lacks it.
class SimdBlocks : public ::testing::TestWithParam<SimdBlockForm> {
protected:
    void SetUp() override { VT_SKIP_UNLESS_FORM_RUNS(GetParam().form); }
};

// Whole DXT5 blocks for every pair of alpha extremes (so every inset endpoint
// pair the bounds step can give), with the other alphas on and beside the
// resulting thresholds: the variant gives the portable bytes.
TEST_P(SimdBlocks, Dxt5BlocksForEveryAlphaRange) {
    const SimdBlockForm& f = GetParam();
    Block b = Uniform(40, 80, 120, 0);
    for (int top = 0; top < 256; ++top) {
        for (int bottom = 0; bottom <= top; ++bottom) {
            const int inset = (top - bottom) >> 4;
            uint8_t t[7];
            AlphaThresholds(static_cast<uint32_t>(bottom + inset), static_cast<uint32_t>(top - inset), t);
            b[3] = static_cast<uint8_t>(bottom);
            b[7] = static_cast<uint8_t>(top);
            for (int p = 2; p < 16; ++p) {
                const int v = t[(p - 2) % 7] + (p >= 9 ? 1 : 0);
                b[4 * p + 3] = static_cast<uint8_t>(v < bottom ? bottom : v > top ? top : v);
            }
            ASSERT_EQ(Dxt5(b), f.Dxt5(b)) << "alphas " << bottom << ".." << top;
        }
    }
}

TEST_P(SimdBlocks, AgreeWithPortableOnAdversarialBlocks) {
    const SimdBlockForm& f = GetParam();
    AdversarialBlocks blocks(2024);
    for (int i = 0; i < 80000; ++i) {
        const Block b = blocks.Next(i);
        ASSERT_EQ(Dxt1(b), f.Dxt1(b)) << "block " << i << ": " << dxttest::Hex(b.data(), 64);
        ASSERT_EQ(Dxt5(b), f.Dxt5(b)) << "block " << i << ": " << dxttest::Hex(b.data(), 64);
    }
}

// The same kinds of block side by side in a strip image, encoded by the
// variant's image encoder (the AVX2 one encodes neighbouring blocks in
// pairs): each block comes out as the portable form encodes it alone.
TEST_P(SimdBlocks, AdversarialBlocksSideBySideInAnImage) {
    constexpr int kAcross = 9;  // four pairs and one block alone
    AdversarialBlocks blocks(77);
    std::vector<Block> placed(kAcross);
    std::vector<uint8_t> strip(kAcross * 64), out(kAcross * 16);
    for (int round = 0; round < 3000; ++round) {
        for (int bx = 0; bx < kAcross; ++bx) {
            placed[bx] = blocks.Next(round * kAcross + bx);
            if (round % 3 == 0)  // one alpha over the whole strip (the encoders' shortcut)
                for (int p = 0; p < 16; ++p) placed[bx][4 * p + 3] = static_cast<uint8_t>(round * 7);
            for (int row = 0; row < 4; ++row)
                std::memcpy(&strip[static_cast<size_t>(row * kAcross + bx) * 16], &placed[bx][16 * row], 16);
        }
        for (bool dxt5 : {false, true}) {
            int n = 0;
            {
                vt::test::ScopedCpuFeatures form(GetParam().form);
                (dxt5 ? EncodeDxt5Image : EncodeDxt1Image)(strip.data(), out.data(), kAcross * 4, 4, &n);
            }
            for (int bx = 0; bx < kAcross; ++bx) {
                const std::vector<uint8_t> expected = dxt5 ? Dxt5(placed[bx]) : Dxt1(placed[bx]);
                ASSERT_EQ(dxttest::Hex(&out[bx * expected.size()], expected.size()),
                          dxttest::Hex(expected.data(), expected.size()))
                    << "round " << round << " block " << bx << (dxt5 ? " DXT5" : " DXT1");
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, SimdBlocks, ::testing::ValuesIn(kSimdBlockForms),
                         [](const ::testing::TestParamInfo<SimdBlockForm>& info) {
                             return vt::test::FormName(info.param.form);
                         });

// The choice is the comparison network, not a plain nearest color: a pixel
// nearer to color1 than to color0, whose one-third point is no nearer than
// color0, takes index 0. Here the block's ranges are below 16 (no inset), so
// the endpoints are (152, 84, 217) and (152, 94, 229); the pixel
// (152, 93, 219) has distances 16, 15, 16, 16 to the four palette colors.
TEST(DxtBlockNetwork, NearTieNearestToColor1TakesIndexZero) {
    Block b = Uniform(152, 93, 219, 255);
    b[0] = 152, b[1] = 84, b[2] = 217;  // pixel 0: the low endpoint
    b[4] = 152, b[5] = 94, b[6] = 229;  // pixel 1: the high endpoint
    const std::vector<uint8_t> out = Dxt1(b);
    bctest::Rgb palette[4];
    bctest::Bc1Palette(out.data(), palette);
    int d[4];
    for (int e = 0; e < 4; ++e) d[e] = std::abs(palette[e].c[0] - 152) + std::abs(palette[e].c[1] - 93) +
                                       std::abs(palette[e].c[2] - 219);
    ASSERT_LT(d[1], d[0]);
    ASSERT_LE(d[0], d[3]);
    EXPECT_EQ(bctest::Bc1Index(out.data(), 0), 1);
    EXPECT_EQ(bctest::Bc1Index(out.data(), 1), 0);
    for (int p = 2; p < 16; ++p) EXPECT_EQ(bctest::Bc1Index(out.data(), p), 0) << "pixel " << p;
    ExpectBlock(b, false, out);
}

}  // namespace
