// Reconstruction and pixel output: the inverse DCT, color conversion, the
// portable and SIMD forms against each other, and the cropping of edge MCUs.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CompactJpeg.h"
#include "JpegTestAccess.h"
#include "JpegTestImages.h"
#include "JpegTestStreams.h"
#include "jpeg/JpegKernels.h"
#include "support/CpuForms.h"

namespace {

using A = CJpegDecoderTestAccess;
using vt_jpeg_test::BitWriter;
using vt_jpeg_test::MakeStream;

// A decoder prepared for `quality`, whose multipliers the kernels borrow.
struct Prepared {
    explicit Prepared(int quality) : stream(MakeStream(16, 16, quality, {0})) {
        int w, h, hl;
        EXPECT_TRUE(d.ReadHeader(stream.data(), static_cast<int>(stream.size()), w, h, hl));
    }
    std::vector<uint8_t> stream;
    vt::jpeg::CJpegDecoder d;
};

using IdctFn = void (*)(const int16_t*, const uint16_t*, const uint8_t*, uint8_t*);
using vt::jpeg::InverseDctPairFn;
using ConvertFn = void (*)(const uint8_t*, const vt::jpeg::ColorTables&, uint8_t*, size_t);

using ConvertAlphaFn = void (*)(const uint8_t*, const vt::jpeg::ColorTables&, const uint8_t*, size_t, uint8_t*, size_t);

struct Forms {
    const char* name;
    IdctFn idct;
    InverseDctPairFn idctPair;
    ConvertFn convert16, convert24, convert32;
    ConvertAlphaFn convert32Alpha;
    ConvertFn Convert(int bpp) const { return bpp == 2 ? convert16 : bpp == 3 ? convert24 : convert32; }
};

// The portable form first (the reference), then every SIMD form that runs.
std::vector<Forms> AllForms() {
    std::vector<Forms> forms = {{"portable", vt::jpeg::InverseDctPortable,
                                 vt::jpeg::InverseDctOneByOne<vt::jpeg::InverseDctPortable>, vt::jpeg::ConvertMcu16Portable,
                                 vt::jpeg::ConvertMcu24Portable, vt::jpeg::ConvertMcu32Portable, vt::jpeg::ConvertMcu32AlphaPortable}};
#if VT_HAVE_SSE2
    if (vt::test::FormRuns(vt::test::kSse2Form))
        forms.push_back({"sse2", vt::jpeg::InverseDctSse2, vt::jpeg::InverseDctOneByOne<vt::jpeg::InverseDctSse2>,
                         vt::jpeg::ConvertMcu16Sse2, vt::jpeg::ConvertMcu24Sse2,
                         vt::jpeg::ConvertMcu32Sse2, vt::jpeg::ConvertMcu32AlphaSse2});
#endif
#if VT_HAVE_AVX2
    if (vt::test::FormRuns(vt::test::kAvx2Form))
        forms.push_back({"avx2", vt::jpeg::InverseDctAvx2, vt::jpeg::InverseDctPairAvx2, vt::jpeg::ConvertMcu16Avx2, vt::jpeg::ConvertMcu24Avx2,
                         vt::jpeg::ConvertMcu32Avx2, vt::jpeg::ConvertMcu32AlphaAvx2});
#endif
    return forms;
}

// At quality 50 the DC multiplier is 64: sample = clamp(2d + 128).
TEST(InverseDct, DcOnlyBlockIsFlat) {
    Prepared p(50);
    for (const Forms& f : AllForms()) {
        SCOPED_TRACE(f.name);
        for (auto [d, expected] : {std::pair<int, int>{-64, 0}, {63, 254}, {0, 128}, {10, 148}, {-65, 0}, {64, 255}}) {
            int16_t c[64] = {};
            c[0] = static_cast<int16_t>(d);
            uint8_t out[64];
            f.idct(c, A::LumaQuant(p.d), vt::jpeg::kRangeLimit.entry, out);
            for (uint8_t s : out) ASSERT_EQ(s, expected) << "d = " << d;
        }
    }
}

// One AC term gives a cosine: the first horizontal frequency falls from left
// to right, symmetric about 128.
TEST(InverseDct, FirstHorizontalFrequencyIsAFallingCosine) {
    Prepared p(50);
    for (const Forms& f : AllForms()) {
        SCOPED_TRACE(f.name);
        int16_t c[64] = {};
        c[1] = 20;
        uint8_t out[64];
        f.idct(c, A::LumaQuant(p.d), vt::jpeg::kRangeLimit.entry, out);
        for (int r = 0; r < 8; ++r)
            for (int k = 0; k < 8; ++k) {
                if (k > 0) {
                    EXPECT_LT(out[8 * r + k], out[8 * r + k - 1]);
                }
                EXPECT_NEAR(out[8 * r + k] + out[8 * r + 7 - k], 256, 2);
                EXPECT_EQ(out[8 * r + k], out[k]);
            }
    }
}

// The forms agree on encoder-like sparse blocks and on hostile full-range
// blocks whose intermediates overflow 32 bits (wrap-around in both forms).
TEST(InverseDct, FormsAgreeIncludingOverflow) {
    const auto forms = AllForms();
    if (forms.size() < 2) GTEST_SKIP() << "no SIMD form on this processor";
    std::mt19937 rng(99);
    int16_t previous[64] = {};
    uint8_t previousExpected[64];
    for (int quality : {0, 1, 50, 90, 100}) {
        Prepared p(quality);
        forms[0].idct(previous, A::LumaQuant(p.d), vt::jpeg::kRangeLimit.entry, previousExpected);
        for (int trial = 0; trial < 3000; ++trial) {
            int16_t c[64] = {};
            const int kind = trial % 4;
            if (kind == 0) {  // everything at full range
                for (auto& v : c) v = static_cast<int16_t>(rng());
            } else if (kind == 1) {  // extremes only
                for (auto& v : c) v = (rng() & 1) ? 32767 : -32768;
            } else {  // sparse, encoder-like
                const int n = 1 + rng() % (kind == 2 ? 4 : 20);
                for (int i = 0; i < n; ++i) c[rng() % (kind == 2 ? 16 : 64)] = static_cast<int16_t>(rng() % 401 - 200);
            }
            uint8_t expected[64], got[64];
            forms[0].idct(c, A::LumaQuant(p.d), vt::jpeg::kRangeLimit.entry, expected);
            for (size_t f = 1; f < forms.size(); ++f) {
                forms[f].idct(c, A::LumaQuant(p.d), vt::jpeg::kRangeLimit.entry, got);
                ASSERT_EQ(0, std::memcmp(expected, got, 64))
                    << forms[f].name << " quality " << quality << " trial " << trial;
            }
            // The pair forms, with this block and the previous trial's as
            // the other one of the pair, in both places.
            for (const Forms& f : forms) {
                uint8_t first[64], second[64];
                f.idctPair(c, previous, A::LumaQuant(p.d), A::LumaWeights(p.d), vt::jpeg::kRangeLimit.entry, first,
                           second);
                ASSERT_EQ(0, std::memcmp(expected, first, 64)) << f.name << " pair, quality " << quality << " trial " << trial;
                ASSERT_EQ(0, std::memcmp(previousExpected, second, 64)) << f.name << " pair, second block, trial " << trial;
                f.idctPair(previous, c, A::LumaQuant(p.d), A::LumaWeights(p.d), vt::jpeg::kRangeLimit.entry, first,
                           second);
                ASSERT_EQ(0, std::memcmp(previousExpected, first, 64)) << f.name << " pair, first block, trial " << trial;
                ASSERT_EQ(0, std::memcmp(expected, second, 64)) << f.name << " pair, quality " << quality << " trial " << trial;
            }
            std::memcpy(previous, c, sizeof c);
            std::memcpy(previousExpected, expected, sizeof expected);
        }
    }
}

// The AVX2 pair form computes in 16-bit lanes when the sum of
// |coefficient| x bound weight leaves room (at most 32747). Blocks at that
// edge, with their energy where the butterfly amplifies it most and signs
// lined up so that the multiplied sums are largest, must still give the
// 32-bit form's bytes, as must blocks just past it.
TEST(InverseDct, PairFormsAgreeAtTheEdgeOfTheSixteenBitBound) {
    const auto forms = AllForms();
    std::mt19937 rng(2024);
    // Signs of the factors with which inputs 0..7 reach output 3 (among
    // them the largest, -5.03 for input 7), and of i1 + i7 - i5 - i3.
    const int outputThreeSign[8] = {1, 1, -1, -1, 1, 1, -1, -1};
    const int oddSumSign[8] = {1, 1, 1, -1, 1, -1, 1, 1};
    int atEdge = 0;
    for (int quality : {1, 25, 50, 75, 90, 100}) {
        Prepared p(quality);
        const uint16_t* weights = A::LumaWeights(p.d);
        for (int trial = 0; trial < 4000; ++trial) {
            const int kind = trial % 4;
            const int column = 1 + static_cast<int>(rng() % 7);
            int magnitude[64], sign[64];
            for (int i = 0; i < 64; ++i) {
                const int k = i / 8, col = i % 8;
                const bool odd = (k & 1) && (col & 1);
                switch (kind) {
                    case 0:  // row 7, odd columns: the row pass's largest sum
                        magnitude[i] = k == 7 && (col & 1) ? static_cast<int>(1 + rng() % 1000) : 0;
                        break;
                    case 1:  // odd rows of one column: the column pass's largest sum
                        magnitude[i] = col == column && (k & 1) ? static_cast<int>(1 + rng() % 1000) : 0;
                        break;
                    case 2:  // mostly high rows and odd columns
                        magnitude[i] = static_cast<int>(rng() % (k >= 5 || odd ? 4000 : 40));
                        break;
                    default:
                        magnitude[i] = static_cast<int>(rng() % 1000);
                }
                sign[i] = kind == 1 ? oddSumSign[k] : kind == 3 ? ((rng() & 1) ? 1 : -1)
                                                                 : outputThreeSign[k] * oddSumSign[col];
            }
            int64_t sum = 0;
            for (int i = 0; i < 64; ++i) sum += static_cast<int64_t>(magnitude[i]) * weights[i];
            if (sum == 0) continue;
            // Scale to just below the bound, or (one time in four) just past it.
            const bool past = rng() % 4 == 0;
            const int64_t target = past ? 32748 + rng() % 200 : 32747 - rng() % 100;
            int16_t c[2][64];
            int64_t scaled = 0;
            for (int i = 0; i < 64; ++i) {
                const int64_t m = magnitude[i] * target / sum;
                c[0][i] = static_cast<int16_t>(sign[i] * m);
                c[1][i] = static_cast<int16_t>(-sign[i] * m);
                scaled += m * weights[i];
            }
            atEdge += scaled > 32747 - 2000 && scaled <= 32747;
            uint8_t expected[2][64];
            for (int b = 0; b < 2; ++b) forms[0].idct(c[b], A::LumaQuant(p.d), vt::jpeg::kRangeLimit.entry, expected[b]);
            for (const Forms& f : forms) {
                uint8_t got[2][64];
                f.idctPair(c[0], c[1], A::LumaQuant(p.d), weights, vt::jpeg::kRangeLimit.entry, got[0], got[1]);
                ASSERT_EQ(0, std::memcmp(expected, got, sizeof got))
                    << f.name << " quality " << quality << " trial " << trial << " sum " << scaled;
            }
        }
    }
    EXPECT_GT(atEdge, 5000);
}

std::vector<uint8_t> Samples(int y, int cb, int cr) {
    std::vector<uint8_t> s(384, static_cast<uint8_t>(y));
    std::fill(s.begin() + 256, s.begin() + 320, static_cast<uint8_t>(cb));
    std::fill(s.begin() + 320, s.end(), static_cast<uint8_t>(cr));
    return s;
}

TEST(ColorConversion, JfifExamples) {
    const vt::jpeg::ColorTables& colors = vt::jpeg::kColorTables;
    for (const Forms& f : AllForms()) {
        SCOPED_TRACE(f.name);
        for (auto [y, cb, cr, b, g, r] : {std::array<int, 6>{128, 128, 128, 128, 128, 128},
                                          std::array<int, 6>{76, 85, 255, 0, 0, 254},
                                          std::array<int, 6>{255, 255, 255, 255, 121, 255},
                                          std::array<int, 6>{0, 0, 0, 0, 135, 0}}) {
            const auto s = Samples(y, cb, cr);
            uint8_t px16[16 * 32], px24[16 * 48], px32[16 * 64];
            f.convert16(s.data(), colors, px16, 32);
            f.convert24(s.data(), colors, px24, 48);
            f.convert32(s.data(), colors, px32, 64);
            const int word = ((b >> 3) << 11) | ((g >> 2) << 5) | (r >> 3);
            for (int i = 0; i < 256; ++i) {
                ASSERT_EQ(px16[2 * i], word & 0xFF);
                ASSERT_EQ(px16[2 * i + 1], word >> 8);
                ASSERT_EQ(px24[3 * i], b);
                ASSERT_EQ(px24[3 * i + 1], g);
                ASSERT_EQ(px24[3 * i + 2], r);
                ASSERT_EQ(px32[4 * i], b);
                ASSERT_EQ(px32[4 * i + 1], g);
                ASSERT_EQ(px32[4 * i + 2], r);
                ASSERT_EQ(px32[4 * i + 3], 255);
            }
        }
    }
}

// Every (Cb, Cr) pair with luma values from 0 to 255 spread over the MCU,
// and the 2x2 replication of chroma: the SIMD form computes the table values
// arithmetically and must give the table's bytes.
TEST(ColorConversion, FormsAgreeOnEveryChromaPair) {
    const auto forms = AllForms();
    if (forms.size() < 2) GTEST_SKIP() << "no SIMD form on this processor";
    const vt::jpeg::ColorTables& colors = vt::jpeg::kColorTables;
    std::mt19937 rng(5);
    uint8_t samples[384];
    int pair = 0;
    for (int mcu = 0; mcu < 1024; ++mcu) {
        for (int i = 0; i < 256; ++i) samples[i] = static_cast<uint8_t>((mcu % 2) ? (i * 7 + mcu) : rng());
        for (int i = 0; i < 64; ++i, ++pair) {
            samples[256 + i] = static_cast<uint8_t>(pair >> 8);
            samples[320 + i] = static_cast<uint8_t>(pair);
        }
        for (int bpp : {2, 3, 4}) {
            // Stride wider than a row: bytes between rows stay untouched.
            const size_t stride = 16 * bpp + 5;
            std::vector<uint8_t> expected(16 * stride, 0xAB);
            forms[0].Convert(bpp)(samples, colors, expected.data(), stride);
            for (size_t f = 1; f < forms.size(); ++f) {
                std::vector<uint8_t> got(16 * stride, 0xAB);
                forms[f].Convert(bpp)(samples, colors, got.data(), stride);
                ASSERT_EQ(expected, got) << forms[f].name << " MCU " << mcu << " bpp " << bpp;
                for (int r = 0; r < 16; ++r)
                    for (int k = 16 * bpp; k < static_cast<int>(stride); ++k) ASSERT_EQ(got[r * stride + k], 0xAB);
            }
        }
        // With an alpha plane (rows 19 bytes apart): the 32-bit pixels with
        // byte 3 taken from it.
        uint8_t alpha[16 * 19];
        for (auto& a : alpha) a = static_cast<uint8_t>(rng());
        std::vector<uint8_t> expected(16 * 64);
        forms[0].convert32(samples, colors, expected.data(), 64);
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 16; ++c) expected[r * 64 + 4 * c + 3] = alpha[r * 19 + c];
        for (const Forms& f : forms) {
            std::vector<uint8_t> got(16 * 64);
            f.convert32Alpha(samples, colors, alpha, 19, got.data(), 64);
            ASSERT_EQ(expected, got) << f.name << " MCU " << mcu << " with alpha";
        }
    }
}

// ---------------------------------------------------------------------------
// Whole images.

struct Decoded {
    bool ok = false;
    std::vector<uint8_t> pixels;
};

// Decodes `stream` with its header rewritten to width x height, into a
// destination of exactly width x height pixels (32-bit ones with byte 3
// from `alpha` when it is given).
Decoded DecodeAs(std::vector<uint8_t> stream, int width, int height, int bpp, const uint8_t* alpha = nullptr) {
    stream[0] = static_cast<uint8_t>(width);
    stream[1] = static_cast<uint8_t>(width >> 8);
    stream[2] = static_cast<uint8_t>(height);
    stream[3] = static_cast<uint8_t>(height >> 8);
    vt::jpeg::CJpegDecoder d;
    int w, h, hl;
    Decoded out;
    if (!d.ReadHeader(stream.data(), static_cast<int>(stream.size()), w, h, hl)) return out;
    out.pixels.assign(static_cast<size_t>(w) * h * bpp, 0);
    unsigned char* const pixels = out.pixels.data();
    out.ok = bpp == 2   ? d.DecodeImage16(stream.data() + hl, pixels)
             : bpp == 3 ? d.DecodeImage24(stream.data() + hl, pixels)
                        : d.DecodeImage32(stream.data() + hl, pixels, alpha);
    return out;
}

// The top-left width x height pixels of a full-MCU decode.
std::vector<uint8_t> Crop(const std::vector<uint8_t>& full, int fullWidth, int width, int height, int bpp) {
    std::vector<uint8_t> out;
    for (int y = 0; y < height; ++y) {
        const auto row = full.begin() + static_cast<long>(y) * fullWidth * bpp;
        out.insert(out.end(), row, row + static_cast<long>(width) * bpp);
    }
    return out;
}

// Two flat MCUs side by side: grey (DC 0) and white (Y DC +64 at q50).
std::vector<uint8_t> TwoMcuStream() {
    BitWriter w;
    for (int b = 0; b < 6; ++b) w.PutFlatBlock(b < 4, 0);
    w.PutFlatBlock(true, 64);
    for (int b = 1; b < 6; ++b) w.PutFlatBlock(b < 4, 0);
    return MakeStream(32, 16, 50, w.Finish());
}

TEST(ImageOutput, SeventeenWideUsesTwoMcusSixteenWideOne) {
    const auto stream = TwoMcuStream();
    const Decoded wide = DecodeAs(stream, 17, 16, 3);
    ASSERT_TRUE(wide.ok);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 17; ++x) {
            const int expected = x < 16 ? 128 : 255;
            for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(wide.pixels[(y * 17 + x) * 3 + ch], expected) << x << "," << y;
        }
    }
    const Decoded narrow = DecodeAs(stream, 16, 16, 3);
    ASSERT_TRUE(narrow.ok);
    EXPECT_EQ(narrow.pixels, std::vector<uint8_t>(16 * 16 * 3, 128));
}

// Edge MCUs are cropped: rows keep exactly width pixels (a 3-wide 24-bit
// image has 9-byte rows), and the destination is never written past
// width x height pixels (each destination is an exact-size allocation).
TEST(ImageOutput, EdgeMcusAreCroppedToTheImage) {
    const auto image = vt_jpeg_test::PhotoCrop(32, 32, 2);
    const auto stream = vt::compactjpeg::EncodeCompactJpeg(image.rgb.data(), 32, 32, 75);
    for (int bpp : {2, 3, 4}) {
        const Decoded full = DecodeAs(stream, 32, 32, bpp);
        ASSERT_TRUE(full.ok);
        for (auto [w, h] : {std::pair<int, int>{1, 1}, {3, 5}, {3, 16}, {16, 3}, {20, 20}, {17, 17}, {31, 2}}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " bpp " + std::to_string(bpp));
            // The MCUs of a w x h image are the first ones of the stream in
            // raster order: the same as in the 32 x 32 decode unless the
            // image is one MCU wide and two high.
            if (h > 16 && w <= 16) continue;
            const Decoded part = DecodeAs(stream, w, h, bpp);
            ASSERT_TRUE(part.ok);
            ASSERT_EQ(part.pixels.size(), static_cast<size_t>(w) * h * bpp);
            EXPECT_EQ(part.pixels, Crop(full.pixels, 32, w, h, bpp));
        }
    }
}

// 32-bit pixels are the 24-bit ones plus 255, or plus the alpha plane's
// byte; 16-bit pixels are the 24-bit ones packed 5:6:5 (blue in the top
// bits, each channel truncated).
TEST(ImageOutput, ThirtyTwoAndSixteenBitOutputsFollowTwentyFourBit) {
    const auto image = vt_jpeg_test::PhotoCrop(37, 29, 0);
    const auto stream = vt::compactjpeg::EncodeCompactJpeg(image.rgb.data(), 37, 29, 90);
    const Decoded rgb = DecodeAs(stream, 37, 29, 3);
    const Decoded rgba = DecodeAs(stream, 37, 29, 4);
    const Decoded packed = DecodeAs(stream, 37, 29, 2);
    // An exact-size plane: edge MCUs must not read past its end (ASan).
    std::unique_ptr<uint8_t[]> alpha(new uint8_t[37 * 29]);
    for (int i = 0; i < 37 * 29; ++i) alpha[i] = static_cast<uint8_t>(i * 7);
    const Decoded withAlpha = DecodeAs(stream, 37, 29, 4, alpha.get());
    ASSERT_TRUE(rgb.ok && rgba.ok && packed.ok && withAlpha.ok);
    for (int i = 0; i < 37 * 29; ++i) {
        ASSERT_EQ(rgba.pixels[4 * i + 3], 255);
        ASSERT_EQ(withAlpha.pixels[4 * i + 3], alpha[i]);
        for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(withAlpha.pixels[4 * i + ch], rgb.pixels[3 * i + ch]);
        for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(rgba.pixels[4 * i + ch], rgb.pixels[3 * i + ch]);
        const int word = ((rgb.pixels[3 * i] >> 3) << 11) | ((rgb.pixels[3 * i + 1] >> 2) << 5) | (rgb.pixels[3 * i + 2] >> 3);
        ASSERT_EQ(packed.pixels[2 * i] | (packed.pixels[2 * i + 1] << 8), word) << "pixel " << i;
    }
}

TEST(ImageOutput, NullPointersAreRejected) {
    const auto stream = TwoMcuStream();
    std::vector<uint8_t> out(32 * 16 * 4, 0x5A);
    vt::jpeg::CJpegDecoder d;
    int w, h, hl;
    ASSERT_TRUE(d.ReadHeader(stream.data(), static_cast<int>(stream.size()), w, h, hl));
    EXPECT_FALSE(d.DecodeImage24(nullptr, out.data()));
    EXPECT_FALSE(d.DecodeImage32(nullptr, out.data()));
    EXPECT_FALSE(d.DecodeImage24(stream.data() + hl, nullptr));
    EXPECT_FALSE(d.DecodeImage32(stream.data() + hl, nullptr));
    EXPECT_EQ(out, std::vector<uint8_t>(32 * 16 * 4, 0x5A));
}

// Random bytes as entropy data: every form finishes the image, agrees with
// the portable one, and reads nothing past the stream.
TEST(ImageOutput, GarbageDataDecodesIdenticallyInEveryForm) {
    std::mt19937 rng(77);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<uint8_t> data(50 + rng() % 3000);
        for (auto& b : data) b = static_cast<uint8_t>(rng() | (trial % 2 ? rng() : 0));
        const int w = 1 + static_cast<int>(rng() % 70), h = 1 + static_cast<int>(rng() % 70);
        const auto stream = MakeStream(w, h, static_cast<int>(rng() % 120), data);
        for (int bpp : {2, 3, 4}) {
            std::vector<uint8_t> expected;
            for (const vt::test::CpuForm& form : vt::test::kCpuForms) {
                if (!vt::test::FormRuns(form)) continue;
                vt::test::ScopedCpuFeatures scoped(form);
                const Decoded got = DecodeAs(stream, w, h, bpp);
                ASSERT_TRUE(got.ok);
                if (expected.empty())
                    expected = got.pixels;
                else
                    ASSERT_EQ(expected, got.pixels) << form.name << " trial " << trial << " bpp " << bpp;
            }
        }
    }
}

}  // namespace
