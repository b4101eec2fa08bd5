// Compact JPEG decoder: portable inverse DCT and color conversion, the
// reference for the SIMD forms.
#include <cstring>

#include "jpeg/JpegKernels.h"

namespace vt {
namespace jpeg {
namespace {

// The AAN (Arai, Agui, Nakajima) scaled 8-point IDCT in the arrangement of
// Pennebaker & Mitchell figure 4-8, with the multipliers in 8-bit fixed point
// (kFix*, JpegKernels.h). The AAN scale factors are already folded into the
// dequantisation multipliers. Values are carried as uint32_t so that
// overflow on damaged data wraps (two's complement) instead of being
// undefined; products are shifted as signed values, i.e. rounded towards
// minus infinity.

inline uint32_t Mul(uint32_t x, int32_t c) {
    return static_cast<uint32_t>(static_cast<int32_t>(x * static_cast<uint32_t>(c)) >> 8);
}

inline void Butterfly(const uint32_t in[8], uint32_t out[8]) {
    // Even part.
    const uint32_t t10 = in[0] + in[4];
    const uint32_t t11 = in[0] - in[4];
    const uint32_t t13 = in[2] + in[6];
    const uint32_t t12 = Mul(in[2] - in[6], kFix1_414213562) - t13;
    const uint32_t e0 = t10 + t13;
    const uint32_t e3 = t10 - t13;
    const uint32_t e1 = t11 + t12;
    const uint32_t e2 = t11 - t12;
    // Odd part.
    const uint32_t z13 = in[5] + in[3];
    const uint32_t z10 = in[5] - in[3];
    const uint32_t z11 = in[1] + in[7];
    const uint32_t z12 = in[1] - in[7];
    const uint32_t o7 = z11 + z13;
    const uint32_t o11 = Mul(z11 - z13, kFix1_414213562);
    const uint32_t z5 = Mul(z10 + z12, kFix1_847759065);
    const uint32_t o10 = Mul(z12, kFix1_082392200) - z5;
    const uint32_t o12 = Mul(z10, -kFix2_613125930) + z5;
    const uint32_t o6 = o12 - o7;
    const uint32_t o5 = o11 - o6;
    const uint32_t o4 = o10 + o5;
    out[0] = e0 + o7;
    out[7] = e0 - o7;
    out[1] = e1 + o6;
    out[6] = e1 - o6;
    out[2] = e2 + o5;
    out[5] = e2 - o5;
    out[4] = e3 + o4;
    out[3] = e3 - o4;
}

// Drops the 2 fractional bits of the multipliers and the factor 8 of the
// 2-D transform, reads the low 10 bits as a signed value and clamps it + 128.
inline uint8_t RangeLimit(const uint8_t* rangeLimit, uint32_t x) {
    return rangeLimit[384 + ((x >> 5) & 1023)];
}

inline void StoreLittleEndian64(uint8_t* dst, uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    std::memcpy(dst, &v, 8);
}

}  // namespace

void InverseDctPortable(const int16_t* coefficients, const uint16_t* multipliers, const uint8_t* rangeLimit,
                        uint8_t* samples) {
    uint32_t workspace[64];
    uint32_t in[8], out[8];
    for (int c = 0; c < 8; ++c) {
        const int16_t* col = coefficients + c;
        const uint16_t* m = multipliers + c;
        if ((col[8] | col[16] | col[24] | col[32] | col[40] | col[48] | col[56]) == 0) {
            // No AC terms in the column: every output is the DC input.
            const uint32_t dc = static_cast<uint32_t>(col[0] * static_cast<int32_t>(m[0]));
            for (int r = 0; r < 8; ++r) workspace[8 * r + c] = dc;
            continue;
        }
        for (int r = 0; r < 8; ++r) in[r] = static_cast<uint32_t>(col[8 * r] * static_cast<int32_t>(m[8 * r]));
        Butterfly(in, out);
        for (int r = 0; r < 8; ++r) workspace[8 * r + c] = out[r];
    }
    for (int r = 0; r < 8; ++r) {
        const uint32_t* row = workspace + 8 * r;
        uint8_t* dst = samples + 8 * r;
        if ((row[1] | row[2] | row[3] | row[4] | row[5] | row[6] | row[7]) == 0) {
            std::memset(dst, RangeLimit(rangeLimit, row[0]), 8);
            continue;
        }
        Butterfly(row, out);
        // One 8-byte store: byte stores would make the compiler reload
        // `out` after each of them (a byte may alias anything).
        uint64_t packed = 0;
        for (int k = 0; k < 8; ++k) packed |= static_cast<uint64_t>(RangeLimit(rangeLimit, out[k])) << (8 * k);
        StoreLittleEndian64(dst, packed);
    }
}

void InverseDctBoundWeights(const uint16_t* multipliers, uint16_t* weights) {
    // g(k) x 256, from the butterfly's flow graph taken as linear: the
    // largest |factor| of input k over the eight outputs (input 7 reaches
    // outputs 3 and 4 with 5.027...). Exact multiples of 1/256.
    static const uint32_t kGain256[8] = {256, 256, 256, 302, 256, 452, 618, 1287};
    for (int k = 0; k < 8; ++k)
        for (int c = 0; c < 8; ++c) {
            const bool unused = (k == 0 || k == 4) && (c == 0 || c == 4);
            const uint32_t w = (multipliers[8 * k + c] * kGain256[k] + 255) >> 8;  // at most 9866
            weights[8 * k + c] = static_cast<uint16_t>(unused ? 0 : w);
        }
}

namespace {

template <int BytesPerPixel>
inline void PutPixel(uint8_t* out, int y, int blue, int green, int red, const uint8_t* clamp, uint8_t alpha) {
    const uint8_t b = clamp[y + blue], g = clamp[y + green], r = clamp[y + red];
    if (BytesPerPixel == 2) {
        const unsigned word = (static_cast<unsigned>(b >> 3) << 11) | (static_cast<unsigned>(g >> 2) << 5) |
                              static_cast<unsigned>(r >> 3);
        out[0] = static_cast<uint8_t>(word);
        out[1] = static_cast<uint8_t>(word >> 8);
        return;
    }
    out[0] = b;
    out[1] = g;
    out[2] = r;
    if (BytesPerPixel == 4) out[3] = alpha;
}

// Each chroma sample serves a 2x2 pixel square: its three offsets are
// looked up once and added to the four luma samples. 4-byte pixels take
// byte 3 from `alpha` (rows `alphaStride` apart) or, without it, 255.
template <int BytesPerPixel>
void ConvertMcuPortable(const uint8_t* samples, const ColorTables& t, uint8_t* pixels, size_t stride,
                        const uint8_t* alpha = nullptr, size_t alphaStride = 0) {
    static const uint8_t kOpaque[16] = {255, 255, 255, 255, 255, 255, 255, 255,
                                        255, 255, 255, 255, 255, 255, 255, 255};
    // Local copies: the byte stores below could alias the table struct.
    const uint8_t* const clamp = t.rangeLimit + 256;
    const int32_t* const cbToB = t.cbToB;
    const int32_t* const cbToG = t.cbToG;
    const int32_t* const crToG = t.crToG;
    const int32_t* const crToR = t.crToR;
    for (int j = 0; j < 8; ++j) {  // chroma row: pixel rows 2j, 2j + 1
        const uint8_t* cbRow = samples + 256 + 8 * j;
        const uint8_t* crRow = samples + 320 + 8 * j;
        const uint8_t* luma0 = samples + 128 * (j >> 2) + 8 * ((2 * j) & 7);  // pixel row 2j, left block
        const uint8_t* luma1 = luma0 + 8;                                     // pixel row 2j + 1
        uint8_t* out0 = pixels + static_cast<size_t>(2 * j) * stride;
        uint8_t* out1 = out0 + stride;
        const uint8_t* alpha0 = alpha ? alpha + static_cast<size_t>(2 * j) * alphaStride : kOpaque;
        const uint8_t* alpha1 = alpha ? alpha0 + alphaStride : kOpaque;
        for (int i = 0; i < 8; ++i) {  // chroma column: pixel columns 2i, 2i + 1
            const int cb = cbRow[i], cr = crRow[i];
            const int blue = cbToB[cb];
            const int green = (cbToG[cb] + crToG[cr]) >> 16;
            const int red = crToR[cr];
            const int x = 64 * (i >> 2) + 2 * (i & 3);  // luma offset: block column, then sample
            uint8_t* const o0 = out0 + 2 * i * BytesPerPixel;
            uint8_t* const o1 = out1 + 2 * i * BytesPerPixel;
            PutPixel<BytesPerPixel>(o0, luma0[x], blue, green, red, clamp, alpha0[2 * i]);
            PutPixel<BytesPerPixel>(o0 + BytesPerPixel, luma0[x + 1], blue, green, red, clamp, alpha0[2 * i + 1]);
            PutPixel<BytesPerPixel>(o1, luma1[x], blue, green, red, clamp, alpha1[2 * i]);
            PutPixel<BytesPerPixel>(o1 + BytesPerPixel, luma1[x + 1], blue, green, red, clamp, alpha1[2 * i + 1]);
        }
    }
}

}  // namespace

void ConvertMcu16Portable(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride) {
    ConvertMcuPortable<2>(samples, tables, pixels, stride);
}

void ConvertMcu24Portable(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride) {
    ConvertMcuPortable<3>(samples, tables, pixels, stride);
}

void ConvertMcu32Portable(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride) {
    ConvertMcuPortable<4>(samples, tables, pixels, stride);
}

void ConvertMcu32AlphaPortable(const uint8_t* samples, const ColorTables& tables, const uint8_t* alpha,
                               size_t alphaStride, uint8_t* pixels, size_t stride) {
    ConvertMcuPortable<4>(samples, tables, pixels, stride, alpha, alphaStride);
}

}  // namespace jpeg
}  // namespace vt
