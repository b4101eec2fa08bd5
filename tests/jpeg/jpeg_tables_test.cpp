// Header reading and the decoder's tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "JpegTestAccess.h"
#include "JpegTestStreams.h"

namespace {

using A = CJpegDecoderTestAccess;
using vt_jpeg_test::MakeStream;

// A decoder whose tables were built for `quality`.
struct Prepared {
    explicit Prepared(int quality) : stream(MakeStream(16, 16, quality, {0})) {
        int w, h, hl;
        EXPECT_TRUE(d.ReadHeader(stream.data(), static_cast<int>(stream.size()), w, h, hl));
    }
    std::vector<uint8_t> stream;
    vt::jpeg::CJpegDecoder d;
};

TEST(ReadHeader, ReportsSizeAndHeaderLength) {
    const std::vector<uint8_t> stream = MakeStream(0x1234, 0x0102, 75, {1, 2, 3});
    vt::jpeg::CJpegDecoder d;
    int w = 0, h = 0, hl = 0;
    ASSERT_TRUE(d.ReadHeader(stream.data(), static_cast<int>(stream.size()), w, h, hl));
    EXPECT_EQ(w, 0x1234);
    EXPECT_EQ(h, 0x0102);
    EXPECT_EQ(hl, 6);
    EXPECT_EQ(A::BytesLeft(d), 3);
}

TEST(ReadHeader, ZeroWidthOrHeightIsRejectedWithOutputsUntouched) {
    for (auto size : {std::pair<int, int>{0, 10}, {10, 0}, {0, 0}}) {
        const std::vector<uint8_t> stream = MakeStream(size.first, size.second, 50, {0, 0});
        vt::jpeg::CJpegDecoder d;
        int w = -7, h = -7, hl = 0;
        EXPECT_FALSE(d.ReadHeader(stream.data(), static_cast<int>(stream.size()), w, h, hl));
        EXPECT_EQ(hl, 6);
        EXPECT_EQ(w, -7);
        EXPECT_EQ(h, -7);
    }
}

// A stream shorter than its header is rejected, and nothing past its end is
// read (each copy ends its allocation: ASan reports any read beyond).
TEST(ReadHeader, StreamShorterThanHeaderIsRejected) {
    for (int length = 0; length < 6; ++length) {
        std::vector<uint8_t> exact(static_cast<size_t>(length), 0x10);
        vt::jpeg::CJpegDecoder d;
        int w = -7, h = -7, hl = 0;
        EXPECT_FALSE(d.ReadHeader(length ? exact.data() : nullptr, length, w, h, hl)) << length;
        EXPECT_EQ(w, -7);
    }
    std::vector<uint8_t> exact = MakeStream(1, 1, 50, {});
    vt::jpeg::CJpegDecoder d;
    int w, h, hl;
    EXPECT_TRUE(d.ReadHeader(exact.data(), 6, w, h, hl));  // header only: a valid, empty scan
}

TEST(QuantTables, QualityScaleAndClamping) {
    EXPECT_EQ(A::QualityScale(Prepared(0).d), 5000);
    EXPECT_EQ(A::QualityScale(Prepared(1).d), 5000);
    EXPECT_EQ(A::QualityScale(Prepared(10).d), 500);
    EXPECT_EQ(A::QualityScale(Prepared(50).d), 100);
    EXPECT_EQ(A::QualityScale(Prepared(75).d), 50);
    EXPECT_EQ(A::QualityScale(Prepared(100).d), 0);
    EXPECT_EQ(A::QualityScale(Prepared(65535).d), 0);
}

// The chroma blocks are dequantised with the luminance table: a decoder
// whose two tables differed for some quality would shift every chroma block.
TEST(QuantTables, BothComponentsShareOneTableAtEveryQuality) {
    for (int q = 0; q < 65536; q += (q < 300 ? 1 : 997)) {
        Prepared p(q);
        ASSERT_EQ(0, std::memcmp(A::LumaQuant(p.d), A::ChromaQuant(p.d), 128)) << q;
    }
}

TEST(QuantTables, MultipliersAtTheEdgesOfQuality) {
    // Quality 0 behaves as 1: every value clamps to 255; 255 * 16384 / 4096.
    EXPECT_EQ(A::LumaQuant(Prepared(0).d)[0], 1020);
    EXPECT_EQ(0, std::memcmp(A::LumaQuant(Prepared(0).d), A::LumaQuant(Prepared(1).d), 128));
    // Quality 50 is Table K.1 itself: 16 * 16384 / 4096 = 64.
    EXPECT_EQ(A::LumaQuant(Prepared(50).d)[0], 64);
    EXPECT_EQ(A::LumaQuant(Prepared(75).d)[0], 32);
    // Quality 10: scale 500, so entry 1 is (500 * 11 + 50) / 100 = 55 before
    // the AAN factor 22725: (55 * 22725 + 2048) >> 12 = 305.
    EXPECT_EQ(A::LumaQuant(Prepared(10).d)[1], 305);
    // Quality 100 and above: every value 1, so the AAN factor / 4096.
    for (int q : {100, 101, 1000, 65535}) {
        Prepared p(q);
        const uint16_t* m = A::LumaQuant(p.d);
        EXPECT_EQ(m[0], 4);
        EXPECT_EQ(m[63], 0);  // (1247 + 2048) >> 12
        for (int i = 0; i < 63; ++i) EXPECT_GE(m[i], 1) << i;
    }
}

TEST(ConstantTables, AanScalesAreTheCosineProducts) {
    const double pi = std::acos(-1.0);
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            const double su = u == 0 ? 1.0 : std::sqrt(2.0) * std::cos(u * pi / 16);
            const double sv = v == 0 ? 1.0 : std::sqrt(2.0) * std::cos(v * pi / 16);
            EXPECT_EQ(vt::jpeg::kAanScale[8 * u + v], std::lround(16384 * su * sv)) << u << "," << v;
        }
}

TEST(ConstantTables, ZigZagVisitsEveryCoefficientInDiagonalOrder) {
    int seen[64] = {};
    for (int k = 0; k < 64; ++k) {
        ++seen[vt::jpeg::kZigZag[k]];
        if (k > 0) {
            const int a = vt::jpeg::kZigZag[k - 1], b = vt::jpeg::kZigZag[k];
            const int da = a / 8 + a % 8, db = b / 8 + b % 8;
            EXPECT_TRUE(db == da || db == da + 1) << k;  // same or next anti-diagonal
        }
    }
    for (int i = 0; i < 64; ++i) EXPECT_EQ(seen[i], 1);
    for (int k = 64; k < 80; ++k) EXPECT_EQ(vt::jpeg::kZigZag[k], 63);
}

// The Annex K.3 tables as libjpeg installs them for a standard compressor.
TEST(ConstantTables, HuffmanTablesEqualLibjpegStandardTables) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    const struct {
        const JHUFF_TBL* libjpeg;
        const uint8_t* bits;
        const uint8_t* values;
    } pairs[4] = {{cinfo.dc_huff_tbl_ptrs[0], vt::jpeg::kDcLumaBits, vt::jpeg::kDcLumaValues},
                  {cinfo.dc_huff_tbl_ptrs[1], vt::jpeg::kDcChromaBits, vt::jpeg::kDcChromaValues},
                  {cinfo.ac_huff_tbl_ptrs[0], vt::jpeg::kAcLumaBits, vt::jpeg::kAcLumaValues},
                  {cinfo.ac_huff_tbl_ptrs[1], vt::jpeg::kAcChromaBits, vt::jpeg::kAcChromaValues}};
    for (const auto& p : pairs) {
        int count = 0;
        for (int l = 1; l <= 16; ++l) {
            EXPECT_EQ(p.bits[l], p.libjpeg->bits[l]) << l;
            count += p.bits[l];
        }
        for (int i = 0; i < count; ++i) EXPECT_EQ(p.values[i], p.libjpeg->huffval[i]) << i;
    }
    jpeg_destroy_compress(&cinfo);
}

// Encoder-made streams never reach the IDCT window's wrap-around (values of
// 512 and more, from damaged data); the oracle tests cannot see it.
TEST(RangeLimit, BothWindows) {
    const uint8_t* t = vt::jpeg::kRangeLimit.entry;
    for (int v = -256; v < 640; ++v) EXPECT_EQ(t[256 + v], v < 0 ? 0 : (v > 255 ? 255 : v)) << v;
    for (int m = 0; m < 1024; ++m) {
        const int s = (m < 512 ? m : m - 1024) + 128;
        EXPECT_EQ(t[384 + m], s < 0 ? 0 : (s > 255 ? 255 : s)) << m;
    }
}

}  // namespace
