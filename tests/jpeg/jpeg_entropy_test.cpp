// Entropy decoding: DC prediction, runs, ZRL, the end of the data, and a
// differential check against a bit-serial T.81 decoder on random data.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "CompactJpeg.h"
#include "JpegTestAccess.h"
#include "JpegTestImages.h"
#include "JpegTestStreams.h"

namespace {

using vt_jpeg_test::BitWriter;
using vt_jpeg_test::MakeStream;

struct Block {
    int16_t c[64];
};

// Reads the header of `stream` (kept alive by the caller) and points the bit
// reader at its data.
void Start(vt::jpeg::CJpegDecoder& d, const std::vector<uint8_t>& stream) {
    int w, h, hl;
    ASSERT_TRUE(d.ReadHeader(stream.data(), static_cast<int>(stream.size()), w, h, hl));
    CJpegDecoderTestAccess::Start(d, stream.data() + hl);
}

Block Decode(vt::jpeg::CJpegDecoder& d, int blockIndex) {
    Block b;
    CJpegDecoderTestAccess::DecodeBlock(d, b.c, blockIndex);
    return b;
}

int NonZeroCount(const Block& b) {
    int n = 0;
    for (int16_t v : b.c) n += v != 0;
    return n;
}

TEST(EntropyDecoding, DcOnlyBlockKeepsThePredictor) {
    BitWriter w;
    w.PutFlatBlock(true, 5);
    w.PutFlatBlock(true, 0);
    const auto stream = MakeStream(16, 16, 50, w.Finish());
    vt::jpeg::CJpegDecoder d;
    Start(d, stream);
    const Block first = Decode(d, 0);
    EXPECT_EQ(first.c[0], 5);
    EXPECT_EQ(NonZeroCount(first), 1);
    const Block second = Decode(d, 1);
    EXPECT_EQ(second.c[0], 5);
    EXPECT_EQ(NonZeroCount(second), 1);
}

TEST(EntropyDecoding, LumaPredictorRunsAcrossMcusAndChromaHaveTheirOwn) {
    BitWriter w;
    const int diffs[2][6] = {{1, 2, 3, 4, -7, 9}, {1, -20, 0, 0, 1, -1}};
    for (const auto& mcu : diffs)
        for (int b = 0; b < 6; ++b) w.PutFlatBlock(b < 4, mcu[b]);
    const auto stream = MakeStream(32, 16, 50, w.Finish());
    vt::jpeg::CJpegDecoder d;
    Start(d, stream);
    const int expected[2][6] = {{1, 3, 6, 10, -7, 9}, {11, -9, -9, -9, -6, 8}};
    for (int m = 0; m < 2; ++m)
        for (int b = 0; b < 6; ++b) EXPECT_EQ(Decode(d, b).c[0], expected[m][b]) << "MCU " << m << " block " << b;
}

TEST(EntropyDecoding, ZrlSkipsSixteenPositions) {
    BitWriter w;
    w.PutDc(true, 0);
    w.PutAcSymbol(true, 0xF0);
    w.PutAc(true, 0, 3);  // k = 17
    w.PutEob(true);
    const auto stream = MakeStream(16, 16, 50, w.Finish());
    vt::jpeg::CJpegDecoder d;
    Start(d, stream);
    const Block b = Decode(d, 0);
    EXPECT_EQ(b.c[vt::jpeg::kZigZag[17]], 3);
    EXPECT_EQ(NonZeroCount(b), 1);
}

// ZRL at k = 49 leaves k = 65: the block ends without an end-of-block code
// and the next bits belong to the next block.
TEST(EntropyDecoding, ZrlAtPosition49EndsTheBlock) {
    BitWriter w;
    w.PutDc(true, 0);
    for (int i = 0; i < 3; ++i) w.PutAcSymbol(true, 0xF0);  // k = 1 -> 17 -> 33 -> 49
    w.PutAcSymbol(true, 0xF0);                              // k = 49 -> 65: end
    w.PutFlatBlock(true, 7);                                // the next block
    const auto stream = MakeStream(16, 16, 50, w.Finish());
    vt::jpeg::CJpegDecoder d;
    Start(d, stream);
    const Block b = Decode(d, 0);
    EXPECT_EQ(NonZeroCount(b), 0);
    EXPECT_EQ(Decode(d, 1).c[0], 7);
}

// A run that carries k past 63 writes coefficient 63 and ends the block.
TEST(EntropyDecoding, RunPastTheEndWritesCoefficient63) {
    BitWriter w;
    w.PutDc(true, 0);
    for (int i = 0; i < 3; ++i) w.PutAcSymbol(true, 0xF0);  // k = 49
    w.PutAc(true, 10, 1);                                   // writes k = 59, k = 60
    w.PutAc(true, 15, -1);                                  // k = 75 -> coefficient 63
    w.PutFlatBlock(true, -3);                               // the next block
    const auto stream = MakeStream(16, 16, 50, w.Finish());
    vt::jpeg::CJpegDecoder d;
    Start(d, stream);
    const Block b = Decode(d, 0);
    EXPECT_EQ(b.c[vt::jpeg::kZigZag[59]], 1);
    EXPECT_EQ(b.c[63], -1);
    EXPECT_EQ(NonZeroCount(b), 2);
    EXPECT_EQ(Decode(d, 1).c[0], -3);
}

// 0xFF is a data byte like any other; 0xFF 0x00 is not a stuffed 0xFF.
// FF 00 0A = DC size 11 (111111110), value bits 00000000000 (-2047), EOB
// (1010).
TEST(EntropyDecoding, FfBytesAreData) {
    const auto stream = MakeStream(16, 16, 50, {0xFF, 0x00, 0x0A, 0x28});
    vt::jpeg::CJpegDecoder d;
    Start(d, stream);
    const Block b = Decode(d, 0);
    EXPECT_EQ(b.c[0], -2047);
    EXPECT_EQ(NonZeroCount(b), 1);
    // 0x28 = 00 (size 0) 1010 (EOB): predictor unchanged.
    EXPECT_EQ(Decode(d, 1).c[0], -2047);
}

// After the data, zero bits: a luma block then reads DC size 0 and 63 times
// the AC code 00 (run 0, size 1) with value bit 0 (-1); a chroma block reads
// DC size 0 and end-of-block.
TEST(EntropyDecoding, BitsPastTheEndAreZeroBits) {
    const std::vector<uint8_t> header = MakeStream(16, 16, 50, {});
    std::vector<uint8_t> exact(header);  // nothing but the header
    vt::jpeg::CJpegDecoder d;
    Start(d, exact);
    for (int b = 0; b < 6; ++b) {
        const Block block = Decode(d, b);
        EXPECT_EQ(block.c[0], 0);
        for (int i = 1; i < 64; ++i) ASSERT_EQ(block.c[i], b < 4 ? -1 : 0) << "block " << b << " coefficient " << i;
    }
}

// A stream cut short decodes like the same stream followed by zero bytes,
// reads nothing past its end (the copy ends its allocation, so ASan would
// report a read beyond) and still reports success.
TEST(EntropyDecoding, TruncatedStreamDecodesLikeZeroPadding) {
    const auto image = vt_jpeg_test::PhotoCrop(48, 40, 4);
    const auto full = vt::compactjpeg::EncodeCompactJpeg(image.rgb.data(), 48, 40, 75);
    for (size_t cut : {size_t{6}, size_t{7}, size_t{13}, full.size() / 2, full.size() - 1}) {
        SCOPED_TRACE(cut);
        std::vector<uint8_t> truncated(full.begin(), full.begin() + static_cast<long>(cut));
        std::vector<uint8_t> padded(truncated);
        padded.resize(full.size() + 64, 0);
        std::vector<uint8_t> a(48 * 40 * 4), b(48 * 40 * 4);
        vt::jpeg::CJpegDecoder da, db;
        int w, h, hl;
        ASSERT_TRUE(da.ReadHeader(truncated.data(), static_cast<int>(truncated.size()), w, h, hl));
        EXPECT_TRUE(da.DecodeImage32(truncated.data() + hl, a.data()));
        ASSERT_TRUE(db.ReadHeader(padded.data(), static_cast<int>(padded.size()), w, h, hl));
        EXPECT_TRUE(db.DecodeImage32(padded.data() + hl, b.data()));
        EXPECT_EQ(a, b);
    }
}

// ---------------------------------------------------------------------------
// A bit-serial decoder written straight from T.81 F.2.2 (one bit at a time,
// codes searched by length, no lookahead), with the compact stream's rules:
// no stuffing, zero bits after the data, a pattern that is no code within 16
// bits gives symbol 0 after one more bit has been taken.
class SerialDecoder {
public:
    SerialDecoder(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    void DecodeBlock(int16_t* c, int blockIndex) {
        using namespace vt::jpeg;
        const bool luma = blockIndex < 4;
        int32_t& pred = luma ? pred_[0] : pred_[blockIndex - 3];
        std::memset(c, 0, 128);
        const int s = Symbol(luma ? kDcLumaBits : kDcChromaBits, luma ? kDcLumaValues : kDcChromaValues);
        pred = static_cast<int32_t>(static_cast<uint32_t>(pred) + static_cast<uint32_t>(Value(s)));
        c[0] = static_cast<int16_t>(pred);
        for (int k = 1; k < 64; ++k) {
            const int rs = Symbol(luma ? kAcLumaBits : kAcChromaBits, luma ? kAcLumaValues : kAcChromaValues);
            const int r = rs >> 4, size = rs & 15;
            if (size == 0) {
                if (r != 15) break;
                k += 15;
                continue;
            }
            k += r;
            c[k > 63 ? 63 : kZigZag[k]] = static_cast<int16_t>(Value(size));
        }
    }

private:
    int Bit() {
        const size_t byte = pos_ >> 3;
        const int bit = byte < size_ ? (data_[byte] >> (7 - (pos_ & 7))) & 1 : 0;
        ++pos_;
        return bit;
    }
    int Symbol(const uint8_t* bits, const uint8_t* values) {
        int code = 0, first = 0, index = 0;
        for (int l = 1; l <= 16; ++l) {
            code = (code << 1) | Bit();
            if (code - first < bits[l]) return values[index + code - first];
            index += bits[l];
            first = (first + bits[l]) << 1;
        }
        Bit();
        return 0;
    }
    int Value(int s) {
        if (s == 0) return 0;
        int v = 0;
        for (int i = 0; i < s; ++i) v = (v << 1) | Bit();
        return v < (1 << (s - 1)) ? v - (1 << s) + 1 : v;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    int32_t pred_[3] = {0, 0, 0};
};

// Random data hits every path: invalid codes, long codes, ZRL, overshooting
// runs, 0xFF bytes, and the end of the data mid-block.
TEST(EntropyDecoding, AgreesWithBitSerialDecoderOnRandomData) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 200; ++trial) {
        const size_t size = 1 + rng() % 300;
        std::vector<uint8_t> data(size);
        const int bias = trial % 4;  // some streams rich in 1 bits and 0xFF
        for (auto& b : data) b = static_cast<uint8_t>(bias == 0 ? rng() : (rng() | rng() | (bias > 1 ? rng() : 0)));
        const auto stream = MakeStream(16, 16, 50, data);
        const std::vector<uint8_t> exact(stream);
        vt::jpeg::CJpegDecoder d;
        Start(d, exact);
        SerialDecoder reference(data.data(), data.size());
        for (int block = 0; block < 60; ++block) {
            int16_t expected[64];
            reference.DecodeBlock(expected, block % 6);
            const Block got = Decode(d, block % 6);
            ASSERT_EQ(0, std::memcmp(expected, got.c, sizeof(expected))) << "trial " << trial << " block " << block;
        }
    }
}

}  // namespace
