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
//   chroma replicated over 2x2 pixels) to B,G,R (24) or B,G,R,255 (32) with
//   the JFIF equations in 16.16 fixed point, rounding by adding one half:
//     B = Y + ((116130 (Cb-128) + 32768) >> 16)
//     G = Y + ((-22554 (Cb-128) + 32768 - 46802 (Cr-128)) >> 16)
//     R = Y + ((91881 (Cr-128) + 32768) >> 16),   each clamped to 0..255.
//   Writes 16 rows of 16 pixels, `stride` bytes apart.
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
void ConvertMcu24Portable(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
void ConvertMcu32Portable(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);

// The AAN (Arai, Agui, Nakajima) IDCT's multipliers 1.082392200,
// 1.414213562, 1.847759065 and 2.613125930 in 8-bit fixed point, shared by
// both forms.
constexpr int32_t kFix1_082392200 = 277;
constexpr int32_t kFix1_414213562 = 362;
constexpr int32_t kFix1_847759065 = 473;
constexpr int32_t kFix2_613125930 = 669;

#if VT_HAVE_AVX2
void InverseDctAvx2(const int16_t* coefficients, const uint16_t* multipliers, const uint8_t* rangeLimit,
                    uint8_t* samples);
void ConvertMcu24Avx2(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
void ConvertMcu32Avx2(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride);
#endif

// The two forms as template arguments of the decoder's MCU loop.
struct PortableKernels {
    static void InverseDct(const int16_t* c, const uint16_t* m, const uint8_t* r, uint8_t* s) {
        InverseDctPortable(c, m, r, s);
    }
    static void ConvertMcu24(const uint8_t* s, const ColorTables& t, uint8_t* p, size_t stride) {
        ConvertMcu24Portable(s, t, p, stride);
    }
    static void ConvertMcu32(const uint8_t* s, const ColorTables& t, uint8_t* p, size_t stride) {
        ConvertMcu32Portable(s, t, p, stride);
    }
};

#if VT_HAVE_AVX2
struct Avx2Kernels {
    static void InverseDct(const int16_t* c, const uint16_t* m, const uint8_t* r, uint8_t* s) {
        InverseDctAvx2(c, m, r, s);
    }
    static void ConvertMcu24(const uint8_t* s, const ColorTables& t, uint8_t* p, size_t stride) {
        ConvertMcu24Avx2(s, t, p, stride);
    }
    static void ConvertMcu32(const uint8_t* s, const ColorTables& t, uint8_t* p, size_t stride) {
        ConvertMcu32Avx2(s, t, p, stride);
    }
};
#endif

}  // namespace jpeg
}  // namespace vt

#endif  // VELTRANE_JPEG_KERNELS_H
