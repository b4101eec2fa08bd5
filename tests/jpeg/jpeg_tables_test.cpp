// Header reading and the decoder's tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
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
    CJpegDecoder d;
};

TEST(ReadHeader, ReportsSizeAndHeaderLength) {
    const std::vector<uint8_t> stream = MakeStream(0x1234, 0x0102, 75, {1, 2, 3});
    CJpegDecoder d;
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
        CJpegDecoder d;
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
        CJpegDecoder d;
        int w = -7, h = -7, hl = 0;
        EXPECT_FALSE(d.ReadHeader(length ? exact.data() : nullptr, length, w, h, hl)) << length;
        EXPECT_EQ(w, -7);
    }
    std::vector<uint8_t> exact = MakeStream(1, 1, 50, {});
    CJpegDecoder d;
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

TEST(QuantTables, MultipliersAtTheEdgesOfQuality) {
    // Quality 0 behaves as 1: every value clamps to 255; 255 * 16384 / 4096.
    EXPECT_EQ(A::LumaQuant(Prepared(0).d)[0], 1020);
    EXPECT_EQ(0, std::memcmp(A::LumaQuant(Prepared(0).d), A::LumaQuant(Prepared(1).d), 128));
    // Quality 50 is Table K.1 itself: 16 * 16384 / 4096 = 64.
    EXPECT_EQ(A::LumaQuant(Prepared(50).d)[0], 64);
    EXPECT_EQ(A::LumaQuant(Prepared(75).d)[0], 32);
    // Quality 100 and above: every value 1, so the AAN factor / 4096.
    for (int q : {100, 101, 1000, 65535}) {
        Prepared p(q);
        const uint16_t* m = A::LumaQuant(p.d);
        EXPECT_EQ(m[0], 4);
        EXPECT_EQ(m[63], 0);  // (1247 + 2048) >> 12
        for (int i = 0; i < 63; ++i) EXPECT_GE(m[i], 1) << i;
    }
}

TEST(QuantTables, FollowTheScaledBaseTableAndAreEqualForBothComponents) {
    for (int q = 0; q < 65536; q += (q < 300 ? 1 : 997)) {
        Prepared p(q);
        const int clamped = q == 0 ? 1 : (q > 100 ? 100 : q);
        const int scale = clamped < 50 ? 5000 / clamped : 200 - 2 * clamped;
        for (int i = 0; i < 64; ++i) {
            int v = (scale * vt::jpeg::kBaseQuant[i] + 50) / 100;
            v = v < 1 ? 1 : (v > 255 ? 255 : v);
            ASSERT_EQ(A::LumaQuant(p.d)[i], (v * vt::jpeg::kAanScale[i] + 2048) >> 12) << q << " " << i;
        }
        ASSERT_EQ(0, std::memcmp(A::LumaQuant(p.d), A::ChromaQuant(p.d), 128)) << q;
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

TEST(HuffmanTables, DerivedValues) {
    Prepared p(50);
    for (const DerivedHuffmanTable* t : {&A::DcLuma(p.d), &A::AcLuma(p.d), &A::DcChroma(p.d), &A::AcChroma(p.d)}) {
        EXPECT_EQ(t->maxCode[1], -1);
        EXPECT_EQ(t->maxCode[17], 0xFFFFF);
    }
    const DerivedHuffmanTable& dc = A::DcLuma(p.d);
    for (int look = 0x00; look <= 0x3F; ++look) {
        EXPECT_EQ(dc.lookLength[look], 2);
        EXPECT_EQ(dc.lookSymbol[look], 0);
    }
    const DerivedHuffmanTable& ac = A::AcLuma(p.d);
    for (int look = 0xA0; look <= 0xAF; ++look) {
        EXPECT_EQ(ac.lookLength[look], 4);
        EXPECT_EQ(ac.lookSymbol[look], 0x00);
    }
    // K.5: codes 00 and 01 (symbols 0x01, 0x02), 100 (0x03); K.3: the 9-bit
    // code 111111110 of size 11 is beyond the lookahead.
    EXPECT_EQ(ac.lookSymbol[0x00], 0x01);
    EXPECT_EQ(ac.lookSymbol[0x40], 0x02);
    EXPECT_EQ(ac.lookLength[0x80], 3);
    EXPECT_EQ(dc.lookLength[0xFF], 0);
    EXPECT_EQ(dc.maxCode[9], 0x1FE);
}

TEST(ColorTables, FixedPointJfifCoefficients) {
    Prepared p(50);
    EXPECT_EQ(A::CrToR(p.d)[0], -179);
    EXPECT_EQ(A::CrToR(p.d)[128], 0);
    EXPECT_EQ(A::CrToR(p.d)[255], 178);
    EXPECT_EQ(A::CbToB(p.d)[0], -227);
    EXPECT_EQ(A::CbToB(p.d)[255], 225);
    EXPECT_EQ(A::CrToG(p.d)[0], 46802 * 128);
    EXPECT_EQ(A::CrToG(p.d)[255], -46802 * 127);
    EXPECT_EQ(A::CbToG(p.d)[0], 22554 * 128 + 32768);
    EXPECT_EQ(A::CbToG(p.d)[128], 32768);
}

TEST(RangeLimit, BothWindows) {
    Prepared p(50);
    const uint8_t* t = A::RangeLimit(p.d);
    for (int v = -256; v < 640; ++v) EXPECT_EQ(t[256 + v], v < 0 ? 0 : (v > 255 ? 255 : v)) << v;
    for (int m = 0; m < 1024; ++m) {
        const int s = (m < 512 ? m : m - 1024) + 128;
        EXPECT_EQ(t[384 + m], s < 0 ? 0 : (s > 255 ? 255 : s)) << m;
    }
}

}  // namespace
