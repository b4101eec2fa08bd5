// Hand-made compact JPEG streams: a bit writer and Huffman codes of the
// T.81 Annex K tables.
#ifndef VT_TESTS_JPEG_TEST_STREAMS_H
#define VT_TESTS_JPEG_TEST_STREAMS_H

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "jpeg/JpegTables.h"

namespace vt_jpeg_test {

// Writes bits most significant first; Finish pads the last byte with 1s
// unless told otherwise.
class BitWriter {
public:
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            current_ = static_cast<uint8_t>((current_ << 1) | ((value >> i) & 1));
            if (++filled_ == 8) {
                bytes_.push_back(current_);
                current_ = 0;
                filled_ = 0;
            }
        }
    }
    // Huffman code of `symbol` in the table given by its BITS and HUFFVAL.
    void PutSymbol(const uint8_t* bits, const uint8_t* values, int symbol) {
        const vt::jpeg::CanonicalCodes codes = vt::jpeg::MakeCanonicalCodes(bits);
        for (int p = 0; p < codes.count; ++p)
            if (values[p] == symbol) return Put(codes.code[p], codes.length[p]);
        std::abort();
    }
    // A coefficient value v != 0 as its size category and its raw bits.
    static int SizeOf(int v) {
        int s = 0;
        for (int a = v < 0 ? -v : v; a != 0; a >>= 1) ++s;
        return s;
    }
    static uint32_t RawBits(int v, int s) { return v < 0 ? static_cast<uint32_t>(v + (1 << s) - 1) : v; }

    void PutDc(bool luma, int diff) {
        using namespace vt::jpeg;
        const int s = diff == 0 ? 0 : SizeOf(diff);
        PutSymbol(luma ? kDcLumaBits : kDcChromaBits, luma ? kDcLumaValues : kDcChromaValues, s);
        if (s) Put(RawBits(diff, s), s);
    }
    void PutAc(bool luma, int run, int value) {
        using namespace vt::jpeg;
        const int s = SizeOf(value);
        PutSymbol(luma ? kAcLumaBits : kAcChromaBits, luma ? kAcLumaValues : kAcChromaValues, (run << 4) | s);
        Put(RawBits(value, s), s);
    }
    void PutAcSymbol(bool luma, int symbol) {
        using namespace vt::jpeg;
        PutSymbol(luma ? kAcLumaBits : kAcChromaBits, luma ? kAcLumaValues : kAcChromaValues, symbol);
    }
    void PutEob(bool luma) { PutAcSymbol(luma, 0x00); }
    // A block with only a DC difference.
    void PutFlatBlock(bool luma, int diff) {
        PutDc(luma, diff);
        PutEob(luma);
    }

    std::vector<uint8_t> Finish(bool padWithOnes = true) {
        std::vector<uint8_t> out = bytes_;
        if (filled_ != 0) {
            const int pad = 8 - filled_;
            out.push_back(static_cast<uint8_t>((current_ << pad) | (padWithOnes ? (1 << pad) - 1 : 0)));
        }
        return out;
    }

private:
    std::vector<uint8_t> bytes_;
    uint8_t current_ = 0;
    int filled_ = 0;
};

// A compact stream: header then entropy data.
inline std::vector<uint8_t> MakeStream(int width, int height, int quality, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> s = {static_cast<uint8_t>(width),   static_cast<uint8_t>(width >> 8),
                              static_cast<uint8_t>(height),  static_cast<uint8_t>(height >> 8),
                              static_cast<uint8_t>(quality), static_cast<uint8_t>(quality >> 8)};
    s.insert(s.end(), data.begin(), data.end());
    return s;
}

}  // namespace vt_jpeg_test

#endif
