// Block steps of the DXT encoder, portable form.
//
// The encoder makes one pass with no search: the endpoints are the block's
// per-channel minimum and maximum, each pulled inward by 1/16 of the channel's
// range; every color pixel then takes the palette entry that a fixed
// comparison network picks from four sums of absolute differences, and every
// alpha the entry given by counting seven fixed thresholds. All arithmetic is
// integer with the rounding written out below, which the SIMD form
// (DxtBlockSimd.h) reproduces lane for lane.
//
// Block buffer: 16 pixels of 4 bytes, row-major (pixel n at bytes 4n..4n+3).
// Channels 0-2 are the color, channel 3 the alpha. Channel 0 lands in the top
// five bits of a 5:6:5 endpoint.
#ifndef VELTRANE_DXT_BLOCK_PORTABLE_H
#define VELTRANE_DXT_BLOCK_PORTABLE_H

#include <cstdint>
#include <cstring>

// The steps have internal linkage: the AVX2 file compiles them with AVX2
// enabled, and those copies must never stand in for the baseline ones.
namespace vt {
namespace dxt {
namespace {

// Little-endian stores that advance the output cursor.
inline void PutU8(uint32_t value, uint8_t*& out) { *out++ = static_cast<uint8_t>(value); }
inline void PutU16(uint32_t value, uint8_t*& out) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out += 2;
}
inline void PutU32(uint32_t value, uint8_t*& out) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
    out += 4;
}

// 5:6:5 word of channels 0-2, truncating: c0 in bits 15-11, c2 in bits 4-0.
inline uint32_t PackEndpoint565(const uint8_t* color) {
    return (static_cast<uint32_t>(color[0] >> 3) << 11) | (static_cast<uint32_t>(color[1] >> 2) << 5) |
           static_cast<uint32_t>(color[2] >> 3);
}

// Copies a full 4 x 4 block whose top-left pixel is `topLeft` in an image
// `width` pixels wide into the block buffer.
inline void CopyBlockPixels(const uint8_t* topLeft, int width, uint8_t* block) {
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int row = 0; row < 4; ++row) std::memcpy(block + 16 * row, topLeft + row * stride, 16);
}

// Per-channel bounds of channels 0 .. kChannels-1: minimum and maximum over
// the 16 pixels, each moved inward by (max - min) >> 4. The inset is at most
// half the range, so low <= high in every channel and neither leaves 0..255.
template <int kChannels>
inline void FindBounds(const uint8_t* block, uint8_t* low, uint8_t* high) {
    // Minimum and maximum of each byte position over the four rows, then
    // folded over the four pixels of a row: min/max are order-free, and
    // 16-byte-wide loops like these compile to a few vector operations.
    uint8_t minimum[16], maximum[16];
    std::memcpy(minimum, block, 16);
    std::memcpy(maximum, block, 16);
    for (int row = 1; row < 4; ++row)
        for (int i = 0; i < 16; ++i) {
            const uint8_t v = block[16 * row + i];
            minimum[i] = v < minimum[i] ? v : minimum[i];
            maximum[i] = v > maximum[i] ? v : maximum[i];
        }
    for (int width = 8; width >= 4; width >>= 1)
        for (int i = 0; i < width; ++i) {
            minimum[i] = minimum[i + width] < minimum[i] ? minimum[i + width] : minimum[i];
            maximum[i] = maximum[i + width] > maximum[i] ? maximum[i + width] : maximum[i];
        }
    for (int c = 0; c < kChannels; ++c) {
        const int inset = (maximum[c] - minimum[c]) >> 4;
        low[c] = static_cast<uint8_t>(minimum[c] + inset);
        high[c] = static_cast<uint8_t>(maximum[c] - inset);
    }
}

// Color endpoints (channels 0-2) for DXT1.
inline void FindColorBounds(const uint8_t* block, uint8_t* low, uint8_t* high) { FindBounds<3>(block, low, high); }
// Color and alpha endpoints (channels 0-3) for DXT5; channels 0-2 are those
// of FindColorBounds.
inline void FindColorAlphaBounds(const uint8_t* block, uint8_t* low, uint8_t* high) {
    FindBounds<4>(block, low, high);
}

// The 2-bit index word of the DXT1 color block. The palette is built from the
// 8-bit endpoints expanded the way a decoder expands the truncated 5:6:5
// fields, with the two thirds-points rounded down; each pixel's index comes
// from a fixed comparison network over the four sums of absolute differences
// (channels 0-2). Strict comparisons throughout: equal distances fall to the
// lower index, and a block with color0 == color1 gets index 0 everywhere.
inline void SelectColorIndices(const uint8_t* block, const uint8_t* low, const uint8_t* high, uint8_t*& out) {
    int palette[4][3];
    for (int c = 0; c < 3; ++c) {
        const int keep = c == 1 ? 0xFC : 0xF8;
        const int shift = c == 1 ? 6 : 5;
        const int p0 = (high[c] & keep) | (high[c] >> shift);
        const int p1 = (low[c] & keep) | (low[c] >> shift);
        palette[0][c] = p0;
        palette[1][c] = p1;
        palette[2][c] = (2 * p0 + p1) / 3;
        palette[3][c] = (p0 + 2 * p1) / 3;
    }
    // Distances first, then the network, each as a loop over the 16 pixels
    // on 16-bit values, with the channels split into planes: loops of this
    // shape compile to vector code on most targets.
    int16_t plane[3][16];
    for (int pixel = 0; pixel < 16; ++pixel)
        for (int c = 0; c < 3; ++c) plane[c][pixel] = block[4 * pixel + c];
    int16_t d[4][16];
    for (int e = 0; e < 4; ++e) {
        const int16_t q0 = static_cast<int16_t>(palette[e][0]), q1 = static_cast<int16_t>(palette[e][1]),
                      q2 = static_cast<int16_t>(palette[e][2]);
        for (int pixel = 0; pixel < 16; ++pixel) {
            const int16_t a = static_cast<int16_t>(plane[0][pixel] - q0);
            const int16_t b = static_cast<int16_t>(plane[1][pixel] - q1);
            const int16_t c = static_cast<int16_t>(plane[2][pixel] - q2);
            d[e][pixel] = static_cast<int16_t>((a < 0 ? -a : a) + (b < 0 ? -b : b) + (c < 0 ? -c : c));
        }
    }
    uint8_t index[16];
    for (int pixel = 0; pixel < 16; ++pixel) {
        const int16_t d0 = d[0][pixel], d1 = d[1][pixel], d2 = d[2][pixel], d3 = d[3][pixel];
        const int h = ((d2 < d1) & (d2 < d0)) | ((d3 < d0) & (d3 < d1));
        const int l = (d3 < d0) & (d3 < d2);
        index[pixel] = static_cast<uint8_t>(2 * h + l);
    }
    uint32_t word = 0;
    for (int pixel = 0; pixel < 16; ++pixel) word |= static_cast<uint32_t>(index[pixel]) << (2 * pixel);
    PutU32(word, out);
}

// The seven thresholds of the alpha index choice, ascending: each lies half a
// palette step (rounded down) above one of the seven lower palette values
// alpha1, (a0 + 6 a1) / 7, ..., (6 a0 + a1) / 7. Needs alpha1 <= alpha0.
inline void AlphaThresholds(uint32_t alpha1, uint32_t alpha0, uint8_t* thresholds) {
    const uint32_t mid = (alpha0 - alpha1) / 14;
    for (uint32_t k = 0; k < 7; ++k)
        thresholds[k] = static_cast<uint8_t>((k * alpha0 + (7 - k) * alpha1) / 7 + mid);
}

// The 48-bit alpha index field of a DXT5 block, written as six bytes. A
// pixel's count is the number of thresholds its alpha does not exceed (an
// alpha on a threshold takes the lower palette value); counts 0 .. 7 map to
// the indices 0 (alpha0), 2 .. 7, 1 (alpha1).
inline void SelectAlphaIndices(const uint8_t* block, uint32_t alpha1, uint32_t alpha0, uint8_t*& out) {
    uint8_t thresholds[7];
    AlphaThresholds(alpha1, alpha0, thresholds);
    const uint8_t t0 = thresholds[0], t1 = thresholds[1], t2 = thresholds[2], t3 = thresholds[3];
    const uint8_t t4 = thresholds[4], t5 = thresholds[5], t6 = thresholds[6];
    uint8_t alpha[16], index[16];
    for (int pixel = 0; pixel < 16; ++pixel) alpha[pixel] = block[4 * pixel + 3];
    for (int pixel = 0; pixel < 16; ++pixel) {
        const uint8_t a = alpha[pixel];
        const uint8_t count = static_cast<uint8_t>((a <= t0) + (a <= t1) + (a <= t2) + (a <= t3) + (a <= t4) +
                                                   (a <= t5) + (a <= t6));
        const uint8_t v = static_cast<uint8_t>((count + 1) & 7);
        index[pixel] = static_cast<uint8_t>(v ^ (v < 2));
    }
    // Two 24-bit halves, pixels 0-7 and 8-15.
    uint32_t first = 0, second = 0;
    for (int pixel = 0; pixel < 8; ++pixel) {
        first |= static_cast<uint32_t>(index[pixel]) << (3 * pixel);
        second |= static_cast<uint32_t>(index[pixel + 8]) << (3 * pixel);
    }
    const uint64_t field = first | (static_cast<uint64_t>(second) << 24);
    for (int i = 0; i < 6; ++i) PutU8(static_cast<uint32_t>(field >> (8 * i)), out);
}

}  // namespace
}  // namespace dxt
}  // namespace vt

#endif  // VELTRANE_DXT_BLOCK_PORTABLE_H
