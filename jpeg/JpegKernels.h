// Compact JPEG decoder: the per-block and per-MCU kernels of reconstruction,
// each in a portable form and a SIMD form that yields the same bytes.
//
// InverseDct*: dequantise one block (coefficient x multiplier, the AAN
//   scales folded into the multipliers) and run the AAN fast integer IDCT,
//   columns first, then rows, constants with 8 fractional bits and
//   truncating shifts. All arithmetic is 32-bit two's complement with
//   wrap-around, so that damaged data gives defined (if meaningless) pixels.
//   Output sample = clamp(((x >> 5) read as a 10-bit signed number) + 128).
// ConvertMcu*: one 16x16 MCU from its six sample blocks (Y0 Y1 Y2 Y3 Cb Cr,
//   chroma replicated over 2x2 pixels) to B,G,R (24), B,G,R,255 (32) or
//   5:6:5 words (16: B >> 3 in bits 15-11, G >> 2 in 10-5, R >> 3 in 4-0,
//   low byte first) with the JFIF equations in 16.16 fixed point, rounding
//   by adding one half:
//     B = Y + ((116130 (Cb-128) + 32768) >> 16)
//     G = Y + ((-22554 (Cb-128) + 32768 - 46802 (Cr-128)) >> 16)
//     R = Y + ((91881 (Cr-128) + 32768) >> 16),   each clamped to 0..255.
//   Writes 16 rows of 16 pixels, `stride` bytes apart.
// ConvertMcu32Alpha*: as ConvertMcu32*, with byte 3 of each pixel from an
//   alpha plane (16 rows of 16 bytes, `alphaStride` bytes apart) instead of
//   255, so that an alpha plane costs no second pass over the pixels.
#ifndef VELTRANE_JPEG_KERNELS_H
#define VELTRANE_JPEG_KERNELS_H

#include <cstddef>
#include <cstdint>

#include "cpu/CpuFeatures.h"
#include "jpeg/JpegTables.h"

namespace vt {
namespace jpeg {

// The decoder's color and clamping tables, as the portable converter
// reads them (the SIMD converter computes the same values).
struct ColorTables {
    const int32_t* crToR;
    const int32_t* crToG;
    const int32_t* cbToB;
    const int32_t* cbToG;
    const uint8_t* rangeLimit;  // the 1408-byte clamping table
};

inline constexpr ColorTables kColorTables{kColorConversion.crToR, kColorConversion.crToG, kColorConversion.cbToB,
                                          kColorConversion.cbToG, kRangeLimit.entry};

void InverseDctPortable(const int16_t* coefficients, const uint16_t* multipliers, const uint8_t* rangeLimit,
                        uint8_t* samples);

// InverseDctPair*: two blocks that share their multipliers, each with the
// bytes of InverseDct* on its own. The AVX2 form runs both blocks at once
// in 16-bit lanes where `weights` (InverseDctBoundWeights of the
// multipliers) show that no product can leave them; see JpegKernelsAvx2.cpp.
// The other forms transform the blocks one after the other.
//
// InverseDctBoundWeights: weights[8k + c] >= multiplier[8k + c] x g(k),
// where g(k) (k = 0..7: 1, 1, 1, 1.18, 1, 1.77, 2.42, 5.03, times 256 exactly
// 256, 256, 256, 302, 256, 452, 618, 1287) is the largest factor with which
// input k of the one-dimensional butterfly reaches any of its outputs; 0 at
// the four positions (rows and columns 0 and 4) whose values never reach a
// multiplication.
void InverseDctBoundWeights(const uint16_t* multipliers, uint16_t* weights);
void ConvertMcu16Portable(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
void ConvertMcu24Portable(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
void ConvertMcu32Portable(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
void ConvertMcu32AlphaPortable(const uint8_t* samples, const ColorTables& tables, const uint8_t* alpha, size_t alphaStride,
                           uint8_t* pixels, size_t stride);

// The AAN (Arai, Agui, Nakajima) IDCT's multipliers 1.082392200,
// 1.414213562, 1.847759065 and 2.613125930 in 8-bit fixed point, shared by
// both forms.
constexpr int32_t kFix1_082392200 = 277;
constexpr int32_t kFix1_414213562 = 362;
constexpr int32_t kFix1_847759065 = 473;
constexpr int32_t kFix2_613125930 = 669;

#if VT_HAVE_SSE2
void InverseDctSse2(const int16_t* coefficients, const uint16_t* multipliers, const uint8_t* rangeLimit,
                    uint8_t* samples);
void ConvertMcu16Sse2(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
void ConvertMcu24Sse2(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
void ConvertMcu32Sse2(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
void ConvertMcu32AlphaSse2(const uint8_t* samples, const ColorTables& tables, const uint8_t* alpha, size_t alphaStride,
                           uint8_t* pixels, size_t stride);
#endif
#if VT_HAVE_AVX2
void InverseDctAvx2(const int16_t* coefficients, const uint16_t* multipliers, const uint8_t* rangeLimit,
                    uint8_t* samples);
void ConvertMcu16Avx2(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
void ConvertMcu24Avx2(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
void ConvertMcu32Avx2(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
void ConvertMcu32AlphaAvx2(const uint8_t* samples, const ColorTables& tables, const uint8_t* alpha, size_t alphaStride,
                           uint8_t* pixels, size_t stride);
#endif

#if VT_HAVE_AVX2
void InverseDctPairAvx2(const int16_t* coefficientsA, const int16_t* coefficientsB, const uint16_t* multipliers,
                        const uint16_t* weights, const uint8_t* rangeLimit, uint8_t* samplesA, uint8_t* samplesB);
#endif

using InverseDctFn = void (*)(const int16_t*, const uint16_t*, const uint8_t*, uint8_t*);
using InverseDctPairFn = void (*)(const int16_t*, const int16_t*, const uint16_t*, const uint16_t*, const uint8_t*,
                                  uint8_t*, uint8_t*);

// The pair form of a single-block form that has none of its own.
template <InverseDctFn Idct>
void InverseDctOneByOne(const int16_t* coefficientsA, const int16_t* coefficientsB, const uint16_t* multipliers,
                        const uint16_t*, const uint8_t* rangeLimit, uint8_t* samplesA, uint8_t* samplesB) {
    Idct(coefficientsA, multipliers, rangeLimit, samplesA);
    Idct(coefficientsB, multipliers, rangeLimit, samplesB);
}
using ConvertMcuFn = void (*)(const uint8_t*, const ColorTables&, uint8_t*, size_t);
using ConvertMcuAlphaFn = void (*)(const uint8_t*, const ColorTables&, const uint8_t*, size_t, uint8_t*, size_t);

// The forms as template arguments of the decoder's MCU loop (the functions
// are template arguments, so the calls are direct). ConvertMcu<N> converts
// to N bytes per pixel, with byte 3 from `alpha` where it is not null.
template <InverseDctFn Idct, InverseDctPairFn IdctPair, ConvertMcuFn Convert16, ConvertMcuFn Convert24,
          ConvertMcuFn Convert32, ConvertMcuAlphaFn Convert32Alpha>
struct Kernels {
    static void InverseDct(const int16_t* c, const uint16_t* m, const uint8_t* r, uint8_t* s) { Idct(c, m, r, s); }
    static void InverseDctPair(const int16_t* a, const int16_t* b, const uint16_t* m, const uint16_t* w,
                               const uint8_t* r, uint8_t* sa, uint8_t* sb) {
        IdctPair(a, b, m, w, r, sa, sb);
    }
    template <int BytesPerPixel>
    static void ConvertMcu(const uint8_t* s, const ColorTables& t, uint8_t* p, size_t stride, const uint8_t* alpha,
                           size_t alphaStride) {
        if (BytesPerPixel == 2)
            Convert16(s, t, p, stride);
        else if (BytesPerPixel == 3)
            Convert24(s, t, p, stride);
        else if (alpha == nullptr)
            Convert32(s, t, p, stride);
        else
            Convert32Alpha(s, t, alpha, alphaStride, p, stride);
    }
};

using PortableKernels = Kernels<InverseDctPortable, InverseDctOneByOne<InverseDctPortable>, ConvertMcu16Portable,
                                ConvertMcu24Portable, ConvertMcu32Portable, ConvertMcu32AlphaPortable>;
#if VT_HAVE_SSE2
using Sse2Kernels = Kernels<InverseDctSse2, InverseDctOneByOne<InverseDctSse2>, ConvertMcu16Sse2, ConvertMcu24Sse2,
                            ConvertMcu32Sse2, ConvertMcu32AlphaSse2>;
#endif
#if VT_HAVE_AVX2
using Avx2Kernels = Kernels<InverseDctAvx2, InverseDctPairAvx2, ConvertMcu16Avx2, ConvertMcu24Avx2, ConvertMcu32Avx2,
                            ConvertMcu32AlphaAvx2>;
#endif

}  // namespace jpeg
}  // namespace vt

#endif  // VELTRANE_JPEG_KERNELS_H
