// Compact JPEG decoder: SSE2 inverse DCT and color conversion (built with
// SSE2 enabled, cmake/Isa.cmake; called only where the processor-feature
// mask has SSE2). Each yields the same bytes as its portable twin in
// JpegKernelsPortable.cpp; the butterfly and the chroma arithmetic are the
// AVX2 form's (JpegKernelsSimd.h), on four lanes instead of eight, and
// the color conversion takes one pixel row per register.
#include "jpeg/JpegKernels.h"

#if VT_HAVE_SSE2

#if !defined(__SSE2__)
#error "JpegKernelsSse2.cpp must be compiled with SSE2 enabled (see cmake/Isa.cmake)"
#endif

#include <emmintrin.h>

#include "jpeg/JpegKernelsSimd.h"

namespace vt {
namespace jpeg {
namespace {

// 32-bit lanes for the shared butterfly. SSE2 has no 32-bit low multiply:
// pmuludq gives the 64-bit products of lanes 0 and 2 (and, shifted, of 1
// and 3), whose low halves are the wrapped 32-bit products for signed and
// unsigned operands alike; they are shuffled back into place and shifted
// by the 8 fractional bits of c.
struct Sse2Lanes {
    using Reg = __m128i;
    static Reg Add(Reg a, Reg b) { return _mm_add_epi32(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm_sub_epi32(a, b); }
    static Reg Mul(Reg x, int32_t c) {
        const __m128i k = _mm_set1_epi32(c);
        const __m128i even = _mm_mul_epu32(x, k);                     // x0 c | x2 c (64-bit)
        const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(x, 32), k);  // x1 c | x3 c
        const __m128i product = _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                                                    _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
        return _mm_srai_epi32(product, 8);
    }
};

// 4x4 transpose of 32-bit elements: a[i] lane j -> out[j] lane i.
inline void Transpose4x4(__m128i a0, __m128i a1, __m128i a2, __m128i a3, __m128i out[4]) {
    const __m128i t0 = _mm_unpacklo_epi32(a0, a1);  // 00 10 01 11
    const __m128i t1 = _mm_unpackhi_epi32(a0, a1);  // 02 12 03 13
    const __m128i t2 = _mm_unpacklo_epi32(a2, a3);  // 20 30 21 31
    const __m128i t3 = _mm_unpackhi_epi32(a2, a3);  // 22 32 23 33
    out[0] = _mm_unpacklo_epi64(t0, t2);
    out[1] = _mm_unpackhi_epi64(t0, t2);
    out[2] = _mm_unpacklo_epi64(t1, t3);
    out[3] = _mm_unpackhi_epi64(t1, t3);
}

// The range-limit table's IDCT window as arithmetic: bits 5..14 of x as a
// signed 10-bit number, plus 128 (the pack instructions then clamp).
inline __m128i RangeLimit(__m128i x) {
    return _mm_add_epi32(_mm_srai_epi32(_mm_slli_epi32(x, 17), 22), _mm_set1_epi32(128));
}

}  // namespace

void InverseDctSse2(const int16_t* coefficients, const uint16_t* multipliers, const uint8_t*, uint8_t* samples) {
    // Dequantise: the multipliers (at most 1962) are positive signed 16-bit
    // values, so the low and high halves of the signed 16-bit product,
    // interleaved, are the 32-bit product. left[r]: columns 0-3 of row r,
    // right[r]: columns 4-7.
    __m128i left[8], right[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * r));
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(multipliers + 8 * r));
        const __m128i lo = _mm_mullo_epi16(c, m), hi = _mm_mulhi_epi16(c, m);
        left[r] = _mm_unpacklo_epi16(lo, hi);
        right[r] = _mm_unpackhi_epi16(lo, hi);
    }
    // Columns: lane j of left[r] is row r of column j (right: column 4 + j).
    Butterfly<Sse2Lanes>(left);
    Butterfly<Sse2Lanes>(right);
    // Rows: top[k] lane r is element k of row r (rows 0-3), bottom likewise
    // for rows 4-7.
    __m128i top[8], bottom[8];
    Transpose4x4(left[0], left[1], left[2], left[3], top);
    Transpose4x4(right[0], right[1], right[2], right[3], top + 4);
    Transpose4x4(left[4], left[5], left[6], left[7], bottom);
    Transpose4x4(right[4], right[5], right[6], right[7], bottom + 4);
    Butterfly<Sse2Lanes>(top);
    Butterfly<Sse2Lanes>(bottom);
    // Back to row order, then the saturating packs clamp to 0..255.
    __m128i rows[16];  // rows[2r]: columns 0-3 of row r, rows[2r + 1]: 4-7
    for (int half = 0; half < 2; ++half) {
        __m128i* v = half ? bottom : top;
        __m128i lo[4], hi[4];
        Transpose4x4(RangeLimit(v[0]), RangeLimit(v[1]), RangeLimit(v[2]), RangeLimit(v[3]), lo);
        Transpose4x4(RangeLimit(v[4]), RangeLimit(v[5]), RangeLimit(v[6]), RangeLimit(v[7]), hi);
        for (int r = 0; r < 4; ++r) {
            rows[8 * half + 2 * r] = lo[r];
            rows[8 * half + 2 * r + 1] = hi[r];
        }
    }
#pragma GCC unroll 4
    for (int r = 0; r < 8; r += 2) {
        const __m128i a = _mm_packs_epi32(rows[2 * r], rows[2 * r + 1]);
        const __m128i b = _mm_packs_epi32(rows[2 * r + 2], rows[2 * r + 3]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + 8 * r), _mm_packus_epi16(a, b));
    }
}

namespace {

// One pixel row: Y of 16 pixels plus the chroma offsets replicated 2x.
struct RowBgr {
    __m128i b, g, r;  // 16 x uint8
};

inline RowBgr ConvertRow(const uint8_t* lumaLeft, const uint8_t* lumaRight, const ChromaOffsets& o) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i yl = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(lumaLeft)), zero);
    const __m128i yr = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(lumaRight)), zero);
    RowBgr p;
    p.b = _mm_packus_epi16(_mm_add_epi16(yl, _mm_unpacklo_epi16(o.blue, o.blue)),
                           _mm_add_epi16(yr, _mm_unpackhi_epi16(o.blue, o.blue)));
    p.g = _mm_packus_epi16(_mm_add_epi16(yl, _mm_unpacklo_epi16(o.green, o.green)),
                           _mm_add_epi16(yr, _mm_unpackhi_epi16(o.green, o.green)));
    p.r = _mm_packus_epi16(_mm_add_epi16(yl, _mm_unpacklo_epi16(o.red, o.red)),
                           _mm_add_epi16(yr, _mm_unpackhi_epi16(o.red, o.red)));
    return p;
}

// 16 pixels as B,G,R triplets (48 bytes) with SSE2 alone: each 32-bit
// B,G,R,0 pixel loses its fourth byte by masks and shifts within 64-bit
// lanes (two pixels: 6 bytes), then within the register (four pixels: 12
// bytes), and the four 12-byte groups are joined into three registers.
inline __m128i SqueezeFourPixels(__m128i bgr0) {
    const __m128i lane = _mm_or_si128(_mm_and_si128(bgr0, _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF)),
                                      _mm_and_si128(_mm_srli_epi64(bgr0, 8), _mm_set_epi32(0xFFFF, 0xFF000000, 0xFFFF, 0xFF000000)));
    // bytes 0-5: pixels 0, 1; bytes 8-13: pixels 2, 3 -> bytes 0-11
    return _mm_or_si128(_mm_and_si128(lane, _mm_set_epi32(0, 0, 0xFFFF, -1)),
                        _mm_and_si128(_mm_srli_si128(lane, 2), _mm_set_epi32(0, -1, 0xFFFF0000, 0)));
}

inline void StoreRow24(const RowBgr& p, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bgLo = _mm_unpacklo_epi8(p.b, p.g);
    const __m128i bgHi = _mm_unpackhi_epi8(p.b, p.g);
    const __m128i r0Lo = _mm_unpacklo_epi8(p.r, zero);
    const __m128i r0Hi = _mm_unpackhi_epi8(p.r, zero);
    const __m128i q0 = SqueezeFourPixels(_mm_unpacklo_epi16(bgLo, r0Lo));
    const __m128i q1 = SqueezeFourPixels(_mm_unpackhi_epi16(bgLo, r0Lo));
    const __m128i q2 = SqueezeFourPixels(_mm_unpacklo_epi16(bgHi, r0Hi));
    const __m128i q3 = SqueezeFourPixels(_mm_unpackhi_epi16(bgHi, r0Hi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(q0, _mm_slli_si128(q1, 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_or_si128(_mm_srli_si128(q1, 4), _mm_slli_si128(q2, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_or_si128(_mm_srli_si128(q2, 8), _mm_slli_si128(q3, 4)));
}

// 16 pixels as B,G,R,A.
inline void StoreRow32(const RowBgr& p, __m128i alpha, uint8_t* out) {
        const __m128i bgLo = _mm_unpacklo_epi8(p.b, p.g);
    const __m128i bgHi = _mm_unpackhi_epi8(p.b, p.g);
    const __m128i raLo = _mm_unpacklo_epi8(p.r, alpha);
    const __m128i raHi = _mm_unpackhi_epi8(p.r, alpha);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bgLo, raLo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(bgLo, raLo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_unpacklo_epi16(bgHi, raHi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_unpackhi_epi16(bgHi, raHi));
}

// 16 pixels as 5:6:5 words, blue in bits 15-11, each channel truncated,
// low byte first.
inline void StoreRow16(const RowBgr& p, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i highFive = _mm_set1_epi16(0xF8);
    const __m128i highSix = _mm_set1_epi16(0xFC);
    for (int half = 0; half < 2; ++half) {
        const __m128i b = half ? _mm_unpackhi_epi8(p.b, zero) : _mm_unpacklo_epi8(p.b, zero);
        const __m128i g = half ? _mm_unpackhi_epi8(p.g, zero) : _mm_unpacklo_epi8(p.g, zero);
        const __m128i r = half ? _mm_unpackhi_epi8(p.r, zero) : _mm_unpacklo_epi8(p.r, zero);
        const __m128i v = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(b, highFive), 8),
                                                    _mm_slli_epi16(_mm_and_si128(g, highSix), 3)),
                                       _mm_srli_epi16(r, 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * half), v);
    }
}

// The whole MCU: sample buffer (Y0 Y1 Y2 Y3 Cb Cr) to 16 rows of 16 pixels.
// 4-byte pixels take byte 3 from `alpha` (rows `alphaStride` apart) or,
// without it, 255.
template <int BytesPerPixel>
inline void ConvertMcuSse2(const uint8_t* samples, uint8_t* pixels, size_t stride, const uint8_t* alpha = nullptr,
                           size_t alphaStride = 0) {
#pragma GCC unroll 2
    for (int j = 0; j < 8; ++j) {
        const ChromaOffsets o = ComputeChromaOffsets(samples + 256 + 8 * j, samples + 320 + 8 * j);
#pragma GCC unroll 2
        for (int half = 0; half < 2; ++half) {
            const int r = 2 * j + half;
            const uint8_t* luma = samples + 128 * (r >> 3) + 8 * (r & 7);
            const RowBgr p = ConvertRow(luma, luma + 64, o);
            uint8_t* out = pixels + static_cast<size_t>(r) * stride;
            if (BytesPerPixel == 4)
                StoreRow32(p,
                           alpha ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha + static_cast<size_t>(r) * alphaStride))
                                 : _mm_set1_epi8(-1),
                           out);
            else if (BytesPerPixel == 3)
                StoreRow24(p, out);
            else
                StoreRow16(p, out);
        }
    }
}

}  // namespace

void ConvertMcu16Sse2(const uint8_t* samples, const ColorTables&, uint8_t* pixels, size_t stride) {
    ConvertMcuSse2<2>(samples, pixels, stride);
}

void ConvertMcu24Sse2(const uint8_t* samples, const ColorTables&, uint8_t* pixels, size_t stride) {
    ConvertMcuSse2<3>(samples, pixels, stride);
}

void ConvertMcu32Sse2(const uint8_t* samples, const ColorTables&, uint8_t* pixels, size_t stride) {
    ConvertMcuSse2<4>(samples, pixels, stride);
}

void ConvertMcu32AlphaSse2(const uint8_t* samples, const ColorTables&, const uint8_t* alpha, size_t alphaStride,
                           uint8_t* pixels, size_t stride) {
    ConvertMcuSse2<4>(samples, pixels, stride, alpha, alphaStride);
}

}  // namespace jpeg
}  // namespace vt

#endif  // VT_HAVE_SSE2
