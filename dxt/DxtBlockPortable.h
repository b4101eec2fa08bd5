// Block steps of the DXT encoder, portable form.
//
// The encoder makes one pass with no search: the endpoints are the block's
// per-channel minimum and maximum, each pulled inward by 1/16 of the channel's
// range; every colour pixel then takes the palette entry that a fixed
// comparison network picks from four sums of absolute differences, and every
// alpha the entry given by counting seven fixed thresholds. All arithmetic is
// integer with the rounding written out below, which the SIMD form
// (DxtBlockSimd.h) reproduces lane for lane.
//
// Block buffer: 16 pixels of 4 bytes, row-major (pixel n at bytes 4n..4n+3).
// Channels 0-2 are the colour, channel 3 the alpha. Channel 0 lands in the top
// five bits of a 5:6:5 endpoint.
#ifndef VELTRANE_DXT_BLOCK_PORTABLE_H
#define VELTRANE_DXT_BLOCK_PORTABLE_H

#include <cstdint>
#include <cstring>

// The steps have internal linkage: the AVX2 file compiles them with AVX2
// enabled, and those copies must never stand in for the baseline ones.
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
inline uint32_t PackEndpoint565(const uint8_t* colour) {
    return (static_cast<uint32_t>(colour[0] >> 3) << 11) | (static_cast<uint32_t>(colour[1] >> 2) << 5) |
           static_cast<uint32_t>(colour[2] >> 3);
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
    uint8_t minimum[4] = {255, 255, 255, 255};
    uint8_t maximum[4] = {0, 0, 0, 0};
    for (int pixel = 0; pixel < 16; ++pixel) {
        for (int c = 0; c < kChannels; ++c) {
            const uint8_t v = block[4 * pixel + c];
            if (v < minimum[c]) minimum[c] = v;
            if (v > maximum[c]) maximum[c] = v;
        }
    }
    for (int c = 0; c < kChannels; ++c) {
        const int inset = (maximum[c] - minimum[c]) >> 4;
        low[c] = static_cast<uint8_t>(minimum[c] + inset);
        high[c] = static_cast<uint8_t>(maximum[c] - inset);
    }
}

// Colour endpoints (channels 0-2) for DXT1.
inline void FindColorBounds(const uint8_t* block, uint8_t* low, uint8_t* high) { FindBounds<3>(block, low, high); }
// Colour and alpha endpoints (channels 0-3) for DXT5; channels 0-2 are those
// of FindColorBounds.
inline void FindColorAlphaBounds(const uint8_t* block, uint8_t* low, uint8_t* high) {
    FindBounds<4>(block, low, high);
}

// The 2-bit index word of the DXT1 colour block. The palette is built from the
// 8-bit endpoints expanded the way a decoder expands the truncated 5:6:5
// fields, with the two thirds-points rounded down; each pixel's index comes
// from a fixed comparison network over the four sums of absolute differences
// (channels 0-2). Strict comparisons throughout: equal distances fall to the
// lower index, and a block with colour0 == colour1 gets index 0 everywhere.
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
    // Distances first, in four arrays, then the network: two simple loops
    // over the 16 pixels that compilers vectorise well.
    int16_t d[4][16];
    for (int e = 0; e < 4; ++e) {
        for (int pixel = 0; pixel < 16; ++pixel) {
            int sum = 0;
            for (int c = 0; c < 3; ++c) {
                const int diff = palette[e][c] - block[4 * pixel + c];
                sum += diff < 0 ? -diff : diff;
            }
            d[e][pixel] = static_cast<int16_t>(sum);
        }
    }
    uint32_t word = 0;
    for (int pixel = 0; pixel < 16; ++pixel) {
        const int d0 = d[0][pixel], d1 = d[1][pixel], d2 = d[2][pixel], d3 = d[3][pixel];
        const uint32_t h = ((d2 < d1) & (d2 < d0)) | ((d3 < d0) & (d3 < d1));
        const uint32_t l = (d3 < d0) & (d3 < d2);
        word |= (2 * h + l) << (2 * pixel);
    }
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
    uint8_t count[16] = {};
    for (int k = 0; k < 7; ++k)
        for (int pixel = 0; pixel < 16; ++pixel) count[pixel] += block[4 * pixel + 3] <= thresholds[k];
    uint64_t field = 0;
    for (int pixel = 0; pixel < 16; ++pixel) {
        uint32_t index = (count[pixel] + 1u) & 7;
        if (index < 2) index ^= 1;
        field |= static_cast<uint64_t>(index) << (3 * pixel);
    }
    for (int i = 0; i < 6; ++i) PutU8(static_cast<uint32_t>(field >> (8 * i)), out);
}

}  // namespace
}  // namespace dxt

#endif  // VELTRANE_DXT_BLOCK_PORTABLE_H
